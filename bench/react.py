"""The observer pattern of bench/react.kel in python3: objects whose __setattr__ scans a list
of (source, field, callback) records, with 100, 1,000 and 10,000 records, then 10,000 changes
of one field of one object with 1 and then 10 callbacks."""
import time

relations = []


class Reactor:
    def __init__(self):
        object.__setattr__(self, "x", 0)

    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        for source, field, callback in relations:
            if source is self and field == name:
                callback()


state = {"n": 0}


def bump():
    state["n"] += 1


for size in (100, 1000, 10000):
    relations.clear()
    for _ in range(size - 1):
        r = Reactor()
        relations.append((r, "x", lambda r=r: state.__setitem__("n", r.x)))
    a = Reactor()
    relations.append((a, "x", bump))
    for rels in (1, 10):
        while sum(1 for s, _, _ in relations if s is a) < rels:
            relations.append((a, "x", lambda: bump()))
        state["n"] = 0
        t = time.perf_counter()
        for i in range(10000):
            a.x = i
        t = time.perf_counter() - t
        print(f"{size:>6} relations, {rels:>2} on the changed field: "
              f"{t * 1e6 / 10000:.2f} us a change ({state['n']} runs)")
