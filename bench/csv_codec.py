# Twin of csv.kel (not csv.py: a script here named so would shadow the csv module): csv.reader into a list of rows and csv.writer (LF line ends) of the same files.
import csv
import io
import time

for mb in (1, 4, 16):
    name = 'csv-%d.csv' % mb
    with open(name, encoding='utf-8', newline='') as f:
        text = f.read()
    t0 = time.perf_counter()
    rows = list(csv.reader(io.StringIO(text, newline='')))
    t1 = time.perf_counter()
    buf = io.StringIO(newline='')
    csv.writer(buf, lineterminator='\n').writerows(rows)
    out = buf.getvalue()
    t2 = time.perf_counter()
    print(name, t1 - t0, t2 - t1, len(rows))
