# Twin of report.kel: the same lines joined from f-strings.
n = 150000
recs = [[i, 'item-%d' % i, (i * 31 % 1000) / 4] for i in range(1, n + 1)]
out = []
for r in recs:
    s = r[2]
    out.append(f"#{r[0]} {r[1]}: {s:g} {'high' if s > 100 else 'low'}\n")
print(len(''.join(out)))
