# The python3 twin of bench/helpers.kel: str.replace, str.split, str.join, list slicing and a
# list comprehension on the same shapes at 1, 4 and 16 MB.
import time

def timed(name, size, fn):
    t = time.perf_counter()
    fn()
    print("%-10s%-4s MB  %.1f ms" % (name, size, (time.perf_counter() - t) * 1000))

for mb in (1, 4, 16):
    n = mb * 1048576
    text = list("abcdefghi," * (n // 10))
    step = len(text) // 10000
    for i in range(10000):
        text[i * step:i * step + 4] = ",XY,"
    text = "".join(text)
    r = {}
    timed("replace", mb, lambda: r.setdefault("t", text.replace("XY", "abc")))
    timed("split", mb, lambda: r.setdefault("p", text.split(",")))
    pieces = ["x" * (n // 100000)] * 100000
    timed("rejoin", mb, lambda: r.setdefault("j", "".join(pieces)))
    block = list(range(1, mb * 1000000 + 1))
    timed("extract", mb, lambda: r.setdefault("h", block[::2]))
    timed("keep", mb, lambda: r.setdefault("k", [i for i in range(1, mb * 1000000 + 1)]))
