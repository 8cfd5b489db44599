#!/usr/bin/env bash
# Changing-command benchmark: quarry-cli beside hfsutils on a volume of 20,000 files.
#   bench/write_bench.sh [BUILD_DIR] [VOLUMES_DIR]
# Each command runs three times on a fresh copy of write.hfs (the copy is not timed); the best
# wall-clock time is shown. Both programs write through to the image file; quarry-cli also
# syncs it at every commit, as it does on a real medium.
set -euo pipefail
build=${1:-build}
vols=${2:-/tmp/quarry-bench}
cli="$build/src/quarry-cli"
"$(dirname "$0")/make_volumes.sh" "$vols" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" TZ=UTC

for i in $(seq 1 1000); do printf 'MD "Folder %d"\n' "$i"; done > "$work/md.txt"
mapfile -t folders < <(for i in $(seq 1 1000); do printf ':Folder %d\n' "$i"; done)

best() {  # best NAME COMMAND...: runs the command three times, each on a fresh copy
  local name=$1; shift
  local min=""
  for _ in 1 2 3; do
    cp "$vols/write.hfs" "$work/v.hfs"
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || echo "  ($name failed)" >&2
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc)
    if [ -z "$min" ] || [ "$(echo "$t < $min" | bc)" = 1 ]; then min=$t; fi
  done
  "$cli" --check "$work/v.hfs" >/dev/null || echo "  ($name left a volume that does not check)" >&2
  printf '%-52s %8.3f s\n' "$name" "$min"
}

echo "== delete a folder of 1,000 files (20,000 files on the volume)"
best "quarry-cli RD Thousand" "$cli" --write --yes "$work/v.hfs" "RD Thousand"
best "hdel :Thousand:* && hrmdir :Thousand" sh -c "hmount '$work/v.hfs' && hdel ':Thousand:*' && hrmdir :Thousand"
echo "== make 1,000 folders in the root (19,000 files there)"
best "quarry-cli, 1,000 MD lines (1,000 commits)" sh -c "'$cli' --write '$work/v.hfs' < '$work/md.txt'"
best "hmkdir with 1,000 paths" sh -c 'hmount "$0" && hmkdir "$@"' "$work/v.hfs" "${folders[@]}"
