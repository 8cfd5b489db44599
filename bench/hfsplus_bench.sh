#!/usr/bin/env bash
# HFS+ benchmark: quarry-cli beside 7-Zip on the same volumes, written by xorriso.
#   many-plus.iso   20,000 small files in 100 folders of 200 (an Apple partition map holding HFS+)
#   few-plus.iso    200 small files in one folder
# Mount and list every folder (quarry-cli DIR in each folder against `7zz l`), copy every file
# (COPY /D * against `7zz x`), and the peak memory of a listing and a copy at 200 and at 20,000
# files: memory should stay flat in the catalog's size.
#   bench/hfsplus_bench.sh [BUILD_DIR] [VOLUMES_DIR]
set -euo pipefail
build=${1:-build}
vols=${2:-/tmp/quarry-bench}
cli="$build/src/quarry-cli"
mkdir -p "$vols"
# The copies go to memory where the machine has it, so that the figures measure the readers and
# not the inode allocator of the disk under /tmp, whose cost swings with what was deleted before.
work=$(mktemp -d -p "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo /tmp)")
trap 'rm -rf "$work"' EXIT
export HOME="$work" TZ=UTC
source "$(dirname "$0")/timing.sh"

# xorriso writes Unicode names only under a UTF-8 locale.
if [ ! -s "$vols/many-plus.iso" ]; then
  mkdir -p "$work/many"
  for d in $(seq -w 0 99); do
    mkdir "$work/many/folder$d"
    for f in $(seq -w 0 199); do printf 'file %s of folder %s\n' "$f" "$d" > "$work/many/folder$d/f$f.txt"; done
  done
  LC_ALL=C.UTF-8 xorriso -as mkisofs -quiet -hfsplus -V MANY -o "$vols/many-plus.iso" "$work/many" 2>/dev/null
  rm -rf "$work/many"
fi
if [ ! -s "$vols/few-plus.iso" ]; then
  mkdir -p "$work/few/folder"
  for f in $(seq -w 0 199); do printf 'file %s\n' "$f" > "$work/few/folder/f$f.txt"; done
  LC_ALL=C.UTF-8 xorriso -as mkisofs -quiet -hfsplus -V FEW -o "$vols/few-plus.iso" "$work/few" 2>/dev/null
  rm -rf "$work/few"
fi

# The HFS+ partition of an xorriso image, as 7-Zip names it in the Apple partition map.
# 7-Zip reports an error for the map xorriso writes (its ISO 9660 gaps) but lists and extracts
# the partition whole.
partition() { { 7zz l -tAPM "$1" || true; } | awk '/\.hfs$/ { print $NF; exit }'; }
extract_plus() { 7zz e -so -tAPM "$1" "$(partition "$1")" > "$2" 2>/dev/null || [ -s "$2" ]; }
extract_plus "$vols/many-plus.iso" "$work/many.hfs"
extract_plus "$vols/few-plus.iso" "$work/few.hfs"

lines=()
for d in $(seq -w 0 99); do lines+=("CD folder$d" "DIR" "CD \\"); done

echo "== 20,000 files in 100 folders"
best "quarry-cli: mount and list every folder" "$cli" --quiet "$vols/many-plus.iso" "${lines[@]}"
best "7zz l (the HFS+ partition)" 7zz l -tHFS "$work/many.hfs"
copies=()
for d in $(seq -w 0 99); do copies+=("CD folder$d" "COPY /D *" "CD \\"); done
best "quarry-cli COPY /D * in every folder" "$cli" --quiet --to "$work/out" "$vols/many-plus.iso" "${copies[@]}"
best "7zz x (the HFS+ partition)" 7zz x -y -o"$work/out" -tHFS "$work/many.hfs"

echo "== peak memory"
few_lines=("CD folder" "DIR")
few_copies=("CD folder" "COPY /D *")
many_lines=("${lines[@]}")
many_copies=("${copies[@]}")
for v in few many; do
  declare -n list="${v}_lines" copy="${v}_copies"
  /usr/bin/time -f "quarry-cli, list every folder ($v): %M KB" "$cli" --quiet "$vols/$v-plus.iso" "${list[@]}" >/dev/null 2>"$work/time" || true
  tail -1 "$work/time"
  /usr/bin/time -f "7zz l ($v): %M KB" 7zz l -tHFS "$work/$v.hfs" >/dev/null 2>"$work/time"; tail -1 "$work/time"
  prepare
  /usr/bin/time -f "quarry-cli COPY /D * ($v): %M KB" "$cli" --quiet --to "$work/out" "$vols/$v-plus.iso" "${copy[@]}" >/dev/null 2>"$work/time" || true
  tail -1 "$work/time"
  prepare
  /usr/bin/time -f "7zz x ($v): %M KB" 7zz x -y -o"$work/out" -tHFS "$work/$v.hfs" >/dev/null 2>"$work/time"; tail -1 "$work/time"
  unset -n list copy
done
