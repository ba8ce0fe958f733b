#!/usr/bin/env bash
# Installs what is missing, then configures and builds both trees:
#   build/native  the portable core and its tests, with AddressSanitizer and UBSan
#   build/cross   every program and test for 64-bit Windows (MinGW-w64), run under Wine
# Usage: build.sh [cross]   (cross: the Windows tree only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=${QB_JOBS:-$(nproc)}
if [ "${1:-}" != cross ]; then
  cmake -G Ninja -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$root/build/native" -j "$jobs"
fi
cmake -G Ninja -S "$root" -B "$root/build/cross" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/cross" -j "$jobs"
