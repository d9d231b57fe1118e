# python3 twin of bench/rtd.kel: the same rich-text compile (open/close styles on a stack,
# runs appended as [start, length, attrs...], then the merge and ordering, with each run's
# range kept in a list beside the runs as the Kel side does).
import time

def make_spec(n):
    spec = []
    for _ in range(0, n, 4):
        spec += [("b", ["bold"]), "plain ", ("i", ["italic"]), ("red", ["red"]),
                 (("b", "u", "blue"), ["path"]), " "]
    return spec

ATTR = {"b": "bold", "i": "italic", "u": "underline"}
COLOURS = {"red": (255, 0, 0), "blue": (0, 0, 255)}

def compile_rtd(spec):
    text = []
    out = []
    pos = [1]

    def walk(items):
        for item in items:
            if isinstance(item, str):
                text.append(item)
                pos[0] += len(item)
                continue
            style, block = item
            start = pos[0]
            walk(block)
            length = pos[0] - start
            if isinstance(style, tuple):
                attrs = [COLOURS[s] for s in style if s in COLOURS]
                attrs += [ATTR[s] for s in reversed(style) if s in ATTR]
                out.append([(start, length)] + attrs)
            elif style in COLOURS:
                out.append([(start, length), COLOURS[style]])
            elif length > 0:
                out.append([(start, length), ATTR[style]])

    walk(spec)
    runs = out
    pairs = [r[0] for r in runs]  # each run's range beside it, searched natively
    i = 0
    while i < len(runs):
        cur = runs[i]
        j = i + 1
        while True:
            try:
                j = pairs.index(cur[0], j)
            except ValueError:
                break
            r = runs[j]
            if isinstance(r[1], tuple):
                cur[1:1] = r[1:]
            else:
                cur += r[1:]
            del runs[j]
            del pairs[j]
        k = i
        while k > 0 and (pairs[k - 1][0] > cur[0][0] or
                         (pairs[k - 1][0] == cur[0][0] and pairs[k - 1][1] < cur[0][1])):
            k -= 1
        if k < i:
            del runs[i]
            del pairs[i]
            runs.insert(k, cur)
            pairs.insert(k, cur[0])
        i += 1
    return "".join(text), runs

for n in (250, 500, 1000):
    spec = make_spec(n)
    t = time.perf_counter()
    text, runs = compile_rtd(spec)
    t = time.perf_counter() - t
    print(f"{n:<6}runs  {t * 1000:.1f} ms  {int(n / max(t, 1e-6))} runs/s  ({sum(len(r) for r in runs)} values)")
