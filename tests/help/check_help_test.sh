#!/bin/sh
# The help checker on a set of sources with one fault of each kind: it must fail and name each.
perl=$1 checker=$2 fixture=$3
out=$("$perl" "$checker" "$fixture" 2>&1) && { echo "checker passed a broken help set"; exit 1; }
status=0
for fault in \
  "html/start.htm: broken link missing.htm" \
  "html/start.htm: broken anchor start.htm#nowhere" \
  "html/start.htm: unlisted.htm is not listed in [FILES] of the project" \
  "html/start.htm: declared windows-1252 but holds UTF-8 sequences" \
  "<index.hhk>: broken link html/gone.htm" \
  "html/orphan.htm: not reachable from the contents"; do
  printf '%s\n' "$out" | grep -qF "$fault" || { echo "missed: $fault"; status=1; }
done
exit $status
