#!/usr/bin/env bash
# Renders one picture for the program's resources:
#   render.sh SOURCE.svg OUT.png WIDTH HEIGHT [ImageMagick operations...]
# draws the SVG at WIDTH x HEIGHT with rsvg-convert, applies the operations (a crop of one state
# out of a strip, a fit into a square) and writes an 8-bit RGBA PNG (straight alpha), without
# metadata, compressed as far as the encoder goes; pngquant then turns it into a palette PNG
# with alpha in the palette when that keeps the look (64 or 128 colours at quality 90 to 100,
# else 256 at 80 to 100; the RGBA one stays when none does), which takes two thirds off the
# program's pictures. Checks the written header.
# RSVG, CONVERT and PNGQUANT name the tools (default: rsvg-convert, convert and pngquant).
set -euo pipefail
src=$1 out=$2 w=$3 h=$4
shift 4
rsvg=${RSVG:-rsvg-convert}
convert=${CONVERT:-convert}
pngquant=${PNGQUANT:-pngquant}
tmp="$out.tmp.png"
trap 'rm -f "$tmp"' EXIT
"$rsvg" --width "$w" --height "$h" --format png --output "$tmp" "$src"
"$convert" "$tmp" "$@" -alpha set -strip -define png:compression-level=9 \
  -define png:compression-filter=5 -define png:exclude-chunks=all "PNG32:$out"
# The smallest palette that keeps the look: 64 or 128 colours when they reach quality 90, else
# up to 256 at quality 80 (the palette of 256 colours with its alpha is over a kilobyte of every
# picture, a third of all their bytes).
rc=1
for colours in 64 128; do
  if "$pngquant" "$colours" --quality=90-100 --speed 1 --strip --force --output "$tmp" -- "$out"; then
    mv -f "$tmp" "$out"
    rc=0
    break
  fi
done
if [ "$rc" != 0 ]; then
  rc=0
  "$pngquant" --quality=80-100 --speed 1 --strip --force --output "$out" -- "$out" || rc=$?
fi
# 98 and 99: the palette would not be smaller or not good enough; the RGBA picture stays.
if [ "$rc" != 0 ] && [ "$rc" != 98 ] && [ "$rc" != 99 ]; then
  echo "render.sh: pngquant failed on $out ($rc)" >&2
  exit 1
fi
# Bytes 1-3 "PNG", then IHDR: bit depth (byte 24) 8 and colour type (byte 25) 3 (palette) or 6
# (RGBA).
set -- $(od -An -c -j1 -N3 "$out" | tr -d ' ') $(od -An -tu1 -j24 -N2 "$out")
if [ "$1" != PNG ] || [ "$2" != 8 ] || { [ "$3" != 3 ] && [ "$3" != 6 ]; }; then
  echo "render.sh: $out is not an 8-bit palette or RGBA PNG (${1:-?}, depth ${2:-?}, colour type ${3:-?})" >&2
  rm -f "$out"
  exit 1
fi
