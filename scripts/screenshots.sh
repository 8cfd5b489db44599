#!/usr/bin/env bash
# Takes the README's screenshots of the desktop program on the sample volume, under Xvfb:
# the main window in its three listing modes and the dump window, into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target quarry_screenshots
xvfb-run -a -s "-screen 0 1024x768x24" build/tools/quarry_screenshots samples/sample.hfs docs/screenshots
ls -l docs/screenshots
