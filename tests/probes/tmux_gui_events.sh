#!/usr/bin/env bash
# The global event functions and requesters as a user meets them in a real terminal: Escape
# closes a viewed window and `view` returns; the file requester shows its lists and Escape
# gives none; an alert shows its text and OK within an 80-column screen and Enter closes it.
# Usage: tmux_gui_events.sh <kel>. Exit 77 (skipped) without tmux, or while the backend
# object has no requesters (no window can be shown without its routines).
set -uo pipefail
kel=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
base="kel-events-$$"
sock=$base
dir=$(mktemp -d /tmp/kel-events-XXXXXX)
cleanup() { T kill-server 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
printf 'Kel []\nprint either all [object? system/view/platform  in system/view/platform %s] ["ready"] ["no backend"]\n' "'request-file" > "$dir/ready.kel"
[ "$("$kel" "$dir/ready.kel" 2>/dev/null)" = ready ] || { echo "no backend routines: skipped"; exit 77; }
fail_sock=1

# session NAME SCRIPT-TEXT: runs the script in an 80x24 terminal
session() {
  printf 'Kel []\n%s\n' "$2" > "$dir/$1.kel"
  new_session "$1" 80 24 "cd '$dir' && '$kel' '$dir/$1.kel'; echo exited"
}

# Escape in a window closes every window: the blocking view returns.
session esc 'print "before" view [field] print "view returned"'
if wait_text "before"; then
  sleep 0.3
  T send-keys -t 0 Escape
  wait_text "view returned"
fi

# The file requester: its two lists, then Escape answers none.
mkdir -p "$dir/sub" && touch "$dir/file.txt"
session file 'probe request-file print "requester done"'
if wait_text " Folders " && wait_text " Files "; then
  T send-keys -t 0 Escape
  wait_text "requester done"
  screen | has '^none' || fail "request-file did not answer none"
fi

# An alert fits the screen: its text and OK are there; Enter closes it.
session alert 'alert "hi there" print "alert closed"'
if wait_text "hi there" && wait_text "OK"; then
  T send-keys -t 0 Enter
  wait_text "alert closed"
fi

[ "$failures" -eq 0 ] && echo "event functions and requesters as expected"
exit $((failures > 0))
