#!/bin/sh
# load-json/to-json and load-csv/to-csv beside python3's json and csv modules on the 1, 4 and
# 16 MB inputs of gen_json_csv.py: MB/s of each side and the ratio of the times (kel / python3).
# Usage: bench/run-json-csv.sh [path/to/kel]
# PYTHON picks the python3 (default /usr/bin/python3); KEEP=dir keeps the generated files.
here=$(cd "$(dirname "$0")" && pwd)
kel=$(cd "$(dirname "${1:-$here/../build/kel}")" && pwd)/$(basename "${1:-kel}")
py=${PYTHON:-/usr/bin/python3}
work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
[ -n "$KEEP" ] || trap 'rm -rf "$work"' EXIT
"$py" "$here/gen_json_csv.py" "$work"
cd "$work" || exit 1
"$kel" "$here/json.kel" >kel-json.txt
"$py" "$here/json_codec.py" >py-json.txt
"$kel" "$here/csv.kel" >kel-csv.txt
"$py" "$here/csv_codec.py" >py-csv.txt
printf '%-14s %10s %10s %8s %10s %10s %8s\n' input 'kel dec' 'py dec' ratio 'kel enc' 'py enc' ratio
for kind in json csv; do
  paste "kel-$kind.txt" "py-$kind.txt" | while read -r name kd ke _ _ pd pe _; do
    mb=$(wc -c <"$name")
    awk -v n="$name" -v b="$mb" -v kd="$kd" -v ke="$ke" -v pd="$pd" -v pe="$pe" 'BEGIN {
      m = b / 1e6
      printf "%-14s %7.1f MB/s %7.1f MB/s %7.1fx %7.1f MB/s %7.1f MB/s %7.1fx\n", n, m / kd, m / pd, kd / pd, m / ke, m / pe, ke / pe }'
  done
done
