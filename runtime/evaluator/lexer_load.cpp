// Loaders of the lexer: words, issues, refinements, strings with escapes, files, urls, chars,
// integers and floats, checks of the literals whose datatype is not built yet (their values
// go through the hooks), series from value-stack cells and the texts of syntax errors.
#include "runtime/evaluator/lexer_load.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/evaluator/number_scan.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/context.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::lexer {

namespace {

bool has_callback(const State* s) {
  return s->native_callback || cell::type(&s->callback) != T_NONE;
}

// The bytes of a token at a stable address: the input itself when it cannot move, else a
// copy (a binary! source moves at any allocation).
struct TokenText {
  std::string copy;
  const uint8_t* p;
  int32_t n;
  TokenText(const State* s, int32_t start, int32_t end) {
    if (end < start) end = start;
    n = end - start;
    if (s->fixed) {
      p = s->fixed + start;
    } else {
      copy.assign(reinterpret_cast<const char*>(input(s) + start), size_t(n));
      p = reinterpret_cast<const uint8_t*>(copy.data());
    }
  }
};

Cell* push_value(State* s, const Cell& v) {
  Cell* c = push_cell(s);
  c->header = (c->header & hdr::NEW_LINE) | v.header;
  c->w1 = v.w1;
  c->w2 = v.w2;
  c->w3 = v.w3;
  return c;
}

void push_float(State* s, double d, uint32_t type = T_FLOAT) {
  Cell v{type, 0, 0, 0};
  cell::put_double(&v, d);
  push_value(s, v);
}

int hex_value(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

bool digit_q(uint8_t b) { return b >= '0' && b <= '9'; }

bool eq_nocase(const uint8_t* a, int32_t n, const char* b) {
  if (int32_t(std::strlen(b)) != n) return false;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t x = a[i], y = uint8_t(b[i]);
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (x != y) return false;
  }
  return true;
}

// Runs the hook of a type waiting for its datatype: only when loading.
template <class F>
void pending_value(State* s, bool load, F&& build) {
  if (!load) return;
  Cell v{T_NONE, 0, 0, 0};
  gc::Root keep(&v);
  build(&v);
  push_value(s, v);
}

}  // namespace

// ---- Shared helpers ----

const uint8_t* load::read_char(const uint8_t* p, const uint8_t* end, int32_t* c) {
  if (p < end && *p < 0x80) {
    *c = *p;
    return p + 1;
  }
  return unicode::read_utf8_char(p, end, c);
}

int32_t load::next_char_offset(const State* s, int32_t offset) {
  if (offset >= s->length) return s->length;
  uint8_t b = input(s)[offset];
  int32_t n = b >= 0xF8 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1;
  return offset + n > s->length ? s->length : offset + n;
}

bool load::utf8_text_q(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    int32_t c;
    p = unicode::read_utf8_char(p, end, &c);
    if (c < 0) return false;
  }
  return true;
}

void load::check_utf8(State* s, int32_t start, int32_t end, int32_t type) {
  const uint8_t* in = input(s);
  if (utf8_text_q(in + start, in + end)) return;
  s->token_type = type;
  syntax_error(s, start, end, type);
}

const uint8_t* load::decode_escape(const uint8_t* p, const uint8_t* end, int32_t* c,
                                   uint32_t* unit) {
  if (p >= end) return nullptr;
  uint8_t b = *p;
  if (b == '(') {
    const uint8_t* q = p + 1;
    const uint8_t* close = q;
    while (close < end && *close != ')' && close - q <= 8) ++close;
    if (close >= end || *close != ')') return nullptr;
    int32_t n = int32_t(close - q);
    static const struct { const char* name; int32_t code; } names[] = {
        {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27},
        {"del", 127}};
    for (auto& e : names) {
      if (eq_nocase(q, n, e.name)) {
        *c = e.code;
        return close + 1;
      }
    }
    if (n < 1 || n > 6) return nullptr;
    int32_t v = 0;
    for (int32_t i = 0; i < n; ++i) {
      int h = hex_value(q[i]);
      if (h < 0) return nullptr;
      v = v * 16 + h;
    }
    // Surrogates and values past the last code point cannot be written as UTF-8.
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return nullptr;
    if (n > 4) *unit = 4;
    else if (n > 2 && *unit < 2) *unit = 2;
    *c = v;
    return close + 1;
  }
  switch (b) {
    case '@': *c = 0; break;
    case '/': *c = 10; break;
    case '-': *c = 9; break;
    case '~': *c = 127; break;
    case '"': case '{': case '}': case '^': *c = b; break;
    default:
      if (b >= 'a' && b <= 'z') *c = b - 'a' + 1;
      else if (b >= 'A' && b <= '_') *c = b - '@';
      else {
        int32_t cp;
        const uint8_t* q = read_char(p, end, &cp);
        if (cp < 0) return nullptr;
        *c = cp;
        return q;
      }
  }
  return p + 1;
}

