#!/bin/sh
# The preprocessor side by side with python3: bench/expand.kel, then bench/expand.py.
# Usage: bench/expand.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
echo "== kel"
"$KEL" "$DIR/expand.kel"
echo "== python3"
python3 "$DIR/expand.py"
