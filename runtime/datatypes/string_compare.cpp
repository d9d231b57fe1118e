// Text comparison and matching of any-string values, the compare slot of string!, hex
// digits and the caret-escaped form of one character.
#include <algorithm>
#include <cstring>

#include "runtime/casemap.h"
#include "runtime/datatypes/string.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

// Characters from the (clamped) head of a string value, read in place.
struct Chars {
  const uint8_t* p;
  uint32_t unit;
  int32_t count;
  int32_t at(int32_t i) const { return read_codepoint(p + size_t(i) * unit, unit); }
};

Chars chars_of(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  int32_t h = std::clamp(int32_t(s->w1), 0, n);
  return {memory::head(b) + size_t(h) * u, u, n - h};
}

inline int32_t fold(int32_t c) { return case_::upper_char(c); }

const char HEX[] = "0123456789ABCDEF";

// Letter after "^" for codepoints below 95, 0 when there is none.
char escape_letter(int32_t c) {
  if (c >= 0 && c <= 8) return char(c == 0 ? '@' : 'A' + c - 1);
  if (c >= 11 && c <= 26) return char('K' + c - 11);
  switch (c) {
    case 9: return '-';
    case 10: return '/';
    case 27: return '[';
    case 28: return '\\';
    case 29: return ']';
    case 30: return '^';
    case 31: return '_';
    case 34: return '"';
    case 94: return '^';
    default: return 0;
  }
}

}  // namespace

// ---- Hex digits ----

const char* byte_hex(uint32_t byte) {
  static char out[3];
  out[0] = HEX[(byte >> 4) & 15];
  out[1] = HEX[byte & 15];
  out[2] = 0;
  return out;
}

const char* int_hex(int32_t value, bool strip) {
  static char out[9];
  uint32_t v = uint32_t(value);
  for (int i = 7; i >= 0; --i, v >>= 4) out[i] = HEX[v & 15];
  out[8] = 0;
  if (!strip) return out;
  if (value == 0) return "00";
  const char* p = out;
  while (*p == '0') ++p;
  return p;
}

// ---- One character ----

void mold_char(Cell* s, int32_t c, bool all) {
  if (c == 0x1E || (c >= 128 && c <= 159) || (all && c > 127)) {
    add_codepoint(s, '^');
    add_codepoint(s, '(');
    add_c_text(s, int_hex(c, true));
    add_codepoint(s, ')');
    return;
  }
  if (c < 95) {
    if (char e = escape_letter(c)) {
      add_codepoint(s, '^');
      add_codepoint(s, uint8_t(e));
      return;
    }
  }
  if (c == 127) {
    add_codepoint(s, '^');
    add_codepoint(s, '~');
    return;
  }
  add_codepoint(s, c);
}

// ---- Searching and matching ----

bool find_codepoint_stepped(Cell* s, int32_t c, int32_t step, bool case_sensitive) {
  if (step < 1) step = 1;
  Chars t = chars_of(s);
  if (!case_sensitive) c = fold(c);
  for (int32_t i = 0; i < t.count; i += step) {
    int32_t x = t.at(i);
    if (!case_sensitive) x = fold(x);
    if (x == c) return true;
  }
  return false;
}

bool starts_with_c_text(Cell* s, const char* text) {
  Chars t = chars_of(s);
  int32_t n = int32_t(std::strlen(text));
  if (t.count < n) return false;
  for (int32_t i = 0; i < n; ++i) {
    int32_t x = t.at(i);
    if (x > 255 || x != uint8_t(text[i])) return false;
  }
  return true;
}

bool tag_brackets_at(Cell* input, const Cell* tag) {
  Chars in = chars_of(input);
  int32_t len = chars_of(tag).count;
  if (in.count < 1 || in.at(0) != '<') return false;
  return len + 1 < in.count && in.at(len + 1) == '>';
}

bool match_value(Cell* input, const Cell* value, int32_t op) {
  uint32_t t = cell::type(value);
  if (t == T_STRING || t == T_FILE || t == T_URL || t == T_EMAIL || t == T_REF)
    return compare_strings(input, value, op, true) == 0;
  if (t == T_CHAR) {
    Chars in = chars_of(input);
    if (in.count < 1) return false;
    int32_t a = in.at(0);
    int32_t b = int32_t(value->w2);
    if (op != 2) {
      a = fold(a);
      b = fold(b);
    }
    return a == b;
  }
  if (t == T_TAG) {
    if (!tag_brackets_at(input, value)) return false;
    Chars in = chars_of(input);
    Chars tg = chars_of(value);
    for (int32_t i = 0; i < tg.count; ++i) {
      int32_t a = in.at(i + 1);
      int32_t b = tg.at(i);
      if (op != 2) {
        a = fold(a);
        b = fold(b);
      }
      if (a != b) return false;
    }
    return true;
  }
  return false;
}