namespace {

// Percent-decoding of %XX (bytes, then read as UTF-8); a % without two hex digits stays.
std::string percent_decode(const uint8_t* text, int32_t length) {
  std::string out;
  out.reserve(size_t(length));
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] == '%' && i + 2 < length + 0 && i + 2 <= length - 1 + 0) {
      int h = hex_value(text[i + 1]), l = hex_value(text[i + 2]);
      if (h >= 0 && l >= 0) {
        out.push_back(char(h * 16 + l));
        i += 2;
        continue;
      }
    }
    out.push_back(char(text[i]));
  }
  return out;
}

}  // namespace

bool load::make_string(Cell* out, uint32_t type, const uint8_t* text, int32_t length,
                       uint32_t unit, bool escapes, bool percent) {
  if (percent) {
    std::string decoded = percent_decode(text, length);
    return make_string(out, type, reinterpret_cast<const uint8_t*>(decoded.data()),
                       int32_t(decoded.size()), unit, false, false);
  }
  const uint8_t* end = text + length;
  if (!escapes && unit == 1) {
    // Plain ASCII: one copy.
    const uint8_t* p = text;
    while (p < end && *p < 0x80) ++p;
    if (p == end) {
      Node node = memory::series_new_units(uint32_t(length), 1);
      SeriesBuffer* b = memory::node_buffer(node);
      if (length > 0) std::memcpy(memory::data(b), text, size_t(length));
      memory::set_tail(b, memory::data(b) + length);
      *out = Cell{type, 0, node, 0};
      return true;
    }
  }
  // Pass 1: count and check.
  int32_t count = 0;
  int32_t widest = 0;
  for (const uint8_t* p = text; p < end;) {
    int32_t c;
    if (escapes && *p == '^') {
      p = decode_escape(p + 1, end, &c, &unit);
      if (!p) return false;
    } else {
      p = read_char(p, end, &c);
      if (c < 0) return false;
    }
    if (c > widest) widest = c;
    ++count;
  }
  uint32_t needed = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
  if (needed > unit) unit = needed;
  if (unit == 3) unit = 4;
  // Pass 2: write.
  Node node = memory::series_new_units(uint32_t(count), unit);
  SeriesBuffer* b = memory::node_buffer(node);
  uint8_t* w = memory::data(b);
  for (const uint8_t* p = text; p < end;) {
    int32_t c;
    if (escapes && *p == '^') p = decode_escape(p + 1, end, &c, &unit);
    else p = read_char(p, end, &c);
    if (unit == 1) *w = uint8_t(c);
    else if (unit == 2) { uint16_t v = uint16_t(c); std::memcpy(w, &v, 2); }
    else { uint32_t v = uint32_t(c); std::memcpy(w, &v, 4); }
    w += unit;
  }
  memory::set_tail(b, w);
  *out = Cell{type, 0, node, 0};
  return true;
}

load::ErrorTexts load::error_texts(State* s, int32_t start, int32_t end) {
  ErrorTexts t{Cell{T_NONE, 0, 0, 0}, Cell{T_NONE, 0, 0, 0}};
  gc::Root r1(&t.line_text), r2(&t.near_text);
  std::string line = "(line " + std::to_string(s->line) + ")";
  make_string(&t.line_text, T_STRING, reinterpret_cast<const uint8_t*>(line.data()),
              int32_t(line.size()), 1, false, false);
  TokenText near(s, start, end);
  if (!make_string(&t.near_text, T_STRING, near.p, near.n, 1, false, false)) {
    // Undecodable bytes: show them one per character.
    std::string bytes(reinterpret_cast<const char*>(near.p), size_t(near.n));
    Node node = memory::series_new_units(uint32_t(near.n), 1);
    SeriesBuffer* b = memory::node_buffer(node);
    std::memcpy(memory::data(b), bytes.data(), bytes.size());
    memory::set_tail(b, memory::data(b) + bytes.size());
    t.near_text = Cell{T_STRING, 0, node, 0};
  }
  return t;
}


