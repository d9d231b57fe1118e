#!/bin/sh
# Times whole processes (start-up included) of the interpreter benchmarks side by side:
# build/kel on bench/NAME.kel, python3 on bench/NAME.py, lua5.4 on bench/NAME.lua.
# Usage: bench/run-interp.sh [path/to/kel] [runs]
here=$(cd "$(dirname "$0")" && pwd)
kel=${1:-$here/../build/kel}
runs=${2:-3}
py=${PYTHON:-python3}
# A pyenv shim adds its own start-up; PYTHON=/usr/bin/python3 times the interpreter alone.
best() {  # best wall time of $runs runs, in seconds
  b=""
  i=0
  while [ $i -lt "$runs" ]; do
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed"; return; }
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
    i=$((i + 1))
  done
  printf '%.3f' "$b"
}
printf '%-6s %10s %10s %10s\n' bench kel python3 lua5.4
for name in fib loop call; do
  k=$(best "$kel" "$here/$name.kel")
  p=$(command -v "$py" >/dev/null && best "$py" "$here/$name.py" || echo "-")
  l=$(command -v lua5.4 >/dev/null && best lua5.4 "$here/$name.lua" || echo "-")
  printf '%-6s %10s %10s %10s\n' "$name" "$k" "$p" "$l"
done
