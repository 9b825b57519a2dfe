#!/bin/sh
# Seeds for the photo readers' fuzz targets: small pictures of each variant, made by the Debian
# encoders from the shared corpus's small PNGs (TIFF from a hand-made file through tiffcp).
# Usage: fuzz/make_photo_seeds.sh heif|avif|webp|tiff OUT_DIR
set -u
format=$1
out=$2
root=$(cd "$(dirname "$0")/.." && pwd)
corpora=${PARVULA_CORPORA_DIR:-$root/../shared/corpora}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A few small PNGs of different colour types; the encoders skip what they cannot read.
pngs=$(find "$corpora/valid/png" -name '*.png' -size -8k 2>/dev/null | sort | head -12)
n=0
for png in $pngs; do
  n=$((n + 1))
  case $format in
    webp)
      cwebp -quiet -q 40 "$png" -o "$out/lossy_$n.webp" 2>/dev/null
      cwebp -quiet -lossless "$png" -o "$out/lossless_$n.webp" 2>/dev/null
      ;;
    heif)
      heif-enc -q 30 "$png" -o "$out/photo_$n.heic" >/dev/null 2>&1
      ;;
    avif)
      avifenc -s 10 "$png" "$out/photo_$n.avif" >/dev/null 2>&1
      ;;
  esac
done
if [ "$format" = webp ] && [ -f "$out/lossy_1.webp" ] && [ -f "$out/lossless_2.webp" ]; then
  img2webp -lossy "$out/lossy_1.webp" "$out/lossless_2.webp" -o "$out/animated.webp" \
    >/dev/null 2>&1 || true
fi
if [ "$format" = tiff ]; then
  # A 4 x 2 RGB picture in one uncompressed strip, written byte by byte.
  le16() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))"; }
  le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
  entry() { le16 "$1"; le16 "$2"; le32 1; le32 "$3"; }
  {
    printf 'II*\000'; le32 8; le16 10
    entry 256 4 4; entry 257 4 2; entry 258 3 8; entry 259 3 1; entry 262 3 2
    entry 273 4 134; entry 274 3 1; entry 277 3 3; entry 278 4 2; entry 279 4 24
    le32 0
    printf '\377\000\000\000\377\000\000\000\377\377\377\377\000\000\000\200\200\200\020\040\060\377\377\000'
  } >"$tmp/base.tif"
  cp "$tmp/base.tif" "$out/rgb.tif"
  tiffcp -c lzw "$tmp/base.tif" "$out/lzw.tif" 2>/dev/null
  tiffcp -c zip "$tmp/base.tif" "$out/zip.tif" 2>/dev/null
  tiffcp -c packbits "$tmp/base.tif" "$out/packbits.tif" 2>/dev/null
  tiffcp -t -w 16 -l 16 "$tmp/base.tif" "$out/tiled.tif" 2>/dev/null
  tiffcp -p separate "$tmp/base.tif" "$out/planar.tif" 2>/dev/null
fi
ls "$out" | wc -l | sed "s/^/$format seeds: /"
