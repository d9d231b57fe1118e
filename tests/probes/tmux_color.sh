#!/usr/bin/env bash
# Escape sequences reach a real terminal unchanged: inside tmux the probe's X shows in red.
# Usage: tmux_color.sh <probe-startup>. Exit 77 (skipped) without tmux.
set -uo pipefail
probe=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-test-$$"
cleanup() { tmux -L "$sock" kill-server 2>/dev/null; }
trap cleanup EXIT
tmux -L "$sock" -f /dev/null new-session -d -x 40 -y 5 "'$probe' print-escape; '$probe' console-flag; sleep 30" || exit 1
deadline=$((SECONDS + 30))  # the probe starts slowly on a busy machine
while :; do
  screen=$(tmux -L "$sock" capture-pane -p -e -t 0)
  case "$screen" in *console*) break ;; esac
  [ $SECONDS -lt $deadline ] || break
  sleep 0.05
done
if printf '%s' "$screen" | has $'\e\\[31mX' && printf '%s' "$screen" | has 'console 1'; then
  echo "red X on a terminal"
  exit 0
fi
echo "no red X (or no terminal seen) on the screen"
exit 1
