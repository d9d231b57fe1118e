# Twin of profile.kel: N calls of a small function, plain or under cProfile.
# Usage: python3 bench/profile_calls.py N MODE (MODE: plain or profile).
import cProfile, sys, time
n = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
mode = sys.argv[2] if len(sys.argv) > 2 else "plain"
def f(x):
    return x + 1
def code():
    i = 0
    for _ in range(n):
        i = f(i)
    return i
t = time.perf_counter()
if mode == "profile":
    p = cProfile.Profile()
    p.runcall(code)
else:
    code()
print("ns/call", int((time.perf_counter() - t) * 1e9 / n))
