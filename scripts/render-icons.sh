#!/usr/bin/env bash
# Renders the program's icon resources/icons/veltorium-updater.svg into the PNG sizes the
# desktop's icon theme and the window use. The PNGs are kept in the tree; run this after
# changing the drawing. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" veltorium-updater.svg -o "veltorium-updater-$size.png"
done
