// Unicode codecs: the UTF-8 DFA and checked decoder, loading UTF-8 and UTF-16LE into
// strings, encoding strings through their conversion buffer, and in-place widening.
#include "runtime/unicode.h"

#include "runtime/output.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "runtime/cell_api.h"
#include "runtime/output.h"
#include "runtime/error.h"
#include "runtime/gc.h"

namespace kel::unicode {

// clang-format off
const uint8_t utf8_dfa[364] = {
  // Byte classes: 0 ASCII, 1 80-8F, 9 90-9F, 7 A0-BF, 8 C0-C1 and F5-FF, 2 C2-DF,
  // 10 E0, 3 E1-EC and EE-EF, 4 ED, 11 F0, 6 F1-F3, 5 F4.
  0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
  0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
  0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
  0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
  1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1, 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,
  7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7, 7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,
  8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2, 2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,
  10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3, 11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8,
  // Transitions: row = state (0 accept, 12 reject, 24.. waiting for continuation bytes).
  0,12,24,36,60,96,84,12,12,12,48,72, 12,12,12,12,12,12,12,12,12,12,12,12,
  12,0,12,12,12,12,12,0,12,0,12,12,   12,24,12,12,12,12,12,24,12,24,12,12,
  12,12,12,12,12,12,12,24,12,12,12,12, 12,24,12,12,12,12,12,12,12,24,12,12,
  12,12,12,12,12,12,12,36,12,36,12,12, 12,36,12,12,12,12,12,36,12,36,12,12,
  12,36,12,12,12,12,12,12,12,12,12,12,
};
// clang-format on

namespace {

[[noreturn]] void raise_invalid_char(int32_t cp) {
  Cell arg{};
  cell::set_integer(&arg, cp);
  error::raise(err::script::invalid_char, &arg);
}

// The bytes shown are those at p, at most 4 and never past the input.
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, int32_t available) {
  uint8_t shown[4];
  int32_t n = std::clamp(available, 0, 4);
  std::memcpy(shown, p, size_t(n));  // p may move at the next allocation
  Cell arg{T_BINARY, 0, 0, 0};
  gc::Root guard(&arg);
  arg.w2 = memory::series_new_bytes(uint32_t(n));
  SeriesBuffer* b = memory::node_buffer(arg.w2);
  std::memcpy(memory::head(b), shown, size_t(n));
  b->tail = b->head + uint32_t(n);
  error::raise(err::access::invalid_utf8, &arg);
}

[[noreturn]] void raise_no_memory() { error::raise(err::internal::no_memory); }

// Input that lies in the collected heap is copied out first: loading allocates.
struct StableInput {
  std::unique_ptr<uint8_t[]> copy;
  const uint8_t* take(const uint8_t* bytes, size_t n) {
    if (n == 0 || !memory::in_collected_heap_q(bytes)) return bytes;
    copy.reset(new uint8_t[n]);
    std::memcpy(copy.get(), bytes, n);
    return copy.get();
  }
};

// The characters of a string value from its (clamped) head to its tail.
struct Text {
  uint8_t* head;
  uint32_t unit;
  int32_t count;
};

Text text_of(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  int32_t h = std::clamp(int32_t(s->w1), 0, n);
  return {memory::head(b) + size_t(h) * u, u, n - h};
}

int32_t clamp_count(int32_t requested, int32_t available) {
  return (requested < 0 || requested > available) ? available : requested;
}

uint32_t checked_size(uint64_t bytes) {
  if (bytes > 0x7FFFFF00u) raise_no_memory();
  return uint32_t(bytes);
}

// Gives the node a buffer of at least bytes (a multiple of 16, so whole units of any
// width), copying the content from the head when asked. Returns the new buffer.
SeriesBuffer* grow_to(Node node, uint64_t bytes, bool copy) {
  int32_t size = int32_t(checked_size((bytes + 15) & ~uint64_t(15)));
  return copy ? memory::series_grow_copy_node(node, size) : memory::series_grow_node(node, size);
}

// Encodes n characters as UTF-8; returns the bytes written. dst has room enough.
int32_t encode_range_utf8(const uint8_t* src, uint32_t unit, int32_t n, uint8_t* dst, bool crlf) {
  uint8_t* out = dst;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = load_unit(src + size_t(i) * unit, unit);
    if (uint32_t(cp) < 0x80) {
      if (cp == '\n' && crlf) *out++ = '\r';
      *out++ = uint8_t(cp);
    } else {
      out += encode_utf8_char(cp, out);
    }
  }
  return int32_t(out - dst);
}

