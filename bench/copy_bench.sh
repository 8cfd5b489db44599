#!/usr/bin/env bash
# Copy benchmark: quarry-cli beside cat of the same image and hcopy of the same files, and with
# a checksum manifest (each file read back and hashed) beside sha256sum of the same copies.
#   bench/copy_bench.sh [BUILD_DIR] [VOLUMES_DIR]
# Each command runs three times with a warm page cache; the best wall-clock time is shown.
set -euo pipefail
build=${1:-build}
vols=${2:-/tmp/quarry-bench}
cli="$build/src/quarry-cli"
"$(dirname "$0")/make_volumes.sh" "$vols" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" TZ=UTC

source "$(dirname "$0")/timing.sh"

echo "== one 200 MB file"
best "cat large.iso > file" sh -c "cat '$vols/large.iso' > '$work/out/image'"
best "quarry-cli COPY /D large.bin" "$cli" --to "$work/out" "$vols/large.iso" "COPY /D large.bin"
best "quarry-cli COPY /B large.bin" "$cli" --to "$work/out" "$vols/large.iso" "COPY /B large.bin"
best "quarry-cli --manifest COPY /D large.bin" "$cli" --to "$work/out" --manifest "$work/out.sha256" "$vols/large.iso" "COPY /D large.bin"
best "quarry-cli --manifest COPY /B large.bin" "$cli" --to "$work/out" --manifest "$work/out.sha256" "$vols/large.iso" "COPY /B large.bin"
best "COPY /D large.bin, then sha256sum of the copy" sh -c "'$cli' --to '$work/out' '$vols/large.iso' 'COPY /D large.bin' && cd '$work/out' && sha256sum * > '$work/out.sha256'"
best "hcopy -r :large.bin" sh -c "hmount '$vols/large.iso' 1 && hcopy -r :large.bin '$work/out/'"

echo "== the same file in the other binary formats"
for format in mb2 appledouble binhex; do
    best "quarry-cli --binary-format $format COPY /B large.bin" "$cli" --binary-format "$format" --to "$work/out" "$vols/large.iso" "COPY /B large.bin"
done
best "hcopy -m :large.bin" sh -c "hmount '$vols/large.iso' 1 && hcopy -m :large.bin '$work/out/'"
best "hcopy -b :large.bin" sh -c "hmount '$vols/large.iso' 1 && hcopy -b :large.bin '$work/out/'"
# Each writer streams the fork: its peak memory stays near the data-fork copy's.
for format in mb1 mb2 appledouble binhex; do
    /usr/bin/time -f "peak memory, --binary-format $format: %M KB" "$cli" --binary-format "$format" --to "$work/out" "$vols/large.iso" "COPY /B large.bin" >/dev/null
    rm -rf "$work/out" && mkdir -p "$work/out"
done

echo "== a folder of 1,000 small files"
best "cat thousand.iso > file" sh -c "cat '$vols/thousand.iso' > '$work/out/image'"
best "quarry-cli COPY /B * (1,000 files)" "$cli" --to "$work/out" "$vols/thousand.iso" "CD \"Small Files\"" "COPY /B *"
best "quarry-cli COPY /D * (1,000 files)" "$cli" --to "$work/out" "$vols/thousand.iso" "CD \"Small Files\"" "COPY /D *"
best "quarry-cli --manifest COPY /B * (1,000 files)" "$cli" --to "$work/out" --manifest "$work/out.sha256" "$vols/thousand.iso" "CD \"Small Files\"" "COPY /B *"
best "quarry-cli --manifest COPY /D * (1,000 files)" "$cli" --to "$work/out" --manifest "$work/out.sha256" "$vols/thousand.iso" "CD \"Small Files\"" "COPY /D *"
best "hcopy -m ':Small Files:*' (1,000 files)" sh -c "hmount '$vols/thousand.iso' 1 && hcopy -m ':Small Files:*' '$work/out/'"
