#!/usr/bin/env bash
# Installs what is needed and makes the Debian package from a Release build without the tests
# and benchmarks: build-package/quarry_<version>_amd64.deb. Install it with
#   sudo apt install ./build-package/quarry_*_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
dir=${1:-build-package}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRY_BUILD_TESTS=OFF -DQUARRY_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j2 --target package
ls "$dir"/quarry_*.deb
