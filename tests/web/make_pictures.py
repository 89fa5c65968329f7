#!/usr/bin/python3
"""Writes the web tests' pictures into the folder given: small ones, with
their variants (an opaque PNG, a JPEG, a PNG with transparent and
half-transparent areas), a larger PNG, a damaged PNG, a PDF and a PNG whose
header claims more pixels than any memory budget of the browser holds."""
import struct
import sys
import zlib
from pathlib import Path

from PIL import Image, ImageDraw

folder = Path(sys.argv[1])

# A map-like opaque picture: pastel areas, roads and text-like lines, sizes
# that leave partial frames.
opaque = Image.new("RGB", (413, 287), (236, 229, 211))
draw = ImageDraw.Draw(opaque)
for i in range(0, 413, 23):
    draw.line([(i, 0), (i * 0.7 + 40, 287)], fill=(180 + i % 60, 120, 90), width=3)
draw.ellipse([60, 40, 250, 200], fill=(170, 214, 160))
draw.rectangle([280, 150, 400, 270], fill=(140, 180, 230))
for y in range(0, 287):
    opaque.putpixel((y % 413, y), (y % 256, 255 - y % 256, 128))
for x in range(300, 413):  # a gradient: more colours than a palette holds
    for y in range(0, 100):
        opaque.putpixel((x, y), (2 * (x - 300), 2 * y, (x * y) % 256))
opaque.save(folder / "opaque.png")

opaque.resize((301, 229)).save(folder / "photo.jpg", quality=88)

# Transparent where nothing is drawn, half-transparent in a band.
clear = Image.new("RGBA", (250, 190), (0, 0, 0, 0))
draw = ImageDraw.Draw(clear)
draw.polygon([(10, 10), (240, 40), (120, 180)], fill=(200, 40, 40, 255))
draw.rectangle([0, 120, 249, 150], fill=(30, 90, 200, 128))
draw.ellipse([150, 20, 230, 100], fill=(250, 240, 90, 64))
clear.save(folder / "clear.png")

# Large enough that a stop asked while it is written finds it unfinished.
opaque.resize((4800, 3600)).save(folder / "large.png", compress_level=1)

good = (folder / "opaque.png").read_bytes()
(folder / "broken.png").write_bytes(good[: len(good) // 3])

(folder / "drawing.pdf").write_bytes(
    b"%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n")


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


# 40000 x 40000 pixels declared (1.6 gigapixels, under the pixel ceiling),
# a few rows given: over WebAssembly's 4 GiB, and no decoder that reads
# past the header gets far.
header = struct.pack(">IIBBBBB", 40000, 40000, 8, 2, 0, 0, 0)
rows = zlib.compress(b"\0" + b"\x80" * 15000)
(folder / "huge.png").write_bytes(
    b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", rows) + chunk(b"IEND", b""))
