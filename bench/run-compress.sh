#!/usr/bin/env bash
# Times the stages of bench/compress.kel and bench/checksum.kel and their python3 twins (each
# stage line is stamped as it is printed), then gzip -6, zstd -3 and the coreutils digests on
# the same bytes.
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
for b in compress checksum; do
  echo "== kel $b"
  "$KEL" bench/$b.kel 2>&1 | stamp || true
  echo "== $PYTHON $b"
  "$PYTHON" bench/$b.py 2>&1 | stamp
done
tmp=$(mktemp -d)
"$PYTHON" bench/compress.py "$tmp/data" "$tmp/big"
echo "== tools (48 MB; digests of 100 MB)"
t() { /usr/bin/time -f "%e s  $1" "${@:2}"; }
t "gzip -6" sh -c "gzip -6 -n -c $tmp/data > $tmp/data.gz"
t "gzip -d" sh -c "gzip -d -c $tmp/data.gz > /dev/null"
t "zstd -3" sh -c "zstd -q -3 -c $tmp/data > $tmp/data.zst"
t "zstd -d" sh -c "zstd -q -d -c $tmp/data.zst > /dev/null"
ls -l "$tmp/data.gz" "$tmp/data.zst" | awk '{print "        " $5, $9}'
t "md5sum" md5sum "$tmp/big"
t "sha1sum" sha1sum "$tmp/big"
t "sha256sum" sha256sum "$tmp/big"
rm -rf "$tmp"
