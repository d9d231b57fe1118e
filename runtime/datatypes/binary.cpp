// binary! byte API and the bytes of a value: reading, appending, inserting, making and
// trimming byte series, comparing bytes and the parse tests at the head.
#include "runtime/datatypes/binary.h"


#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::binary {

namespace {

inline SeriesBuffer* buf(const Cell* b) { return memory::node_buffer(b->w2); }

constexpr int64_t MAX_BYTES = 0x7FFFFF00;

// Head index clamped to the tail.
int32_t clamped_head(const Cell* b) {
  uint32_t used = memory::used_bytes(buf(b));
  return int32_t(b->w1 > used ? used : b->w1);
}

// Source bytes that may lie in collected memory are copied out before anything allocates.
struct SafeBytes {
  std::vector<uint8_t> copy;
  const uint8_t* p;
  SafeBytes(const uint8_t* source, int32_t n) : p(source) {
    if (n > 0 && memory::in_collected_heap_q(source)) {
      copy.assign(source, source + n);
      p = copy.data();
    }
  }
};

void add_utf8(std::string* out, int32_t cp, int32_t limit) {
  uint8_t tmp[4];
  int32_t n = unicode::encode_utf8_char(cp, tmp);
  if (limit >= 0 && n > limit) n = limit;
  if (out) out->append(reinterpret_cast<const char*>(tmp), size_t(n));
}

// The UTF-8 bytes of a string from its head: at most part characters, or with part_bytes
// the whole characters that fit in part bytes.
int32_t string_bytes(std::string* out, const Cell* s, int32_t part, bool part_bytes) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  int32_t count = int32_t(memory::used_bytes(b) / u);
  int32_t h = std::min(int32_t(s->w1), count);
  const uint8_t* p = memory::head(b) + size_t(h) * u;
  int32_t n = count - h;
  if (part >= 0 && !part_bytes && part < n) n = part;
  int32_t total = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = unicode::load_unit(p + size_t(i) * u, u);
    int32_t len = unicode::utf8_length_of(cp);
    if (part >= 0 && part_bytes && total + len > part) break;
    add_utf8(out, cp, -1);
    total += len;
  }
  return total;
}

[[noreturn]] void bad_to(const Cell* value) {
  Cell dt{T_DATATYPE, T_BINARY, 0, 0};
  error::raise(err::script::bad_to_arg, &dt, value);
}

}  // namespace

// ---- Byte API ----

int32_t byte_count(const Cell* b) {
  uint32_t used = memory::used_bytes(buf(b));
  return b->w1 >= used ? 0 : int32_t(used - b->w1);
}

uint8_t* head_byte_pointer(const Cell* b) { return memory::head(buf(b)) + b->w1; }

uint8_t byte_at_index(const Cell* b, int32_t index) { return memory::head(buf(b))[index]; }

int32_t append_bytes(Cell* b, const uint8_t* source, int32_t n) {
  SafeBytes src(source, n);
  SeriesBuffer* sb = buf(b);
  int32_t at = int32_t(memory::used_bytes(sb));
  if (n <= 0) return at;
  int64_t needed = int64_t(sb->tail) + n;
  if (needed > sb->capacity) {
    if (int64_t(at) + n > MAX_BYTES) error::raise(err::internal::no_memory);
    int64_t size = std::min(std::max(int64_t(at) + n, int64_t(sb->capacity) * 2), MAX_BYTES);
    gc::Root keep(b);
    sb = memory::series_grow_copy_node(b->w2, int32_t(size));
  }
  std::memcpy(memory::tail(sb), src.p, size_t(n));
  sb->tail += uint32_t(n);
  return at;
}

int32_t insert_bytes(Cell* b, int32_t offset, const uint8_t* source, int32_t n) {
  SafeBytes src(source, n);
  SeriesBuffer* sb = buf(b);
  int32_t used = int32_t(memory::used_bytes(sb));
  int32_t at = std::clamp(clamped_head(b) + std::max(offset, 0), 0, used);
  if (n <= 0) return at;
  if (int64_t(used) + n > MAX_BYTES) error::raise(err::internal::no_memory);
  if (int64_t(sb->head) + used + n > sb->capacity) {
    int64_t size = std::min(int64_t(n) + int64_t(sb->capacity) * 2, MAX_BYTES);
    gc::Root keep(b);
    sb = memory::series_grow_copy_node(b->w2, int32_t(size));
  }
  uint8_t* h = memory::head(sb);
  std::memmove(h + at + n, h + at, size_t(used - at));
  std::memcpy(h + at, src.p, size_t(n));
  sb->tail += uint32_t(n);
  return at;
}