Cell load::series_from_cells(State* s, uint32_t type, int32_t from, int32_t to) {
  int32_t n = to - from;
  if (type == T_MAP) {
    bool ok = n % 2 == 0;
    for (int32_t i = from; ok && i < to; i += 2) ok = map::key_type_allowed_q(cell::type(stack_cell(i)));
    if (!ok) syntax_error(s, -1, s->token_end, T_MAP);
  }
  if (type == T_POINT2D || type == T_POINT3D) {  // one number per coordinate
    bool ok = n == (type == T_POINT3D ? 3 : 2);
    for (int32_t i = from; ok && i < to; ++i) {
      uint32_t t = cell::type(stack_cell(i));
      ok = t == T_INTEGER || t == T_FLOAT;
    }
    if (!ok) syntax_error(s, -1, s->token_end, int32_t(type));
  }
  Node node = memory::series_new_cells(uint32_t(n > 0 ? n : 1));
  SeriesBuffer* b = memory::node_buffer(node);
  if (n > 0) std::memcpy(memory::data(b), stack_cell(from), size_t(n) * sizeof(Cell));
  memory::set_tail(b, memory::data(b) + size_t(n) * sizeof(Cell));
  uint32_t series_type = type;
  if (type == T_MAP || type == T_POINT2D || type == T_POINT3D) series_type = T_BLOCK;
  Cell v{series_type, 0, node, 0};
  if (type == T_MAP) {
    gc::Root keep(&v);
    Cell map{T_NONE, 0, 0, 0};
    gc::Root keep_map(&map);
    hook::load_map(&map, &v);
    return map;
  }
  if (type == T_POINT2D || type == T_POINT3D) {
    gc::Root keep(&v);
    Cell point{T_NONE, 0, 0, 0};
    gc::Root keep_point(&point);
    hook::load_point_block(&point, type, &v);
    return point;
  }
  return v;
}

// ---- Token bookkeeping ----

namespace {
// End of a raw string from its opening (the offset after the closing run), or -1.
int32_t raw_string_end(const State* s, int32_t start) {
  const uint8_t* in = input(s);
  int32_t n = 0;
  while (start + n < s->length && in[start + n] == '%') ++n;
  int32_t q = start + n + 1;
  while (q < s->length) {
    if (in[q] == '}') {
      int32_t run = 0;
      while (run < n && q + 1 + run < s->length && in[q + 1 + run] == '%') ++run;
      if (run == n) return q + 1 + n;
    }
    ++q;
  }
  return -1;
}
}  // namespace

void load::finish_token(State* s, int state) {
  if (state == st::F_POINT && s->entry_state == st::POINT) s->entry_state = st::START;
  if (state == st::F_RAW_STRING) {
    int32_t e = raw_string_end(s, s->token_start);
    if (e > 0) s->pos = e;
    if (has_callback(s)) {
      // Open and close events frame a raw string, as they frame a braced one.
      send_event(s, ev::OPEN, T_STRING, nullptr, s->token_start, s->token_start + 1);
      send_event(s, ev::CLOSE, T_STRING, nullptr, s->token_start, e > 0 ? e : s->token_end);
    }
  }
}

// ---- Strings ----

void load::check_string(State* s, int32_t start, int32_t end, uint32_t flags, bool) {
  s->pos = end + 1;
  TokenText t(s, start + 1, end);
  // Validation without building: decode every character.
  const uint8_t* p = t.p;
  const uint8_t* e = t.p + t.n;
  bool escapes = flags & flag::CARET;
  uint32_t unit = 1;
  while (p < e) {
    int32_t c;
    if (escapes && *p == '^') p = decode_escape(p + 1, e, &c, &unit);
    else {
      p = read_char(p, e, &c);
      if (c < 0) p = nullptr;
    }
    if (!p) {
      s->token_type = T_STRING;
      syntax_error(s, start, end, T_STRING);
    }
  }
}

