# Twin of loops.kel: build a million-value list, sum it with a for loop, count to a million.
b = []
for i in range(1, 1000001):
    b.append(i)
s = 0.0
for x in b:
    s = s + x
n = 0
while n < 1000000:
    n = n + 1
print(float(s))
