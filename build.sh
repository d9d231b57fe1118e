#!/usr/bin/env bash
# Configures and builds build/kel and the tests (Release with assertions kept).
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
