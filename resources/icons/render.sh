#!/bin/sh
# Renders parvula.svg into the PNG sizes of the hicolor icon theme, beside it:
#   resources/icons/render.sh      (needs rsvg-convert, Debian package librsvg2-bin)
# The PNGs are kept in the repository, so a build needs no SVG renderer.
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --format png parvula.svg \
    --output "hicolor/${size}x${size}/apps/parvula.png"
done
