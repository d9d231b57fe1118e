#!/usr/bin/env python3
# Times each phase of bench/map-hash.kel and bench/vector.kel as a whole kel process (the
# prelude alone subtracted), beside the python3 twins run the same way.
# Usage: bench/run_map_vector.py [path/to/kel] [runs]
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "kel")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3

# (kel file, python twin, {phase: (kel operations, python3 operations, unit label)})
BENCHES = [
    ("map-hash.kel", "map_hash.py", {
        "map-int": (2000000, 2000000, "ns per put or select"),
        "map-string": (2000000, 2000000, "ns per put or select"),
        "hash-find": (1000000, 1000000, "ns per find"),
        "block-find": (10000, 10000, "ns per find"),
        "hash-remove": (20000, 20000, "ns per removal from the head (with 40,000 appends)"),
    }),
    ("vector.kel", "vector.py", {
        "int-scale": (1000000000, 100000000, "ns per element"),
        "int-add": (1000000000, 100000000, "ns per element"),
        "float-scale": (1000000000, 100000000, "ns per element"),
        "float-add": (1000000000, 100000000, "ns per element"),
    }),
]


def best(cmd):
    times = []
    for _ in range(RUNS):
        t = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        times.append(time.perf_counter() - t)
        if r.returncode != 0 or r.stdout.strip():
            sys.exit("failed: " + " ".join(cmd) + "\n" + r.stdout.decode(errors="replace"))
    return min(times)


def split(path):
    prelude, phases, name = [], {}, None
    for line in open(path, encoding="utf-8"):
        if line.startswith(";; phase:"):
            name = line.split(":", 1)[1].strip()
            phases[name] = []
        elif name:
            phases[name].append(line)
        else:
            prelude.append(line)
    return "".join(prelude), {k: "".join(v) for k, v in phases.items()}


def kel_time(text):
    with tempfile.NamedTemporaryFile("w", suffix=".kel", delete=False) as f:
        f.write(text)
    try:
        return best([KEL, f.name])
    finally:
        os.unlink(f.name)


for kel_file, twin, ops in BENCHES:
    prelude, phases = split(os.path.join(HERE, kel_file))
    base = kel_time(prelude)
    py_base = best([sys.executable, os.path.join(HERE, twin), ""])
    print(f"{kel_file} (prelude {base:.2f} s; python3 prelude {py_base:.2f} s)")
    for name, body in phases.items():
        k = max(kel_time(prelude + body) - base, 0.0)
        p = max(best([sys.executable, os.path.join(HERE, twin), name]) - py_base, 0.0)
        kn, pn, label = ops[name]
        print(f"  {name:12} kel {k:7.3f} s {k * 1e9 / kn:9.2f} {label}   "
              f"python3 {p:7.3f} s {p * 1e9 / pn:9.2f}")
