#!/usr/bin/env bash
# Runs every test: unit tests and case files, plain and under the collector stress mode.
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
cd build
ctest --output-on-failure -j"$(nproc)"
echo "== again under KEL_GC_STRESS"
KEL_GC_STRESS="${KEL_GC_STRESS_N:-1}" ctest --output-on-failure -j"$(nproc)" -L stress
