#!/usr/bin/env python3
"""JSON and CSV against python3's json and csv modules, comparing values, never text.

The corpus (json/valid, json/invalid, json/odd, csv/) and seeded random documents go both
ways: python3 writes a document, kel decodes it and encodes the result again, python3 reads
that back; and python3 writes a Kel literal, kel encodes it, python3 reads the text. Invalid
documents must come back as error values with the decoder's message; the odd ones (lone
surrogates, huge numbers, other encodings, deep nesting) may decode or fail, but kel must
end normally. Under KEL_GC_STRESS fewer random documents run, and neither the big ones nor
the /ascii and /pretty variants.

Usage: interop.py KEL WORKDIR [--seed N] [--count N] [--verbose]
"""
import csv
import io
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MESSAGE = re.compile(r"^Invalid JSON string\. Line: \d+ Index: \d+ Column: \d+ Near: (<end of input>|.+)$",
                     re.S)

failures = []


def fail(what):
    failures.append(what)


# ---- Kel side --------------------------------------------------------------------------------

KEL_SCRIPT = r'''Kel []
emit-result: func [dst text] [write dst text]
json-out: func [v flags /local r] [
	if error? r: try [
		case [
			find flags 'ascii [to-json/ascii :v]
			find flags 'pretty [to-json/pretty :v "  "]
			true [to-json :v]
		]
	] [return rejoin-text ["unencodable " r/type "/" r/id]]
	rejoin-text ["ok^/" r]
]
rejoin-text: func [parts /local s] [
	s: copy ""
	foreach p reduce parts [append s form :p]
	s
]
run: func [kind src dst flags /local v r text] [
	if error? r: try [text: read src none] [
		return emit-result dst rejoin-text ["unreadable " r/type "/" r/id]
	]
	if error? r: try [
		v: switch kind [
			json [load-json text]
			csv [load-csv text]
			csv-records [load-csv/header/as-records text]
			kel [pick transcode text 1]
		]
		none
	] [return emit-result dst rejoin-text ["raised " r/type "/" r/id]]
	if error? :v [return emit-result dst rejoin-text ["invalid " v/arg1]]
	emit-result dst switch kind [
		json [json-out :v flags]
		csv [either find flags 'round [rejoin-text ["ok^/" to-csv v]] [json-out v flags]]
		csv-records [json-out v flags]
		kel [
			either find flags 'csv [
				either error? r: to-csv v [rejoin-text ["invalid " r/arg1]] [rejoin-text ["ok^/" r]]
			] [json-out :v flags]
		]
	]
]
foreach [kind src dst flags] jobs [run kind src dst flags]
'''


def kel_file(path):
    # A file! literal: the path quoted, as the lexer reads %"..."
    return '%"' + path.replace('%', '%25').replace('"', '%22').replace(' ', '%20') + '"'


def run_kel(kel, work, jobs):
    """jobs: (kind, src, flags) -> list of result texts, one per job."""
    lines = ['jobs: [']
    outs = []
    for i, (kind, src, flags) in enumerate(jobs):
        dst = os.path.join(work, 'out', '%d.out' % i)
        outs.append(dst)
        lines.append('\t%s %s %s [%s]' % (kind, kel_file(src), kel_file(dst), ' '.join(flags)))
    lines.append(']')
    script = os.path.join(work, 'run.kel')
    with open(script, 'w', encoding='utf-8') as f:
        f.write(KEL_SCRIPT.replace('Kel []\n', 'Kel []\n' + '\n'.join(lines) + '\n', 1))
    if os.path.isdir(os.path.join(work, 'out')):
        shutil.rmtree(os.path.join(work, 'out'))
    os.makedirs(os.path.join(work, 'out'))
    p = subprocess.run([kel, script], capture_output=True, timeout=600)
    if p.returncode != 0:
        fail('kel ended with status %d: %s %s' % (p.returncode, p.stdout.decode(errors='replace')[-2000:],
                                                 p.stderr.decode(errors='replace')[-2000:]))
    results = []
    for dst in outs:
        try:
            with open(dst, 'rb') as f:
                data = f.read()
            try:
                results.append(data.decode('utf-8'))
            except UnicodeDecodeError:
                results.append('not UTF-8: %r' % data[:200])
        except OSError:
            results.append(None)
    return results


# ---- Value comparison ------------------------------------------------------------------------

def is_num(x):
    return isinstance(x, (int, float)) and not isinstance(x, bool)


def same_value(a, b):
    """a from python3, b read back from kel's text. Integers beyond 32 bits come back as floats."""
    if is_num(a) and is_num(b):
        if isinstance(a, int) and isinstance(b, int):
            return a == b
        fa = float(a) if not isinstance(a, int) or abs(a) < 2 ** 1023 else math.inf
        return fa == float(b) or (math.isinf(fa) and math.isinf(b) and (fa > 0) == (b > 0))
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a.keys()) == list(b.keys()) and all(same_value(a[k], b[k]) for k in a)
    return a == b


def strict_loads(text):
    def constant(name):
        raise ValueError('constant ' + name)
    return json.loads(text, parse_constant=constant)


