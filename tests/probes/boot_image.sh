#!/bin/sh
# kel-mkboot twice (the second time under the collector stress) must give the bytes of the
# build's own image, and `kel` must hold no text of the boot sources (their headers and
# definition lines are not in the image).
# Usage: boot_image.sh KEL-MKBOOT KEL BUILT-IMAGE WORK-DIR SOURCE...
set -eu
tool=$1 kel=$2 built=$3 work=$4
shift 4
mkdir -p "$work"
"$tool" "$work/a.cpp" --bin "$work/a.bin" "$@"
KEL_GC_STRESS=1 "$tool" "$work/b.cpp" --bin "$work/b.bin" "$@"
cmp "$work/a.bin" "$work/b.bin"
cmp "$work/a.bin" "$built"
cmp "$work/a.cpp" "$work/b.cpp"
for src in "$@"; do
  title=$(grep -m1 'Title:' "$src" | sed 's/^[[:space:]]*//')
  if [ -n "$title" ] && grep -qF "$title" "$kel"; then echo "kel holds the text of $src"; exit 1; fi
done
if grep -qE 'make (native|action)! \[\[' "$kel"; then echo "kel holds boot definition text"; exit 1; fi
echo "boot image reproducible, no boot source text in kel"
