#!/usr/bin/env python3
# Generates the error catalogue positions (errors_gen.h) and the embedded catalogue text
# (errors_text.cpp) from boot/errors.kel, so the order is written down once.
import re
import sys

from kel_text import tokens

KEYWORDS = {"break", "return", "throw", "continue", "protected", "type", "default",
            "delete", "new", "case", "switch", "do", "for", "if", "else", "while",
            "not", "and", "or", "xor", "class", "struct", "union", "template", "this",
            "operator", "private", "public", "try", "catch", "goto", "register"}


def parse(text):
    toks = list(tokens(text))
    # skip the header block
    assert toks[0] == 'Kel' and toks[1] == '['
    depth, i = 0, 1
    while True:
        if toks[i] == '[':
            depth += 1
        elif toks[i] == ']':
            depth -= 1
            if depth == 0:
                break
        i += 1
    i += 1
    assert toks[i] == 'errors:' and toks[i + 1] == '[', 'expected errors: ['
    i += 2
    cats = []
    while toks[i] != ']':
        name = toks[i]
        assert name.endswith(':') and toks[i + 1] == '[', 'bad category at ' + name
        i += 2
        fields = []
        while toks[i] != ']':
            t = toks[i]
            assert t.endswith(':'), 'expected a set-word, got ' + t
            fields.append(t[:-1])
            i += 1
            if toks[i].endswith(':') or toks[i] == ']':
                continue  # a field without a value
            if toks[i] == '[':
                d = 0
                while True:
                    if toks[i] == '[':
                        d += 1
                    elif toks[i] == ']':
                        d -= 1
                        if d == 0:
                            break
                    i += 1
            i += 1
        assert fields[:2] == ['code', 'type'], name + ' must start with code and type'
        cats.append((name[:-1], fields))
        i += 1
    return cats


def ident(word):
    s = re.sub(r'[^A-Za-z0-9]', '_', word.replace('?', '_q'))
    if s in KEYWORDS:
        s += '_'
    return s


def main():
    src, header, source = sys.argv[1:4]
    text = open(src, encoding='utf-8').read()
    cats = parse(text)
    out = ['// Generated from boot/errors.kel by tools/gen_errors.py: do not edit.',
           '// Category and id positions of the error catalogue.',
           '#pragma once', '#include <cstdint>', '',
           'namespace kel {', '',
           '// Category and id positions of one catalogue entry.',
           'struct ErrorPos {', '  uint32_t category;', '  uint32_t id;', '};', '',
           '}  // namespace kel', '',
           'namespace kel::err {', '',
           'constexpr uint32_t CATEGORY_COUNT = %d;' % len(cats), '',
           'namespace cat {']
    for ci, (name, _) in enumerate(cats):
        out.append('constexpr uint32_t %s = %d;' % (ident(name), ci))
    out.append('}  // namespace cat')
    out.append('')
    for ci, (name, fields) in enumerate(cats):
        out.append('namespace %s {' % ident(name))
        out.append('constexpr uint32_t FIELD_COUNT = %d;' % len(fields))
        for fi, f in enumerate(fields[2:], start=2):
            out.append('constexpr ErrorPos %s{%d, %d};' % (ident(f), ci, fi))
        out.append('}  // namespace %s' % ident(name))
    out += ['', '}  // namespace kel::err', '']
    open(header, 'w').write('\n'.join(out))
    data = text.encode('utf-8')
    body = ',\n'.join(', '.join(str(b) for b in data[k:k + 24]) for k in range(0, len(data), 24))
    src_out = ['// Generated from boot/errors.kel by tools/gen_errors.py: do not edit.',
               '// The catalogue text, loaded with the boot library.',
               '#include "runtime/error.h"', '',
               'namespace {', 'const char kText[] = {', body + ', 0};', '}  // namespace', '',
               'const char* kel::error::catalogue_text() { return kText; }', '']
    open(source, 'w').write('\n'.join(src_out))


if __name__ == '__main__':
    main()
