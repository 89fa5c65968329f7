#!/usr/bin/env bash
# Makes the metafile test pictures from map.svg with Inkscape (Debian's
# inkscape package; not needed to build or test):
#   map.emf  an Enhanced Metafile
#   map.wmf  a placeable Windows Metafile
# The tests render map.svg with librsvg and compare.
set -euo pipefail
cd "$(dirname "$0")"
for type in emf wmf; do
  inkscape map.svg --export-type="$type" --export-filename="map.$type" 2>/dev/null
done
# huge-frame.wmf (written by hand, kept as it is): 102 bytes, a placeable
# header declaring 32767 x 32767 pixels and one rectangle.
