#!/usr/bin/env bash
# The GUI backend's terminal layer in a real terminal: the size, a resize waking a wait,
# Ctrl-C as a key, and the terminal put back on every way out (signal, quit, fatal error).
# Usage: tmux_gui_terminal.sh <probe-gui_terminal>. Exit 77 (skipped) without tmux.
set -uo pipefail
probe=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
base="kel-gui-$$"
sock=$base
cleanup() { T kill-server 2>/dev/null; }
trap cleanup EXIT
fail_sock=1

# A new server and session of its own running the command.
session() { new_session "$1" 100 30 "$2"; }

session size "'$probe' size"
wait_text "size 100x30 0"

session wait "'$probe' wait"
wait_text "waiting 100x30" && T resize-window -t 0 -x 90
wait_text "woke 2 early poll 1 size 90x30"

# Ctrl-C is a key while the console is set up: the probe goes on until q.
session keys "'$probe' keys"
wait_text "keys ready" && T send-keys -t 0 C-c
wait_text "key 3 0" && T send-keys -t 0 -H c3 a9 1b 5b 41
wait_text "key 233 0" && wait_text "key 0 -20" && T send-keys -t 0 q
wait_text "keys done"

for way in term quit fatal; do
  session "$way" "sh -c 'echo shell screen; s=\$(stty -g); \"$probe\" $way; st=\$?; [ \"\$(stty -g)\" = \"\$s\" ] && echo stty same; echo st=\$st'"
  wait_text "in the alternate screen" || continue
  if [ "$(T display -p -t 0 '#{alternate_on} #{mouse_any_flag} #{mouse_sgr_flag} #{cursor_flag}')" != "1 1 1 0" ]; then
    echo "FAIL ($way): the probe's screen states are not on"; failures=$((failures + 1))
  fi
  if [ "$way" = term ]; then
    kill -TERM "$(screen | sed -n 's/.*in the alternate screen, pid \([0-9]*\).*/\1/p')"
  else
    T send-keys -t 0 q
  fi
  wait_text "st=" && wait_text "shell screen" && wait_text "stty same"
  if [ "$(T display -p -t 0 '#{cursor_flag}')" != 1 ]; then
    echo "FAIL ($way): the cursor is hidden"; failures=$((failures + 1))
  fi
  if [ "$(T display -p -t 0 '#{alternate_on} #{mouse_any_flag} #{mouse_sgr_flag}')" != "0 0 0" ]; then
    echo "FAIL ($way): alternate screen or mouse reporting still on"; failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ] && echo "terminal layer rows as expected"
exit $((failures > 0))