void load::load_string(State* s, int32_t start, int32_t end, uint32_t flags, bool load) {
  if (!load) return check_string(s, start, end, flags, false);
  uint32_t type = s->forced_type > 0 ? uint32_t(s->forced_type) : T_STRING;
  TokenText t(s, start + 1, end);
  Cell v{T_NONE, 0, 0, 0};
  if (!make_string(&v, type, t.p, t.n, unit_of_flags(flags), flags & flag::CARET, false))
    syntax_error(s, start, end, int32_t(type));
  push_value(s, v);
}

void load::load_raw_string(State* s, int32_t start, int32_t, uint32_t flags, bool load) {
  int32_t e = raw_string_end(s, start);
  if (e < 0) {
    s->token_type = T_STRING;
    syntax_error(s, start, s->token_end, T_STRING);
  }
  s->pos = e;
  const uint8_t* in = input(s);
  int32_t n = 0;
  while (in[start + n] == '%') ++n;
  if (!load) return;
  TokenText t(s, start + n + 1, e - n - 1);
  Cell v{T_NONE, 0, 0, 0};
  if (!make_string(&v, T_STRING, t.p, t.n, unit_of_flags(flags), false, false))
    syntax_error(s, start, e, T_STRING);
  push_value(s, v);
}

void load::load_file(State* s, int32_t start, int32_t end, uint32_t flags, bool load) {
  const uint8_t* in = input(s);
  bool quoted = start + 1 < s->length && in[start + 1] == '"';
  if (quoted && (end >= s->length || in[end] != '"')) syntax_error(s, start, end, T_FILE);
  TokenText t(s, start + (quoted ? 2 : 1), end);
  Cell v{T_NONE, 0, 0, 0};
  bool ok = make_string(&v, T_FILE, t.p, t.n, unit_of_flags(flags),
                        quoted && (flags & flag::CARET), !quoted && (flags & flag::PERCENT));
  if (!ok) syntax_error(s, start, end, T_FILE);
  if (load) push_value(s, v);
}

void load::load_url(State* s, int32_t start, int32_t end, uint32_t flags, bool load) {
  const uint8_t* in = input(s);
  if (in[start] == ':') syntax_error(s, start, end, T_GET_WORD);
  if (in[start] == '\'') syntax_error(s, start, end, T_LIT_WORD);
  TokenText t(s, start, end);
  Cell v{T_NONE, 0, 0, 0};
  if (!make_string(&v, T_URL, t.p, t.n, unit_of_flags(flags), false, flags & flag::PERCENT))
    syntax_error(s, start, end, T_URL);
  if (load) push_value(s, v);
}

void load::load_char(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start + 2, end);
  const uint8_t* e = t.p + t.n;
  int32_t c = -1;
  const uint8_t* p = t.p;
  if (t.n > 0) {
    uint32_t unit = 1;
    if (*p == '^') p = decode_escape(p + 1, e, &c, &unit);
    else p = read_char(p, e, &c);
  }
  if (t.n == 0 || !p || p != e || c < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    syntax_error(s, start, end + 1, T_CHAR);
  if (load) push_value(s, Cell{T_CHAR, 0, uint32_t(c), 0});
}

// ---- Words ----

uint32_t load::word_kind(State*, const uint8_t* text, int32_t n) {
  if (n <= 0) return 0;
  if (n == 2 && text[1] == '/' && (text[0] == '\'' || text[0] == ':'))
    return text[0] == '\'' ? T_LIT_WORD : T_GET_WORD;
  if (n == 2 && text[0] == '/' && text[1] == ':') return T_SET_WORD;
  bool lead_colon = text[0] == ':';
  bool trail_colon = n > 1 && text[n - 1] == ':';
  bool lead_apostrophe = text[0] == '\'';
  for (int32_t i = 1; i < n - 1; ++i)
    if (text[i] == ':') return 0;
  if (lead_colon && trail_colon) return 0;
  if (lead_apostrophe && trail_colon) return uint32_t(-int32_t(T_LIT_WORD));
  if (n == 1 && (lead_colon || lead_apostrophe)) return 0;
  if (lead_colon) return T_GET_WORD;
  if (trail_colon) return T_SET_WORD;
  if (lead_apostrophe) return T_LIT_WORD;
  return T_WORD;
}

