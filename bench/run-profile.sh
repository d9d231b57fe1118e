#!/bin/sh
# The profiler's and the debugger's cost per call, N = 10^4, 10^5, 10^6: nanoseconds per call
# of a small function run plainly, under `profile` and under `debug/later` (bookkeeping only),
# beside python3 plain and under cProfile, in one run. A cost per call that grows with N
# would show pool misses, copies or scans that grow with the run.
# Usage: bench/run-profile.sh [path/to/kel]
here=$(cd "$(dirname "$0")" && pwd)
kel=${1:-$here/../build/kel}
py=${PYTHON:-/usr/bin/python3}
printf '%-8s %10s %10s %10s %10s %10s\n' N plain profile debug py py-cProf
for n in 10000 100000 1000000; do
  kp=$("$kel" "$here/profile.kel" $n plain | awk '/ns\/call/ { print $2 }')
  kr=$("$kel" "$here/profile.kel" $n profile | awk '/ns\/call/ { print $2 }')
  kd=$("$kel" "$here/profile.kel" $n debug | awk '/ns\/call/ { print $2 }')
  pp=$("$py" "$here/profile_calls.py" $n plain | awk '{ print $2 }')
  pr=$("$py" "$here/profile_calls.py" $n profile | awk '{ print $2 }')
  printf '%-8s %10s %10s %10s %10s %10s\n' $n "$kp" "$kr" "$kd" "$pp" "$pr"
done
