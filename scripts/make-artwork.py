#!/usr/bin/env python3
"""Draws the QuillCAN product icon and the Tevolark logo of the studio preview page.

Writes, from the geometry below and nothing else:
  studio-preview/web/quillcan-icon.png   256 x 256, 8-bit RGBA (colour type 6)
  studio-preview/web/tevolark-logo.svg   the maker's winged-T mark; its view "#lockup"
                                         adds the "tevolark" wordmark

Python 3 standard library only (zlib, struct).  The PNG is drawn by a small
scanline rasteriser with anti-aliasing (exact horizontal coverage, 16 sub-rows
per pixel) and written with fixed filter choices and a fixed zlib level, so
every run produces the same bytes (with the same zlib; --check compares the
inflated pixels, so a different zlib build does not count as a change).

Usage:
  python3 scripts/make-artwork.py            write both files (only if changed)
  python3 scripts/make-artwork.py --check    exit 1 if a file is missing or stale
  python3 scripts/make-artwork.py --out DIR  write into DIR instead
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZE = 256
SUBROWS = 16  # vertical samples per pixel row
CURVE_STEPS = 48  # straight segments per Bezier curve
CIRCLE_STEPS = 96

# Palette shared with the page's design tokens.
INK_TOP = (0x22, 0x2B, 0x3A)
INK_BOTTOM = (0x0F, 0x14, 0x1C)
RIM = (0x33, 0x3F, 0x52)
GOLD = (0xED, 0xB0, 0x59)
GOLD_LIGHT = (0xF6, 0xC7, 0x7C)
GOLD_DARK = (0xC9, 0x8A, 0x36)
STEEL = (0x8F, 0xA3, 0xBD)


# ----------------------------------------------------------------------------
# Geometry helpers: every shape is a list of closed contours (lists of points).


def cubic(p0, p1, p2, p3, steps=CURVE_STEPS):
    """Points of a cubic Bezier curve, without its first point."""
    pts = []
    for i in range(1, steps + 1):
        t = i / steps
        s = 1.0 - t
        a, b, c, d = s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t
        pts.append((a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]))
    return pts


def signed_area(contour):
    area = 0.0
    n = len(contour)
    for i in range(n):
        x0, y0 = contour[i]
        x1, y1 = contour[(i + 1) % n]
        area += x0 * y1 - x1 * y0
    return area / 2.0


def oriented(contour, positive=True):
    """The contour turned so that its signed area has the wanted sign."""
    if (signed_area(contour) > 0) != positive:
        return list(reversed(contour))
    return list(contour)


def circle(cx, cy, r, steps=CIRCLE_STEPS):
    return [(cx + r * math.cos(2 * math.pi * i / steps),
             cy + r * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def rounded_rect(x0, y0, x1, y1, r):
    k = 0.5522847498 * r  # cubic approximation of a quarter circle
    pts = [(x0 + r, y0)]
    pts.append((x1 - r, y0))
    pts += cubic((x1 - r, y0), (x1 - r + k, y0), (x1, y0 + r - k), (x1, y0 + r))
    pts.append((x1, y1 - r))
    pts += cubic((x1, y1 - r), (x1, y1 - r + k), (x1 - r + k, y1), (x1 - r, y1))
    pts.append((x0 + r, y1))
    pts += cubic((x0 + r, y1), (x0 + r - k, y1), (x0, y1 - r + k), (x0, y1 - r))
    pts.append((x0, y0 + r))
    pts += cubic((x0, y0 + r), (x0, y0 + r - k), (x0 + r - k, y0), (x0 + r, y0))[:-1]
    return pts


def stroke(points, width):
    """Contours of a polyline stroked with round caps and round joins."""
    half = width / 2.0
    contours = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        nx, ny = -dy / length * half, dx / length * half
        contours.append(oriented([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny),
                                  (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]))
    for x, y in points:
        contours.append(oriented(circle(x, y, half, 48)))
    return contours


def transform(contours, origin, axis):
    """Maps local (u, v) coordinates to the canvas: v runs along `axis`."""
    ax, ay = axis
    ux, uy = -ay, ax  # u is the axis turned a quarter turn clockwise
    ox, oy = origin
    return [[(ox + u * ux + v * ax, oy + u * uy + v * ay) for u, v in c]
            for c in contours]


# ----------------------------------------------------------------------------
# Rasteriser: non-zero fill of contours into a coverage map, then "over".


def coverage(contours, size=SIZE):
    """Per-pixel coverage (0..1) of the union of the contours (non-zero rule)."""
    edges = []
    for c in contours:
        n = len(c)
        for i in range(n):
            x0, y0 = c[i]
            x1, y1 = c[(i + 1) % n]
            if y0 == y1:
                continue
            wind = 1 if y1 > y0 else -1
            if y0 > y1:
                x0, y0, x1, y1 = x1, y1, x0, y0
            edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), wind))
    cov = [0.0] * (size * size)
    if not edges:
        return cov
    ymin = max(0, int(math.floor(min(e[0] for e in edges))))
    ymax = min(size - 1, int(math.ceil(max(e[1] for e in edges))))
    weight = 1.0 / SUBROWS
    for py in range(ymin, ymax + 1):
        row = [0.0] * (size + 1)
        active = [e for e in edges if e[0] < py + 1 and e[1] > py]
        if not active:
            continue
        for s in range(SUBROWS):
            y = py + (s + 0.5) / SUBROWS
            hits = []
            for y0, y1, x0, slope, wind in active:
                if y0 <= y < y1:
                    hits.append((x0 + (y - y0) * slope, wind))
            hits.sort()
            winding = 0
            start = 0.0
            for x, wind in hits:
                before = winding
                winding += wind
                if before == 0 and winding != 0:
                    start = x
                elif before != 0 and winding == 0:
                    add_span(row, start, x, weight, size)
        base = py * size
        for px in range(size):
            if row[px]:
                cov[base + px] = min(1.0, row[px])
    return cov


def add_span(row, xa, xb, weight, size):
    xa = max(0.0, min(float(size), xa))
    xb = max(0.0, min(float(size), xb))
    if xb <= xa:
        return
    ia, ib = int(xa), int(xb)
    if ia == ib:
        row[ia] += (xb - xa) * weight
        return
    row[ia] += (ia + 1 - xa) * weight
    for i in range(ia + 1, ib):
        row[i] += weight
    if ib < size:
        row[ib] += (xb - ib) * weight


class Canvas:
    """Premultiplied RGBA in floats (0..1)."""

    def __init__(self, size=SIZE):
        self.size = size
        self.px = [(0.0, 0.0, 0.0, 0.0)] * (size * size)

    def fill(self, contours, paint, opacity=1.0, clip=None):
        """Paints the contours; `paint` is a colour or a function (x, y) -> colour."""
        cov = coverage(contours, self.size)
        if clip is not None:
            cov = [a * b for a, b in zip(cov, clip)]
        n = self.size
        for i, c in enumerate(cov):
            if c <= 0.0:
                continue
            a = c * opacity
            if callable(paint):
                rgb = paint(i % n + 0.5, i // n + 0.5)
            else:
                rgb = paint
            r, g, b = (v / 255.0 for v in rgb)
            dr, dg, db, da = self.px[i]
            k = 1.0 - a
            self.px[i] = (r * a + dr * k, g * a + dg * k, b * a + db * k, a + da * k)

    def rgba_bytes(self):
        out = bytearray()
        for r, g, b, a in self.px:
            if a <= 0.0:
                out += b"\0\0\0\0"
                continue
            out += bytes((channel(r / a), channel(g / a), channel(b / a), channel(a)))
        return bytes(out)


def channel(v):
    return max(0, min(255, int(math.floor(v * 255.0 + 0.5))))


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


# ----------------------------------------------------------------------------
# The product icon: a dark ink tile, a gold nib whose tip writes the CAN bus.


def nib_outline(length, width, neck):
    """Nib in local coordinates: neck at v = 0, tip at (0, length)."""
    h, n = width / 2.0, neck / 2.0
    shoulder = length * 0.22
    right = [(n, 0.0)]
    right += cubic((n, 0.0), (n, shoulder * 0.5), (h, shoulder * 0.5), (h, shoulder))
    right += cubic((h, shoulder), (h, length * 0.55), (h * 0.35, length * 0.85), (0.0, length))
    left = [(-x, y) for x, y in reversed(right[:-1])]
    return right + left


def draw_icon():
    canvas = Canvas()
    s = SIZE

    def ink(x, y):
        return mix(INK_TOP, INK_BOTTOM, y / s)

    canvas.fill([rounded_rect(0, 0, s, s, 56)], RIM)
    canvas.fill([rounded_rect(5, 5, s - 5, s - 5, 51)], ink)

    # The signal written by the nib (gold) above the bus line (steel).
    tip = (124.0, 170.0)
    rise, fall, swing = 58.0, 94.0, 38.0
    signal = [(36.0, tip[1]), (rise, tip[1]), (rise, tip[1] - swing),
              (fall, tip[1] - swing), (fall, tip[1]), tip]
    canvas.fill(stroke([(36.0, 206.0), (220.0, 206.0)], 16), STEEL)
    canvas.fill(stroke(signal, 16), GOLD)

    # The nib, tilted like a pen in a right hand, its tip at the end of the signal.
    tilt = math.radians(24)
    axis = (-math.sin(tilt), math.cos(tilt))
    length, width, neck = 140.0, 96.0, 72.0
    origin = (tip[0] - axis[0] * length, tip[1] - axis[1] * length)
    outline = transform([nib_outline(length, width, neck)], origin, axis)
    lit = transform([[(0.0, -width), (width, -width), (width, length * 1.2),
                      (0.0, length * 1.2)]], origin, axis)
    nib_cov = coverage(outline)
    canvas.fill(outline, GOLD_DARK)
    canvas.fill(lit, lambda x, y: mix(GOLD_LIGHT, GOLD, (y - 40) / 150), clip=nib_cov)
    # breather hole and slit, cut back to the tile colour
    hole_v = length * 0.42
    hole = transform([circle(0.0, hole_v, 11.0)], origin, axis)
    slit = transform(stroke([(0.0, hole_v), (0.0, length - 4.0)], 7.0), origin, axis)
    canvas.fill(hole + slit, ink, clip=nib_cov)
    return canvas


# ----------------------------------------------------------------------------
# PNG writer.


def png_bytes(rgba, width, height):
    stride = width * 4
    raw = bytearray()
    prev = bytes(stride)
    for y in range(height):
        line = rgba[y * stride:(y + 1) * stride]
        best = None
        for ftype in range(5):
            f = filter_line(ftype, line, prev)
            score = sum(v if v < 128 else 256 - v for v in f)
            if best is None or score < best[0]:
                best = (score, ftype, f)
        raw.append(best[1])
        raw += best[2]
        prev = line

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def filter_line(ftype, line, prev):
    n = len(line)
    out = bytearray(n)
    for i in range(n):
        a = line[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        x = line[i]
        if ftype == 0:
            p = 0
        elif ftype == 1:
            p = a
        elif ftype == 2:
            p = b
        elif ftype == 3:
            p = (a + b) >> 1
        else:
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        out[i] = (x - p) & 0xFF
    return out


def png_header(data):
    """(width, height, bit depth, colour type) of a PNG, or None if malformed."""
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">IIBB", data[16:26])


def png_content(data):
    """IHDR fields and inflated image data of a PNG: equal for equal pictures
    even when another zlib build compresses them differently."""
    header, idat, pos = None, b"", 8
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    try:
        return header, zlib.decompress(idat)
    except zlib.error:
        return header, None


# ----------------------------------------------------------------------------
# The maker's logo.


MARK_GOLD = "#edb059"
WORD_TONE = "#7f8a9a"  # mid-tone: readable on the dark and on the light surfaces


def num(v):
    text = ("%.2f" % v).rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def glyphs():
    """Monoline lower-case "tevolark": (path data, advance) per letter, x from 0."""
    top, base, asc = 12.5, 23.5, 8.0
    r = (base - top) / 2.0
    mid = top + r
    ex, ey = r * math.cos(math.radians(40)), r * math.sin(math.radians(40))
    return [
        ("M2 %s V%s a3 3 0 0 0 3 3 M0 %s H6" % (num(asc), num(base - 3), num(top)), 6.0),
        ("M0 %s H%s A%s %s 0 1 0 %s %s" % (num(mid), num(2 * r), num(r), num(r),
                                            num(r + ex), num(mid + ey)), 2 * r),
        ("M0 %s L4.8 %s L9.6 %s" % (num(top), num(base), num(top)), 9.6),
        ("M0 %s a%s %s 0 1 0 %s 0 a%s %s 0 1 0 -%s 0" % (
            num(mid), num(r), num(r), num(2 * r), num(r), num(r), num(2 * r)), 2 * r),
        ("M0 %s V%s" % (num(asc), num(base)), 0.0),
        ("M%s %s V%s M%s %s a%s %s 0 1 0 -%s 0 a%s %s 0 1 0 %s 0" % (
            num(2 * r), num(top), num(base), num(2 * r), num(mid), num(r), num(r),
            num(2 * r), num(r), num(r), num(2 * r)), 2 * r),
        ("M0 %s V%s M0 %s a5 5 0 0 1 5 -5" % (num(base), num(top), num(top + 5)), 5.0),
        ("M0 %s V%s M6 %s L0 %s M2.3 %s L6.4 %s" % (
            num(asc), num(base), num(top), num(top + 6.2), num(top + 4), num(base)), 6.4),
    ]


def logo_svg():
    """The Tevolark mark; the view "lockup" adds the wordmark to its right."""
    # Gold disc with a knocked-out T whose stem ends in a point.
    disc = "M16 1a15 15 0 1 0 0 30a15 15 0 1 0 0-30Z"
    tee = "M6.8 7.6L16 9.6L25.2 7.6L23.4 12.2L16 13.8L8.6 12.2Z M13.9 15.6L16 15.1L18.1 15.6V21.4L16 25.2L13.9 21.4Z"
    words = []
    x = 41.0
    for path, advance in glyphs():
        words.append(shift_path(path, x))
        x += advance + 4.0
    width = x - 4.0 + 2.0
    return ('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">'
            '<title>Tevolark</title>'
            '<view id="lockup" viewBox="0 0 %s 32"/>'
            '<path fill="%s" fill-rule="evenodd" d="%s %s"/>'
            '<path fill="none" stroke="%s" stroke-width="2.6" stroke-linecap="round" '
            'stroke-linejoin="round" d="%s"/>'
            '</svg>\n' % (num(width), MARK_GOLD, disc, tee, WORD_TONE, " ".join(words)))


def shift_path(path, dx):
    """Moves the absolute commands (M, L, H, A end points) of a path by dx."""
    out, tokens = [], path.replace(",", " ").split()
    i = 0
    cmd = None
    while i < len(tokens):
        t = tokens[i]
        if t[0].isalpha():
            cmd = t[0]
            rest = t[1:]
            out.append(cmd)
            if rest:
                tokens.insert(i + 1, rest)
            i += 1
            continue
        if cmd in "ML":
            out.append("%s %s" % (num(float(t) + dx), tokens[i + 1]))
            i += 2
        elif cmd == "H":
            out.append(num(float(t) + dx))
            i += 1
        elif cmd == "V":
            out.append(t)
            i += 1
        elif cmd == "A":
            out.append(" ".join(tokens[i:i + 5] + [num(float(tokens[i + 5]) + dx),
                                                    tokens[i + 6]]))
            i += 7
        elif cmd == "a":
            out.append(" ".join(tokens[i:i + 7]))
            i += 7
        else:
            raise ValueError("unsupported path command %r" % cmd)
    return " ".join(out)


# ----------------------------------------------------------------------------


def artwork():
    icon = draw_icon()
    return {
        "quillcan-icon.png": png_bytes(icon.rgba_bytes(), SIZE, SIZE),
        "tevolark-logo.svg": logo_svg().encode("utf-8"),
    }


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, os.pardir, "studio-preview", "web")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_out, help="folder to write into")
    parser.add_argument("--check", action="store_true",
                        help="only compare the files in the folder with fresh output")
    args = parser.parse_args(argv)

    files = artwork()
    header = png_header(files["quillcan-icon.png"])
    if header != (SIZE, SIZE, 8, 6):
        print("generated PNG has an unexpected header: %r" % (header,), file=sys.stderr)
        return 1
    stale = []
    for name, data in sorted(files.items()):
        path = os.path.join(args.out, name)
        try:
            with open(path, "rb") as f:
                current = f.read()
        except OSError:
            current = None
        if current is not None and name.endswith(".png"):
            same = png_content(current) == png_content(data)
        else:
            same = current == data
        if same:
            continue
        stale.append(name)
        if not args.check:
            with open(path, "wb") as f:
                f.write(data)
            print("wrote %s (%d bytes)" % (os.path.normpath(path), len(data)))
    if args.check and stale:
        print("out of date: %s" % ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
