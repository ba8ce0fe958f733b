#!/usr/bin/env bash
# A save of the restore file onto a disk that is full: a real small file system (tmpfs) under
# Wine. The save must fail with the system's reason and leave the old file whole.
# Usage: full_disk_test.sh <cross build dir>. Exits 77 (skipped) where mounting is not allowed.
set -uo pipefail
build=$(cd "$1" && pwd)
mnt="$build/wine/full-disk"
mkdir -p "$mnt"
mountpoint -q "$mnt" && umount "$mnt"
if ! mount -t tmpfs -o size=64k tmpfs "$mnt" 2>/dev/null; then
  echo "cannot mount a small file system here: skipped"
  exit 77
fi
trap 'umount "$mnt"' EXIT
old="$mnt/optrestore.rgd"
for i in $(seq 0 599); do printf '\\SYSTEM\\Key%d_Value=dword:%d\r\n' "$i" "$((i * 7))"; done >"$old"
# Leave two pages free: less room than the new file needs, so the write fails midway.
size=$(stat -c %s "$old")
pages=$(( (size + 4095) / 4096 ))
dd if=/dev/zero of="$mnt/filler" bs=4096 count=$(( 16 - pages - 2 )) 2>/dev/null
cp "$old" "$build/wine/full-disk-expected"
out=$("$build/wine-run.sh" "$build/bin/optimize_save_child.exe" "Z:${mnt//\//\\}" none 2>&1 </dev/null)
rc=$?
status=0
[ "$rc" = 3 ] || { echo "child exit $rc, expected 3 (the save's error)"; status=1; }
case "$out" in
  *"Cannot create file"*"optrestore.rgd"*) ;;
  *) echo "unexpected message: $out"; status=1 ;;
esac
cmp -s "$old" "$build/wine/full-disk-expected" || { echo "the old file changed"; status=1; }
[ ! -e "$old.tmp" ] || { echo "the temporary file was left behind"; status=1; }
echo "message: $out"
exit $status
