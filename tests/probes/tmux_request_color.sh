#!/usr/bin/env bash
# The colour requester in a real terminal (tmux 100x40, COLORTERM=truecolor): cancel and
# accept, a starting colour with transparency, the hex and name fields, the numbers, the
# canvas keys, the recent row of the grid, and a caller's window left open under the dialog.
# Usage: tmux_request_color.sh <kel>. Exit 77 (skipped) without tmux, or until VID, the event
# functions and the backend's routines are there.
set -uo pipefail
kel=$(realpath "$1")
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
work=$(mktemp -d /tmp/kel-rc-XXXXXX)
printf 'Kel []\nprint either all [value? %s value? %s value? %s in system/view/platform %s] ["yes"] ["no"]\n' "'layout" "'view" "'foreach-face" "'make-view" > "$work/has-vid.kel"
[ "$("$kel" "$work/has-vid.kel")" = yes ] || { echo "no VID, event functions or backend yet: skipped"; rm -rf "$work"; exit 77; }
base="kel-rc-$$"
sock=$base
cleanup() { T kill-server 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL ($name): $1"; T capture-pane -p -t 0 | grep -v '^$' | sed 's/^/    | /'; failures=$((failures + 1)); }
# run NAME KEL-CODE [TEXT]: a session running the code, then waits for the text (the dialog).
run() {
  name=$1
  printf 'Kel []\n%s\nprint "done"\n' "$2" > "$work/$name.kel"
  new_session "$name" 100 40 "COLORTERM=truecolor '$kel' '$work/$name.kel'"
  wait_text "${3:-Cancel}"
}
keys() { T send-keys -t 0 "$@"; sleep 0.15; }
# The lines the script printed (from the first column, over what is left of the inline
# display) once it is done.
result() {
  wait_text "done" >/dev/null
  screen | grep -v '^ ' | grep -v '^$' | sed -E 's/ {2,}.*//; s/ *│.*//' | grep -vx 'done'
}
expect() { result | has -xF -- "$2" || fail "$1: got \"$(result | tr '\n' ' ')\", want \"$2\""; }

run cancel 'print mold request-color'
keys Escape
expect "Escape cancels" "none"

run accept 'print mold request-color'
keys Enter
expect "Enter accepts white" "255.255.255"

run alpha 'print mold request-color/color 10.20.30.40'
keys Enter
expect "a four-byte colour comes back" "10.20.30.40"

run numbers 'print mold request-color/color 255.0.0'
numbers=$(screen | grep -E '^ *│.* [HSVRGBA]  ' | sed -E 's/.* ([HSVRGBA])  .* +([0-9]+)│ *$/\1 \2/' | tr '\n' ' ')
[ "$numbers" = "H 0 S 100 V 100 R 255 G 0 B 0 A 0 " ] || fail "numbers of 255.0.0: $numbers"
keys Escape

run hex 'print mold request-color'
for _ in $(seq 10); do keys Tab; done
for _ in $(seq 8); do keys BSpace; done
keys '#0F0'
keys Enter
expect "#0F0 typed in the hex field" "0.255.0"

run name 'print mold request-color'
for _ in $(seq 9); do keys Tab; done
for _ in $(seq 8); do keys BSpace; done
keys navy
sleep 0.3
screen | has -F '#000080' || fail "the hex field does not follow the name"
screen | has -E ' B  .* 128│' || fail "the B number does not follow the name"
screen | has -E '│navy  ' || fail "the name field lost \"navy\""
keys Enter
expect "navy typed in the name field" "0.0.128"

run canvas 'print mold request-color/color 255.0.0'
for _ in $(seq 31); do keys Left; done
keys Enter
expect "the canvas from red, 31 steps left" "255.255.255"

# The recent row: red twice, then 19 distinct colours.
run recent 'loop 2 [print mold request-color/color 255.0.0] recent: request-color-ctx/recent print mold copy recent'
keys Enter
wait_text "255.0.0"
keys Enter
expect "red kept once in the recent list" "[255.0.0]"

run recent-row 'clear request-color-ctx/recent request-color-ctx/remember 255.0.0 request-color/color 1.2.3'
row=$(T capture-pane -p -e -t 0 | grep -A2 -F 'Recent' | sed -n 3p)
printf '%s' "$row" | has -E '38;2;255;0;0m|38;5;196m|48;2;255;0;0m|48;5;196m' || fail "red is not the first recent slot"
printf '%s' "$row" | has -E '38;2;60;60;60m|48;2;60;60;60m|38;5;59m|48;5;59m|38;5;237m|48;5;237m' || fail "no empty slot colour in the recent row"
keys Escape

run recent-max 'clear request-color-ctx/recent repeat i 19 [request-color-ctx/remember as-color i 0 0] print mold reduce [length? request-color-ctx/recent first request-color-ctx/recent last request-color-ctx/recent] print mold request-color'
keys Escape
expect "19 distinct: the oldest gone" "[18 19.0.0 2.0.0]"
expect "cancel after the recent list" "none"

# A caller's window under the dialog: Escape closes only the dialog.
run caller 'view/no-wait [title "Caller" text "caller window" button "Pick" [print mold request-color]] do-events' "Pick"
keys Enter
wait_text "Color"
keys Escape
sleep 0.5
screen | has -F 'none' || fail "the dialog did not answer none"
screen | has -F 'done' && fail "the caller's window was closed too"
screen | grep -v '^$' | tail -2 | has -F 'caller window' || fail "the caller's window is not shown again"
keys Escape
wait_text "done"

[ "$failures" -eq 0 ] && echo "colour requester as expected"
exit $((failures > 0))
