#!/usr/bin/python3
"""Draws a small map-like PNG and writes it again in the formats only decoded.

Usage: make_pictures.py OUTDIR

Writes source.png (120 x 90) and, from it with Pillow: lossless.webp, lossy.webp,
animated.webp (its first frame is the picture), lossless.jp2, lossy.jp2,
tiled.jp2 (32 x 32 tiles) and codestream.j2k; alpha.png (with alpha from top to
bottom) as alpha.webp and alpha.jp2; grey.png as grey.jp2; then truncated.webp
and truncated.jp2, cut in half.
"""

import sys
from pathlib import Path

from PIL import Image, ImageDraw

WIDTH, HEIGHT = 120, 90


def map_picture():
    picture = Image.new("RGB", (WIDTH, HEIGHT), (236, 228, 200))
    draw = ImageDraw.Draw(picture)
    for y in range(0, HEIGHT, 6):  # contour-like bands
        draw.line([(0, y), (WIDTH - 1, y + WIDTH // 4)], fill=(180 - y, 150, 90 + y), width=2)
    draw.ellipse([20, 15, 70, 60], fill=(90, 140, 210))  # a lake
    draw.line([(0, 80), (60, 40), (119, 70)], fill=(200, 40, 30), width=3)  # a road
    draw.rectangle([85, 10, 110, 30], outline=(20, 20, 20), width=2)
    return picture


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    picture = map_picture()
    picture.save(out / "source.png")
    picture.save(out / "lossless.webp", lossless=True)
    picture.save(out / "lossy.webp", quality=95)
    with_alpha = picture.convert("RGBA")
    with_alpha.putalpha(Image.linear_gradient("L").resize((WIDTH, HEIGHT)))
    with_alpha.save(out / "alpha.png")
    with_alpha.save(out / "alpha.webp", lossless=True, exact=True)
    picture.save(out / "animated.webp", save_all=True, lossless=True,
                 append_images=[picture.transpose(Image.Transpose.ROTATE_180)])
    picture.save(out / "lossless.jp2", irreversible=False)
    picture.save(out / "lossy.jp2", irreversible=True, quality_mode="rates", quality_layers=[3])
    picture.save(out / "tiled.jp2", tile_size=(32, 32))
    with_alpha.save(out / "alpha.jp2")
    picture.convert("L").save(out / "grey.png")
    picture.convert("L").save(out / "grey.jp2")
    picture.save(out / "codestream.j2k")
    for name in ("lossy.webp", "lossless.jp2"):
        whole = (out / name).read_bytes()
        (out / ("truncated" + Path(name).suffix)).write_bytes(whole[: len(whole) // 2])


if __name__ == "__main__":
    main()
