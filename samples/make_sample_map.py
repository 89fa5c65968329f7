#!/usr/bin/env python3
"""Draws the bundled sample map: a small made-up landscape with a lake, a
river, roads, woods, fields and a coordinate grid, written as an RGB PNG
with nothing but the standard library."""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 1200, 900


def colour_at(x, y):
    # Terrain: rolling hills shaded from low green to high tan.
    h = (math.sin(x / 97.0) * math.cos(y / 131.0) + math.sin((x + 2 * y) / 211.0)) / 2
    r, g, b = int(170 + 50 * h), int(200 + 30 * h), int(140 + 20 * h)
    # Contour lines every tenth of the height range.
    if abs((h * 10) % 1.0) < 0.04:
        r, g, b = r - 40, g - 40, b - 30
    # Woods: blotches of darker green.
    if math.sin(x / 23.0) * math.sin(y / 29.0) + math.sin((x - y) / 61.0) > 1.2:
        r, g, b = 70, 130, 70
    # A lake.
    if ((x - 820) / 170.0) ** 2 + ((y - 300) / 110.0) ** 2 < 1.0:
        r, g, b = 120, 170, 230
    # A river winding from the lake to the bottom edge.
    river_x = 820 + 160 * math.sin(y / 90.0) - (y - 300) * 0.6
    if y > 300 and abs(x - river_x) < 6 + y / 200.0:
        r, g, b = 90, 140, 220
    # Two roads and a track.
    if abs(y - (450 + 0.3 * (x - 600))) < 3 or abs(x - (300 + 0.1 * y)) < 3:
        r, g, b = 200, 60, 40
    if abs(y - 700 - 40 * math.sin(x / 50.0)) < 1.5:
        r, g, b = 90, 70, 50
    # The coordinate grid.
    if x % 150 == 0 or y % 150 == 0:
        r, g, b = 60, 60, 60
    return bytes((max(0, min(255, r)), max(0, min(255, g)), max(0, min(255, b))))


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def main(path):
    rows = b"".join(b"\0" + b"".join(colour_at(x, y) for x in range(WIDTH)) for y in range(HEIGHT))
    png = (b"\x89PNG\r\n\x1a\n"
           + png_chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
           + png_chunk(b"IDAT", zlib.compress(rows, 9))
           + png_chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample-map.png")