inline int32_t checked_core(const uint8_t* p, ptrdiff_t available, int32_t* used) {
  *used = 0;
  if (available < 1) return UTF8_INCOMPLETE;
  uint32_t lead = p[0];
  if (lead < 0x80) {
    *used = 1;
    return int32_t(lead);
  }
  if (lead < 0xC0 || lead >= 0xF8) return UTF8_MALFORMED;
  int32_t len = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (available < len) return UTF8_INCOMPLETE;
  for (int32_t i = 1; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return UTF8_MALFORMED;
  uint32_t cp;
  if (len == 2) {
    cp = ((lead - 0xC0) << 6) | (p[1] - 0x80u);
  } else if (len == 3) {
    cp = ((lead - 0xE0) << 12) | ((p[1] - 0x80u) << 6) | (p[2] - 0x80u);
    if (cp >= 0xDC00 && cp <= 0xDCFF) return UTF8_MALFORMED;
  } else {
    cp = ((lead - 0xF0) << 18) | ((p[1] - 0x80u) << 12) | ((p[2] - 0x80u) << 6) | (p[3] - 0x80u);
    if (cp > 0x10FFFF) return UTF8_MALFORMED;
  }
  *used = len;
  return int32_t(cp);
}

// Decodes into a buffer of unit U until the input ends, a character needs a wider unit
// (left in cp), or the input is cut or malformed at p.
enum class Stop { End, Widen, Incomplete, Malformed };

template <uint32_t U>
Stop decode_run(const uint8_t*& p, const uint8_t* end, uint8_t* out, size_t& w, bool cr, int32_t& cp) {
  constexpr uint32_t limit = U == 1 ? 0xFF : U == 2 ? 0xFFFF : 0xFFFFFFFF;
  const uint8_t* q = p;
  size_t n = w;
  Stop stop = Stop::End;
  while (q < end) {
    uint32_t c = *q;
    if (c < 0x80 && !(cr && c == '\r')) {
      store_unit(out + n * U, U, int32_t(c));
      ++n;
      ++q;
      continue;
    }
    int32_t used;
    int32_t v = checked_core(q, end - q, &used);
    if (v < 0) {
      stop = v == UTF8_INCOMPLETE ? Stop::Incomplete : Stop::Malformed;
      break;
    }
    q += used;
    if (cr && v == '\r') {
      v = '\n';
      if (q < end && *q == '\n') ++q;
    }
    if (uint32_t(v) > limit) {
      cp = v;
      stop = Stop::Widen;
      break;
    }
    store_unit(out + n * U, U, v);
    ++n;
  }
  p = q;
  w = n;
  return stop;
}
}  // namespace

// ---- Decoding ----

const uint8_t* read_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
  if (p >= end) {
    *cp = -1;
    return p;
  }
  uint32_t byte = *p++;
  uint32_t cls = utf8_dfa[byte];
  uint32_t code = (0xFFu >> cls) & byte;
  uint32_t state = utf8_dfa[256 + cls];
  while (state != DFA_ACCEPT) {
    if (state == DFA_REJECT || p >= end) {
      *cp = -1;
      return p;
    }
    byte = *p++;
    code = (byte & 0x3Fu) | (code << 6);
    state = utf8_dfa[256 + state + utf8_dfa[byte]];
  }
  *cp = int32_t(code);
  return p;
}

int32_t decode_utf8_checked(const uint8_t* p, int32_t available, int32_t* used) {
  return checked_core(p, available, used);
}

int32_t read_utf8_char_checked(const uint8_t* p, int32_t* count) {
  int32_t available = *count;
  int32_t used;
  int32_t cp = decode_utf8_checked(p, available, &used);
  if (cp == UTF8_MALFORMED) raise_invalid_utf8(p, available);
  *count = used;
  return cp;
}

