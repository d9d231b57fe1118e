# The reference for bench-tui refresh: python3 builds the same 200x60 frames (two looks of
# 20 text rows, every cell changing, an SGR change checked per cell) and writes them.
import sys
import time

W, H, FRAMES = 200, 60, int(sys.argv[1]) if len(sys.argv) > 1 else 2000


def grid(text, base):
    cells = []
    for i in range(20):
        bg, fg = 0x02000000 | (base + i), 0x02000000 | (255 - base - i)
        row = (text * W)[:W]
        for _ in range(3):
            cells.extend((ch, bg, fg, 0) for ch in row)
    return cells


def frame(cells):
    out = ["\x1b[H"]
    prev = (0, 0, 0, 0)
    for y in range(H):
        for x in range(W):
            c = cells[y * W + x]
            if c[2] != prev[2]:
                out.append("\x1b[38;5;%dm" % (c[2] & 0xFF))
            if c[1] != prev[1]:
                out.append("\x1b[48;5;%dm" % (c[1] & 0xFF))
            out.append(c[0])
            prev = c
        if y + 1 < H:
            prev = (prev[0], 0, prev[2], prev[3])
            out.append("\x1b[49m\r\n")
    return "".join(out).encode()


looks = [grid("ab", 20), grid("x", 90)]
t0 = time.perf_counter()
n = 0
for i in range(FRAMES):
    data = frame(looks[i % 2])
    n += len(data)
    sys.stdout.buffer.write(data)
s = time.perf_counter() - t0
print("python3 frames 200x60: %.1f us and %d bytes per frame" % (s / FRAMES * 1e6, n // FRAMES), file=sys.stderr)
