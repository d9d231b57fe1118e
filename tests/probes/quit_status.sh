#!/usr/bin/env bash
# quit ends the process with its status (0 by default, taken modulo 256) when typed on
# standard input, and nothing after it runs. Usage: quit_status.sh <kel>.
set -uo pipefail
kel=$1
fail=0
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
check() {  # input, expected status, expected output after the console's banner
  printf '%s\n' "$1" | XDG_CACHE_HOME=$cache "$kel" > "$cache/out" 2>&1
  status=$?
  out=$(sed '1,3d' "$cache/out")
  if [ "$status" != "$2" ] || [ "$out" != "$3" ]; then
    echo "input: $1"
    echo "  expected status $2 and output '$3', got $status and '$out'"
    fail=1
  fi
}
check 'quit/return 3' 3 ''
check 'quit/return -2' 254 ''
check 'quit/return 256' 0 ''
check 'quit' 0 ''
check 'q' 0 ''
check 'print 1 quit/return 5 print 2' 5 '1'
check 'f: does [quit/return 6] f 1' 6 ''
check 'attempt/safer [quit/return 7] 1' 7 ''
check 'try [quit/return 8]' 8 ''
exit $fail
