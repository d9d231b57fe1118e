# Twin of record-sort.kel: records as lists, sorted by a key function, the ids summed.
n = 200000
b = [[i, 'name-%d' % i, i * 7919 % 100003] for i in range(1, n + 1)]
b.sort(key=lambda r: r[2])
total = 0
for r in b:
    total += r[0]
print(total, b[0][2], b[-1][2])
