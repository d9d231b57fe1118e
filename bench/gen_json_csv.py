# Writes the inputs of the JSON and CSV benchmarks into a folder: json-1.json, json-4.json,
# json-16.json (records of nested objects and arrays, escaped and non-ASCII strings, integers
# and floats) and csv-1.csv, csv-4.csv, csv-16.csv (eight fields a record, a fifth of them
# quoted), each about that many megabytes, from a fixed seed.
# Usage: python3 bench/gen_json_csv.py DIR
import csv
import io
import json
import random
import sys

WORDS = ['alpha', 'beta', 'gamma', 'delta', 'naïve', 'café', 'Straße', '中文', '日本語', 'emoji 😀',
         'tab\there', 'line\nbreak', 'quote "q"', 'back\\slash', 'ctrl\x01', 'plain text value']


def text(rng):
    return ' '.join(rng.choice(WORDS) for _ in range(rng.randrange(1, 4)))


def record(rng, i):
    return {
        'id': i,
        'name': text(rng),
        'score': round(rng.uniform(-1000, 1000), rng.randrange(1, 6)),
        'active': rng.random() < 0.5,
        'parent': None if rng.random() < 0.3 else rng.randrange(100000),
        'tags': [rng.choice(WORDS) for _ in range(rng.randrange(4))],
        'point': {'x': rng.randrange(-500, 500), 'y': rng.uniform(0, 1), 'label': text(rng)},
        'history': [{'at': rng.randrange(10 ** 9), 'value': rng.uniform(-1, 1)}
                    for _ in range(rng.randrange(3))],
    }


def csv_field(rng, k):
    r = rng.random()
    if r < 0.2:
        return rng.choice(['a, b', 'say "hi"', 'two\nlines', 'x,"y"', 'naïve, café'])
    if k % 3 == 0:
        return str(rng.randrange(10 ** 6))
    if k % 3 == 1:
        return '%.3f' % rng.uniform(-100, 100)
    return rng.choice(['alpha', 'beta', 'gamma delta', 'Straße', '中文', 'x', ''])


def main():
    folder = sys.argv[1]
    for mb in (1, 4, 16):
        rng = random.Random(20261210 + mb)
        target = mb * 1000 * 1000
        parts, size, i = [], 2, 0
        while size < target:
            s = json.dumps(record(rng, i), ensure_ascii=False, separators=(',', ':'))
            parts.append(s)
            size += len(s.encode('utf-8')) + 1
            i += 1
        with open('%s/json-%d.json' % (folder, mb), 'w', encoding='utf-8') as f:
            f.write('[' + ',\n'.join(parts) + ']')
        rng = random.Random(20261210 + mb)
        buf = io.StringIO(newline='')
        w = csv.writer(buf, lineterminator='\n')
        while buf.tell() < target:  # characters, near enough to bytes here
            w.writerow([csv_field(rng, k) for k in range(8)])
        with open('%s/csv-%d.csv' % (folder, mb), 'w', encoding='utf-8', newline='') as f:
            f.write(buf.getvalue())


main()
