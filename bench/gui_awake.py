"""python3 twin of bench/gui-awake.kel: a click handed to a face three levels deep that
bubbles to its window through handler tables, then attribute sets on a field object whose
__setattr__ keeps its data in step and runs 0 and 100 observers."""
import time

class Face:
    def __init__(self, kind, parent=None, actors=None):
        self.kind, self.parent, self.actors = kind, parent, actors or {}

def awake(face, event):
    result = None
    f = face
    while f is not None:
        act = f.actors.get("on-" + event["type"])
        if act:
            result = act(f, event)
            if result in ("done", "continue"):
                break
        f = f.parent
    return result

hits = 0
def window_click(f, e):
    global hits
    hits += 1
    return "done"

w = Face("window", actors={"on-click": window_click})
p1 = Face("panel", w)
p2 = Face("panel", p1)
b = Face("button", p2, {"on-click": lambda f, e: None})
event = {"type": "click", "face": b}
t = time.perf_counter()
for _ in range(10000):
    awake(b, event)
print("awake, click three levels deep: %.2f us a call (%d window hits)" % ((time.perf_counter() - t) * 1e6 / 10000, hits))

class Field:
    def __init__(self):
        object.__setattr__(self, "observers", [])
        object.__setattr__(self, "text", "")
        object.__setattr__(self, "data", None)
    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        if name == "text":
            try:
                object.__setattr__(self, "data", int(value))
            except ValueError:
                object.__setattr__(self, "data", None)
        for obs in self.observers:
            obs(self)

texts = [str(i) for i in range(1, 101)]
for reactions in (0, 100):
    f = Field()
    targets = [Face("text") for _ in range(reactions)]
    for g in targets:
        f.observers.append(lambda src, g=g: setattr(g, "data", len(src.text)))
    t = time.perf_counter()
    for i in range(1, 10001):
        f.text = texts[i % 100]
    print("text set on a realised field, %d reactions: %.2f us a set" % (reactions, (time.perf_counter() - t) * 1e6 / 10000))
