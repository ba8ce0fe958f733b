#!/usr/bin/env bash
# Runs the display-scale end-to-end test in a Wine prefix of its own whose pixel density is set
# to DPI ("LogPixels", read when the prefix's server starts), so that the shared prefix of the
# other tests stays at 96. The screenshots are kept as PNG beside the BMPs in e2e-artifacts.
# Usage: dpi_e2e.sh <cross build dir> <dpi> [test program arguments...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cross=$(cd "$1" && pwd)
dpi=$2
shift 2
work="$cross/dpi-e2e-$dpi"
source "$root/scripts/wine-env.sh"
quiet() { "$@" </dev/null >/dev/null 2>&1; }

mkdir -p "$work"
# A screen as large for the scale as the other tests' one is at 100 %, as a high-density
# monitor is.
export QB_XVFB_SCREEN="$((1280 * dpi / 96))x$((1024 * dpi / 96))x24"
qb_wine_env "$work"
QB_BUILD_DIR="$cross"
unset DISPLAY
qb_wine_up
trap qb_wine_down EXIT
if [ "$(cat "$QB_WINE_DIR/logpixels" 2>/dev/null)" != "$dpi" ]; then
  quiet wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  # The density is taken when the server starts: start it again.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  rm -f "$QB_WINE_DIR/keeper.pid"
  qb_wine_up
  echo "$dpi" >"$QB_WINE_DIR/logpixels"
fi

status=0
QB_DPI=$dpi wine "$cross/bin/dpi_e2e_tests.exe" "$@" </dev/null || status=$?
for f in "$cross"/e2e-artifacts/*-"${dpi}dpi".bmp; do
  [ -f "$f" ] && convert "$f" "${f%.bmp}.png"
done
exit $status
