#!/bin/sh
# Start-up time: `kel` on an empty script (the boot image decoded and its modules run) against
# `python3 -c pass`, with hyperfine when it is installed, else a median of 200 runs.
# Usage: bench/startup.sh [path/to/kel]
here=$(dirname "$0")
kel=${1:-$here/../build/kel}
if command -v hyperfine >/dev/null 2>&1; then
  exec hyperfine -N --warmup 20 "$kel $here/empty.kel" "python3 -c pass"
fi
python3 - "$kel" "$here/empty.kel" <<'PY'
import subprocess, sys, time
def median(cmd, n=200):
    t = []
    for _ in range(n):
        s = time.perf_counter()
        subprocess.run(cmd)
        t.append(time.perf_counter() - s)
    t.sort()
    return t[len(t) // 2] * 1000
print("kel %.2f ms, python3 -c pass %.2f ms (median of 200)" % (median([sys.argv[1], sys.argv[2]]), median(["python3", "-c", "pass"])))
PY
