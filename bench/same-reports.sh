#!/bin/sh
# Runs every snippet of bench/report-snippets.txt (one script body a line) through two kel
# binaries and prints the snippets whose output (error reports with Where, Near and Stack,
# trace events, change notifications, results) differs. Speed work runs it before landing.
# Usage: bench/same-reports.sh OLD-KEL NEW-KEL
here=$(cd "$(dirname "$0")" && pwd)
old=$1 new=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0 bad=0
while IFS= read -r line; do
  case "$line" in ''|';'*) continue ;; esac
  n=$((n + 1))
  printf 'Kel []\n%s\n' "$line" >"$work/s.kel"
  "$old" "$work/s.kel" >"$work/old" 2>&1; echo "exit $?" >>"$work/old"
  "$new" "$work/s.kel" >"$work/new" 2>&1; echo "exit $?" >>"$work/new"
  if ! cmp -s "$work/old" "$work/new"; then
    bad=$((bad + 1))
    echo "differs: $line"
    diff "$work/old" "$work/new" | head -20
  fi
done <"$here/report-snippets.txt"
echo "$n snippets, $bad differ"
[ $bad -eq 0 ]