void append_int32_be(int32_t value, Cell* b) {
  SeriesBuffer* sb = buf(b);
  if (int64_t(sb->tail) + 4 > sb->capacity) rt::fatal_error(98, 0);
  uint32_t v = uint32_t(value);
  uint8_t* t = memory::tail(sb);
  t[0] = uint8_t(v >> 24);
  t[1] = uint8_t(v >> 16);
  t[2] = uint8_t(v >> 8);
  t[3] = uint8_t(v);
  sb->tail += 4;
}

Cell* init_cell(Cell* cell, int32_t n) {
  if (n < 0) error::raise(err::internal::no_memory);
  Node node = memory::series_new_bytes(uint32_t(n == 0 ? 16 : n));
  *cell = Cell{T_BINARY, 0, node, 0};
  return cell;
}

Cell* new_from_bytes(const uint8_t* source, int32_t n, Cell* block) {
  SafeBytes src(source, n);
  Cell v{T_NONE, 0, 0, 0};
  gc::Root keep(&v);
  init_cell(&v, n);
  SeriesBuffer* sb = buf(&v);
  if (n > 0) std::memcpy(memory::data(sb), src.p, size_t(n));
  sb->tail = sb->head + uint32_t(std::max(n, 0));
  Cell* out;
  if (block) {
    out = runtime::block_append_cell(block);
  } else {
    out = stack::reserve_cell();
  }
  *out = v;
  return out;
}

Cell* push_new_from_bytes(const uint8_t* source, int32_t n) {
  return new_from_bytes(source, n, nullptr);
}

void trim_zero_bytes(Cell* b, bool head, bool tail) {
  SeriesBuffer* sb = buf(b);
  int32_t h = clamped_head(b);
  uint8_t* p = memory::head(sb) + h;
  int32_t n = int32_t(memory::used_bytes(sb)) - h;
  int32_t from = 0, to = n;
  if (head)
    while (from < to && p[from] == 0) ++from;
  if (tail)
    while (to > from && p[to - 1] == 0) --to;
  if (from > 0) std::memmove(p, p + from, size_t(to - from));
  sb->tail = sb->head + uint32_t(h + to - from);
}

// ---- Bytes of a value ----

int32_t value_to_bytes(std::string* out, Cell* value, int32_t part, bool part_bytes, int mode) {
  bool writing = mode == MODE_WRITE || (mode == MODE_CHANGE && out);
  uint32_t t = cell::type(value);
  switch (t) {
    case T_CHAR: {
      uint8_t tmp[4];
      int32_t n = unicode::encode_utf8_char(cell::get_int(value), tmp);
      if (part >= 0 && n > part) n = part;
      if (out) out->append(reinterpret_cast<const char*>(tmp), size_t(n));
      return n;
    }
    case T_INTEGER: {
      int32_t v = cell::get_int(value);
      if (writing && (v < -128 || v > 255)) error::raise(err::script::invalid_arg, value);
      if (part == 0) return 0;
      if (out) out->push_back(char(uint8_t(v)));
      return 1;
    }
    case T_BINARY: {
      int32_t n = byte_count(value);
      if (part >= 0 && n > part) n = part;
      if (out && n > 0) out->append(reinterpret_cast<const char*>(head_byte_pointer(value)), size_t(n));
      return n;
    }
    case T_TUPLE: {
      uint8_t tb[12];
      tuple::bytes_of(value, tb);
      int32_t n = tuple::length_of(value);
      if (part >= 0 && n > part) n = part;
      if (out && n > 0) out->append(reinterpret_cast<const char*>(tb), size_t(n));
      return n;
    }
    case T_BLOCK:
    case T_PAREN:
    case T_HASH: {
      Cell v = *value;
      gc::Root keep(&v);
      // A block that holds itself has no bytes; the guard also bounds the nesting depth.
      if (cycle::visiting_q(v.w2)) {
        cycle::clear();
        error::raise(err::internal::no_cycle);
      }
      cycle::Scope guard(v.w2);
      int32_t total = 0;
      int32_t items = 0;
      for (uint32_t i = v.w1;; ++i) {
        SeriesBuffer* b = buf(&v);  // re-read: forming an item allocates
        if (i >= memory::units(b)) break;
        if (!part_bytes && part >= 0 && items >= part) break;
        int32_t allowed = -1;
        if (part_bytes && part >= 0) {
          allowed = part - total;
          if (allowed <= 0) break;
        }
        Cell item = memory::head_cells(b)[i];
        gc::Root keep_item(&item);
        int64_t sum = int64_t(total) + value_to_bytes(out, &item, allowed, part_bytes, mode);
        if (sum > MAX_BYTES) error::raise(err::internal::no_memory);
        total = int32_t(sum);
        ++items;
      }
      return total;
    }
    default:
      if (string::any_string_q(t)) return string_bytes(out, value, part, part_bytes);
      if (mode != MODE_CHANGE) bad_to(value);
      {
        // change takes any value as the bytes of its formed text.
        Cell v = *value;
        gc::Root keep(&v);
        Cell text;
        string::init_cell(&text, 16);
        gc::Root keep_text(&text);
        actions::direct_form(&v, &text, nullptr, 0x7FFFFFFF);
        return string_bytes(out, &text, part, part_bytes);
      }
  }
}

