#!/usr/bin/env bash
# quit ends the process with its status (0 by default, taken modulo 256) when typed on
# standard input, and nothing after it runs. Usage: quit_status.sh <kel>.
set -uo pipefail
kel=$1
fail=0
check() {  # input, expected status, expected output
  out=$(printf '%s\n' "$1" | "$kel" 2>&1)
  status=$?
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
check 'print 1 quit/return 5 print 2' 5 '1'
check 'halt/return 4' 4 ''
check 'f: does [quit/return 6] f 1' 6 ''
check 'attempt/safer [quit/return 7] 1' 7 ''
exit $fail
