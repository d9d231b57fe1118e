#!/usr/bin/env bash
# Faces' draw blocks in a real terminal: box-drawing outlines placed in their face, pen
# colours as palette foregrounds, fills as palette backgrounds, text, a circle of full
# blocks and a line cut at its face's edge; the pane shows what the grid holds.
# Usage: tmux_gui_draw.sh <probe-gui_screen>. Exit 77 (skipped) without tmux.
set -uo pipefail
probe=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-draw-$$"
dump=$(mktemp /tmp/kel-draw-XXXXXX)
cleanup() { T kill-server 2>/dev/null; rm -f "$dump"; }
trap cleanup EXIT

T -f /dev/null new-session -d -x 30 -y 10 "TERM=xterm-256color '$probe' draw '$dump'; sleep 60" ||
  { echo "FAIL: no tmux session"; exit 1; }
wants=($'\e[38;5;196m┌' $'\e[48;5;21m' $'\e[38;5;196mdrawn')
# The text can reach the pane before its colours do: poll until every colour is there.
has_colours() { for want in "${wants[@]}"; do printf '%s' "$coloured" | has -F -- "$want" || return 1; done; }
if wait_text "drawn"; then
  for _ in $(seq 1 "$wait_tries"); do
    coloured=$(T capture-pane -p -e -t 0)
    has_colours && break
    sleep 0.05
  done
  plain=$(screen)
  T send-keys -t 0 Escape
  wait_text "loop ended"
  rows=()
  while IFS= read -r line; do rows+=("$line"); done <<< "$plain"
  # The first face is at column 10: its box from column 10 to 14, its text inside the face.
  [ "${rows[0]:10:5}" = "┌───┐" ] || fail "row 0: the box's top is not at columns 10-14"
  [ "${rows[1]:10:12}" = "│   │ boxed" ] || fail "row 1: the box's side and the text"
  [ "${rows[2]:10:5}" = "└───┘" ] || fail "row 2: the box's bottom"
  [ "${rows[3]:0:4}" = "┌──┐" ] || fail "row 3: the second face's box"
  [ "${rows[7]:1:5}" = "drawn" ] || fail "row 7: the text"
  [ "${rows[9]:9:21}" = "█████████████████████" ] || fail "row 9: the line to the face's edge"
  printf '%s\n' "${rows[@]}" | has "█" || fail "no full blocks"
  for want in "${wants[@]}"; do
    printf '%s' "$coloured" | has -F -- "$want" || fail "no $(printf '%q' "$want") in the coloured capture"
  done
  if [ "$(sed 's/ *$//' "$dump")" != "$(printf '%s\n' "$plain" | sed 's/ *$//')" ]; then
    fail "the pane differs from the grid dump"; diff <(sed 's/ *$//' "$dump") <(printf '%s\n' "$plain" | sed 's/ *$//')
  fi
fi
[ "$failures" -eq 0 ] && echo "draw cells as expected"
exit $((failures > 0))
