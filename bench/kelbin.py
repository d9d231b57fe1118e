# Twin of bench/kelbin.kel: the same data through pickle (phase "pickle") and repr/eval-free
# literal reading (phase "repr"), run by bench/run_kelbin.py.
import ast
import pickle
import sys

ints = [i * 37 for i in range(1, 1000001)]
strs = ["s-" + str(i) for i in range(1, 100001)]
data = [ints, strs]
phase = sys.argv[1] if len(sys.argv) > 1 else ""
if phase == "pickle":
    back = pickle.loads(pickle.dumps(data))
    assert len(back[0]) == 1000000
elif phase == "repr":
    back = ast.literal_eval(repr(data))
    assert len(back[0]) == 1000000
