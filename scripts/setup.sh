#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Quorvel needs.
# Idempotent: when everything is present it only checks and returns within a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config     # compiler and build
  libgtest-dev googletest                          # unit tests
  libzip-dev libexpat1-dev                         # .xlsx and .ods: zip container, XML parts
  clang libclang-rt-14-dev                         # libFuzzer target of the reader
  qt6-base-dev qt6-qpa-plugins libgl-dev           # desktop program (offscreen platform for tests)
  qt6-svg-dev                                      # charts saved as SVG
  libx11-dev                                       # lock-key indicators of the status bar
  libboost-math-dev                                # t, chi-square and normal distributions
  nlohmann-json3-dev                               # JSON export
  libxlsxwriter-dev                                # .xlsx export (and the import benchmark's sheets)
  python3-openpyxl python3-jsonschema              # tests: independent readers of the exports
  parallel                                         # tests: the manual's GNU parallel example
  fonts-liberation fontconfig                      # metric-compatible "Courier New"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
