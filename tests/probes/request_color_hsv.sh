#!/usr/bin/env bash
# The colour requester's HSV to RGB over a 7 x 7 x 7 grid against python3's colorsys (x 255),
# each byte within 1. Usage: request_color_hsv.sh <kel>. Exit 77 (skipped) without python3.
set -uo pipefail
kel=$1
command -v python3 >/dev/null || { echo "python3 not installed: skipped"; exit 77; }
script=$(mktemp /tmp/kel-hsv-XXXXXX.kel)
trap 'rm -f "$script"' EXIT
cat > "$script" <<'KEL'
Kel []
c: request-color-ctx
repeat i 7 [repeat j 7 [repeat k 7 [
	h: (i - 1) / 6 s: (j - 1) / 6 v: (k - 1) / 6
	t: c/hsv-to-rgb reduce [h s v]
	print [i - 1 j - 1 k - 1 t/1 t/2 t/3]
]]]
KEL
"$kel" "$script" | python3 -c '
import colorsys, sys
rows = 0
bad = 0
for line in sys.stdin:
    i, j, k, r, g, b = (int(x) for x in line.split())
    want = colorsys.hsv_to_rgb(i / 6, j / 6, k / 6)
    got = (r, g, b)
    rows += 1
    if any(abs(w * 255 - x) > 1 for w, x in zip(want, got)):
        bad += 1
        print("hsv", i, j, k, "got", got, "want", [round(w * 255, 2) for w in want])
if rows != 343:
    print("expected 343 rows, got", rows)
    sys.exit(1)
sys.exit(1 if bad else 0)
' && echo "hsv to rgb within 1 of colorsys"
