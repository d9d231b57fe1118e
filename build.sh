#!/usr/bin/env bash
# Configures and builds the program build/kel alone (Release with assertions kept);
# ./test.sh builds everything else.
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kel
