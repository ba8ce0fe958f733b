#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# The one list of packages of the project; idempotent and quiet when all are present.
set -euo pipefail
PACKAGES=(
  cmake ninja-build g++ googletest           # native tree
  g++-mingw-w64-x86-64-posix                 # cross tree
  wine wine64                                # runs the Windows programs
  xvfb xauth imagemagick                     # display and screenshots
  fonts-liberation2 fonts-wine               # Arial-metric faces and the system faces
  librsvg2-bin pngquant                      # pictures: SVG sources to palette PNGs
  gcab cabextract perl                       # language packs and their checks
  fp-utils                                   # chmcmd builds the help files
  nsis                                       # makensis builds the setup program
  clang libclang-rt-14-dev                   # fuzzers
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