def read_csv(text):
    return list(csv.reader(io.StringIO(text, newline='')))


# ---- Corpus ----------------------------------------------------------------------------------

def corpus_jobs(work, size_limit, variants):
    jobs, checks = [], []
    for group in ('valid', 'invalid', 'odd'):
        folder = os.path.join(HERE, 'json', group)
        for name in sorted(os.listdir(folder)):
            src = os.path.join(folder, name)
            with open(src, 'rb') as f:
                data = f.read()
            if len(data) > size_limit:
                continue
            for flags in ([[], ['ascii'], ['pretty']] if group == 'valid' and variants else [[]]):
                jobs.append(('json', src, flags))
                checks.append(('json-' + group, name + ' ' + ' '.join(flags), data))
    folder = os.path.join(HERE, 'csv')
    for name in sorted(os.listdir(folder)):
        src = os.path.join(folder, name)
        with open(src, 'rb') as f:
            data = f.read()
        if len(data) > size_limit:
            continue
        jobs.append(('csv', src, []))
        checks.append(('csv', name, data))
        jobs.append(('csv', src, ['round']))
        checks.append(('csv-round', name, data))
        if name.startswith('header-'):
            jobs.append(('csv-records', src, []))
            checks.append(('csv-records', name, data))
    return jobs, checks


def check(kind, name, data, out, verbose):
    if out is None:
        return fail('%s %s: no result written' % (kind, name))
    status, _, body = out.partition('\n')
    if verbose:
        print('%-14s %-40s %s' % (kind, name, out.split('\n', 1)[0][:100]))
    if kind in ('json-valid', 'json-random', 'kel-json'):
        expected = strict_loads(data.decode('utf-8')) if isinstance(data, bytes) else data
        if status != 'ok':
            return fail('%s %s: %s' % (kind, name, out[:300]))
        try:
            got = strict_loads(body)
        except ValueError as e:
            return fail('%s %s: python3 cannot read kel\'s text (%s): %r' % (kind, name, e, body[:300]))
        if not same_value(expected, got):
            fail('%s %s: values differ:\n  python3 %r\n  kel     %r' % (kind, name, expected, got))
    elif kind == 'json-invalid':
        try:
            strict_loads(data.decode('utf-8'))
            fail('%s %s: python3 reads it: not an invalid document' % (kind, name))
        except ValueError:
            pass
        if not status.startswith('invalid ') or not MESSAGE.match(out[len('invalid '):]):
            fail('%s %s: expected the error value, got %r' % (kind, name, out[:300]))
    elif kind == 'json-odd':
        if not re.match(r'^(ok|invalid |raised |unreadable |unencodable )', status):
            fail('%s %s: unexpected result %r' % (kind, name, out[:300]))
        if status == 'ok':
            try:
                strict_loads(body)
            except ValueError as e:
                fail('%s %s: kel wrote text python3 cannot read (%s)' % (kind, name, e))
    elif kind in ('csv', 'csv-random'):
        rows = read_csv(data.decode('utf-8')) if isinstance(data, bytes) else data
        if status != 'ok' or strict_loads(body) != rows:
            fail('%s %s: python3 %r\n  kel %r' % (kind, name, rows[:5], out[:300]))
    elif kind in ('csv-round', 'kel-csv'):
        rows = read_csv(data.decode('utf-8')) if isinstance(data, bytes) else data
        if status != 'ok' or read_csv(body) != rows:
            fail('%s %s: written back, python3 reads %r\n  expected %r' % (
                kind, name, read_csv(body)[:5] if status == 'ok' else out[:300], rows[:5]))
    elif kind == 'csv-records':
        records = list(csv.DictReader(io.StringIO(data.decode('utf-8'), newline='')))
        if status != 'ok' or not same_value([dict(r) for r in records], strict_loads(body)):
            fail('%s %s: python3 %r\n  kel %r' % (kind, name, records[:3], out[:300]))


# ---- Random documents ------------------------------------------------------------------------

CHARS = ('abcxyzABC019 -_.,:;/\\"\'{}[]#%$@<>^~\t\n\r\x00\x01\x1f\x7f\x80\xa0'
         'éüßΩ中文\u2028\ufeff\uffff😀\U0001d11e\U0010fffd')


def rand_text(rng, n=8):
    return ''.join(rng.choice(CHARS) for _ in range(rng.randrange(n + 1)))


def rand_number(rng):
    r = rng.random()
    if r < 0.4:
        return rng.randrange(-2 ** 31, 2 ** 31)
    if r < 0.5:
        return rng.choice([0, -1, 2 ** 31, -2 ** 31 - 1, 2 ** 53 + 1, 10 ** 20])
    if r < 0.8:
        return rng.uniform(-1e6, 1e6)
    return rng.choice([0.0, -0.0, 0.1, 1e-300, 5e-324, 1.7976931348623157e308, 1e21, 123.456, 2.5e-7])


