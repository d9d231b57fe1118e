# Twin of json.kel (not json.py: a script here named so would shadow the json module): json.loads and compact json.dumps (not ASCII-only) of the same files.
import json
import time

for mb in (1, 4, 16):
    name = 'json-%d.json' % mb
    with open(name, encoding='utf-8') as f:
        text = f.read()
    t0 = time.perf_counter()
    value = json.loads(text)
    t1 = time.perf_counter()
    out = json.dumps(value, ensure_ascii=False, separators=(',', ':'))
    t2 = time.perf_counter()
    print(name, t1 - t0, t2 - t1, len(out))