void load::check_word(State* s, int32_t start, int32_t end, uint32_t flags, bool) {
  const uint8_t* in = input(s);
  if (flags & (flag::UTF8_2_3 | flag::UTF8_4)) {
    // Cut at the first Unicode blank inside the word.
    int32_t q = start;
    while (q < end) {
      int32_t c;
      const uint8_t* next = read_char(in + q, in + end, &c);
      if (c >= 0 && unicode_blank(c)) {
        end = q;
        s->token_end = q;
        s->pos = q;
        break;
      }
      q = int32_t(next - in);
    }
  }
  uint32_t kind = word_kind(s, in + start, end - start);
  if (kind == 0 || int32_t(kind) < 0) {
    int32_t code = kind == 0 ? int32_t(T_WORD) : -int32_t(kind);
    if (kind == 0 && in[start] == ':') code = T_GET_WORD;
    s->token_type = code;
    syntax_error(s, start, end, code);
  }
  check_utf8(s, start, end, int32_t(kind));
  if (s->forced_type <= 0) s->forced_type = int32_t(kind);
  s->token_type = int32_t(kind);
}

void load::check_issue(State* s, int32_t start, int32_t end, uint32_t, bool) {
  const uint8_t* in = input(s);
  if (end - start < 2 || in[start] != '#') syntax_error(s, start, end, T_ISSUE);
  check_utf8(s, start, end, T_ISSUE);
  s->forced_type = T_ISSUE;
}

namespace {

void push_word(State* s, uint32_t type, const uint8_t* text, int32_t n) {
  int32_t sym = symbol::intern_text(text, uint32_t(n));
  Cell w{type, 0, uint32_t(sym), context::NO_INDEX};
  if (type == T_ISSUE) {
    w.w1 = context::global;
  } else if (type != T_REFINEMENT) {
    // Loaded words belong to the global context, as every word made from text.
    word::init_cell(sym, &w);
    cell::set_type(&w, type);
  }
  push_value(s, w);
}

}  // namespace

void load::load_word(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  if (!load) return;
  if (end > s->token_end && s->token_end >= start) end = s->token_end;
  TokenText t(s, start, end);
  uint32_t type = s->forced_type > 0 ? uint32_t(s->forced_type) : word_kind(s, t.p, t.n);
  const uint8_t* p = t.p;
  int32_t n = t.n;
  if (type == T_ISSUE) {
    ++p, --n;
  } else if (!(n == 1 && (*p == ':' || *p == '\''))) {
    if (n > 1 && (*p == '\'' || *p == ':')) ++p, --n;
    if (n > 1 && p[n - 1] == ':') --n;
  }
  if (n <= 0) syntax_error(s, start, end, int32_t(type));
  push_word(s, type, p, n);
}

void load::load_refinement(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (t.n < 2 || t.p[0] != '/' || !utf8_text_q(t.p, t.p + t.n))
    syntax_error(s, start, end, T_REFINEMENT);
  if (load) push_word(s, T_REFINEMENT, t.p + 1, t.n - 1);
}

// ---- Numbers ----

void load::load_integer(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  const uint8_t* p = t.p;
  const uint8_t* e = p + t.n;
  bool negative = false;
  if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int32_t digits = 0;
  int64_t value = 0;
  bool previous_apostrophe = false;
  std::string plain;
  for (const uint8_t* q = p; q < e; ++q) {
    if (digit_q(*q)) {
      ++digits;
      if (value <= 10000000000LL) value = value * 10 + (*q - '0');
      plain.push_back(char(*q));
      previous_apostrophe = false;
    } else if (*q == '\'' && !previous_apostrophe) {
      previous_apostrophe = true;
    } else {
      syntax_error(s, start, end, T_INTEGER);
    }
  }
  if (digits == 0) syntax_error(s, start, end, T_INTEGER);
  if (!load) return;
  int64_t limit = negative ? 2147483648LL : 2147483647LL;
  if (digits > 10 || value > limit) {
    double d = dtoa::text_to_float(plain.data(), plain.data() + plain.size(), 0, nullptr);
    push_float(s, negative ? -d : d);
    return;
  }
  int32_t v = negative ? int32_t(-value) : int32_t(value);
  push_value(s, Cell{T_INTEGER, 0, uint32_t(v), 0});
}

