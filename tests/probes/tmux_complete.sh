#!/usr/bin/env bash
# Tab completion and help at the console in a real terminal: words, common parts, paths,
# files, no candidates (a tab is inserted), a failing folder read, and `help` output.
# Usage: tmux_complete.sh <kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$(realpath "$1")
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
sock="kel-complete-$$"
cache=$(mktemp -d)
work=$(mktemp -d)
cleanup() { T kill-server 2>/dev/null; rm -rf "$cache" "$work"; }
trap cleanup EXIT

mkdir -p "$work/t/alpine" "$work/u"
touch "$work/u/$(printf '\377')"
touch "$work/t/alpha.txt" "$work/t/beta.txt"
T -f /dev/null new-session -d -x 80 -y 24 -c "$work" \
  "XDG_CACHE_HOME='$cache' '$kel'; echo st=\$?; sleep 60" || exit 1
T set-option -t 0 remain-on-exit on >/dev/null
wait_row ">>" || exit 1
T send-keys -t 0 'zzq-alpha: 1 zzq-beta: 2 zzq-uniq: 3' Enter

# Several words: listed below the line, then the prompt again with their common part.
fresh
T send-keys -t 0 zzq- Tab
wait_screen ">> zzq-" "zzq-alpha zzq-beta zzq-uniq" ">> zzq-" && wait_cursor 7 2
T send-keys -t 0 Home C-k

# One word, a path through objects, a function's refinement: the line is completed.
fresh
T send-keys -t 0 zzq-u Tab
wait_screen ">> zzq-uniq" && wait_cursor 11 0
T send-keys -t 0 Home C-k
fresh
T send-keys -t 0 system/opt Tab
wait_screen ">> system/options" && wait_cursor 17 0
T send-keys -t 0 Home C-k
fresh
T send-keys -t 0 'x: [append/on 1' Left Left Tab
wait_screen ">> x: [append/only 1" && wait_cursor 18 0
T send-keys -t 0 Home C-k

# Nothing to complete: the tab goes into the line.
fresh
T send-keys -t 0 1 Tab 2 Enter
wait_row '>> 1    2' && wait_row '== 2'

# Files: the folder's entries, the common part on the line.
fresh
T send-keys -t 0 %t/al Tab
wait_screen ">> %t/al" "alpha.txt alpine/" ">> %t/alp" && wait_cursor 9 2
T send-keys -t 0 Home C-k
T send-keys -t 0 Home C-k
fresh
T send-keys -t 0 %t/b Tab
wait_screen ">> %t/beta.txt" && wait_cursor 14 0
T send-keys -t 0 Home C-k

# A folder holding a name that is no UTF-8 (byte 0xFF): completing it leaves the console
# editing.
fresh
T send-keys -t 0 %u/ Tab Home C-k 8 Enter
wait_row '== 8'

# A folder that cannot be read: no candidates, a tab, and the edit goes on.
fresh
T send-keys -t 0 'zzq-read: :read read: func [f] [cause-error (quote access) (quote cannot-open) [f]]' Enter
fresh
T send-keys -t 0 %t/ Tab x
wait_row '>> %t/    x'
T send-keys -t 0 Home C-k 'read: :zzq-read 7' Enter
wait_row '== 7'

# help at the console: the usage text, then a function's sections.
fresh
T send-keys -t 0 help Enter
wait_row "        To also search in function specs, use a string:" &&
  wait_row "                quit   - Leave the Kel console"
fresh
T send-keys -t 0 '? append' Enter
wait_row "USAGE:" && wait_row "     APPEND series value" && wait_row "REFINEMENTS:" &&
  wait_row "     /only        => Insert a block as one value."
T send-keys -t 0 'quit/return 3' Enter
wait_row "st=3"

[ "$failures" -eq 0 ] && echo "completion rows as expected"
exit $((failures > 0))
