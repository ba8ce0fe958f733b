#!/usr/bin/env bash
# Renders one picture for the program's resources:
#   render.sh SOURCE.svg OUT.png WIDTH HEIGHT [ImageMagick operations...]
# draws the SVG at WIDTH x HEIGHT with rsvg-convert, applies the operations (a crop of one state
# out of a strip, a fit into a square) and writes an 8-bit RGBA PNG (straight alpha), without
# metadata, compressed as far as the encoder goes. Checks the written header.
# RSVG and CONVERT name the tools (default: rsvg-convert and convert from PATH).
set -euo pipefail
src=$1 out=$2 w=$3 h=$4
shift 4
rsvg=${RSVG:-rsvg-convert}
convert=${CONVERT:-convert}
tmp="$out.tmp.png"
trap 'rm -f "$tmp"' EXIT
"$rsvg" --width "$w" --height "$h" --format png --output "$tmp" "$src"
"$convert" "$tmp" "$@" -alpha set -strip -define png:compression-level=9 \
  -define png:compression-filter=5 -define png:exclude-chunks=all "PNG32:$out"
# Bytes 1-3 "PNG", then IHDR: bit depth (byte 24) 8 and colour type (byte 25) 6, RGBA.
set -- $(od -An -c -j1 -N3 "$out" | tr -d ' ') $(od -An -tu1 -j24 -N2 "$out")
if [ "$1" != PNG ] || [ "$2" != 8 ] || [ "$3" != 6 ]; then
  echo "render.sh: $out is not an 8-bit RGBA PNG (${1:-?}, depth ${2:-?}, colour type ${3:-?})" >&2
  rm -f "$out"
  exit 1
fi
