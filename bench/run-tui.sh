#!/bin/sh
# The terminal GUI's frame cost beside python3 building the same frames, the idle loop's CPU,
# and print with the backend's hooks in place against the same loop in python3.
# Usage: bench/run-tui.sh [build dir]   (needs cmake --build build --target bench)
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
py=${PYTHON:-/usr/bin/python3}
"$build/bench/bench-tui" refresh 2000 >/dev/null
"$py" "$here/tui_frames.py" 2000 >/dev/null
"$build/bench/bench-tui" idle 10 </dev/null
printf 'Kel []\nloop 100000 [print "x"]\n' >/tmp/kel-print-$$.kel
s=$(date +%s.%N); "$build/kel" /tmp/kel-print-$$.kel >/dev/null; e=$(date +%s.%N)
k=$(echo "$e - $s" | bc)
s=$(date +%s.%N); "$py" -c 'for i in range(100000): print("x")' >/dev/null; e=$(date +%s.%N)
p=$(echo "$e - $s" | bc)
echo "loop 100000 [print \"x\"] to /dev/null: kel $k s, python3 $p s"
rm -f /tmp/kel-print-$$.kel
