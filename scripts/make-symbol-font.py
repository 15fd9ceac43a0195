#!/usr/bin/python3
"""Makes the page's symbol font and writes it into studio-preview/web/style.css.

Two symbols of the page's texts are missing from many systems' fonts and would
show as empty boxes there: "⭳" (U+2B73, the download arrow of "⭳ PNG" and
"⭳ CSV") and "＋" (U+FF0B, the full-width plus of the add buttons). The
stylesheet carries them itself: one @font-face rule per symbol, each a subset
of an openly licensed Debian font holding only that glyph, embedded as a WOFF
data: URL and limited to its code point by unicode-range.

  U+2B73  Noto Sans Symbols 2   (fonts-noto-core)        SIL Open Font License 1.1
  U+FF0B  Droid Sans Fallback   (fonts-droid-fallback)   Apache License 2.0

The output depends only on the source fonts: the subset keeps the source's
time stamps, so running the script twice gives the same bytes. The rules
replace whatever stands between the two marker comments in style.css.

Usage: scripts/make-symbol-font.py [--check]
  --check  exit with status 1 (and change nothing) when style.css is not what
           this script would write.
Needs python3-fonttools, fonts-noto-core and fonts-droid-fallback.
"""

import base64
import io
import pathlib
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

FAMILY = "QuillCAN Symbols"
SOURCES = [
    # (code point, font file, name of the font, its licence)
    (0x2B73, "/usr/share/fonts/truetype/noto/NotoSansSymbols2-Regular.ttf",
     "Noto Sans Symbols 2", "SIL Open Font License 1.1"),
    (0xFF0B, "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
     "Droid Sans Fallback", "Apache License 2.0"),
]
# Both glyphs are drawn a quarter larger than their fonts have them: at the
# size of the text beside them the arrow is as narrow as "!" and the plus
# smaller than the text's own "+".
SIZE_ADJUST = 125
BEGIN = "/* symbol-font:begin */"
END = "/* symbol-font:end */"
STYLESHEET = pathlib.Path(__file__).resolve().parent.parent / "studio-preview/web/style.css"


def subset_woff(path: str, code_point: int) -> bytes:
    """The font at path cut down to the one glyph of code_point, as WOFF."""
    font = TTFont(path, recalcTimestamp=False)
    if code_point not in font.getBestCmap():
        raise SystemExit(f"{path} has no glyph for U+{code_point:04X}")
    options = subset.Options()
    options.flavor = "woff"
    options.layout_features = []
    options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]  # keep copyright and licence
    options.notdef_outline = False
    options.hinting = False
    options.recalc_timestamp = False
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[code_point])
    subsetter.subset(font)
    out = io.BytesIO()
    font.flavor = "woff"
    font.save(out, reorderTables=True)
    return out.getvalue()


def font_face_rules() -> str:
    lines = [BEGIN]
    for code_point, path, name, licence in SOURCES:
        data = base64.b64encode(subset_woff(path, code_point)).decode("ascii")
        lines += [
            f"/* U+{code_point:04X} from {name} ({licence}); made by scripts/make-symbol-font.py. */",
            "@font-face {",
            f'  font-family: "{FAMILY}";',
            f'  src: url("data:font/woff;base64,{data}") format("woff");',
            f"  unicode-range: U+{code_point:04X};",
            f"  size-adjust: {SIZE_ADJUST}%;",
            # No taller than the UI face's own line: a label's height does not
            # change when the glyph arrives. The overrides are scaled by
            # size-adjust too, hence divided by it here.
            f"  ascent-override: {90 * 100 / SIZE_ADJUST:g}%;",
            f"  descent-override: {22 * 100 / SIZE_ADJUST:g}%;",
            "  line-gap-override: 0%;",
            "}",
        ]
    lines.append(END)
    return "\n".join(lines)


def main() -> int:
    css = STYLESHEET.read_text(encoding="utf-8")
    start, stop = css.find(BEGIN), css.find(END)
    if start < 0 or stop < start:
        raise SystemExit(f"{STYLESHEET}: the markers {BEGIN} and {END} are missing")
    updated = css[:start] + font_face_rules() + css[stop + len(END):]
    if "--check" in sys.argv[1:]:
        if updated != css:
            print(f"{STYLESHEET}: the symbol font differs from what the script makes", file=sys.stderr)
            return 1
        return 0
    STYLESHEET.write_text(updated, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
