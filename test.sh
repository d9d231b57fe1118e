#!/usr/bin/env bash
# Builds everything and runs every test: unit tests and case files, plain and under the
# collector stress mode (KEL_GC_STRESS_N picks its period), which starts once the boot library
# has run (the test boot-under-stress boots under it). One line per test; a failing test's
# output in full.
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
cmake --build build
if [ ! -x build/tests/kel_unit ]; then
  echo "test.sh: GoogleTest is missing, so the unit tests were not built (run ./setup.sh --tests)" >&2
  exit 1
fi
cd build
run() { ctest --output-on-failure -j"$(nproc)" "$@" | grep --line-buffered -v '^ *Start '; }
run
echo "== again under KEL_GC_STRESS"
KEL_GC_STRESS="${KEL_GC_STRESS_N:-1}" KEL_GC_STRESS_AFTER_BOOT=1 run -L stress
