#!/usr/bin/env bash
# Times the stages of bench/image.kel and its python3 twin (each stage line stamped as it is
# printed), and ImageMagick's convert re-encoding the same 2000 x 2000 PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
KEL=${1:-build/kel}
PYTHON=${PYTHON:-python3}
convert -size 2000x2000 plasma:fractal -seed 7 build/bench-image.png 2> /dev/null ||
  convert -size 2000x2000 gradient:red-blue build/bench-image.png
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
"$KEL" bench/image.kel 2>&1 | stamp || true
echo "== $PYTHON"
"$PYTHON" bench/image.py 2>&1 | stamp
echo "== convert (decode and encode the PNG)"
/usr/bin/time -f "%e s  re-encode" convert build/bench-image.png build/bench-image-out.png
rm -f build/bench-image-out.png
