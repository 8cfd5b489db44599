#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang (build-fuzz/) and runs each in turn on a
# copy of its starting corpus and of its committed crash cases, then prints executions per second and
# total executions per harness.
#   scripts/fuzz.sh [SECONDS]     each harness for SECONDS (default 60)
#   scripts/fuzz.sh --runs N      each harness for N inputs (scripts/test.sh: keeps them building
#                                 and running in every test run)
# New crashes, leaks, time-outs and memory blow-ups land in build-fuzz/runs/NAME/artifacts/; the
# script then ends with status 1. Minimise one with `build-fuzz/tests/fuzz/fuzz_NAME -minimize_crash=1
# -runs=10000 FILE`, and commit it to tests/fuzz/crashes/NAME/ once the engine is mended.
set -euo pipefail
cd "$(dirname "$0")/.."

budget=(-max_total_time="${1:-60}")
if [ "${1:-}" = "--runs" ]; then budget=(-runs="${2:?--runs needs a number}"); fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRY_FUZZ=ON \
  -DQUARRY_BUILD_TESTS=OFF -DQUARRY_BUILD_GUI=OFF -DQUARRY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2

# Memory: the largest input is 1 MB (-max_len), and an engine that reads a volume of that size
# needs a few megabytes (the trees' node caches, a list, a dump window). So no single allocation
# may exceed 32 MB (-malloc_limit_mb: 32 times the largest image): an input that makes the engine
# allocate in proportion to a field's value rather than to the image fails at that allocation.
# The process as a whole may not pass 1 GB (-rss_limit_mb): libFuzzer keeps its growing corpus
# of inputs up to 1 MB each in memory (about 100 MB after ten minutes on the images), the
# sanitizers take about 100 MB, and AddressSanitizer's quarantine of freed blocks is held to
# 64 MB; the rest is far more than any input may make the engine hold. A single input may take
# at most 10 seconds (-timeout); the harnesses bound their own work per input, so only a hang
# reaches that.
export ASAN_OPTIONS=quarantine_size_mb=64:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
summary=()
for harness in mount command_line type_creator macbinary lzvn decmpfs partition_scan hfsplus changes forms dart; do
  dir=build-fuzz/runs/$harness
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp tests/fuzz/corpus/$harness/* "$dir/corpus/"
  cp tests/fuzz/crashes/$harness/* "$dir/corpus/" 2>/dev/null || true  # none yet for this harness
  echo "== fuzz_$harness ${budget[*]}"
  start=$(date +%s.%N)
  if ! build-fuzz/tests/fuzz/fuzz_$harness "${budget[@]}" -max_len=1048576 -timeout=10 -malloc_limit_mb=32 \
      -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1; then
    status=1
    tail -40 "$dir/log"
    echo "fuzz_$harness FAILED: $(ls "$dir/artifacts")"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  # libFuzzer's own rate counts whole seconds, which says 0 for a run shorter than one.
  rate=$(awk -v n="${execs:-0}" -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%d", n / (b - a) }')
  summary+=("$(printf '%-14s %10s exec/s %12s executions' "$harness" "$rate" "${execs:-?}")")
done
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $status
