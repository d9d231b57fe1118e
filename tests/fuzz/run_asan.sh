#!/bin/sh
# The fuzz drivers under AddressSanitizer and UndefinedBehaviorSanitizer (g++): a sanitizer
# build in build-asan, then each driver for N seconds (default 60). A fault leaves its input
# in the working folder (fuzz-kelbin-crash.bin for the KELBIN driver).
# Usage: tests/fuzz/run_asan.sh [seconds]
set -eu
cd "$(dirname "$0")/../.."
seconds=${1:-60}
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEL_SANITIZE=ON >/dev/null
cmake --build build-asan --target fuzz-kelbin_decode fuzz-base_decode fuzz-json_csv_decode
build-asan/tests/fuzz-kelbin_decode --seconds "$seconds"
build-asan/tests/fuzz-base_decode --seconds "$seconds"
build-asan/tests/fuzz-json_csv_decode --seconds "$seconds"
