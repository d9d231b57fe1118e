#!/bin/sh
# Rich-text compile side by side with python3: bench/rtd.kel, then bench/rtd.py.
# Usage: bench/rtd.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
echo "== kel"
"$KEL" "$DIR/rtd.kel"
echo "== python3"
python3 "$DIR/rtd.py"
