#!/bin/sh
# The console reading piped commands beside python3's interactive mode in one run: a million
# one-number lines (each gathered, checked, loaded, evaluated and printed), and one block
# literal of 20,000 lines (the delimiter check lexes the whole gathered text at every line).
# Usage: bench/console-pipe.sh [path/to/kel] [lines]
here=$(cd "$(dirname "$0")" && pwd)
kel=${1:-$here/../build/kel}
n=${2:-1000000}
py=${PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seq 1 "$n" >"$work/numbers"
{ echo "length? ["; seq 1 20000; echo "]"; } >"$work/block-kel"
{ echo "len(["; seq 1 20000 | sed 's/$/,/'; echo "])"; } >"$work/block-py"

cpu() {  # CPU seconds of one run with standard input from a file
  in=$1
  shift
  "$py" -c '
import resource, subprocess, sys
with open(sys.argv[1], "rb") as f:
    r = subprocess.run(sys.argv[2:], stdin=f, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env={"XDG_CACHE_HOME": sys.argv[1] + ".cache", "PATH": "/usr/bin:/bin"})
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print("fail" if r.returncode else "%.3f" % (u.ru_utime + u.ru_stime))' "$in" "$@"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

printf '%-22s %10s %10s %8s\n' "input" "kel s" "python3 s" "ratio"
k=$(cpu "$work/numbers" "$kel") p=$(cpu "$work/numbers" "$py" -i -q)
printf '%-22s %10s %10s %8s\n' "$n lines" "$k" "$p" "$(ratio "$k" "$p")"
k=$(cpu "$work/block-kel" "$kel") p=$(cpu "$work/block-py" "$py" -i -q)
printf '%-22s %10s %10s %8s\n' "20000-line block" "$k" "$p" "$(ratio "$k" "$p")"
