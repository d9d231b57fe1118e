#!/usr/bin/env python3
# Embeds boot/*.kel sources as C++ text, in the order given, for loading at start-up.
import sys

out = sys.argv[1]
names = sys.argv[2:]
lines = ['// Generated from boot/ sources; do not edit.', '#include <cstddef>', '',
         'namespace kel::boot_text {']
entries = []
for i, path in enumerate(names):
    data = open(path, 'rb').read()
    body = ', '.join(str(b) for b in data)
    lines.append(f'static const unsigned char src{i}[] = {{{body}{", " if data else ""}0}};')
    entries.append((path.rsplit('/', 1)[-1], i, len(data)))
lines.append('struct Source { const char* name; const unsigned char* text; size_t length; };')
lines.append('extern const Source sources[] = {')
for name, i, n in entries:
    lines.append(f'  {{"{name}", src{i}, {n}}},')
lines.append('  {nullptr, nullptr, 0},')
lines.append('};')
lines.append('}  // namespace kel::boot_text')
open(out, 'w').write('\n'.join(lines) + '\n')
