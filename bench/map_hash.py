# Twin of map-hash.kel: python3 dict put/get on integer and string keys, list.index
# against set membership for the find phases, an OrderedDict emptied from its front. Usage: map_hash.py [phase]
import sys

n = 1000000
ikeys = [i * 7 for i in range(1, n + 1)]
skeys = [str(i * 7) for i in range(1, n + 1)]
hb = list(range(1, 100001))
phase = sys.argv[1] if len(sys.argv) > 1 else ""

if phase == "map-int":
    m = {}
    for k in ikeys:
        m[k] = k
    for k in ikeys:
        m.get(k)
elif phase == "map-string":
    m = {}
    for k in skeys:
        m[k] = k
    for k in skeys:
        m.get(k)
elif phase == "hash-find":
    h = set(hb)
    for _ in range(100):
        for i in range(1, 10001):
            (i * 10) in h
elif phase == "block-find":
    for i in range(1, 10001):
        hb.index(i * 10)
elif phase == "hash-remove":
    from collections import OrderedDict  # ordered, with O(1) removal from the front
    h = OrderedDict()
    for i in range(1, 40001):
        h[i] = True
    for _ in range(20000):
        h.popitem(last=False)
