#!/bin/sh
# signal_program.sh <signal> <program file name> <wine prefix>
# Sends the signal (STOP, CONT, ...) to the Wine processes that run that program from a file
# inside the prefix, so a test can make a program hang as a hung program does: alive, holding
# its windows and mutexes, answering nothing. Exit code 0 when at least one process got it.
# A process is known by the program file it maps: the environment Wine hands on is not
# reliable for this, and other prefixes may run programs of the same name.
sig=$1
name=$2
prefix=$3
found=1
for d in /proc/[0-9]*; do
  { grep -F "/$name" "$d/maps"; } 2>/dev/null | grep -qF "$prefix/" || continue
  kill -s "$sig" "${d#/proc/}" 2>/dev/null && found=0
done
if [ "$found" != 0 ]; then
  echo "signal_program: no $name running from $prefix" >&2
  for d in /proc/[0-9]*; do
    { grep -qF "$prefix/" "$d/maps"; } 2>/dev/null || continue
    echo "  ${d#/proc/}: $(tr '\0' ' ' <"$d/cmdline" 2>/dev/null | head -c 120)" >&2
  done
fi
exit $found
