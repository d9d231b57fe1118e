# Shared by the tmux probes: a tmux server of the probe's own (socket $sock), the screen read
# back, waits polled until a deadline, and failures counted so one run reports them all.
# Sourced by a probe; it sets $sock (and may change it to start a fresh server), or $base
# for new_session.

# Without tmux there is no real terminal to try: the probe is skipped.
tmux_require() { command -v tmux >/dev/null || { echo "tmux not installed: skipped"; exit 77; }; }

T() { tmux -L "$sock" "$@"; }
# new_session NAME COLUMNS ROWS COMMAND: a new server of its own (socket $base-NAME; a new
# session on the old socket can meet the old server exiting) with a session of that size
# running the command, kept on the screen afterwards.
new_session() {
  T kill-server 2>/dev/null
  sock="$base-$1"
  T -f /dev/null new-session -d -x "$2" -y "$3" "$4; sleep 60" || { echo "FAIL: no tmux session"; exit 1; }
}
screen() { T capture-pane -p -t 0; }
cursor() { T display -p -t 0 '#{cursor_x} #{cursor_y}'; }
# A match test that reads all its input: grep -q stops at the first match, and under pipefail
# the writer's broken pipe then fails the whole test at random.
has() { grep "$@" >/dev/null; }
failures=0
# Probes running several sessions set fail_sock=1 so a failure names the session.
fail() {
  echo "FAIL${fail_sock:+ ($sock)}: $1"; screen | sed 's/^/    | /'
  failures=$((failures + 1)); return 1
}
# Each wait polls every 50 ms, wait_tries times (10 s by default): a busy machine is slow.
wait_tries=200
wait_text() {
  for _ in $(seq 1 "$wait_tries"); do
    screen | has -F -- "$1" && return 0
    sleep 0.05
  done
  fail "no \"$1\" on the screen"; return 1
}
# Until the screen holds a row equal to the text.
wait_row() {
  for _ in $(seq 1 "$wait_tries"); do
    screen | has -xF -- "$1" && return 0
    sleep 0.05
  done
  fail "no row \"$1\""; return 1
}
wait_cursor() {
  for _ in $(seq 1 "$wait_tries"); do
    [ "$(cursor)" = "$1 $2" ] && return 0
    sleep 0.05
  done
  fail "cursor at $(cursor), expected $1 $2"; return 1
}
# Until the screen's first rows are the lines given.
wait_screen() {
  local want
  want=$(printf '%s\n' "$@")
  for _ in $(seq 1 "$wait_tries"); do
    [ "$(screen | head -n $#)" = "$want" ] && return 0
    sleep 0.05
  done
  printf '%s\n' "$want" | sed 's/^/    > /'
  fail "screen is not the rows above"; return 1
}
# Clears the console's screen between steps: the prompt is then alone on the first row.
fresh() {
  T send-keys -t 0 'prin "^[[H^[[2J"' Enter
  wait_screen ">>" "" && wait_cursor 3 0
}
