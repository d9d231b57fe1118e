#!/usr/bin/env python3
# Writes the lexer benchmark's inputs: a Kel source of about 10 MB mixing every form that
# loads now, and a JSON text of the same size and mix; times python3 json.loads on the JSON
# as the yardstick. Usage: gen_lexer_input.py [out-dir] [megabytes]
import json, os, random, sys, time

out = sys.argv[1] if len(sys.argv) > 1 else "/tmp"
target = int(float(sys.argv[2] if len(sys.argv) > 2 else 10) * 1_000_000)
rng = random.Random(7)
words = ["alpha", "beta", "gamma", "delta", "name", "value", "count", "item", "first", "last"]

def kel_record(i):
    w = rng.choice(words)
    return (f'[{w}: {rng.randint(-99999, 99999)} "text {i} with ^"quotes^" and ^/line" '
            f'{rng.random() * 1000:.6f} {w}/field/{i % 10} #id{i} /ref %file-{i}.txt '
            f'http://example.com/p{i} #"x" 0FFh (a + {i}) \'lit :get ; note\n]\n')

def json_record(i):
    w = rng.choice(words)
    return {w: rng.randint(-99999, 99999), "text": f'text {i} with "quotes" and \nline',
            "float": rng.random() * 1000, "path": [w, "field", i % 10], "id": f"id{i}",
            "ref": "ref", "file": f"file-{i}.txt", "url": f"http://example.com/p{i}",
            "char": "x", "hex": 255, "expr": ["a", "+", i], "lit": True, "get": None}

parts, size, i = ["[\n"], 2, 0
while size < target:
    r = kel_record(i)
    parts.append(r)
    size += len(r)
    i += 1
parts.append("]\n")
with open(os.path.join(out, "kel-lexer-bench.kel"), "w") as f:
    f.write("".join(parts))

records, size, j = [], 0, 0
while size < target:
    r = json_record(j)
    records.append(r)
    size += len(json.dumps(r)) + 2
    j += 1
text = json.dumps(records)
with open(os.path.join(out, "kel-lexer-bench.json"), "w") as f:
    f.write(text)

t0 = time.perf_counter()
json.loads(text)
dt = time.perf_counter() - t0
print(f"kel {sum(len(p) for p in parts) / 1e6:.1f} MB ({i} records), "
      f"json {len(text) / 1e6:.1f} MB ({j} records)")
print(f"python3 json.loads: {len(text) / 1e6 / dt:.1f} MB/s")
