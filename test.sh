#!/usr/bin/env bash
# Builds everything and runs every test: unit tests and case files, plain and under the
# collector stress mode (KEL_GC_STRESS_N picks its period).
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
cmake --build build
cd build
ctest --output-on-failure -j"$(nproc)"
echo "== again under KEL_GC_STRESS"
KEL_GC_STRESS="${KEL_GC_STRESS_N:-1}" ctest --output-on-failure -j"$(nproc)" -L stress
