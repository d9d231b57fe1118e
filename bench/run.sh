#!/bin/sh
# Times whole processes (CPU time, user + system) of the interpreter and live-data
# benchmarks beside their python3 (and lua5.4, when installed) twins in one run, each
# pair run in turn, and prints the median times and the ratios.
# Usage: bench/run.sh [path/to/kel] [runs] [max live-data count]
# ONLY=macro runs the macro benchmarks alone (the programs that mix paths, maps, parse,
# comparator sorts, string building and the JSON codec); BEFORE=path/to/older/kel times that
# binary too in the same turns of the macro table (before and after in one run).
# PYTHON picks the python3 (default /usr/bin/python3); KEEP=dir keeps the generated files.
here=$(cd "$(dirname "$0")" && pwd)
kel=${1:-$here/../build/kel}
runs=${2:-5}
maxn=${3:-10000000}
py=${PYTHON:-/usr/bin/python3}
lua=$(command -v lua5.4 || true)
work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
[ -n "$KEEP" ] || trap 'rm -rf "$work"' EXIT

cpu() {  # CPU seconds of one run (the child's resource usage, to the microsecond)
  "$py" -c '
import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print("fail" if r.returncode else "%.4f" % (u.ru_utime + u.ru_stime))' "$@"
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# pair NAME KEL-SCRIPT PY-SCRIPT [LUA-SCRIPT] [OLDER-KEL]: sets K P L B (median CPU seconds;
# B is the older kel's, run in the same turns).
pair() {
  ks="" ps="" ls="" bs=""
  i=0
  while [ $i -lt "$runs" ]; do
    ks="$ks $(cpu "$kel" "$2")"
    ps="$ps $(cpu "$py" "$3")"
    if [ -n "$lua" ] && [ -n "$4" ]; then ls="$ls $(cpu "$lua" "$4")"; fi
    if [ -n "$5" ]; then bs="$bs $(cpu "$5" "$2")"; fi
    i=$((i + 1))
  done
  K=$(echo "$ks" | median) P=$(echo "$ps" | median) L=$(echo "$ls" | median)
  B=$(echo "$bs" | median)
}

macro() {
  "$py" "$here/gen_macro.py" "$work"
  "$py" "$here/gen_json_csv.py" "$work" >/dev/null
  echo
  if [ -n "$BEFORE" ]; then
    printf '%-16s %9s %9s %8s %9s %8s %8s\n' macro kel python3 kel/py before before/py kel/before
  else
    printf '%-16s %9s %9s %8s\n' macro kel python3 kel/py
  fi
  ( cd "$work" || exit 1
    for name in word-count record-sort report tree-walk object-foreach find-select json-roundtrip; do
      # A script's relative files are found from its own folder: it runs beside its data.
      cp "$here/$name.kel" "$work/$name.kel"
      if [ -n "$BEFORE" ]; then
        pair $name "$work/$name.kel" "$here/$(echo $name | tr - _).py" "" "$BEFORE"
        printf '%-16s %9s %9s %8s %9s %8s %8s\n' $name "$K" "$P" "$(ratio "$K" "$P")" "$B" \
          "$(ratio "$B" "$P")" "$(ratio "$K" "$B")"
      else
        pair $name "$work/$name.kel" "$here/$(echo $name | tr - _).py"
        printf '%-16s %9s %9s %8s\n' $name "$K" "$P" "$(ratio "$K" "$P")"
      fi
    done )
}
if [ "$ONLY" = macro ]; then macro; exit; fi

printf 'Kel []\n' >"$work/empty.kel"
: >"$work/empty.py"
printf '%-16s %9s %9s %8s %9s %8s%s\n' bench kel python3 kel/py lua5.4 kel/lua \
  "${BEFORE:+   before kel/before}"
for name in fib call loop exits empty; do
  if [ $name = empty ]; then
    pair $name "$work/empty.kel" "$work/empty.py" "" "$BEFORE"
    EK=$K EP=$P
  else
    luas=""
    [ -f "$here/$name.lua" ] && luas="$here/$name.lua"
    pair $name "$here/$name.kel" "$here/$name.py" "$luas" "$BEFORE"
  fi
  extra=""
  [ -n "$BEFORE" ] && extra=$(printf ' %9s %10s' "$B" "$(ratio "$K" "$B")")
  printf '%-16s %9s %9s %8s %9s %8s%s\n' $name "$K" "$P" "$(ratio "$K" "$P")" "${L:--}" \
    "$(ratio "$K" "${L:-0}")" "$extra"
done

# Live data: a block of n fresh strings, and of n fresh two-integer blocks.
echo
printf '%-16s %9s %9s %8s %12s %12s\n' live-data kel python3 kel/py 'kel ns/elem' 'py ns/elem'
for kind in strings blocks; do
  n=100000
  while [ $n -le "$maxn" ]; do
    if [ $kind = strings ]; then
      printf 'Kel []\nb: make block! 0 loop %s [append b copy "abc"]\n' $n >"$work/$kind-$n.kel"
      printf 'b = []\nfor _ in range(%s): b.append(bytearray(b"abc"))\n' $n >"$work/$kind-$n.py"
    else
      printf 'Kel []\nb: make block! 0 loop %s [append/only b copy [1 2]]\n' $n >"$work/$kind-$n.kel"
      printf 'b = []\nfor _ in range(%s): b.append([1, 2][:])\n' $n >"$work/$kind-$n.py"
    fi
    pair $kind "$work/$kind-$n.kel" "$work/$kind-$n.py"
    kn=$(awk -v t="$K" -v e="$EK" -v n=$n 'BEGIN { printf "%.0f", (t - e) * 1e9 / n }')
    pn=$(awk -v t="$P" -v e="$EP" -v n=$n 'BEGIN { printf "%.0f", (t - e) * 1e9 / n }')
    printf '%-16s %9s %9s %8s %12s %12s\n' "$kind $n" "$K" "$P" "$(ratio "$K" "$P")" "$kn" "$pn"
    n=$((n * 10))
  done
done

# Loading a generated data file of about 50 MB (kel: the script's body; python3: json.load
# of the same records).
echo
"$py" "$here/gen_data.py" "$work" "${DATA_MB:-50}" >/dev/null
pair data "$work/data.kel" "$work/data.py"
kb=$(wc -c <"$work/data.kel")
jb=$(wc -c <"$work/data.json")
printf '%-16s %9s %9s %8s %9s MB/s %9s MB/s\n' "load $((kb / 1000000)) MB" "$K" "$P" "$(ratio "$K" "$P")" \
  "$(awk -v b="$kb" -v t="$K" -v e="$EK" 'BEGIN { printf "%.0f", b / 1e6 / (t - e) }')" \
  "$(awk -v b="$jb" -v t="$P" -v e="$EP" 'BEGIN { printf "%.0f", b / 1e6 / (t - e) }')"

macro
