#!/usr/bin/env python3
"""Wraps the product icon (a 256x256 PNG) into the .ico file of the Windows executable.

An .ico may hold a PNG image as it is; the file is a 6-byte header, one 16-byte directory entry
and the PNG bytes, so the executable's icon is exactly the page's icon.
"""
import os
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))
png_path = os.path.join(here, os.pardir, "studio-preview", "web", "quillcan-icon.png")
ico_path = os.path.join(here, os.pardir, "studio-preview", "windows", "quillcan.ico")

with open(png_path, "rb") as f:
    png = f.read()
if png[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit("not a PNG: " + png_path)
width, height = struct.unpack(">II", png[16:24])
if (width, height) != (256, 256):
    sys.exit("expected a 256x256 icon, got %dx%d" % (width, height))

# Width and height 0 stand for 256; one plane, 32 bits per pixel; the image starts at 6 + 16.
header = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 6 + 16)
with open(ico_path, "wb") as f:
    f.write(header + entry + png)
print("wrote", os.path.normpath(ico_path))