void load::load_hex(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end - 1 >= start ? end - 1 : start);
  int32_t n = t.n;
  uint32_t value = 0;
  bool ok = n >= 2 && n <= 8;
  for (int32_t i = 0; i < n; ++i) {
    int h = hex_value(t.p[i]);
    if (h < 0) ok = false;
    else value = value * 16 + uint32_t(h);
  }
  if (!ok) {
    bool letter = n == 1 && !digit_q(t.p[0]);
    syntax_error(s, start, end, letter ? T_WORD : T_INTEGER);
  }
  if (load) push_value(s, Cell{T_INTEGER, 0, value, 0});
}

void load::load_float(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (!number::float_syntax_q(t.p, t.n)) syntax_error(s, start, end, T_FLOAT);
  if (!load) return;
  push_float(s, number::convert_float(t.p, t.n, 0));
}

void load::load_percent(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (!number::float_syntax_q(t.p, t.n)) syntax_error(s, start, end + 1, T_FLOAT);
  if (!load) return;
  push_float(s, number::convert_float(t.p, t.n, -2), T_PERCENT);
}

void load::load_special_float(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  double d = number::special_float(t.p, t.n);
  if (std::isfinite(d)) syntax_error(s, start, end, T_FLOAT);
  if (load) push_float(s, d);
}

// ---- Literals waiting for their datatype: checked now, built by the hooks ----

void load::load_tuple(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  uint8_t parts[12];
  int32_t count = 0, value = 0, digits = 0;
  bool ok = true;
  for (int32_t i = 0; i <= t.n && ok; ++i) {
    if (i == t.n || t.p[i] == '.') {
      if (digits == 0 || count == 12) ok = false;
      else parts[count++] = uint8_t(value);
      value = digits = 0;
    } else if (digit_q(t.p[i])) {
      value = value * 10 + (t.p[i] - '0');
      if (++digits > 3 || value > 255) ok = false;
    } else {
      ok = false;
    }
  }
  if (!ok || count < 3) syntax_error(s, start, end, T_TUPLE);
  pending_value(s, load, [&](Cell* out) { hook::load_tuple(out, parts, count); });
}

void load::load_pair(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  int32_t x = -1;
  for (int32_t i = 0; i < t.n; ++i)
    if (t.p[i] == 'x' || t.p[i] == 'X') { x = i; break; }
  // Each half: a sign, then digits whose value fits 32 bits.
  auto half_ok = [&](int32_t from, int32_t to) {
    bool negative = from < to && t.p[from] == '-';
    if (from < to && (t.p[from] == '+' || t.p[from] == '-')) ++from;
    if (from >= to) return false;
    int64_t v = 0;
    for (int32_t i = from; i < to; ++i) {
      if (!digit_q(t.p[i])) return false;
      v = v * 10 + (t.p[i] - '0');
      if (v > 2147483648ll) return false;
    }
    return negative || v <= 2147483647ll;
  };
  if (x < 0 || !half_ok(0, x) || !half_ok(x + 1, t.n)) syntax_error(s, start, end, T_PAIR);
  pending_value(s, load, [&](Cell* out) { hook::load_pair(out, t.p, t.n); });
}

