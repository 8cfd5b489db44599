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

source "$(dirname "$0")/timing.sh"
prepare() { cp "$vols/write.hfs" "$work/v.hfs"; }  # each run on a fresh copy, not timed
checked() {  # checked NAME COMMAND...: best, then the volume left behind must check sound
  best "$@"
  "$cli" --check "$work/v.hfs" >/dev/null || echo "  ($1 left a volume that does not check)" >&2
}

echo "== delete a folder of 1,000 files (20,000 files on the volume)"
checked "quarry-cli RD Thousand" "$cli" --write --yes "$work/v.hfs" "RD Thousand"
checked "hdel :Thousand:* && hrmdir :Thousand" sh -c "hmount '$work/v.hfs' && hdel ':Thousand:*' && hrmdir :Thousand"
echo "== make 1,000 folders in the root (19,000 files there)"
checked "quarry-cli, 1,000 MD lines (1,000 commits)" sh -c "'$cli' --write '$work/v.hfs' < '$work/md.txt'"
checked "hmkdir with 1,000 paths" sh -c 'hmount "$0" && hmkdir "$@"' "$work/v.hfs" "${folders[@]}"
