# Splits Kel text into the tokens the build-time generators read: `[`, `]`, "strings" (kept
# with their quotes) and other words; comments are dropped.
import sys


def fail(message):
    sys.exit(message)


def tokens(text):
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c.isspace():
            i += 1
        elif c == ';':
            while i < n and text[i] != '\n':
                i += 1
        elif c in '[]':
            yield c
            i += 1
        elif c == '"':
            j = i + 1
            while j < n and text[j] != '"' and text[j] != '\n':
                j += 2 if text[j] == '^' else 1
            if j >= n or text[j] != '"':
                fail('unterminated string at offset %d' % i)
            yield text[i:j + 1]
            i = j + 1
        else:
            j = i
            while j < n and not text[j].isspace() and text[j] not in '[]";':
                j += 1
            yield text[i:j]
            i = j
