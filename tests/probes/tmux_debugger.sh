#!/usr/bin/env bash
# The debugger in a real terminal: the "debug> " prompt at each stop, and the console history
# after the run (the commands typed at the prompt are gone, the debug line is there).
# Usage: tmux_debugger.sh <kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$(realpath "$1")
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-debugger-$$"
cache=$(mktemp -d)
cleanup() { T kill-server 2>/dev/null; rm -rf "$cache"; }
trap cleanup EXIT

# Waits (up to 10 s) until n rows or more begin with the text.
wait_rows() {
  for _ in $(seq 1 200); do
    [ "$(screen | grep -c "^$1")" -ge "$2" ] && return 0
    sleep 0.05
  done
  fail "fewer than $2 rows beginning \"$1\""
}
wait_line() {
  for _ in $(seq 1 200); do
    screen | has -F -- "$1" && return 0
    sleep 0.05
  done
  fail "no row with \"$1\""
}

T -f /dev/null new-session -d -x 80 -y 40 "XDG_CACHE_HOME='$cache' '$kel'; sleep 60" || exit 1
wait_rows ">>" 1 || exit 1
T send-keys -t 0 'debug [1 + 2]' Enter
wait_line "-----> EVAL 1" && wait_rows "debug>" 1
T send-keys -t 0 n Enter
wait_line "-----> PUSH 1" && wait_rows "debug>" 2
T send-keys -t 0 c Enter
wait_rows ">>" 2
# The first line Up recalls is the debug line: n and c went with the run.
T send-keys -t 0 Up
wait_rows ">> debug \\[1 + 2\\]$" 2

[ "$failures" -eq 0 ] && echo "debugger rows as expected"
exit $((failures > 0))
