# Twin of vector.kel in plain python3 (array module, a list comprehension per operation).
# Usage: vector.py [phase]
import sys
from array import array

n = 10000000
vi = array("i", bytes(4 * n))
wi = array("i", bytes(4 * n))
vf = array("d", bytes(8 * n))
wf = array("d", bytes(8 * n))
phase = sys.argv[1] if len(sys.argv) > 1 else ""

if phase == "int-scale":
    for _ in range(10):
        vi = array("i", [x * 3 for x in vi])
elif phase == "int-add":
    for _ in range(10):
        r = array("i", [a + b for a, b in zip(vi, wi)])
elif phase == "float-scale":
    for _ in range(10):
        vf = array("d", [x * 3 for x in vf])
elif phase == "float-add":
    for _ in range(10):
        r = array("d", [a + b for a, b in zip(vf, wf)])
