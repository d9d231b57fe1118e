#!/bin/sh
# GUI dispatch side by side with python3: bench/gui-awake.kel, then bench/gui_awake.py.
# Usage: bench/gui-awake.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
echo "== kel"
"$KEL" "$DIR/gui-awake.kel"
echo "== python3"
python3 "$DIR/gui_awake.py"
