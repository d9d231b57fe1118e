# Twin of return.kel: a million calls of a function that returns its argument.
def f(x):
    return x
for _ in range(1000000):
    f(1)
