#!/bin/sh
# Times each part of bench/string-ops.kel as a whole process (the 10 MB text is made in
# every run; "none" runs no operation, "texts" only makes the two union texts), then the
# python3 twin.
# Usage: bench/string-ops.sh [build/kel]
KEL=${1:-build/kel}
DIR=$(dirname "$0")
TMP=$(mktemp)
for part in none texts find unique union sort; do
	if [ "$part" = none ]; then set_to="'setup"; else set_to="'$part"; fi
	sed "s/^part: none/part: $set_to/" "$DIR/string-ops.kel" > "$TMP"
	start=$(date +%s.%N)
	"$KEL" "$TMP" > /dev/null
	end=$(date +%s.%N)
	echo "kel $part: $(echo "$end - $start" | bc) s"
done
rm -f "$TMP"
python3 "$DIR/string-ops.py" > /dev/null
