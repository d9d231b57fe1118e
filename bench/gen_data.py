#!/usr/bin/env python3
# Writes the data-loading benchmark: a Kel script whose body is one block of records of
# about the given size, its JSON twin and the python3 program that loads the twin.
# Usage: gen_data.py out-dir [megabytes]
import json, os, random, sys

out = sys.argv[1]
target = int(float(sys.argv[2] if len(sys.argv) > 2 else 50) * 1_000_000)
rng = random.Random(11)
names = ["alpha", "beta", "gamma", "delta", "omega"]

kel, size, n = ["Kel [Title: \"Load a data file\"]\ndata: [\n"], 0, 0
records = []
while size < target:
    name = rng.choice(names)
    i = rng.randint(-99999, 99999)
    f = round(rng.random() * 1000, 6)
    text = f"record {n} of {name}"
    tags = [rng.randint(0, 999) for _ in range(4)]
    line = (f'[id {n} name "{name}" value {i} ratio {f:.6f} text "{text}" '
            f'tags [{" ".join(map(str, tags))}] ok true]\n')
    kel.append(line)
    size += len(line)
    records.append({"id": n, "name": name, "value": i, "ratio": f, "text": text,
                    "tags": tags, "ok": True})
    n += 1
kel.append("]\nprint length? data\n")
with open(os.path.join(out, "data.kel"), "w") as fh:
    fh.write("".join(kel))
with open(os.path.join(out, "data.json"), "w") as fh:
    json.dump(records, fh)
with open(os.path.join(out, "data.py"), "w") as fh:
    fh.write("import json, sys\n"
             f"print(len(json.load(open({os.path.join(out, 'data.json')!r}))))\n")
print(size)
