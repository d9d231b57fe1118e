#!/usr/bin/env python3
"""Twin of bench/io.kel: 100 MB written and read as text and binary, 10^6 lines, 1,000 runs."""
import os
import shutil
import subprocess
import time

DIR = "/tmp/py-bench-io/"
os.makedirs(DIR, exist_ok=True)


def stage(name, t):
    print(name, "%.3f s" % (time.perf_counter() - t))


s = "abcdefghi\n" * 10000000
t = time.perf_counter()
with open(DIR + "text.txt", "w", encoding="utf-8", newline="\n") as f:
    f.write(s)
stage("write text 100 MB", t)
t = time.perf_counter()
with open(DIR + "text.txt", encoding="utf-8", newline="") as f:
    r = f.read()
stage("read text 100 MB", t)
b = s.encode()
t = time.perf_counter()
with open(DIR + "data.bin", "wb") as f:
    f.write(b)
stage("write binary 100 MB", t)
t = time.perf_counter()
with open(DIR + "data.bin", "rb") as f:
    r = f.read()
stage("read binary 100 MB", t)
s = b = r = None
with open(DIR + "lines.txt", "w") as f:
    f.write("abcdefghi\n" * 1000000)
t = time.perf_counter()
with open(DIR + "lines.txt", encoding="utf-8") as f:
    r = f.read().splitlines()
stage("read lines 1,000,000 lines", t)
t = time.perf_counter()
for _ in range(1000):
    subprocess.run(["true"], check=False)
stage("1,000 x run true", t)
shutil.rmtree(DIR)
