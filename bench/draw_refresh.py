# Reference for bench-draw_refresh: python3 painting the same 20 faces of 50 Draw commands
# (ready-made command tuples: boxes, lines, circles, text) into a 200x60 grid of cells and
# forming the frame text, each frame. Prints microseconds per frame.
import sys
import time

W, H = 200, 60


def commands(i):
    out = []
    for k in range(1, 11):
        x = k * 18
        out.append(("pen", (20 * k, 100, i * 10)))
        out.append(("fill", (i * 10, 20 * k, 50)))
        out.append(("box", x - 18, 0, x - 4, 2))
        out.append(("line", [(x - 18, 1), (x - 2, 1), (x - 10, 0)]))
        out.append(("circle", x - 9, 1, 1) if k % 2 else ("text", x - 16, 1, "draw"))
    return out


FACES = [(0, (i - 1) * 3, 200, 3, commands(i)) for i in range(1, 21)]


def frame(grid):
    for y in range(H):
        row = grid[y]
        for x in range(W):
            row[x] = [" ", 0, 0]
    for fx, fy, fw, fh, cmds in FACES:
        right, bottom = fx + fw, fy + fh
        for y in range(fy, bottom):
            for x in range(fx, right):
                grid[y][x] = [" ", 1, 0]
        pen = fill = 0
        for c in cmds:
            if c[0] == "pen":
                pen = c[1]
            elif c[0] == "fill":
                fill = c[1]
            elif c[0] == "box":
                l, t, r, b = fx + c[1], fy + c[2], fx + c[3], fy + c[4]
                for y in range(t, min(b, bottom - 1) + 1):
                    for x in range(l, min(r, right - 1) + 1):
                        cell = grid[y][x]
                        cell[0], cell[1] = " ", fill
                        if y in (t, b) or x in (l, r):
                            cell[0], cell[2] = "+", pen
            elif c[0] == "line":
                pts = c[1]
                for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
                    x0, y0, x1, y1 = x0 + fx, y0 + fy, x1 + fx, y1 + fy
                    dx, dy = abs(x1 - x0), -abs(y1 - y0)
                    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
                    err = dx + dy
                    while fx <= x0 < right and fy <= y0 < bottom:
                        grid[y0][x0][0], grid[y0][x0][2] = "#", pen
                        if x0 == x1 and y0 == y1:
                            break
                        e2 = 2 * err
                        if e2 >= dy:
                            if x0 == x1:
                                break
                            err += dy
                            x0 += sx
                        if e2 <= dx:
                            if y0 == y1:
                                break
                            err += dx
                            y0 += sy
            elif c[0] == "circle":
                cx, cy, a, b = fx + c[1], fy + c[2], 2 * c[3], c[3]
                x, y = -a, 0
                ddx, ddy = (2 * x + 1) * b * b, x * x
                err = ddx + ddy
                while x <= 0:
                    for px, py in ((cx - x, cy + y), (cx + x, cy + y), (cx + x, cy - y), (cx - x, cy - y)):
                        if fx <= px < right and fy <= py < bottom:
                            grid[py][px][0], grid[py][px][2] = "#", pen
                    e2 = 2 * err
                    if e2 >= ddx:
                        x += 1
                        ddx += 2 * b * b
                        err += ddx
                    if e2 <= ddy:
                        y += 1
                        ddy += 2 * a * a
                        err += ddy
            elif c[0] == "text":
                x, y = fx + c[1], fy + c[2]
                for ch in c[3]:
                    if x < right:
                        grid[y][x][0], grid[y][x][2] = ch, pen
                    x += 1
    return "\n".join("".join(cell[0] for cell in row) for row in grid)


frames = int(sys.argv[1]) if len(sys.argv) > 1 else 200
grid = [[None] * W for _ in range(H)]
t0 = time.perf_counter()
for _ in range(frames):
    frame(grid)
s = time.perf_counter() - t0
print("python3: %.1f us a frame" % (s / frames * 1e6), file=sys.stderr)
