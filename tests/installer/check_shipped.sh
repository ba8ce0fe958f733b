#!/usr/bin/env bash
# What users get carries no debug information, and what was shipped can still be debugged:
#   check_shipped.sh <objdump> <ship-dir> [<more folders the setup packs>...]
# Every program and library in each folder must have no debug section (.debug*, .zdebug*,
# .stab*). In the ship folder each one must also name its debug file by .gnu_debuglink, and
# that file (ship/.debug/<name>.debug) must hold the debug information.
set -uo pipefail
objdump=$1
ship=$2
shift 2
status=0
fail() { echo "FAIL: $*"; status=1; }

sections() { "$objdump" -h "$1" | awk '$1 ~ /^[0-9]+$/ { print $2 }'; }

check_folder() {  # folder, whether its files must link to their debug files
  local dir=$1 linked=$2 found=0 file name debug
  for file in "$dir"/*.exe "$dir"/*.dll; do
    [ -e "$file" ] || continue
    found=1
    name=$(basename "$file")
    local list
    list=$(sections "$file") || { fail "$file: objdump cannot read it"; continue; }
    if grep -Eq '^(\.debug|\.zdebug|\.stab)' <<<"$list"; then
      fail "$file carries debug sections: $(grep -E '^(\.debug|\.zdebug|\.stab)' <<<"$list" | tr '\n' ' ')"
    fi
    [ "$linked" = 1 ] || continue
    grep -qx '\.gnu_debuglink' <<<"$list" || fail "$file names no debug file (.gnu_debuglink)"
    debug="$dir/.debug/$name.debug"
    if [ ! -f "$debug" ]; then
      fail "$name: its debug file $debug is missing"
    elif ! sections "$debug" | grep -qx '\.debug_info'; then
      fail "$debug holds no debug information"
    fi
  done
  [ "$found" = 1 ] || fail "$dir holds no programs"
}

check_folder "$ship" 1
for dir in "$@"; do check_folder "$dir" 0; done
[ "$status" = 0 ] && echo "shipped programs: no debug sections; debug files kept in $ship/.debug"
exit $status
