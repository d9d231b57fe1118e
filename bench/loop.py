# Twin of loop.kel: a counting loop of ten million steps.
i = 0
for _ in range(10_000_000):
    i = i + 1
print(i)
