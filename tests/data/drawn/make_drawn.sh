#!/usr/bin/env bash
# Makes the test pictures of the drawn and complex formats from one PNG
# (python3-pil writes the PNG and the PDFs, libheif-examples' heif-enc the
# HEIF and AVIF; not needed to build or test):
#   map.png    320 x 200, coloured rectangles on whole pixels
#   map.svg    the same rectangles, written by hand; map.svgz gzipped
#   map.pdf    the PNG as one page at 150 dpi (320 x 200 at the default), lossless
#   map.heic   lossless HEIF, map.avif lossless AVIF
#   pages.pdf  three pages: 300 x 200, 200 x 300, 150 x 150 at 150 dpi
#   rotated.pdf  a page of 300 x 150 at 150 dpi turned by /Rotate 90, its left
#              half red: shown 150 x 300, red on top (written by hand)
set -euo pipefail
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
from PIL import Image, ImageDraw
rects = [((0, 0, 320, 200), (255, 255, 255)), ((20, 20, 180, 120), (220, 30, 30)),
         ((140, 80, 300, 180), (30, 60, 200)), ((40, 140, 100, 190), (30, 160, 60))]
im = Image.new("RGB", (320, 200))
draw = ImageDraw.Draw(im)
for (x0, y0, x1, y1), colour in rects:
    draw.rectangle((x0, y0, x1 - 1, y1 - 1), fill=colour)
im.save("map.png")
# As a palette picture: Pillow stores RGB pictures in a PDF as JPEG.
im.convert("P", palette=Image.ADAPTIVE, colors=16).save("map.pdf", resolution=150)
pages = [Image.new("RGB", size, colour) for size, colour in
         [((300, 200), (220, 30, 30)), ((200, 300), (30, 60, 200)), ((150, 150), (30, 160, 60))]]
pages[0].save("pages.pdf", save_all=True, append_images=pages[1:], resolution=150)

content = b"1 0 0 rg 0 0 72 72 re f\n"
objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
           b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72] /Rotate 90 /Contents 4 0 R /Resources << >> >>",
           b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream"]
pdf, offsets = bytearray(b"%PDF-1.4\n"), []
for number, body in enumerate(objects, 1):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % number + body + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
pdf += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
open("rotated.pdf", "wb").write(pdf)
PY
gzip -9 -n -c map.svg > map.svgz
heif-enc -L -o map.heic map.png >/dev/null
heif-enc -L -A -o map.avif map.png >/dev/null
