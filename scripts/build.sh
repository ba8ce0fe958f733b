#!/usr/bin/env bash
# Installs what is missing, then configures and builds both trees:
#   build/native  the portable core and its tests, with AddressSanitizer and UBSan
#   build/cross   every program and test for 64-bit Windows (MinGW-w64), run under Wine
# Usage: build.sh [cross|run]   (cross: the Windows tree only; run: only what the Run command
# needs of it: the program folder as the setup installs it, build/cross/ship, with the programs
# stripped and their debug information in ship/.debug, and the helper that waits for the window)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=${QB_JOBS:-$(nproc)}
if [ "${1:-}" != cross ] && [ "${1:-}" != run ]; then
  cmake -G Ninja -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$root/build/native" -j "$jobs"
fi
cmake -G Ninja -S "$root" -B "$root/build/cross" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "${1:-}" = run ]; then
  cmake --build "$root/build/cross" -j "$jobs" --target shipped_programs qb_wait_window \
    qb_desktop_keeper
else
  cmake --build "$root/build/cross" -j "$jobs"
fi
