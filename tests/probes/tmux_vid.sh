#!/usr/bin/env bash
# A VID layout shown in a real terminal: the faces' texts on the screen, and `view` returning
# once a timer closes the window.
# Usage: tmux_vid.sh <kel>. Exit 77 (skipped) without tmux, or while no view engine and
# backend are loaded to show windows.
set -uo pipefail
kel=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
base="kel-vid-$$"
sock=$base
dir=$(mktemp -d /tmp/kel-vid-XXXXXX)
cleanup() { T kill-server 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail_sock=1
wait_tries=400  # a VID window takes longer to come up
session() { new_session "$1" 60 15 "$2"; }

"$kel" <(printf 'Kel []\nprint either all [value? (quote face!) in system/view/platform (quote make-view)] ["yes"] ["no"]\n') \
  | has -x yes || { echo "no view engine and backend: skipped"; exit 77; }

# The window shows both faces' texts while its timer runs; the timer closes it and `view`
# returns to the script.
printf 'Kel []\nprint "before"\nview [text "hi" button "OK" rate 0:0:2 on-time [unview]]\nprint "view returned"\n' >"$dir/slow.kel"
session shown "'$kel' '$dir/slow.kel'"
if wait_text "before"; then
  wait_text "hi" && wait_text "OK"
  wait_text "view returned"
fi

# Twice a second: the window closes at the first tick and the script goes on.
printf 'Kel []\nview [text "hi" button "OK" rate 2 on-time [unview]]\nprint "view returned"\n' >"$dir/fast.kel"
session returns "'$kel' '$dir/fast.kel'"
wait_text "view returned"

[ "$failures" = 0 ] && echo "all VID screen checks passed"
exit $((failures > 0))
