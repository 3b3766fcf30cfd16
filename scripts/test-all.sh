#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the full build (desktop program included), warnings as errors, all tests;
#   2. the headless core, command-line program and tests under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. the readers' libFuzzer targets (.xls, .xlsx, .ods, delimited text) for a bounded
#      time: FUZZ_SECONDS in all (default 120), shared equally between them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

scripts/setup.sh

echo "== full build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build and tests (address, undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_WERROR=ON \
  -DQUORVEL_BUILD_GUI=OFF -DQUORVEL_BUILD_BENCH=OFF \
  -DQUORVEL_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE slow

if [ -f tests/fuzz/CMakeLists.txt ]; then
  total=${FUZZ_SECONDS:-120}
  each=$((total / 4 > 0 ? total / 4 : 1))
  echo "== reader fuzzing (${total} s: ${each} s for each of 4 readers)"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_FUZZ=ON -DQUORVEL_BUILD_GUI=OFF -DQUORVEL_BUILD_CLI=OFF -DQUORVEL_BUILD_BENCH=OFF \
    >/dev/null
  cmake --build build-fuzz -j "$jobs" --target xls_fuzzer xlsx_fuzzer ods_fuzzer csv_fuzzer
  fuzz="$root/tests/fuzz/run-fuzzer.sh"
  data="$root/tests/data"
  "$fuzz" "$root/build-fuzz/tests/fuzz/xls_fuzzer" "$each" "$data/xls"
  "$fuzz" "$root/build-fuzz/tests/fuzz/xlsx_fuzzer" "$each" "$data/fuzz/xlsx" "$data/xlsx/corpus" "$data/modern"
  "$fuzz" "$root/build-fuzz/tests/fuzz/ods_fuzzer" "$each" "$data/fuzz/ods" "$data/modern"
  "$fuzz" "$root/build-fuzz/tests/fuzz/csv_fuzzer" "$each" "$data/fuzz/csv" "$data/modern"
fi

echo "== all tests passed"
