#!/usr/bin/env bash
# Windows shown by view as a user sees them in a real terminal: a button shown below the
# command line and pressed with Space, a field typed into and closed with Enter, and the
# terminal modes put back when the loop ends.
# Usage: tmux_gui_view.sh <kel>. Exit 77 (skipped) without tmux.
set -uo pipefail
kel=$1
. "$(dirname "$0")/tmux_lib.sh"
tmux_require
# Until the backend's routines are in place no window can be shown.
printf 'Kel []\nprint either object? system/view/platform ["backend"] ["none"]\n' > /tmp/kel-view-probe-$$.kel
have=$("$kel" /tmp/kel-view-probe-$$.kel 2>/dev/null); rm -f /tmp/kel-view-probe-$$.kel
[ "$have" = backend ] || { echo "no backend routines: skipped"; exit 77; }
base="kel-view-$$"
sock=$base
dir=$(mktemp -d /tmp/kel-view-XXXXXX)
cleanup() { T kill-server 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail_sock=1

# A session of 80x24 running the script under sh, which prints "stty same" when the
# terminal's modes are the same after it as before.
session() {
  new_session "$1" 80 24 "sh -c 's=\$(stty -a); \"$kel\" \"$dir/$1.kel\"; [ \"\$(stty -a)\" = \"\$s\" ] && echo stty same'"
}

# A button: "OK" shows below the command line; Space clicks it, its on-click closes the
# window and the script goes on.
cat > "$dir/button.kel" <<'KEL'
Kel []
print "command line"
b: make face! [type: 'button text: "OK" offset: 2x1 size: 4x1 flags: 'focusable actors: object [on-click: func [f e] [unview]]]
w: make face! [type: 'window size: 20x4 pane: reduce [b]]
view/no-wait w
w/selected: b
do-events
print "closed"
KEL
session button
if wait_text "OK"; then
  rows=$(screen)
  cmd=$(printf '%s\n' "$rows" | grep -n 'command line' | head -1 | cut -d: -f1)
  ok=$(printf '%s\n' "$rows" | grep -n 'OK' | head -1 | cut -d: -f1)
  { [ -n "$cmd" ] && [ -n "$ok" ] && [ "$cmd" -lt "$ok" ]; } || fail "\"OK\" is not below the command line"
  T send-keys -t 0 Space
  wait_text "closed" && wait_text "stty same"
fi

# A field: what is typed becomes its data when Enter closes the window.
for typed in 12 abc; do
  cat > "$dir/field-$typed.kel" <<'KEL'
Kel []
fld: make face! [type: 'field offset: 1x1 size: 10x1 flags: 'focusable text: copy ""]
w: make face! [type: 'window size: 20x4 pane: reduce [fld] actors: object [on-key-down: func [f e] [if e/key = #"^M" [unview]]]]
view/no-wait w
w/selected: fld
print "typing"
do-events
print ["data:" mold fld/data]
KEL
  session "field-$typed"
  if wait_text "typing"; then
    sleep 0.3
    T send-keys -t 0 -l "$typed"
    T send-keys -t 0 Enter
    case $typed in
      12) wait_text "data: 12" ;;
      abc) wait_text "data: none" ;;
    esac
    wait_text "stty same"
  fi
done

[ "$failures" = 0 ] && echo "tmux view: all passed"
exit $((failures > 0))
