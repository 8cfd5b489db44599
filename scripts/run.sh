#!/usr/bin/env bash
# Installs what is needed, builds Quarry and opens the bundled sample volume.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRY_BUILD_TESTS=OFF -DQUARRY_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2 --target quarry-cli

echo "== quarry-cli samples/sample.hfs INFO DIR \"CD Documents\" DIR"
build/src/quarry-cli samples/sample.hfs INFO DIR "CD Documents" DIR
