# python3 twin of bench/expand.kel: the same walk over nested lists, each value compared
# with the directive names and lists entered; a ("#if", True, [..]) triple is spliced.
import time

DIRECTIVES = {"routine", "#system", "#system-global", "#include", "#include-binary", "#if",
              "#either", "#switch", "#case", "#do", "#local", "#reset", "#trace", "#process",
              "#macro"}

def make_code(n, ifs):
    code = []
    i = 0
    while i < n:
        code += ["word", 12, "text", 1.5, "set-word:", "%file", "<tag>", "#issue", ("x", "y"), "'lit"]
        code.append(["a", 1, ["b", 2], "c"])
        code.append(("p", 3, "q"))
        code += [":get", 99, (3, 4), "c", 1.00, None, "10:00"]
        i += 23
    if ifs:
        step = len(code) // ifs
        for k in range(ifs, 0, -1):
            code[(k - 1) * step:(k - 1) * step] = ["#if", True, ["kept"]]
    return code

def expand(code):
    i = 0
    while i < len(code):
        v = code[i]
        if isinstance(v, str) and v in DIRECTIVES:
            if v == "#if" and code[i + 1]:
                code[i:i + 3] = code[i + 2]
                continue
            i += 1
        elif isinstance(v, list):
            expand(v)
            i += 1
        else:
            i += 1
    return code

for n in (50000, 200000, 800000):
    for name, ifs in (("plain", 0), ("1000 #if", 1000)):
        code = make_code(n, ifs)
        t = time.perf_counter()
        expand(code)
        t = time.perf_counter() - t
        print("%-10s%-8d  %.1f ms  %d values/s" % (name, n, t * 1000, n / t if t else 0))
