#!/usr/bin/env bash
# Times the stages of bench/binary.kel and its python3 twin (each stage line is stamped as it
# is printed), and coreutils base64 on the same 64 MB of data.
set -euo pipefail
cd "$(dirname "$0")/.."
KEL=${1:-build/kel}
PYTHON=${PYTHON:-python3}
stamp() {
  local last now
  last=$(date +%s.%N)
  while IFS= read -r line; do
    now=$(date +%s.%N)
    printf '%6.2f s  %s\n' "$(echo "$now - $last" | bc)" "$line"
    last=$now
  done
}
echo "== kel"
"$KEL" bench/binary.kel 2>&1 | stamp || true
echo "== $PYTHON"
"$PYTHON" bench/binary.py 2>&1 | stamp
echo "== coreutils base64 (64 MB)"
tmp=$(mktemp -d)
"$PYTHON" -c "import sys; sys.stdout.buffer.write(bytes(range(16)) * 4194304)" > "$tmp/data"
/usr/bin/time -f "%e s  encode" base64 -w0 "$tmp/data" > "$tmp/text"
/usr/bin/time -f "%e s  decode" base64 -d "$tmp/text" > "$tmp/back"
cmp "$tmp/data" "$tmp/back"
rm -rf "$tmp"
