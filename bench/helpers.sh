#!/bin/sh
# The series helpers side by side with python3: bench/helpers.kel, then bench/helpers.py.
# Usage: bench/helpers.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
echo "== kel"
"$KEL" "$DIR/helpers.kel"
echo "== python3"
python3 "$DIR/helpers.py"
