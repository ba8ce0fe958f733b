#!/usr/bin/env bash
# Builds the Windows programs and runs "Quor eBrisko Management" under Wine, in the build
# tree's own prefix: the registry defaults written, the service installed and running.
# With a display the program runs until its window is closed; without one it runs on Xvfb,
# a screenshot is saved to build/screenshot.png, and the program is closed again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=1
[ -n "${DISPLAY:-}" ] && headless=0
"$root/scripts/build.sh" cross
bin="$root/build/cross/bin"
source "$root/scripts/wine-env.sh"
[ "$headless" = 0 ] && export QB_KEEP_DISPLAY=1
qb_wine_env "$root/build/cross"
qb_wine_up
quiet() { "$@" </dev/null >/dev/null 2>&1; }

# Registry defaults of the product family and the product, kept when already set.
reg_default() {  # key name value
  quiet wine reg query "$1" /v "$2" || quiet wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f
}
reg_default 'HKLM\Software\Quor\eCentrio' Language "${QB_LANGUAGE:-English}"
reg_default 'HKLM\Software\Quor\eBrisko' Version "1.0"

# The companion service, installed in the prefix's service manager and started.
if [ -f "$bin/KLService.exe" ]; then
  quiet wine "$bin/KLService.exe" --install || true
  quiet wine sc start KLService || true
fi

if [ "$headless" = 0 ]; then
  wine "$bin/eBrisko.exe" "$@"
  exit 0
fi
wine "$bin/eBrisko.exe" "$@" </dev/null >/dev/null 2>&1 &
app=$!
sleep "${QB_SCREENSHOT_DELAY:-5}"
import -display "$DISPLAY" -window root "$root/build/screenshot.png" && echo "screenshot: build/screenshot.png"
quiet wine "$bin/eBrisko.exe" exit || true
wait "$app" || true
