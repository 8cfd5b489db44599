#!/usr/bin/env bash
# Installs what Quarry needs to build and test on Debian 12. Safe to run again: it only calls
# apt-get when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libbenchmark-dev
  # the benchmarks' peak-memory figures (bench/copy_bench.sh)
  time
  # the fuzz harnesses: clang's libFuzzer and sanitizer runtimes (scripts/fuzz.sh)
  clang libclang-rt-14-dev
  # the desktop program, its tests (offscreen) and its screenshots (Xvfb)
  qt6-base-dev xvfb xauth fonts-liberation
  # independent HFS tools: they make the test volumes and check our results
  hfsutils genisoimage unar dosfstools perl
  # MacBinary and BinHex written and read by independent tools (binhex, hexbin, macsave)
  macutils
  # the HFS+ fixture builder (tests/fixtures/hfsplus_build.py); fdisk names the partitions it writes
  python3 fdisk
  # the image containers (DiskCopy, BIN/CUE, UDIF, .gz, .zip) and the tools that check them
  zlib1g-dev libbz2-dev libcue-dev libxml2-dev libzip-dev bchunk dmg2img
  # Digest::CRC: the CRC the fixture builder writes the EDC of raw CD sectors with, independently
  # of the program's own
  libdigest-crc-perl
  # HFS+ names: Unicode normalization and case folding
  libutf8proc-dev
  # independent HFS+ readers that check the HFS+ code, and the tool that makes HFS+ test volumes
  7zip hfsplus sleuthkit xorriso
  # the GPT and MBR partition tables the partition scan is tested on (sgdisk, sfdisk)
  gdisk
  # the checksum manifest's SHA-256 (libcrypto)
  libssl-dev
  # quarry-cli --json
  nlohmann-json3-dev
  # the zones the date tests run under besides UTC
  tzdata
  # the Debian package and the files it installs: the man pages (scdoc), the icon's PNG sizes
  # (rsvg-convert), the runtime dependencies (dpkg-shlibdeps), and the tools that check the
  # desktop entry, the MIME types and the pages (tests/dist.sh)
  scdoc librsvg2-bin dpkg-dev fakeroot desktop-file-utils shared-mime-info libglib2.0-bin
  libxml2-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