void load::load_point(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  double coordinates[3];
  int32_t count = 0;
  int32_t from = 0;
  bool ok = true;
  for (int32_t i = 0; i <= t.n && ok; ++i) {
    if (i < t.n && t.p[i] != ',') continue;
    if (count == 3) { ok = false; break; }
    int32_t a = from, b = i;
    while (a < b && (t.p[a] == ' ' || t.p[a] == '\t')) ++a;
    while (b > a && (t.p[b - 1] == ' ' || t.p[b - 1] == '\t')) --b;
    if (a == b) { ok = false; break; }
    if (number::float_syntax_q(t.p + a, b - a)) {
      coordinates[count++] = number::convert_float(t.p + a, b - a, 0);
    } else {
      double d = number::special_float(t.p + a, b - a);
      if (std::isfinite(d)) { ok = false; break; }
      coordinates[count++] = d;
    }
    from = i + 1;
  }
  uint32_t type = count == 3 ? T_POINT3D : T_POINT2D;
  int32_t commas = 0;
  for (int32_t i = 0; i < t.n; ++i) commas += t.p[i] == ',';
  if (commas >= 2) type = T_POINT3D;
  s->forced_type = int32_t(type);
  s->token_type = int32_t(type);
  if (!ok || count < 2) syntax_error(s, start - 1, end, int32_t(type));
  pending_value(s, load, [&](Cell* out) { hook::load_point(out, coordinates, count); });
}

void load::load_time(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  double seconds = 0;
  if (!number::time_text(t.p, t.n, &seconds)) syntax_error(s, start, end, T_TIME);
  pending_value(s, load, [&](Cell* out) { hook::load_time(out, seconds); });
}

void load::load_date(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (!number::date_text_q(t.p, t.n)) syntax_error(s, start, end, T_DATE);
  pending_value(s, load, [&](Cell* out) { hook::load_date(out, t.p, t.n); });
}

void load::load_money(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (!number::money_syntax_q(t.p, t.n, 1) || !money::literal_code_known_q(t.p, t.n))
    syntax_error(s, start, end, T_MONEY);
  pending_value(s, load, [&](Cell* out) { hook::load_money(out, t.p, t.n); });
}

void load::load_tag(State* s, int32_t start, int32_t end, uint32_t flags, bool load) {
  TokenText t(s, start, end);
  if (t.n < 1 || t.p[0] != '<') syntax_error(s, start, end, T_TAG);
  Cell probe{T_NONE, 0, 0, 0};
  if (!make_string(&probe, T_TAG, t.p + 1, t.n - 1, unit_of_flags(flags), false, false))
    syntax_error(s, start, end, T_TAG);
  pending_value(s, load, [&](Cell* out) { hook::load_tag(out, t.p + 1, t.n - 1); });
}

void load::load_email(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  int32_t at = 0;
  for (int32_t i = 0; i < t.n; ++i) at += t.p[i] == '@';
  if (at != 1 || !utf8_text_q(t.p, t.p + t.n)) syntax_error(s, start, end, T_EMAIL);
  pending_value(s, load, [&](Cell* out) { hook::load_email(out, t.p, t.n); });
}

void load::load_ref(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end);
  if (t.n < 2 || t.p[0] != '@' || !utf8_text_q(t.p, t.p + t.n)) syntax_error(s, start, end, T_REF);
  pending_value(s, load, [&](Cell* out) { hook::load_ref(out, t.p + 1, t.n - 1); });
}

void load::load_binary(State* s, int32_t start, int32_t end, uint32_t, bool load) {
  TokenText t(s, start, end + 1);
  std::string bytes;
  if (!number::binary_text(t.p, t.n, &bytes)) syntax_error(s, start, end + 1, T_BINARY);
  // Line feeds inside the literal (after a ";" comment) do not put it on a new line.
  for (int32_t i = 0; i < t.n && s->lines_passed > 0; ++i) s->lines_passed -= t.p[i] == '\n';
  pending_value(s, load, [&](Cell* out) {
    hook::load_binary(out, reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()));
  });
}

}  // namespace kel::lexer

// ---- Hooks: the values built by the binary, tag, email and ref units ----

namespace kel::lexer::hook {
void load_binary(Cell* out, const uint8_t* bytes, int32_t count) {
  Cell* made = binary::push_new_from_bytes(bytes, count);
  *out = *made;
  stack::drop_cells(1);
}
// Tag, email and ref text is taken as it stands (no escapes).
void load_tag(Cell* out, const uint8_t* text, int32_t length) {
  load::make_string(out, T_TAG, text, length, 1, false, false);
}
void load_email(Cell* out, const uint8_t* text, int32_t length) {
  load::make_string(out, T_EMAIL, text, length, 1, false, false);
}
void load_ref(Cell* out, const uint8_t* text, int32_t length) {
  load::make_string(out, T_REF, text, length, 1, false, false);
}
}  // namespace kel::lexer::hook
