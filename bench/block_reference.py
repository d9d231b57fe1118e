#!/usr/bin/env python3
# Reference timings for bench/block-sort.kel and bench/block-sets.kel: python3 sorted and
# set on the same shapes (1,000,000 random integers; 200,000 random 12-letter strings).
import random
import string
import time


def time_it(label, fn):
    t = time.perf_counter()
    fn()
    print(f"{label} {time.perf_counter() - t:.3f} s")


random.seed(1)
ints = [random.randint(1, 2147483647) for _ in range(1_000_000)]
time_it("sorted 1,000,000 integers:", lambda: sorted(ints))
s = sorted(ints)
time_it("sorted 1,000,000 sorted integers:", lambda: sorted(s))

letters = string.ascii_letters
strings = ["".join(random.choice(letters) for _ in range(12)) for _ in range(200_000)]
time_it("sorted 200,000 strings (folded):", lambda: sorted(strings, key=str.casefold))
time_it("sorted 200,000 strings (case):", lambda: sorted(strings))

a = [random.randint(1, 500_000) for _ in range(1_000_000)]
b = [random.randint(1, 500_000) for _ in range(1_000_000)]
time_it("unique 1,000,000 integers:", lambda: list(dict.fromkeys(a)))
time_it("union 2 x 1,000,000 integers:", lambda: list(dict.fromkeys(a + b)))
time_it("intersect 2 x 1,000,000 integers:",
        lambda: (lambda sb: [x for x in dict.fromkeys(a) if x in sb])(set(b)))
