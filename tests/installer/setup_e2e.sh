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

# The tests make a program hang with a Unix signal: they write "<signal> <program>" to the file
# "request" of this folder, and this loop answers with signal_program.sh's exit code in "done"
# (a program started from Wine may not look into other processes here). It ends with the run.
signals="$QB_WINE_DIR/signals"
rm -rf "$signals"
mkdir -p "$signals"
(
  while sleep 0.1; do
    [ -f "$signals/request" ] || continue
    read -r sig name <"$signals/request"
    name=${name%$'\r'}
    rm -f "$signals/request"
    bash "$root/tests/installer/signal_program.sh" "$sig" "$name" "$WINEPREFIX"
    echo $? >"$signals/done.tmp"
    mv "$signals/done.tmp" "$signals/done"
  done
) </dev/null &
watcher=$!
trap 'kill $watcher 2>/dev/null; qb_wine_down' EXIT
export QB_SIGNAL_DIR="$signals"

wine "$cross/bin/setup_e2e_tests.exe" "$@" </dev/null
