#!/usr/bin/env bash
# Builds both trees and runs every test: the native tests, then the Windows tests under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || exit 1
status=0
start=$(date +%s)
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "native tests: $(( $(date +%s) - start )) s"
# A short, bounded run of every fuzzer: the wire parsers must never crash on garbage.
"$root/scripts/fuzz.sh" "${QB_FUZZ_SECONDS:-10}" || status=1
source "$root/scripts/wine-env.sh"
qb_wine_env "$root/build/cross"
qb_wine_up
# A service that an earlier Run command left in this tree's prefix starts with it and holds the
# loopback port that the tests' own services (also those in prefixes of their own) listen on.
wine sc stop KLService </dev/null >/dev/null 2>&1 || true
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/2804) 2>/dev/null || break
  sleep 0.1
done
start=$(date +%s)
(cd "$root/build/cross" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "Windows tests under Wine: $(( $(date +%s) - start )) s"
qb_wine_down
# Last, the README's Run command once, headless, as a new user would start the program: it
# must come up with its main window on screen and leave the screenshot of it.
start=$(date +%s)
if (unset DISPLAY; bash "$root/scripts/run.sh") && [ -s "$root/build/screenshot.png" ]; then
  echo "Run command: main window up, build/screenshot.png saved ($(( $(date +%s) - start )) s)"
else
  echo "Run command FAILED"
  status=1
fi
exit $status
