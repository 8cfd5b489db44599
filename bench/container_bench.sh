#!/usr/bin/env bash
# Container benchmark: a 200 MB file copied out of the same volume as a bare image, as BIN/CUE
# (MODE1/2352, once with the EDC of each sector, which Quarry checks, once with the EDC left zero,
# which it does not) and as a zlib UDIF, beside bchunk and dmg2img converting the container
# followed by a copy out of the converted image.
#   bench/container_bench.sh [BUILD_DIR] [VOLUMES_DIR]
# Each command runs three times with a warm page cache; the best wall-clock time is shown.
set -euo pipefail
build=${1:-build}
vols=${2:-/tmp/quarry-bench}
cli="$build/src/quarry-cli"
wrap=(perl "$(dirname "$0")/../tests/fixtures/containers.pl")
"$(dirname "$0")/make_volumes.sh" "$vols" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" TZ=UTC

for edc in edc no-edc; do
  if [ ! -s "$vols/large-$edc.bin" ]; then
    "${wrap[@]}" cd "$vols/large.iso" MODE1 "$vols/large-$edc.bin" $([ $edc = no-edc ] && echo no-edc)
    printf 'FILE "large-%s.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' $edc > "$vols/large-$edc.cue"
  fi
done
[ -s "$vols/large-zlib.dmg" ] || "${wrap[@]}" udif "$vols/large.iso" zlib "$vols/large-zlib.dmg"

source "$(dirname "$0")/timing.sh"

copy() { "$cli" --to "$work/out" "$1" "COPY /D large.bin"; }
echo "== one 200 MB file"
best "quarry-cli COPY, bare image" copy "$vols/large.iso"
best "quarry-cli COPY, BIN/CUE, EDC checked" copy "$vols/large-edc.cue"
best "quarry-cli COPY, BIN/CUE, no EDC to check" copy "$vols/large-no-edc.cue"
best "bchunk to an image, then quarry-cli COPY" sh -c "bchunk '$vols/large-edc.bin' '$vols/large-edc.cue' '$work/out/conv' && '$cli' --to '$work/out' '$work/out/conv01.iso' 'COPY /D large.bin'"
best "quarry-cli COPY, zlib UDIF" copy "$vols/large-zlib.dmg"
best "dmg2img to an image, then quarry-cli COPY" sh -c "dmg2img -s '$vols/large-zlib.dmg' '$work/out/conv.img' && '$cli' --to '$work/out' '$work/out/conv.img' 'COPY /D large.bin'"
