#!/usr/bin/env bash
# Builds the Windows programs and runs "Quor eBrisko Management" under Wine, in the build
# tree's own prefix: the registry defaults written, the service installed and running. It runs
# the programs as the setup installs them (build/cross/ship: stripped, their debug information
# in ship/.debug beside them).
# With a display the program runs until its window is closed; without one it runs on Xvfb,
# waits (bounded) for the main window, saves a screenshot of it to build/screenshot.png and
# closes the program again. Exits non-zero with a message when the program does not come up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=1
[ -n "${DISPLAY:-}" ] && headless=0
"$root/scripts/build.sh" run
bin="$root/build/cross/bin"
ship="$root/build/cross/ship"
source "$root/scripts/wine-env.sh"
[ "$headless" = 0 ] && export QB_KEEP_DISPLAY=1
qb_wine_env "$root/build/cross"
qb_wine_up
quiet() { "$@" </dev/null >/dev/null 2>&1; }

# Registry defaults of the product family and the product, kept when already set.
reg_default() {  # key name value
  quiet wine reg query "$1" /v "$2" || quiet wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f
}
machine_type=desktop
compgen -G "/sys/class/power_supply/BAT*" >/dev/null && machine_type=notebook
reg_default 'HKLM\Software\Quor\eCentrio' Language "${QB_LANGUAGE:-English}"
reg_default 'HKLM\Software\Quor\eCentrio' Type "$machine_type"
# The product's version, as the version resource and the setup program write it.
version=$(sed -n 's/^project(eBrisko VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt").0
reg_default 'HKLM\Software\Quor\eBrisko' Version "$version"

# The companion service, installed in the prefix's service manager and started.
quiet wine "$ship/KLService.exe" --install || true
quiet wine sc start KLService || true

if [ "$headless" = 0 ]; then
  wine "$ship/eBrisko.exe" "$@"
  exit 0
fi

shot="$root/build/screenshot.png"
rect="$QB_WINE_DIR/tmp/main-window.rect"
rm -f "$shot" "$rect"
wine "$ship/eBrisko.exe" "$@" </dev/null >/dev/null 2>&1 &
app=$!
stop_app() {
  quiet wine "$ship/eBrisko.exe" exit || true
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app" 2>/dev/null; then
    echo "run: the program did not close on \"exit\"; ending it" >&2
    kill "$app" 2>/dev/null || true
    quiet wine taskkill /f /im eBrisko.exe || true
    return 1
  fi
  wait "$app" 2>/dev/null || true
}
# A new prefix makes the first start slow: wait for the main window with a bound.
if ! quiet wine "$bin/qb_wait_window.exe" TfmPerformance "${QB_RUN_TIMEOUT_MS:-90000}" \
     "Z:${rect//\//\\}"; then
  echo "run: the main window (TfmPerformance) did not come up within ${QB_RUN_TIMEOUT_MS:-90000} ms" >&2
  stop_app || true
  qb_wine_down
  exit 1
fi
# Let the window paint its first figures before the picture is taken.
sleep "${QB_SCREENSHOT_DELAY:-2}"
read -r x y w h <"$rect"
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shot"
# The window must still be there when the picture has been taken.
status=0
if ! quiet wine "$bin/qb_wait_window.exe" TfmPerformance 1000; then
  echo "run: the main window went away before the screenshot" >&2
  status=1
fi
stop_app || status=1
qb_wine_down
[ "$status" = 0 ] && echo "screenshot: build/screenshot.png"
exit $status
