#!/bin/sh
# signal_program.sh <signal> <program file name> <wine prefix>
# Sends the signal (STOP, CONT, ...) to the Wine processes of that prefix that run the program,
# so a test can make a program hang as a hung program does: alive, holding its windows and
# mutexes, answering nothing. Exit code 0 when at least one process got it.
sig=$1
name=$2
prefix=$3
found=1
for d in /proc/[0-9]*; do
  tr '\0' '\n' <"$d/cmdline" 2>/dev/null | head -n 1 | grep -qiF "\\$name" || continue
  tr '\0' '\n' <"$d/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" || continue
  kill -s "$sig" "${d#/proc/}" 2>/dev/null && found=0
done
exit $found
