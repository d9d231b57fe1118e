# Twin of find-select.kel: a flat list of key-value pairs searched by value.
n = 20000
b = []
for i in range(1, n + 1):
    b += ['k%d' % i, i]
hits = 0
for j in range(1, 2001):
    k = 'k%d' % (j * 7919 % n + 1)
    try:
        v = b[b.index(k) + 1]
        hits += v
    except ValueError:
        pass
    if j * 9 in b:
        hits += 1
print(hits)
