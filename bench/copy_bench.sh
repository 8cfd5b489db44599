#!/usr/bin/env bash
# Copy benchmark: quarry-cli beside cat of the same image and hcopy of the same files, and with
# a checksum manifest (each file read back and hashed) beside sha256sum of the same copies; the
# copy out of a plain image beside cp (which hands the copy to the kernel, as quarry-cli does)
# and cp -r of the same files; quarry-cli --json --hash beside hcopy and sha256sum of the same
# files; peak memory of each.
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

echo "== beside cp: the same bytes as plain files (made once with quarry-cli)"
# Thousands of new files keep the file system's journal busy after a run ends; each run starts
# once the one before is on the disk, so that none pays for another's files.
prepare() { rm -rf "$work/out"; mkdir "$work/out"; sync; }
src="$work/src"
mkdir -p "$src/large" "$src/many"
"$cli" --quiet --to "$src/large" "$vols/large.iso" "COPY /D large.bin" >/dev/null
"$cli" --quiet --to "$src/many" "$vols/many.iso" "COPY /D *" >/dev/null
best "cp large.bin (200 MB)" cp "$src/large/large.bin" "$work/out/"
best "quarry-cli COPY /D large.bin (200 MB)" "$cli" --quiet --to "$work/out" "$vols/large.iso" "COPY /D large.bin"
best "cp -r (20,000 files in 100 folders)" cp -r "$src/many/." "$work/out/"
best "quarry-cli COPY /D * (20,000 files)" "$cli" --quiet --to "$work/out" "$vols/many.iso" "COPY /D *"
best "quarry-cli --json (20,000 files)" sh -c "'$cli' --json '$vols/many.iso' > '$work/out/list.json'"
best "quarry-cli --json --hash (20,000 files)" sh -c "'$cli' --json --hash '$vols/many.iso' > '$work/out/list.json'"
best "quarry-cli --dfxml (20,000 files)" "$cli" --dfxml "$work/out/report.xml" "$vols/many.iso"
best "hcopy -r of every folder, then sha256sum (20,000 files)" sh -c "hmount '$vols/many.iso' 1 >/dev/null && for d in \$(hls -1 :); do mkdir '$work/out/'\$d && hcopy -r \":\$d:*\" '$work/out/'\$d/; done && cd '$work/out' && sha256sum */* > '$work/sums'"

echo "== peak memory"
peak() {
    local name=$1; shift
    rm -rf "$work/out" && mkdir -p "$work/out"
    /usr/bin/time -f "%M" -o "$work/peak" "$@" >/dev/null 2>&1 || echo "  ($name failed)" >&2
    printf '%-56s %8s KB\n' "$name" "$(cat "$work/peak")"
}
peak "cp large.bin" cp "$src/large/large.bin" "$work/out/"
peak "quarry-cli COPY /D large.bin" "$cli" --quiet --to "$work/out" "$vols/large.iso" "COPY /D large.bin"
peak "cp -r (20,000 files)" cp -r "$src/many/." "$work/out/"
peak "quarry-cli COPY /D * (20,000 files)" "$cli" --quiet --to "$work/out" "$vols/many.iso" "COPY /D *"
peak "quarry-cli --json --hash (20,000 files)" sh -c "'$cli' --json --hash '$vols/many.iso' > '$work/out/list.json'"
peak "quarry-cli --dfxml (20,000 files)" "$cli" --dfxml "$work/out/report.xml" "$vols/many.iso"
peak "sha256sum of the 20,000 files" sh -c "cd '$src/many' && sha256sum */* > '$work/sums'"
