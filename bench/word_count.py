# Twin of word-count.kel: words of letters counted without case in a dict.
import re

with open('words.txt', encoding='utf-8') as f:
    text = f.read()
counts = {}
for w in re.findall('[A-Za-z]+', text):
    w = w.lower()
    counts[w] = counts.get(w, 0) + 1
print(len(counts), sum(counts.values()))
