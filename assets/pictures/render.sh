#!/usr/bin/env bash
# Renders one picture for the program's resources:
#   render.sh SOURCE.svg OUT.bmp WIDTH HEIGHT [ImageMagick operations...]
# draws the SVG at WIDTH x HEIGHT with rsvg-convert, applies the operations (a crop of one state
# out of a strip, a fit into a square) and writes a 32-bit BMP: BI_RGB, bottom-up rows, straight
# (not premultiplied) alpha in the fourth byte of each pixel. Checks the written header.
# RSVG and CONVERT name the tools (default: rsvg-convert and convert from PATH).
set -euo pipefail
src=$1 out=$2 w=$3 h=$4
shift 4
rsvg=${RSVG:-rsvg-convert}
convert=${CONVERT:-convert}
tmp="$out.tmp.png"
trap 'rm -f "$tmp"' EXIT
"$rsvg" --width "$w" --height "$h" --format png --output "$tmp" "$src"
"$convert" "$tmp" "$@" -alpha set -define bmp:format=bmp3 -define bmp3:alpha=true "BMP3:$out"
# Offsets 14 (header size), 28 (bits per pixel) and 30 (compression) of the file.
set -- $(od -An -tu4 -j14 -N4 "$out") $(od -An -tu2 -j28 -N2 "$out") $(od -An -tu4 -j30 -N4 "$out")
if [ "$1" != 40 ] || [ "$2" != 32 ] || [ "$3" != 0 ]; then
  echo "render.sh: $out is not a 32-bit BI_RGB bitmap (header $1, $2 bpp, compression $3)" >&2
  rm -f "$out"
  exit 1
fi
