#!/usr/bin/env bash
# Installs what is missing, builds the programs and analyses the example nested design:
# the report is printed and left in out/example/result.txt (with the data echo tmp.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target quorvel-cli

mkdir -p out/example
build/cli/quorvel-cli analyze examples/nested_design.xls --output-dir out/example
echo
echo "The report is in out/example/result.txt, the data echo in out/example/tmp.txt."
