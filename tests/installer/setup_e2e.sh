#!/usr/bin/env bash
# Runs the setup program's end-to-end test in a Wine prefix of its own, made new for each run
# (the build tree's shared prefix is where the other tests run), on a display of its own.
# Usage: setup_e2e.sh <cross build dir> [test program arguments...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cross=$(cd "$1" && pwd)
shift
work="$cross/setup-e2e"
source "$root/scripts/wine-env.sh"

# Whatever a previous run left: its server, its display, its prefix.
mkdir -p "$work"
qb_wine_env "$work"
qb_wine_down
rm -rf "$QB_WINE_DIR"
qb_wine_env "$work"
# The desktop keeper of the build tree serves this prefix too.
QB_BUILD_DIR="$cross"
unset DISPLAY
qb_wine_up
trap qb_wine_down EXIT

# The tests stop a program with a Unix signal through this script (see its header).
export QB_SIGNAL_SCRIPT="$root/tests/installer/signal_program.sh"
wine "$cross/bin/setup_e2e_tests.exe" "$@" </dev/null