def rand_value(rng, depth, case_safe=False):
    r = rng.random()
    if depth <= 0 or r < 0.45:
        return rng.choice([None, True, False, rand_number(rng), rand_number(rng), rand_text(rng),
                           rand_text(rng)])
    if r < 0.7:
        return [rand_value(rng, depth - 1, case_safe) for _ in range(rng.randrange(5))]
    obj = {}
    seen = set()
    for _ in range(rng.randrange(5)):
        k = rng.choice([rand_text(rng, 5), rng.choice(['a', 'A', 'name', 'Name', '-1', '2nd', 'x y', '', 'é'])])
        if case_safe:
            if k.lower() in seen:
                continue
            seen.add(k.lower())
        obj[k] = rand_value(rng, depth - 1, case_safe)
    return obj


def kel_string(s):
    out = ['"']
    for ch in s:
        c = ord(ch)
        if ch == '"':
            out.append('^"')
        elif ch == '^':
            out.append('^^')
        elif c < 32 or c == 127:
            out.append('^(%02X)' % c)
        else:
            out.append(ch)
    out.append('"')
    return ''.join(out)


def kel_literal(v):
    if v is None:
        return '#(none)'
    if v is True:
        return '#(true)'
    if v is False:
        return '#(false)'
    if isinstance(v, int):
        return str(v) if -2 ** 31 <= v < 2 ** 31 else repr(float(v))
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, str):
        return kel_string(v)
    if isinstance(v, list):
        return '[' + ' '.join(kel_literal(x) for x in v) + ']'
    return '#[' + ' '.join(kel_string(k) + ' ' + kel_literal(x) for k, x in v.items()) + ']'


def rand_rows(rng):
    cols = rng.randrange(2, 6)
    rows = [[rand_text(rng, 6) for _ in range(cols)] for _ in range(rng.randrange(1, 8))]
    if rows[0][0].startswith('\ufeff'):
        rows[0][0] = 'x' + rows[0][0]  # reading a file drops a byte order mark at its start
    return rows


def random_jobs(work, rng, count):
    folder = os.path.join(work, 'random')
    os.makedirs(folder, exist_ok=True)
    jobs, checks = [], []
    for i in range(count):
        v = rand_value(rng, 4)
        text = json.dumps(v, ensure_ascii=rng.random() < 0.5,
                          indent=rng.choice([None, None, 0, 2, '\t']),
                          separators=rng.choice([None, (',', ':'), (' , ', ' : ')]))
        src = os.path.join(folder, 'j%d.json' % i)
        with open(src, 'w', encoding='utf-8') as f:
            f.write(text)
        flags = rng.choice([[], ['ascii'], ['pretty']])
        jobs.append(('json', src, flags))
        checks.append(('json-random', 'j%d %s' % (i, ' '.join(flags)), json.loads(text)))

        v = rand_value(rng, 4, case_safe=True)
        src = os.path.join(folder, 'k%d.kel' % i)
        with open(src, 'w', encoding='utf-8') as f:
            f.write(kel_literal(v))
        jobs.append(('kel', src, []))
        checks.append(('kel-json', 'k%d' % i, json.loads(json.dumps(v))))

        if i % 2 == 0:
            rows = rand_rows(rng)
            buf = io.StringIO(newline='')
            # python3 leaves a CR unquoted when the line end is LF alone: quote all then.
            end = rng.choice(['\r\n', '\n'])
            quoting = rng.choice([csv.QUOTE_MINIMAL, csv.QUOTE_ALL]) if end == '\r\n' else csv.QUOTE_ALL
            csv.writer(buf, lineterminator=end, quoting=quoting).writerows(rows)
            src = os.path.join(folder, 'c%d.csv' % i)
            with open(src, 'w', encoding='utf-8', newline='') as f:
                f.write(buf.getvalue())
            jobs.append(('csv', src, []))
            checks.append(('csv-random', 'c%d' % i, rows))
            src = os.path.join(folder, 'r%d.kel' % i)
            with open(src, 'w', encoding='utf-8') as f:
                f.write(kel_literal(rows))
            jobs.append(('kel', src, ['csv']))
            checks.append(('kel-csv', 'r%d' % i, rows))
    return jobs, checks


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        print(__doc__)
        return 2
    kel, work = args[0], args[1]
    seed, count, verbose = 20261210, 300, '--verbose' in args
    size_limit, variants = 1 << 30, True
    if os.environ.get('KEL_GC_STRESS'):
        # The big documents and the /ascii and /pretty variants run in the plain pass.
        count, size_limit, variants = 10, 4096, False
    if '--seed' in args:
        seed = int(args[args.index('--seed') + 1])
    if '--count' in args:
        count = int(args[args.index('--count') + 1])
    os.makedirs(work, exist_ok=True)
    jobs, checks = corpus_jobs(work, size_limit, variants)
    more_jobs, more_checks = random_jobs(work, random.Random(seed), count)
    jobs += more_jobs
    checks += more_checks
    results = run_kel(kel, work, jobs)
    for (kind, name, data), out in zip(checks, results):
        check(kind, name, data, out, verbose)
    for f in failures[:40]:
        print('FAIL', f)
    print('json-csv interop: %d documents, %d failures (seed %d)' % (len(checks), len(failures), seed))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
