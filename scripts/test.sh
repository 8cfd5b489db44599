#!/usr/bin/env bash
# Installs what is needed, then builds and runs the whole test suite twice: plain, and with
# AddressSanitizer and UndefinedBehaviorSanitizer; last, builds the fuzz harnesses with clang and
# runs each on a few thousand inputs, so that they keep building and working.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j2
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}

echo "== plain build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARRY_SANITIZE=ON -DQUARRY_BUILD_BENCH=OFF
echo "== fuzz harnesses (clang, libFuzzer): 3000 inputs each"
scripts/fuzz.sh --runs 3000
echo "== all tests passed, plain and under the sanitizers"
