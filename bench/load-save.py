#!/usr/bin/env python3
"""Twin of bench/load-save.kel: 10 MB of integers and words read into values and written
back as text, from a string and from a file."""
import os
import time

FILE = "/tmp/py-bench-load-save.txt"


def stage(name, t):
    print(name, "%.3f s" % (time.perf_counter() - t))


def load(text):
    return [int(t) if t.lstrip("-").isdigit() else t for t in text.split()]


def save(values):
    return " ".join(map(str, values)).encode("utf-8")


text = "1234567 alpha 42 beta-gamma -9 delta 300000 epsilon " * 200000
print("text", len(text), "bytes")
t = time.perf_counter()
b = load(text)
stage("load string", t)
print("values", len(b))
t = time.perf_counter()
d = save(b)
stage("save none", t)
print("bytes", len(d))
with open(FILE, "w", encoding="utf-8") as f:
    f.write(text)
t = time.perf_counter()
with open(FILE, encoding="utf-8") as f:
    b = load(f.read())
stage("load file", t)
t = time.perf_counter()
with open(FILE, "wb") as f:
    f.write(save(b))
stage("save file", t)
os.remove(FILE)
