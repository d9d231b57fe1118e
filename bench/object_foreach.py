# Twin of object-foreach.kel: objects of a class of ten attributes, walked through vars().
class Rec:
    def __init__(self, i):
        self.id = i; self.name = 'x'; self.a = i * 2; self.b = i * 3; self.c = 1.5
        self.d = 'text'; self.e = i + 1; self.f = None; self.g = True; self.h = 7


n = 20000
objs = [Rec(i) for i in range(1, n + 1)]
count = 0
total = 0
for _ in range(3):
    for o in objs:
        for w, v in vars(o).items():
            count += 1
            if type(v) is int:
                total += v
        for w in vars(o):
            if w == 'h':
                total += o.h
print(count, total)