int32_t utf8_char_count(const uint8_t* start, const uint8_t* end) {
  int32_t n = 0;
  int32_t cp;
  while (start < end) {
    if (*start < 0x80) {
      ++start;
    } else {
      start = read_utf8_char(start, end, &cp);
    }
    ++n;
  }
  return n;
}

const uint8_t* utf8_advance(const uint8_t* start, const uint8_t* end, int32_t n) {
  int32_t cp;
  while (n > 0 && start < end) {
    start = read_utf8_char(start, end, &cp);
    --n;
  }
  return start;
}

int32_t utf8_lead_length(uint8_t byte) {
  if ((byte & 0xF0) == 0xF0) return 4;
  if ((byte & 0xE0) == 0xE0) return 3;
  if ((byte & 0xC0) == 0xC0) return 2;
  return 0;
}

Node utf8_to_string(const uint8_t* bytes, int32_t length, Node target, int32_t* unread, bool cr) {
  if (length < 0) length = 0;
  if (unread) *unread = 0;
  StableInput input;
  bytes = input.take(bytes, size_t(length));
  uint32_t want = uint32_t(std::max(length, 1));

  Node node = target;
  SeriesBuffer* b;
  if (node) {
    b = memory::node_buffer(node);
    uint64_t need = uint64_t(b->head) + uint64_t(want) * memory::unit(b);
    if (need > uint64_t(b->capacity)) {
      b = grow_to(node, need, false);
      node = b->node;  // a collection may have moved the node itself
    }
  } else {
    node = memory::series_new(want, 1, 0);
    b = memory::node_buffer(node);
  }
  gc::Root keep(&node);

  const uint8_t* p = bytes;
  const uint8_t* end = bytes + length;
  if (length > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;

  uint32_t u = memory::unit(b);
  size_t w = 0;  // characters written
  for (;;) {
    int32_t cp = 0;
    uint8_t* out = memory::head(b);
    Stop stop = u == 1   ? decode_run<1>(p, end, out, w, cr, cp)
                : u == 2 ? decode_run<2>(p, end, out, w, cr, cp)
                         : decode_run<4>(p, end, out, w, cr, cp);
    if (stop == Stop::End) break;
    if (stop == Stop::Incomplete) {
      if (unread) *unread = int32_t(end - p);
      break;
    }
    b->tail = b->head + uint32_t(w * u);
    if (stop == Stop::Malformed) raise_invalid_utf8(p, int32_t(end - p));
    // Widen once for this character and room for every byte still to come.
    uint32_t need_unit = unit_for(cp);
    uint64_t room = (uint64_t(w) + 1 + uint64_t(end - p)) * need_unit;
    b = widen_to(b, need_unit, checked_size(room));
    u = memory::unit(b);
    store_unit(memory::head(b) + w * u, u, cp);
    ++w;
  }
  b->tail = b->head + uint32_t(w * u);
  return node;
}

Node utf8_into_string(const uint8_t* bytes, int32_t length, Cell* string, int32_t* unread) {
  return utf8_to_string(bytes, length, string->w2, unread, false);
}

Node utf8_to_new_string(const uint8_t* bytes, int32_t length) {
  return utf8_to_string(bytes, length, 0, nullptr, false);
}

uint32_t utf16_unit_size(const uint8_t* bytes, int32_t n) {
  uint32_t size = 1;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t high = bytes[2 * i + 1];
    if (high >= 0xD8 && high <= 0xDF) return 4;
    if (high) size = 2;
  }
  return size;
}

