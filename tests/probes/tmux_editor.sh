#!/usr/bin/env bash
# The line editor in a real terminal: keys sent to tmux, rows and the cursor read back.
# Usage: tmux_editor.sh <kel> <harness.kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$1
harness=$2
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-editor-$$"
home=$(mktemp -d)
cleanup() { T kill-server 2>/dev/null; rm -rf "$home"; }
trap cleanup EXIT

T -f /dev/null new-session -d -x 80 -y 24 \
  "XDG_CACHE_HOME='$home' '$kel' '$harness'; echo st=\$?; stty -a; sleep 60" || exit 1
T set-option -t 0 remain-on-exit on >/dev/null
wait_row ">>" || exit 1

# A fresh history gets each new line once.
T send-keys -t 0 1 Enter 1 Enter 'length? system/console/history' Enter
wait_row "== 2"

fresh
T send-keys -t 0 1234 Left Left 9 Enter
wait_screen ">> 12934" "== 12934" ">>" && wait_cursor 3 2

fresh
T send-keys -t 0 91234 Home Delete End BSpace Enter
wait_row "== 123"
T send-keys -t 0 12345 Left Left Left C-k Enter
wait_row "== 12"
T send-keys -t 0 123 C-a C-d Enter
wait_row "== 23"

fresh
T send-keys -t 0 '10 + 1' Enter '20 + 2' Enter Up Up Down Enter
wait_screen ">> 10 + 1" "== 11" ">> 20 + 2" "== 22" ">> 10 + 1" "== 11" ">>"

# Hidden input: stars, and nothing of it in the history.
fresh
T send-keys -t 0 'x: ask/hide "pw: "' Enter abc Enter x Enter
wait_row "pw: ***" && wait_row '== "abc"'
T send-keys -t 0 'find system/console/history "abc"' Enter
wait_row "== none"

# Esc alone ends the line with an escape; so does Esc at once followed by a key.
fresh
T send-keys -t 0 '[1 2' Escape
wait_row "(escape)"
T send-keys -t 0 '1 + 1' Escape 2
wait_row ">> 2"
T send-keys -t 0 BSpace

# Without completion candidates Tab is a tab, shown as four spaces.
fresh
T send-keys -t 0 1 Tab '+ 2' Enter
wait_row ">> 1    + 2" && wait_row "== 3"

# Wrapping: a wide character never starts on the last column.
fresh
T send-keys -t 0 "$(printf '你%.0s' $(seq 1 39))"
wait_cursor 2 1 && wait_screen ">> $(printf '你%.0s' $(seq 1 38))" "你"
T send-keys -t 0 Left
wait_cursor 0 1  # on the wide character shown at the next row's start
T send-keys -t 0 Home C-k
wait_cursor 3 0
T send-keys -t 0 "$(printf 'a%.0s' $(seq 1 77))"
wait_cursor 0 1
T send-keys -t 0 Left Left b
wait_cursor 79 0 && wait_screen ">> $(printf 'a%.0s' $(seq 1 75))ba" "a"
T send-keys -t 0 Home C-k

# A prompt with colour sequences takes the width of its visible characters.
fresh
T send-keys -t 0 'prompt: "^[[31m>> ^[[0m"' Enter
T send-keys -t 0 x
wait_cursor 4 2 && wait_row ">> x"
T send-keys -t 0 BSpace 'prompt: ">> "' Enter

# Completion: one candidate completes the line; several are listed, then the prompt comes
# again below with the line completed to their common part.
T send-keys -t 0 'kel-complete-input: func [s c] [either #"x" = pick head s 1 [reduce [at "app" 4 "apple" "apply"]] [reduce [at "append" 7]]]' Enter
fresh
T send-keys -t 0 a Tab
wait_screen ">> append" && wait_cursor 9 0
T send-keys -t 0 Home C-k x Tab
wait_screen ">> x" "apple apply" ">> app" && wait_cursor 6 2
T send-keys -t 0 Home C-k 'ask/hide "pw: "' Enter a Tab b Enter
wait_row "pw: ***" && wait_row '== "a^-b"'  # hidden text is never completed
T send-keys -t 0 'unset (quote kel-complete-input)' Enter

# Pasted lines are each a line.
fresh
T set-buffer -- $'1\n2\n3\n'
T paste-buffer -t 0
wait_row "== 1" && wait_row "== 2" && wait_row "== 3"

# A resize is seen by the next edit.
T resize-window -t 0 -x 60
fresh
T send-keys -t 0 'system/console/size' Enter
wait_row "== 60x24"

# Ctrl-D on an empty line ends it; the terminal's modes are back.
T send-keys -t 0 C-d
wait_row "st=0"
for _ in $(seq 1 100); do screen | has "icanon" && break; sleep 0.05; done
modes=$(screen)
for m in icanon echo isig; do
  if ! printf '%s\n' "$modes" | has -E "(^| )$m( |$)"; then
    echo "FAIL: mode $m not restored"; failures=$((failures + 1))
  fi
done

# Killed while editing (raw mode on): the modes are back all the same.
for sig in TERM HUP; do
  T kill-server 2>/dev/null
  sock="kel-editor-$$-$sig"
  T -f /dev/null new-session -d -x 80 -y 24 "sh -c \"'$kel' '$harness'; stty -a; sleep 60\"" || exit 1
  wait_row ">>" || continue
  T send-keys -t 0 abc
  wait_row ">> abc" || continue
  shell=$(T display -p -t 0 '#{pane_pid}')
  editor=$(pgrep -P "$shell" | head -1)
  kill -s "$sig" "$editor"
  for _ in $(seq 1 100); do screen | has "icanon" && break; sleep 0.05; done
  if ! screen | has -E "(^| )icanon( |$)" || ! screen | has -E "(^| )echo( |$)"; then
    echo "FAIL: modes not restored after SIG$sig"; screen | sed 's/^/    | /'; failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ] && echo "line editor rows as expected"
exit $((failures > 0))
