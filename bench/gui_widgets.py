# The work of bench/gui-widgets.kel in python3, side by side: a 10,000-item list's text
# rebuilt per row moved, 500 records updated, a 200x120 picture turned into 200x60 cells.
import time

items = ["item %d" % i for i in range(1, 10001)]

def list_text(items, head, selected):
    out = []
    for i, item in enumerate(items[head:], head + 1):
        out.append("\x1b[7m" + item + "\n\x1b[27m" if i == selected else item + "\n")
    return "".join(out)

n = 200
t = time.perf_counter()
sel = 1
for _ in range(n):
    sel += 1
    text = list_text(items, max(0, sel - 20), sel)
print("text-list of 10,000 items, one row down:", round((time.perf_counter() - t) * 1000 / n, 3), "ms")

class W:
    __slots__ = ("left", "top", "right", "bottom", "changes")

ws = []
for i in range(500):
    w = W(); w.left = i % 80; w.top = i // 80; w.right = w.left + 1; w.bottom = w.top + 1; w.changes = 0
    ws.append(w)
n = 100
t = time.perf_counter()
for _ in range(n):
    for w in ws:
        w.changes = 4
    for w in ws:
        if w.changes & 4:
            w.right = w.left + 1; w.bottom = w.top + 1
        w.changes = 0
print("update-view of 500 faces:", round((time.perf_counter() - t) * 1000 / n, 3), "ms")

pixels = [0xFFFFFFFF] * (200 * 120)
n = 100
t = time.perf_counter()
for _ in range(n):
    cells = []
    for y in range(60):
        for x in range(200):
            up = pixels[(2 * y) * 200 + x]; lo = pixels[(2 * y + 1) * 200 + x]
            cells.append((0x2584, 0x04000000 | (up & 0xFFFFFF), 0x04000000 | (lo & 0xFFFFFF)) if up >> 24 else (32, 0, 0))
print("image to 200x60 cells:", round((time.perf_counter() - t) * 1000 / n, 3), "ms")