Node utf16le_to_string(const uint8_t* bytes, int32_t n, Cell* target, bool cr) {
  if (n < 0) n = 0;
  if (!bytes) {
    if (target && target->w3) bytes = memory::data(memory::node_buffer(target->w3));
    else n = 0;
  }
  StableInput input;
  bytes = input.take(bytes, size_t(n) * 2);
  uint32_t u = utf16_unit_size(bytes, n);
  uint32_t want = uint32_t(std::max(n, 1));

  Node node = (target && target->w2) ? target->w2 : 0;
  SeriesBuffer* b;
  if (node) {
    b = memory::node_buffer(node);
    uint64_t need = uint64_t(b->head) + uint64_t(want) * u;
    if (need > uint64_t(b->capacity)) {
      b = grow_to(node, need, false);
      node = b->node;
    }
  } else {
    node = memory::series_new(want, u, 0);
    b = memory::node_buffer(node);
  }
  b->flags = (b->flags & ~sflag::UNIT_MASK) | u | sflag::UTF16_LOADER;
  uint8_t* out = memory::head(b);
  size_t w = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t unit16 = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (cr && unit16 == 0x000D) continue;
    if (u == 4 && unit16 >= 0xD800 && unit16 <= 0xDBFF) {
      int32_t low = i + 1 < n ? bytes[2 * i + 2] | (bytes[2 * i + 3] << 8) : -1;
      if (low < 0xDC00 || low > 0xDFFF) {
        b->tail = b->head + uint32_t(w * u);
        raise_invalid_char(unit16);  // the unpaired high surrogate
      }
      unit16 = (((unit16 & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
      ++i;
    }
    store_unit(out + w * u, u, unit16);
    ++w;
  }
  b->tail = b->head + uint32_t(w * u);
  return node;
}

// ---- Encoding ----

int32_t utf8_length_of(int32_t cp) {
  uint32_t c = uint32_t(cp);
  if (c <= 0x7F) return 1;
  if (c <= 0x7FF) return 2;
  if (c <= 0xFFFF) return 3;
  if (c <= 0x10FFFF) return 4;
  raise_invalid_char(cp);
}

int32_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  int32_t total = 0;
  for (const uint8_t* p = start; p < end; p += unit) total += utf8_length_of(load_unit(p, unit));
  return total;
}

int32_t encode_utf8_char(int32_t cp, uint8_t* dst) {
  int32_t n = encode_utf8_raw(uint32_t(cp), dst);
  if (n == 0) raise_invalid_char(cp);
  return n;
}

int32_t encode_utf8_char_limited(int32_t cp, uint8_t* dst, int32_t room) {
  if (room < 1) return 0;
  uint8_t seq[4];
  int32_t len = encode_utf8_char(cp, seq);
  int32_t n = std::min(room, len);
  std::memcpy(dst, seq, size_t(n));
  return n;
}

int32_t encode_utf16_char(int32_t cp, uint16_t* dst) {
  uint32_t c = uint32_t(cp);
  if (c < 0x10000) {
    dst[0] = uint16_t(c);
    return 1;
  }
  if (c <= 0x10FFFF) {
    dst[0] = uint16_t(0xD800 | ((c - 0x10000) >> 10));
    dst[1] = uint16_t(0xDC00 | (c & 0x3FF));
    return 2;
  }
  return 0;
}

int32_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  int32_t extra = 0;
  for (const uint8_t* p = start; p < end; p += unit) {
    int32_t cp = load_unit(p, unit);
    if (cp == '\n' || uint32_t(cp) >= 0x10000) extra += 2;
  }
  return extra;
}

uint8_t* conversion_buffer(Cell* string, uint32_t bytes) {
  Node n = string->w3;
  if (n == 0) {
    n = memory::series_new_bytes(bytes);
    string->w3 = n;
  } else if (uint32_t(memory::node_buffer(n)->capacity) < bytes) {
    grow_to(n, bytes, false);
    n = string->w3;  // the collector rewrites the cell when it moves the node
  }
  SeriesBuffer* b = memory::node_buffer(n);
  b->head = b->tail = 0;
  return memory::data(b);
}

uint8_t* string_to_utf8_buffer(Cell* string, int32_t* count, bool crlf) {
  Text t = text_of(string);
  int32_t n = clamp_count(*count, t.count);
  uint64_t size = t.unit == 4 ? (uint64_t(n) + 1) * 4 : (uint64_t(n) + 1) * (t.unit + 1);
  uint8_t* out = conversion_buffer(string, checked_size(size));
  t = text_of(string);  // the buffer may have moved
  int32_t written = encode_range_utf8(t.head, t.unit, n, out, crlf);
  out[written] = 0;
  *count = written;
  return out;
}

uint8_t* string_as_utf8(Cell* string, int32_t* count) { return string_to_utf8_buffer(string, count, false); }

uint8_t* string_as_utf8_crlf(Cell* string, int32_t* count, bool crlf) {
  return string_to_utf8_buffer(string, count, crlf);
}

