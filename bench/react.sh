#!/bin/sh
# Reactive relations side by side with python3: bench/react.kel, then bench/react.py.
# Usage: bench/react.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
echo "== kel"
"$KEL" "$DIR/react.kel"
echo "== python3"
python3 "$DIR/react.py"
