#!/usr/bin/env bash
# The X11 clipboard through xclip, under an Xvfb this test starts itself: what kel writes
# other programs read (text, a PNG), what they write kel reads, and a display without a
# server makes reads and writes false. Skipped (77) when Xvfb or xclip is missing.
set -uo pipefail
kel=$1
for tool in Xvfb xclip; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIP: $tool is not installed (setup.sh installs xvfb and xclip)"
    exit 77
  fi
done
work=$(mktemp -d)
display=""
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display number itself (-displayfd) and writes it once it takes
# connections: a number chosen here could be taken by a test running beside this one, and two
# tests on one server would read each other's clipboard.
: > "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 64x64x24 3>> "$work/display" > /dev/null 2>&1 &
server=$!
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ] && kill -0 "$server" 2> /dev/null; do
  if [ "$(wc -l < "$work/display")" -ge 1 ]; then  # the whole line is there
    display=":$(head -n 1 "$work/display")"
    break
  fi
  sleep 0.05
done
[ -n "$display" ] || { echo "FAIL: no Xvfb display could be started"; exit 1; }
export DISPLAY=$display
unset WAYLAND_DISPLAY
failures=0
check() {  # what, expected, got
  if [ "$2" == "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected [$2] got [$3]"; failures=$((failures + 1)); fi
}
run_kel() {
  printf 'Kel []\n%s\n' "$1" > "$work/s.kel"
  "$kel" "$work/s.kel" 2>&1
}

check "kel writes text, xclip reads it" "true" "$(run_kel 'print write-clipboard "héllo"')"
check "  the text" "héllo" "$(xclip -selection clipboard -o 2> /dev/null)"
check "  kel reads its own text back" '"héllo"' "$(run_kel 'print mold read-clipboard')"
check "kel writes an image as PNG" "true" "$(run_kel 'print write-clipboard make image! [2x1 #{FF000000FF00}]')"
if command -v identify > /dev/null; then
  check "  identify reads it" "PNG 2x1" "$(xclip -selection clipboard -t image/png -o 2> /dev/null | identify -format '%m %wx%h' - 2> /dev/null)"
fi
check "  kel reads the image back" "2x1" "$(run_kel 'i: read-clipboard print mold i/size')"
printf 'caf\xc3\xa9 \xff!' | xclip -selection clipboard -i
check "xclip text with a bad byte reads with U+FFFD" '"café �!"' "$(run_kel 'print mold read-clipboard')"
printf 'file:///tmp/a%%20b\r\nfile:///tmp/c\r\n' | xclip -selection clipboard -t text/uri-list -i
check "a uri-list reads as files" '[%"/tmp/a b" %/tmp/c]' "$(run_kel 'print mold read-clipboard')"
check "kel writes files" "true" "$(run_kel 'print write-clipboard [%/tmp/x %/tmp/y]')"
check "  as a uri-list" "$(printf 'file:///tmp/x\r\nfile:///tmp/y\r')" "$(xclip -selection clipboard -t text/uri-list -o 2> /dev/null)"
check "write none, then read" "true none" "$(run_kel 'print [write-clipboard none mold read-clipboard]')"
# A writer that returns before its server owns the clipboard, as xclip's may on a busy machine:
# write-clipboard is done only once the clipboard gives back what it wrote.
mkdir "$work/lag"
printf '#!/bin/sh\ncase " $* " in *" -i "*)\n  cat > "%s/lag/data"\n  (sleep 0.5; exec "%s" "$@" < "%s/lag/data") > /dev/null 2>&1 &\n  exit 0 ;;\nesac\nexec "%s" "$@"\n' \
  "$work" "$(command -v xclip)" "$work" "$(command -v xclip)" > "$work/lag/xclip"
chmod +x "$work/lag/xclip"
printf 'before' | xclip -selection clipboard -i
check "a lagging writer: kel reads what it just wrote" 'true "after"' \
  "$(PATH="$work/lag:$PATH" run_kel 'print [write-clipboard "after" mold read-clipboard]')"
check "  and so does xclip" "after" "$(xclip -selection clipboard -o 2> /dev/null)"
check "a display without a server: read and write false" "false false" \
  "$(DISPLAY=:4999 run_kel 'print [read-clipboard write-clipboard "x"]')"
printf 'Kel []\nprint read-clipboard\n' > "$work/t.kel"
check "no xclip on PATH: false" "false" "$(PATH=/nonexistent "$kel" "$work/t.kel" 2>&1)"
mkdir "$work/slow"
printf '#!/bin/sh\nsleep 10\n' > "$work/slow/xclip"
chmod +x "$work/slow/xclip"
start=$(date +%s)
check "an xclip that hangs is given up after 2 s: false" "false" "$(PATH="$work/slow:$PATH" "$kel" "$work/t.kel" 2>&1)"
check "  within the bound" "yes" "$([ $(($(date +%s) - start)) -le 5 ] && echo yes || echo no)"
[ $failures -eq 0 ]
