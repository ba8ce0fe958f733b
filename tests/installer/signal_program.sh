#!/bin/sh
# signal_program.sh <signal> <program file name> <wine prefix>
# Sends the signal (STOP, CONT, ...) to the Wine processes of that prefix that run the program,
# so a test can make a program hang as a hung program does: alive, holding its windows and
# mutexes, answering nothing. Exit code 0 when at least one process got it.
sig=$1
name=$2
prefix=$3
found=1
seen=""
for d in /proc/[0-9]*; do
  { tr '\0' '\n' <"$d/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" || continue
  # Wine shows a Windows process by its program's Windows path.
  first=$({ tr '\0' '\n' <"$d/cmdline" | head -n 1; } 2>/dev/null)
  seen="$seen [$first]"
  case "$first" in
    *"\\$name"* | *"/$name"* | "$name") ;;
    *) continue ;;
  esac
  kill -s "$sig" "${d#/proc/}" 2>/dev/null && found=0
done
[ "$found" = 0 ] || echo "signal_program: no $name in $prefix among:$seen" >&2
exit $found
