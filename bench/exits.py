# Twin of exits.kel: 50,000 each of break, continue and return out of loops and choices.
b = [1, 2, 3, 4]


def find_in(b, y):
    for x in b:
        if x == y:
            return x
    return None


def pick_case(x):
    if x == 1:
        return 10
    elif x == 2:
        return 20
    return 0


def pick_switch(x):
    match x:
        case 1:
            return 10
        case 2:
            return 20
    return 0


def first_two(x):
    if x > 1:
        return 2
    return 0


s = 0
for _ in range(50000):
    for x in b:
        if x == 2:
            break
for _ in range(50000):
    i = 0
    while i < 2:
        i = i + 1
        if i == 1:
            continue
        s = s + 1
for _ in range(50000):
    s = s + find_in(b, 3)
for _ in range(50000):
    s = s + pick_case(2)
for _ in range(50000):
    s = s + pick_switch(2)
for _ in range(50000):
    s = s + first_two(5)
print(s)
