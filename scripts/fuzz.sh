#!/usr/bin/env bash
# Builds every tests/fuzz/*_fuzz.cpp with clang's libFuzzer and runs each for a bounded time.
# Each fuzz source includes the sources it exercises. Usage: fuzz.sh [seconds-per-target]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-10}
out="${QB_FUZZ_DIR:-$root/build/fuzz}"
mkdir -p "$out"
status=0
for f in "$root"/tests/fuzz/*_fuzz.cpp; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .cpp)
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/src" -I "$root/tests" "$f" -o "$out/$name"
  mkdir -p "$out/$name.corpus"
  if "$out/$name" -max_total_time="$secs" -max_len=4096 -print_final_stats=0 \
       "$out/$name.corpus" >"$out/$name.log" 2>&1; then
    echo "fuzz $name: $(grep -Eo "Done [0-9]+ runs in [0-9]+ second\(s\)" "$out/$name.log" | tail -n 1)"
  else
    echo "fuzz $name FAILED:"; tail -n 40 "$out/$name.log"; status=1
  fi
done
exit $status