bool head_char_in_bitset(Cell* input, const Cell* bitset) {
  Chars in = chars_of(input);
  if (in.count < 1) return false;
  uint32_t c = uint32_t(in.at(0));
  SeriesBuffer* b = memory::node_buffer(bitset->w2);
  uint32_t stored = memory::used_bytes(b);
  if (c < stored * 8u) return (memory::head(b)[c >> 3] & (0x80u >> (c & 7))) != 0;
  return (b->flags & sflag::COMPLEMENT) != 0;
}

bool brace_closes(const Cell* s, int32_t index, int32_t end) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  const uint8_t* h = memory::head(b);
  end = std::min(end, int32_t(memory::units(b)));
  int32_t depth = 0;
  for (int32_t i = index; i < end; ++i) {
    int32_t c = read_codepoint(h + size_t(i) * u, u);
    if (c == '{') ++depth;
    else if (c == '}' && --depth == 0) return true;
  }
  return false;
}

// ---- Comparison ----

int32_t compare_strings(const Cell* a, const Cell* b, int32_t op, bool prefix) {
  if (op == 9) return (a->w2 == b->w2 && a->w1 == b->w1) ? 0 : -1;
  if (a->w2 == b->w2 && a->w1 == b->w1 && (op == 0 || op == 1 || op == 2 || op == 12)) return 0;
  Chars x = chars_of(a);
  Chars y = chars_of(b);
  int32_t m = x.count;
  int32_t n = y.count;
  bool equality = op == 0 || op == 1 || op == 2 || op == 12;
  int32_t len = n;
  if (prefix) {
    if (n == 0) return op == 12 ? 1 : 0;
    if (m < n) return 1;
  } else {
    if (m != n && (equality || n == 0)) return 1;
    if (m < n) len = m;
    if (m == 0 && n == 0) return 0;
  }
  // Equal units of one width are equal characters, whatever the op; unequal ones still go
  // through the loop, which alone can say how they differ.
  if (x.unit == y.unit && std::memcmp(x.p, y.p, size_t(len) * x.unit) == 0) {
    if (prefix) return 0;
    return m > n ? 1 : m < n ? -1 : 0;
  }
  bool folding = op != 2 && op != 8;
  for (int32_t i = 0; i < len; ++i) {
    int32_t c = x.at(i);
    int32_t d = y.at(i);
    if (folding) {
      c = fold(c);
      d = fold(d);
    }
    if (c != d) return c > d ? 1 : -1;
  }
  if (prefix) return 0;
  return m > n ? 1 : m < n ? -1 : 0;
}

TextKey text_key(const Cell* s) {
  Chars c = chars_of(s);
  return {c.p, c.unit, c.count};
}

bool equal_to_key_chars(const Cell* a, const TextKey& key, bool folding) {
  Chars x = chars_of(a);
  if (x.count != key.count) return false;
  int32_t i = 0;
  if (x.unit == key.unit) {
    // Equal units are equal characters; folding decides from the first unequal one on.
    if (x.unit == 1) {
      while (i < x.count && x.p[i] == key.p[i]) ++i;
      if (i == x.count) return true;
      if (!folding) return false;  // units of one width: another unit, another character
      for (; i < x.count; ++i) {
        int32_t c = x.p[i], d = key.p[i];
        if (c != d && fold(c) != fold(d)) return false;
      }
      return true;
    } else {
      size_t bytes = size_t(x.count) * x.unit;
      if (std::memcmp(x.p, key.p, bytes) == 0) return true;
      while (unicode::load_unit(x.p + size_t(i) * x.unit, x.unit) ==
             unicode::load_unit(key.p + size_t(i) * x.unit, x.unit))
        ++i;
    }
    if (i == x.count) return true;
  }
  Chars y{key.p, key.unit, key.count};
  for (; i < x.count; ++i) {
    int32_t c = x.at(i);
    int32_t d = y.at(i);
    if (folding) {
      c = fold(c);
      d = fold(d);
    }
    if (c != d) return false;
  }
  return true;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t ta = cell::type(a);
  uint32_t tb = cell::type(b);
  if (ta != tb && !(any_string_q(tb) && (op == 0 || op == 1))) return -2;
  return compare_strings(a, b, op, false);
}

}  // namespace kel::string
