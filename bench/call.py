# Twin of call.kel: a million calls of a one-argument function.
def f(x):
    return x
for _ in range(1_000_000):
    f(1)