int32_t encode_string_utf8(const Cell* string, uint8_t* dst, int32_t max_chars, bool nul) {
  Text t = text_of(string);
  int32_t n = clamp_count(max_chars, t.count);
  int32_t written = encode_range_utf8(t.head, t.unit, n, dst, false);
  if (nul) dst[written] = 0;
  return written;
}

int32_t encode_string_utf8_bounded(const Cell* string, uint8_t* dst, int32_t room,
                                   int32_t max_chars, bool nul) {
  Text t = text_of(string);
  int32_t n = max_chars <= 0 ? t.count : std::min(max_chars, t.count);
  int32_t limit = room - (nul ? 1 : 0);  // the NUL keeps its place
  if (limit < 0) return 0;
  int32_t written = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = load_unit(t.head + size_t(i) * t.unit, t.unit);
    int32_t len = utf8_length_of(cp);
    if (written + len > limit) break;  // whole characters only
    written += encode_utf8_char(cp, dst + written);
  }
  if (nul) dst[written] = 0;
  return written;
}

uint16_t* string_as_utf16_buffer(Cell* string, int32_t* count, bool crlf) {
  Text t = text_of(string);
  int32_t n = clamp_count(*count, t.count);
  uint64_t size = 2 * uint64_t(n) + 2 + uint64_t(utf16_extra_bytes(t.head, t.head + size_t(n) * t.unit, t.unit));
  auto* out = reinterpret_cast<uint16_t*>(conversion_buffer(string, checked_size(size)));
  t = text_of(string);
  int32_t w = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = load_unit(t.head + size_t(i) * t.unit, t.unit);
    if (cp == '\n' && crlf) out[w++] = '\r';
    w += encode_utf16_char(cp, out + w);
  }
  out[w] = 0;
  *count = w;
  return out;
}

uint16_t* string_as_utf16(Cell* string) {
  int32_t count = -1;
  return string_as_utf16_buffer(string, &count, true);
}

// ---- Widening ----

SeriesBuffer* widen_to(SeriesBuffer* b, uint32_t to, uint32_t min_bytes) {
  uint32_t from = memory::unit(b);
  size_t n = memory::units(b);
  uint64_t need = std::max<uint64_t>(uint64_t(n) * std::max(to, from), min_bytes);
  if (uint64_t(b->head) + need > uint64_t(b->capacity)) {
    b = grow_to(b->node, need, true);  // the copy starts at the head, which becomes 0
  }
  if (to <= from) return b;  // never narrows
  uint8_t* h = memory::head(b);
  // From the last character down: the wider copy of character i lands at or above it.
  if (from == 1 && to == 2) {
    for (size_t i = n; i-- > 0;) store_unit(h + 2 * i, 2, h[i]);
  } else if (from == 1) {
    for (size_t i = n; i-- > 0;) store_unit(h + 4 * i, 4, h[i]);
  } else {
    for (size_t i = n; i-- > 0;) store_unit(h + 4 * i, 4, load_unit(h + 2 * i, 2));
  }
  b->tail = b->head + uint32_t(n * to);
  b->flags = (b->flags & ~sflag::UNIT_MASK) | to;
  return b;
}

SeriesBuffer* widen_1_to_2(SeriesBuffer* b) { return widen_to(b, 2, checked_size(2 * uint64_t(memory::used_bytes(b)) + 2)); }
SeriesBuffer* widen_1_to_4(SeriesBuffer* b) { return widen_to(b, 4, checked_size(4 * uint64_t(memory::used_bytes(b)) + 4)); }
SeriesBuffer* widen_2_to_4(SeriesBuffer* b) { return widen_to(b, 4, checked_size(2 * uint64_t(memory::used_bytes(b)) + 4)); }

std::string valid_utf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    uint8_t c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = len > 0 && i + len <= n;
    uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; good && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) good = false;
      else cp = cp << 6 | (p[i + k] & 0x3F);
    }
    if (good) {
      static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) good = false;
    }
    if (good) {
      out.append(s, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
      while (i < n && (p[i] & 0xC0) == 0x80 && len > 1) ++i;  // the rest of a broken sequence
    }
  }
  return out;
}

}  // namespace kel::unicode
