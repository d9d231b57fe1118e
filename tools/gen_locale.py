#!/usr/bin/env python3
# Generates locale_gen.h from boot/locale.kel: the currency list and the month names that
# the runtime needs before any Kel code runs, so the list is written down once.
import sys

from kel_text import tokens


def fail(message):
    sys.exit('boot/locale.kel: ' + message)


def nest(toks):
    # Blocks become lists; everything else stays a token.
    stack = [[]]
    for t in toks:
        if t == '[':
            stack.append([])
        elif t == ']':
            if len(stack) == 1:
                fail('unbalanced ]')
            done = stack.pop()
            stack[-1].append(done)
        else:
            stack[-1].append(t)
    if len(stack) != 1:
        fail('unbalanced [')
    return stack[0]


def fields(block, where):
    # A block of set-word / value pairs, as an object's spec.
    out = {}
    if len(block) % 2:
        fail(where + ' must hold set-word / value pairs')
    for k in range(0, len(block), 2):
        name = block[k]
        if not isinstance(name, str) or not name.endswith(':'):
            fail(where + ': expected a set-word, got ' + repr(name))
        out[name[:-1]] = block[k + 1]
    return out


def main():
    src, header = sys.argv[1:3]
    top = nest(tokens(open(src, encoding='utf-8').read()))
    if len(top) < 2 or top[0] != 'Kel' or not isinstance(top[1], list):
        fail('missing the Kel header')
    body = fields(top[2:], 'the file')
    if not isinstance(body.get('locale'), list):
        fail('expected locale: [...]')
    locale = fields(body['locale'], 'locale')

    months = locale.get('months')
    if not isinstance(months, list) or len(months) != 12:
        fail('locale/months must be a block of 12 strings')
    names = []
    for m in months:
        if not isinstance(m, str) or not m.startswith('"') or '^' in m or len(m) < 3:
            fail('locale/months: %r is not a plain, non-empty string' % (m,))
        names.append(m[1:-1])

    currencies = locale.get('currencies')
    if not isinstance(currencies, list):
        fail('expected locale/currencies: [...]')
    codes = fields(currencies, 'locale/currencies').get('list')
    if not isinstance(codes, list):
        fail('expected locale/currencies/list: [...]')
    seen = set()
    for c in codes:
        if not isinstance(c, str) or len(c) != 3 or not all('A' <= ch <= 'Z' for ch in c):
            fail('currency %r is not three upper-case letters' % (c,))
        if c in seen:
            fail('currency %s is listed twice' % c)
        seen.add(c)
    if not codes or len(codes) > 255:
        fail('locale/currencies/list must hold 1 to 255 codes')

    def c_string(text):
        data = text.encode('utf-8')
        def one(b):
            if chr(b) in '"\\':
                return '\\' + chr(b)
            return chr(b) if 0x20 <= b < 0x7F and b != ord('?') else '\\%03o' % b
        return '"' + ''.join(one(b) for b in data) + '"'

    abbreviations = []
    for name in names:
        cps = [ord(ch) for ch in name[:3]]
        padded = cps + [0] * (3 - len(cps))
        abbreviations.append('{%d, {%s}}' % (len(cps), ', '.join(str(cp) for cp in padded)))

    out = ['// Generated from boot/locale.kel by tools/gen_locale.py: do not edit.',
           '// The start-up currency list and month names of system/locale.',
           '#pragma once', '#include <cstdint>', '',
           'namespace kel::locale::boot {', '',
           'constexpr int32_t CURRENCY_COUNT = %d;' % len(codes),
           '// The codes in list order, three upper-case letters each, one space apart.',
           'constexpr char CURRENCIES[] = %s;' % c_string(' '.join(codes)), '',
           '// The month names as Kel text (the items of system/locale/months).',
           'constexpr char MONTHS[] = %s;' % c_string(' '.join('"%s"' % n for n in names)), '',
           '// The first characters of each month name (at most three).',
           'struct Abbreviation {', '  int32_t count;', '  int32_t codepoints[3];', '};',
           'constexpr Abbreviation MONTH_ABBREVIATIONS[12] = {',
           '    ' + ',\n    '.join(abbreviations) + '};', '',
           '}  // namespace kel::locale::boot', '']
    open(header, 'w', encoding='utf-8').write('\n'.join(out))


if __name__ == '__main__':
    main()
