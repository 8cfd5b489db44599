#!/usr/bin/env bash
# PUT benchmark: quarry-cli beside hfsutils' hcopy, putting 1,000 small files into a folder and
# one file of 200 MB, each time into a fresh, empty 400 MB volume (made before the run, not timed).
#   bench/put_bench.sh [BUILD_DIR]
# quarry-cli puts the whole folder in one change and syncs the image at each stage of its commit; hcopy
# writes through without syncing.
set -euo pipefail
build=${1:-build}
cli="$(cd "$build" && pwd)/src/quarry-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" TZ=UTC

mkdir "$work/Small"
for i in $(seq 1000 1999); do head -c $(( (i * 37) % 4000 + 100 )) /dev/urandom > "$work/Small/File $i.txt"; done
head -c 200M /dev/urandom > "$work/Big.bin"

source "$(dirname "$0")/timing.sh"
prepare() {  # a fresh empty volume for each run
  rm -f "$work/v.hfs"
  truncate -s 400M "$work/v.hfs"
  hformat -l Bench "$work/v.hfs" >/dev/null
}
checked() {  # checked NAME COMMAND...: best, then the volume left behind must check sound
  best "$@"
  "$cli" --check "$work/v.hfs" >/dev/null || echo "  ($1 left a volume that does not check)" >&2
}

echo "== 1,000 files of 100 to 4,100 bytes into a new folder"
checked "quarry-cli PUT of the folder (one commit)" "$cli" --write "$work/v.hfs" "PUT $work/Small"
checked "hmkdir, then hcopy -r of the 1,000 files" sh -c 'hmount "$0" >/dev/null && hmkdir :Small && hcopy -r "$1"/* :Small:' "$work/v.hfs" "$work/Small"
echo "== one file of 200 MB"
checked "quarry-cli PUT" "$cli" --write "$work/v.hfs" "PUT $work/Big.bin"
checked "hcopy -r" sh -c 'hmount "$0" >/dev/null && hcopy -r "$1" :Big.bin' "$work/v.hfs" "$work/Big.bin"
