#!/usr/bin/env bash
# The console in a real terminal: banner, prompt, continuation cue, Esc, halt, errors, results
# cut to the width, a failing prompt, Ctrl-C and Ctrl-D, the title, the history kept from one
# run to the next, a script that cannot be read.
# Usage: tmux_console.sh <kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$(realpath "$1")
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-console-$$"
cache=$(mktemp -d)
work=$(mktemp -d)
cleanup() { T kill-server 2>/dev/null; rm -rf "$cache" "$work"; }
trap cleanup EXIT

# A new session running the command (kel and what follows it) in the work folder.
# Each session has a server of its own: a new one on the old socket can meet it exiting.
runs=0
start() {
  T kill-server 2>/dev/null
  runs=$((runs + 1))
  sock="kel-console-$$-$runs"
  T -f /dev/null new-session -d -x 80 -y 24 -c "$work" \
    "XDG_CACHE_HOME='$cache' $1; echo st=\$?; stty -a; sleep 60" || exit 1
  T set-option -t 0 remain-on-exit on >/dev/null
}

start "'$kel'"
wait_row "Type HELP for starting information." && wait_row ">>" || exit 1
[ "$(T display -p -t 0 '#{pane_title}')" = "Kel Console" ] || fail "title is not Kel Console"

fresh
T send-keys -t 0 1234 Left Left 9 Enter
wait_screen ">> 12934" "== 12934" ">>" && wait_cursor 3 2

# An open block continues with its cue; Esc drops what was gathered.
fresh
T send-keys -t 0 '[1 2' Enter
wait_screen ">> [1 2" "[" && wait_cursor 5 1
T send-keys -t 0 Escape
wait_screen ">> [1 2" "[" "(escape)" ">>"
fresh
T send-keys -t 0 '{abc' Enter 'def}' Enter
wait_screen ">> {abc" "{    def}" '== "abc^/def"' ">>"

# halt returns to the prompt; an error prints its report and an empty line.
fresh
T send-keys -t 0 'loop 3 [halt]' Enter '1 / 0' Enter
wait_screen ">> loop 3 [halt]" "(halted)" ">> 1 / 0" "*** Math Error: attempt to divide by zero" \
  "*** Where: /" "*** Near : 1 / 0"
wait_row "" && wait_row ">>"

# A long result is cut to the width the console has.
T resize-window -t 0 -x 60
fresh
T send-keys -t 0 'system/console/size' Enter 'append/dup copy "" "x" 100' Enter
wait_row "== 60x24" && wait_row "== {$(printf 'x%.0s' $(seq 1 52))..."
T resize-window -t 0 -x 80

# A failing prompt is reported once and the default one comes back.
fresh
T send-keys -t 0 'system/console/prompt: does [1 / 0]' Enter
wait_row "*** Where: system/console/prompt" && wait_row ">>"
T send-keys -t 0 1 Enter
wait_row "== 1"

# Ctrl-C gives the line "q": the console ends with 0 and the terminal's modes are back.
T send-keys -t 0 C-c
wait_row "st=0"
for _ in $(seq 1 100); do screen | has "icanon" && break; sleep 0.05; done
for m in icanon echo isig; do
  screen | has -E "(^| )$m( |$)" || fail "mode $m not restored"
done

# The history comes back in the next run; Ctrl-D on an empty line ends it.
start "'$kel'"
wait_row ">>" || exit 1
T send-keys -t 0 '1 + 1' Enter
wait_row "== 2"
T send-keys -t 0 C-d
wait_row "st=0"
start "'$kel'"
wait_row ">>" || exit 1
T send-keys -t 0 Up
wait_row ">> 1 + 1"
T send-keys -t 0 Enter C-d
wait_row "st=0"

# A script that cannot be read: its report, then the console on the terminal.
start "'$kel' nosuch/x.kel"
wait_row "*** Access Error: cannot open: %nosuch/x.kel" && wait_row "Type HELP for starting information." &&
  wait_row ">>"
T send-keys -t 0 'quit/return 4' Enter
wait_row "st=4"

[ "$failures" -eq 0 ] && echo "console rows as expected"
exit $((failures > 0))
