#!/usr/bin/env bash
# The view engine over the terminal backend's own platform routines: the case file
# tests/gui/view-backend.kel, run by the case driver once the backend's routines are there.
# Usage: gui_view_backend.sh <kel> <kel_cases> <case file>. Exit 77 (skipped) without them.
set -uo pipefail
kel=$1 cases=$2 file=$3
probe=$(mktemp /tmp/kel-view-probe-XXXXXX)
trap 'rm -f "$probe"' EXIT
printf 'Kel []\nprint either object? system/view/platform ["backend"] ["none"]\n' > "$probe"
[ "$("$kel" "$probe" 2>/dev/null)" = backend ] || { echo "no backend routines: skipped"; exit 77; }
exec "$cases" "$file"
