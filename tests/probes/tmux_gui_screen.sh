#!/usr/bin/env bash
# The GUI's screen in a real terminal: a full-screen frame's cells as the grid holds them
# (colours, attributes, a wide character), an inline display below printed text, printed
# text on the main screen after full screen, and the terminal put back when the loop ends.
# Usage: tmux_gui_screen.sh <probe-gui_screen>. Exit 77 (skipped) without tmux.
set -uo pipefail
probe=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
base="kel-screen-$$"
sock=$base
dump=$(mktemp /tmp/kel-grid-XXXXXX)
cleanup() { T kill-server 2>/dev/null; rm -f "$dump"; }
trap cleanup EXIT
fail_sock=1

# A full-screen frame: the pane shows the grid's rows; colours and attributes reach it.
new_session colours 20 5 "'$probe' colours '$dump'"
if wait_text "palette"; then
  coloured=$(T capture-pane -p -e -t 0)
  plain=$(screen)
  T send-keys -t 0 Escape
  wait_text "loop ended"
  for want in $'\e[31mred' $'\e[1;4mbold' $'\e[7minv' $'\e[38;5;196mpalette' $'\e[48;5;21mwide'; do
    printf '%s' "$coloured" | has -F -- "$want" || fail "no $(printf '%q' "$want") in the coloured capture"
  done
  # The dump is the grid as it was; the pane's rows are the same text (trailing blanks aside).
  if [ "$(sed 's/ *$//' "$dump")" != "$(printf '%s\n' "$plain" | sed 's/ *$//')" ]; then
    fail "the pane differs from the grid dump"; diff <(sed 's/ *$//' "$dump") <(printf '%s\n' "$plain" | sed 's/ *$//')
  fi
fi

# Inline: the display below the printed text; a print goes above it; Escape ends the loop
# and the terminal modes come back.
new_session inline 40 12 "sh -c 's=\$(stty -g); \"$probe\" inline; [ \"\$(stty -g)\" = \"\$s\" ] && echo stty same'"
if wait_text "row two"; then
  T send-keys -t 0 h
  wait_text "hit"
  sleep 0.3
  rows=$(screen)
  hit=$(printf '%s\n' "$rows" | grep -n '^hit' | head -1 | cut -d: -f1)
  shown=$(printf '%s\n' "$rows" | grep -n '^display' | tail -1 | cut -d: -f1)
  before=$(printf '%s\n' "$rows" | grep -n '^before' | head -1 | cut -d: -f1)
  if [ -z "$hit" ] || [ -z "$shown" ] || [ -z "$before" ] || [ "$before" -ge "$hit" ] || [ "$hit" -ge "$shown" ]; then
    fail "\"hit\" is not between the earlier text and the display"
  fi
  [ "$(printf '%s\n' "$rows" | grep -c '^display')" = 1 ] || fail "the display shows twice"
  T send-keys -t 0 Escape
  wait_text "loop ended" && wait_text "stty same"
  [ "$(T display -p -t 0 '#{cursor_flag}')" = 1 ] || fail "the cursor is hidden after the loop"
fi

# Full screen: printed text lands on the main screen and stays there.
new_session full 40 10 "'$probe' full"
if wait_text "full screen"; then
  [ "$(T display -p -t 0 '#{alternate_on}')" = 1 ] || fail "not on the alternate screen"
  T send-keys -t 0 h
  sleep 0.5
  wait_text "full screen"
  T send-keys -t 0 Escape
  wait_text "loop ended"
  [ "$(T display -p -t 0 '#{alternate_on}')" = 0 ] || fail "still on the alternate screen"
  screen | has '^hit' || fail "\"hit\" is not on the main screen"
fi

[ "$failures" -eq 0 ] && echo "screen rows as expected"
exit $((failures > 0))
