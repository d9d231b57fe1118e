#!/usr/bin/env bash
# Widget kinds in a real terminal: typing into a field (refused past its width, Backspace),
# a password field's stars, a check toggled by Space, text-list rows moved with the arrows
# (the selected one inverse), a rounded red group-box frame and an image cell, with the
# focus moved by Tab through the window's `selected`.
# Usage: tmux_gui_widgets.sh <kel> <gui_widgets.kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$1
script=$2
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-widgets-$$"
trap 'T kill-server 2>/dev/null' EXIT
keys() { T send-keys -t 0 "$@"; sleep 0.3; }

T -f /dev/null new-session -d -x 60 -y 12 "TERM=xterm-256color COLORTERM= '$kel' '$script'; sleep 60" ||
  { echo "FAIL: no tmux session"; exit 1; }
wait_text "Go" || exit 1
row() { screen | sed -n "$1p"; }
[ "$(row 1 | cut -c1-15)" = "            ***" ] || fail "the password field does not show three stars"
[ "$(row 2)" = "🞕 Go" ] || fail "the check is not set at first"
case "$(row 3)" in "one         ╭G─────╮  ▄"*) ;; *) fail "the group box or the image cell is not there" ;; esac
coloured=$(T capture-pane -p -e -t 0)
for want in $'\e[38;5;196m╭' $'\e[38;5;21m\e[48;5;196m▄'; do
  printf '%s' "$coloured" | has -F -- "$want" || fail "no $(printf '%q' "$want") in the coloured capture"
done
# Without the focus a text list highlights nothing.
printf '%s' "$coloured" | has -F -- $'\e[7mone' && fail "the unfocused list shows a selection"

keys h e l l o w o r l d
keys X
wait_text "helloworld" && [ "$(row 1 | cut -c1-10)" = "helloworld" ] || fail "the field does not hold ten characters"
screen | has "helloworldX" && fail "the field took an eleventh character"
keys BSpace
keys Y
wait_text "helloworlY"
keys Tab Space
wait_text "☐ Go"
keys Tab Down Down
sleep 0.3
printf '%s' "$(T capture-pane -p -e -t 0)" | has -F -- $'\e[7mthree' || fail "the third row is not inverse"
keys Up
printf '%s' "$(T capture-pane -p -e -t 0)" | has -F -- $'\e[7mtwo' || fail "Up did not move the selection"
keys Escape
wait_text 'field: "helloworlY" check: false selected: 2 changes: 4'

[ "$failures" = 0 ] && echo "tmux widgets: all passed"
exit $((failures > 0))
