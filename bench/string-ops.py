# Twin of string-ops.kel: the same texts and the same four operations in python3 (find with
# str.find, sort with sorted by a folded key, unique and union as order-keeping
# de-duplication by folded characters). Times go to standard error.
import sys
import time

def timed(label, f):
    t = time.perf_counter()
    r = f()
    print("%s %.3f s" % (label, time.perf_counter() - t), file=sys.stderr)
    return r

def fold(c):
    u = c.upper()
    return u if len(u) == 1 else c

def unique(s):
    seen = set()
    out = []
    for c in s:
        k = fold(c)
        if k not in seen:
            seen.add(k)
            out.append(c)
    return "".join(out)

line = "The quick brown fox jumps over the lazy dog; 0123456789 ABCDEF.\n"
big = timed("make 10 MB:", lambda: line * 156250)
u1 = timed("make u1:", lambda: "".join(chr(256 + (i * 7) % 60000) for i in range(1, 1000001)))
u2 = timed("make u2:", lambda: "".join(chr(256 + (i * 13) % 59999) for i in range(1, 1000001)))

r = timed("find missing:", lambda: big.find("0123456780"))
print("find missing:", "none" if r < 0 else r)
print("unique:", len(timed("unique:", lambda: unique(big))))
print("union:", len(timed("union:", lambda: unique(u1 + u2))))
print("sort:", repr(timed("sort:", lambda: "".join(sorted(big, key=fold)))[:3]))
