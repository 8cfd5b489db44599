#!/usr/bin/env bash
# Installs what is needed, builds Quarry and opens the bundled sample volume in the desktop
# program. Without a display (a server, a container) the program is shown on Xvfb instead: the
# screenshots it takes there land in build/screenshots/, and quarry-cli lists the volume.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target quarry quarry-cli quarry_screenshots

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/quarry samples/sample.hfs
fi
echo "== no display: the desktop program runs on Xvfb and takes its screenshots"
xvfb-run -a -s "-screen 0 1024x768x24" build/tools/quarry_screenshots samples/sample.hfs build/screenshots
ls build/screenshots
echo "== quarry-cli samples/sample.hfs INFO DIR \"CD Documents\" DIR"
build/src/quarry-cli samples/sample.hfs INFO DIR "CD Documents" DIR