// ---- Comparison and parse tests ----

namespace {

bool byte_like_q(uint32_t t) {
  return t == T_BINARY || t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG ||
         t == T_EMAIL || t == T_REF;
}

bool equality_op_q(int32_t op) { return op == 0 || op == 1 || op == 2 || op == 12; }

// Element i of a byte-like value from its head: a byte, or a codepoint of a string.
struct Elements {
  const uint8_t* p;
  uint32_t unit;  // 0: bytes
  int32_t count;
  explicit Elements(const Cell* v) {
    SeriesBuffer* b = buf(v);
    if (cell::type(v) == T_BINARY) {
      unit = 0;
      int32_t h = clamped_head(v);
      p = memory::head(b) + h;
      count = int32_t(memory::used_bytes(b)) - h;
    } else {
      unit = memory::unit(b);
      int32_t n = int32_t(memory::used_bytes(b) / unit);
      int32_t h = std::min(int32_t(v->w1), n);
      p = memory::head(b) + size_t(h) * unit;
      count = n - h;
    }
  }
  int32_t at(int32_t i) const { return unit == 0 ? p[i] : unicode::load_unit(p + size_t(i) * unit, unit); }
};

}  // namespace

int32_t compare_bytes(const Cell* b, const Cell* other, int32_t op, bool match) {
  if (!byte_like_q(cell::type(other))) return -2;
  if (op == 9) return (b->w2 == other->w2 && b->w1 == other->w1) ? 0 : -1;
  if (b->w2 == other->w2 && b->w1 == other->w1 && equality_op_q(op) &&
      cell::type(other) == T_BINARY)
    return 0;
  Elements x(b), y(other);
  if (match) {
    if (y.count == 0) return (op == 0 || op == 2 || op == 12) ? 0 : 1;
    if (y.count > x.count) return 1;
    for (int32_t i = 0; i < y.count; ++i)
      if (x.at(i) != y.at(i)) return x.at(i) < y.at(i) ? -1 : 1;
    return 0;
  }
  if (x.count != y.count && equality_op_q(op)) return 1;
  int32_t len = std::min(x.count, y.count);
  for (int32_t i = 0; i < len; ++i)
    if (x.at(i) != y.at(i)) return x.at(i) < y.at(i) ? -1 : 1;
  return x.count < y.count ? -1 : x.count > y.count ? 1 : 0;
}

bool match_at_head_q(const Cell* b, const Cell* pattern, int32_t op) {
  uint32_t t = cell::type(pattern);
  if (t == T_CHAR) return byte_count(b) > 0 && *head_byte_pointer(b) == uint32_t(cell::get_int(pattern));
  if (!byte_like_q(t)) return false;
  return compare_bytes(b, pattern, op, true) == 0;
}

bool head_byte_in_bitset_q(const Cell* b, const Cell* bits) {
  if (byte_count(b) < 1) return false;
  uint8_t v = *head_byte_pointer(b);
  if (v / 8 >= bitset::stored_bytes(bits)) return bitset::complemented_q(bits);
  return (bitset::bytes_start(bits)[v / 8] & (0x80 >> (v % 8))) != 0;
}

void poke_byte(uint8_t* address, const Cell* value) {
  uint32_t t = cell::type(value);
  if (t != T_INTEGER && t != T_CHAR) error::raise(err::script::invalid_arg, value);
  *address = uint8_t(value->w2);
}

}  // namespace kel::binary
