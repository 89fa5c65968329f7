#!/usr/bin/env python3
"""Draws the application icon: a folded map sheet with a red route, as
16, 32 and 48 pixel PNGs, with nothing but the standard library."""
import struct
import zlib


def pixel(x, y, size):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if not (0.08 < u < 0.92 and 0.14 < v < 0.86):
        return (0, 0, 0, 0)
    fold = int(u * 3)
    shade = (0, 18, 6)[fold]
    if abs(v - (0.75 - 0.45 * u)) < 0.07:
        return (205, 50, 40, 255)
    if 0.55 < u < 0.8 and 0.2 < v < 0.38:
        return (110, 160, 225, 255)
    return (190 - shade, 215 - shade, 160 - shade, 255)


def png(size):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in range(size))
    chunk = lambda k, d: struct.pack(">I", len(d)) + k + d + struct.pack(">I", zlib.crc32(k + d))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


for size in (16, 32, 48):
    with open(f"rzt2tool-{size}.png", "wb") as out:
        out.write(png(size))
