#!/usr/bin/env python3
# Times each phase of bench/kelbin.kel as a whole kel process (the prelude alone subtracted),
# beside bench/kelbin.py (pickle, and repr read back) run the same way.
# Usage: bench/run_kelbin.py [path/to/kel] [runs]
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "kel")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3


def best(cmd):
    times = []
    for _ in range(RUNS):
        t = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        times.append(time.perf_counter() - t)
        if r.returncode != 0 or r.stdout.strip():
            sys.exit("failed: " + " ".join(cmd) + "\n" + r.stdout.decode(errors="replace"))
    return min(times)


text = open(os.path.join(HERE, "kelbin.kel")).read()
parts = text.split(";; phase: ")
prelude = parts[0]
with tempfile.TemporaryDirectory() as tmp:
    def script(name, body):
        path = os.path.join(tmp, name + ".kel")
        open(path, "w").write(body)
        return path
    base = best([KEL, script("prelude", prelude)])
    print("kel prelude %.3f s" % base)
    for part in parts[1:]:
        name, body = part.split("\n", 1)
        t = best([KEL, script(name, prelude + body)]) - base
        print("kel %-8s %.3f s (encode + decode)" % (name, t))
py = os.path.join(HERE, "kelbin.py")
pbase = best([sys.executable, py])
for phase in ("pickle", "repr"):
    print("python3 %-7s %.3f s" % (phase, best([sys.executable, py, phase]) - pbase))
