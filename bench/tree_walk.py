# Twin of tree-walk.kel: lists nested the same way, walked by a recursive function.
def make_tree(depth, n):
    if depth == 0:
        return n
    return [make_tree(depth - 1, n * 2), make_tree(depth - 1, n * 2 + 1), depth]


def walk(t):
    if isinstance(t, list):
        s = 0
        for x in t:
            s += walk(x)
        return s
    return t


tree = make_tree(11, 1)
total = 0
for _ in range(400):
    total += walk(tree)
print(total)
