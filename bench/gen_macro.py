#!/usr/bin/env python3
# Writes the inputs of the macro benchmarks into a folder: words.txt, an 11.7 MB English-like
# text (words of a fixed vocabulary drawn with a skewed frequency, mixed case, punctuation and
# line breaks), from a fixed seed. The JSON input comes from gen_json_csv.py.
# Usage: python3 bench/gen_macro.py DIR
import os
import random
import sys

rng = random.Random(48)
syll = ['ka', 'lo', 'mi', 'ne', 'su', 'ta', 'ri', 'po', 'the', 'and', 'ing', 'er', 'st', 'qu']
vocab = sorted({''.join(rng.choice(syll) for _ in range(rng.randrange(1, 5))) for _ in range(60000)})
weights = [1.0 / (i + 1) for i in range(len(vocab))]
rng.shuffle(vocab)
target = 11_700_000
out, size = [], 0
while size < target:
    words = rng.choices(vocab, weights, k=12)
    words = [w.capitalize() if rng.random() < 0.1 else w for w in words]
    line = ' '.join(words) + rng.choice(['.', ',', ';', '!', '?', ' -']) + '\n'
    out.append(line)
    size += len(line)
with open(os.path.join(sys.argv[1], 'words.txt'), 'w') as fh:
    fh.write(''.join(out))
