#!/usr/bin/env bash
# Makes the benchmark volumes in OUTDIR (default /tmp/quarry-bench) with genisoimage:
#   many.iso  20,000 small files in 100 folders of 200, an HFS hybrid with a partition map
#   large.iso one 200 MB file of random bytes, and a small file after it
#   thousand.iso one folder of 1,000 small files
set -euo pipefail
out=${1:-/tmp/quarry-bench}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -s "$out/many.iso" ]; then
  mkdir -p "$work/many"
  for d in $(seq -w 0 99); do
    mkdir "$work/many/folder$d"
    for f in $(seq -w 0 199); do printf 'file %s of folder %s\n' "$f" "$d" > "$work/many/folder$d/f$f.txt"; done
  done
  genisoimage -quiet -hfs -part -V MANY -hfs-volid "Many Files" -o "$out/many.iso" "$work/many"
fi
if [ ! -s "$out/large.iso" ]; then
  mkdir -p "$work/large"
  head -c 209715200 /dev/urandom > "$work/large/large.bin"
  printf 'after the large file\n' > "$work/large/zz.txt"
  genisoimage -quiet -hfs -part -V LARGE -hfs-volid "Large File" -o "$out/large.iso" "$work/large"
fi
if [ ! -s "$out/thousand.iso" ]; then
  mkdir -p "$work/thousand/Small Files"
  for f in $(seq -w 0 999); do head -c $((1000 + 10#$f * 7)) /dev/urandom > "$work/thousand/Small Files/file$f.dat"; done
  genisoimage -quiet -hfs -part -V THOUSAND -hfs-volid "Thousand" -o "$out/thousand.iso" "$work/thousand"
fi
ls -l "$out"
