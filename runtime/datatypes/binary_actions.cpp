// binary! actions: to, form and mold, compare, append/insert and change of values as bytes,
// the bitwise operations, complement, trim, and the datatype's registration.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"

namespace kel::binary {

namespace {

inline SeriesBuffer* buf(const Cell* b) { return memory::node_buffer(b->w2); }
inline Cell* frame_cell(int i) { return stack::state().base + i; }

constexpr int64_t MAX_BYTES = 0x7FFFFF00;

int32_t clamp_head(Cell* b) {
  uint32_t used = memory::used_bytes(buf(b));
  if (b->w1 > used) b->w1 = used;
  return int32_t(b->w1);
}

// Room for extra bytes past the tail; the buffer grows at least twofold so runs of
// appends stay linear. Returns the buffer.
SeriesBuffer* reserve(Cell* s, int64_t extra) {
  SeriesBuffer* b = buf(s);
  int64_t used = memory::used_bytes(b);
  if (int64_t(b->tail) + extra <= b->capacity) return b;
  if (used + extra > MAX_BYTES) error::raise(err::internal::no_memory);
  int64_t size = std::min(std::max(used + extra, int64_t(b->capacity) * 2), MAX_BYTES);
  return memory::series_grow_copy_node(s->w2, int32_t(size));
}

Cell new_binary(const std::string& bytes) {
  Cell r{T_NONE, 0, 0, 0};
  init_cell(&r, int32_t(bytes.size()));
  SeriesBuffer* b = buf(&r);
  if (!bytes.empty()) std::memcpy(memory::head(b), bytes.data(), bytes.size());
  b->tail = b->head + uint32_t(bytes.size());
  return r;
}

// Repeats the first s bytes at p until total bytes are filled.
void repeat_bytes(uint8_t* p, int64_t s, int64_t total) {
  for (int64_t filled = s; filled < total;) {
    int64_t n = std::min(filled, total - filled);
    std::memcpy(p + filled, p, size_t(n));
    filled += n;
  }
}

}  // namespace

// ---- to ----

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  Cell s = *spec;
  gc::Root keep(&s);
  uint32_t t = cell::type(&s);
  Cell r{T_NONE, 0, 0, 0};
  gc::Root keep_r(&r);
  std::string bytes;
  switch (t) {
    case T_BLOCK:
    case T_PAREN:
    case T_HASH:
      init_cell(&r, 16);
      append(&r, &s, -1, false, 1, true);
      break;
    case T_CHAR:
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF:
      value_to_bytes(&bytes, &s, -1, false, MODE_WRITE);
      r = new_binary(bytes);
      break;
    case T_INTEGER: {
      uint32_t v = s.w2;
      for (int i = 3; i >= 0; --i) bytes.push_back(char(uint8_t(v >> (8 * i))));
      r = new_binary(bytes);
      break;
    }
    case T_FLOAT:
    case T_PERCENT: {
      uint64_t v;
      double d = cell::get_double(&s);
      std::memcpy(&v, &d, 8);
      for (int i = 7; i >= 0; --i) bytes.push_back(char(uint8_t(v >> (8 * i))));
      r = new_binary(bytes);
      break;
    }
    case T_ISSUE: {
      // The issue's text without "#", read as base 16.
      Cell text;
      string::init_cell(&text, 16);
      gc::Root keep_text(&text);
      actions::direct_form(&s, &text, nullptr, 0x7FFFFFFF);
      SeriesBuffer* b = buf(&text);
      uint32_t u = memory::unit(b);
      if (!from_base_text(16, memory::head(b), memory::used_bytes(b) / u, u, &bytes))
        error::raise(err::script::invalid_data, &s);
      r = new_binary(bytes);
      break;
    }
    case T_BITSET: {
      int32_t n = bitset::stored_bytes(&s);
      bytes.assign(reinterpret_cast<const char*>(bitset::bytes_start(&s)), size_t(n));
      r = new_binary(bytes);
      break;
    }
    case T_BINARY: {
      int32_t n = byte_count(&s);
      bytes.assign(reinterpret_cast<const char*>(head_byte_pointer(&s)), size_t(n));
      r = new_binary(bytes);
      break;
    }
    case T_IMAGE:  // the argb plane
      r = *image::pixels_to_binary(&s, image::PLANE_ARGB);
      stack::drop_cells(1);
      break;
    case T_TUPLE: {
      uint8_t tb[12];
      tuple::bytes_of(&s, tb);
      bytes.assign(reinterpret_cast<const char*>(tb), size_t(tuple::length_of(&s)));
      r = new_binary(bytes);
      break;
    }
    default: {
      Cell dt{T_DATATYPE, T_BINARY, 0, 0};
      error::raise(err::script::bad_to_arg, &dt, &s);
    }
  }
  r.w1 = 0;
  *proto = r;
  return proto;
}

// ---- form and mold ----

int32_t mold_bytes(const Cell* value, Cell* out, bool only, bool flat, bool part,
                   int32_t budget, int32_t indent) {
  Cell v = *value;
  gc::Root keep(&v);
  int32_t n = byte_count(&v);
  std::vector<uint8_t> bytes(head_byte_pointer(&v), head_byte_pointer(&v) + n);
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  auto line = [&](int32_t level) {
    text.push_back('\n');
    text.append(size_t(std::max(level, 0)) * 4, ' ');
  };
  auto flush = [&] {
    string::add_c_bytes(out, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    text.clear();
  };
  if (!only) {
    text += "#{";
    budget -= 2;
  }
  ++indent;
  if (n > 30 && !flat) line(indent);
  for (int32_t i = 0; i < n; ++i) {
    text.push_back(digits[bytes[size_t(i)] >> 4]);
    text.push_back(digits[bytes[size_t(i)] & 15]);
    budget -= 2;
    if ((i + 1) % 32 == 0 && !flat) {
      line(indent);
      budget -= 1;
    }
    if (part && budget <= 0) {
      flush();
      return budget;
    }
  }
  --indent;
  if (n > 30 && n % 32 != 0 && !flat) {
    line(indent);
    budget -= 1;
  }
  if (!only) {
    text.push_back('}');
    budget -= 1;
  }
  flush();
  return budget;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
  return mold_bytes(value, out, false, false, false, budget, 0);
}

int32_t mold(Cell* value, Cell* out, bool only, bool /*all*/, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  return mold_bytes(value, out, only, flat, part != nullptr, budget, indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_BINARY) return -2;
  return compare_bytes(a, b, op, false);
}

// ---- append, insert, change ----

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q) {
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  int32_t h = clamp_head(&s);
  int32_t count = int32_t(memory::used_bytes(buf(&s)));
  int32_t at = (append_q || h >= count) ? count : h;
  // Every check (types, integer range, size) comes before the owner hears of the change.
  std::string bytes;
  value_to_bytes(&bytes, &v, part, only, MODE_WRITE);
  int32_t size = int32_t(bytes.size());
  int64_t total = int64_t(size) * std::max(dup, 1);
  if (total > MAX_BYTES) error::raise(err::internal::no_memory);
  if (size > 0) {
    int32_t noticed = at;
    bool owned = owner::notify_change(&s, "append", &v, at, int32_t(total)) != 0;
    if (owned) {
      // The series and the value as the handler left them.
      h = clamp_head(&s);
      count = int32_t(memory::used_bytes(buf(&s)));
      at = (append_q || h >= count) ? count : h;
      bytes.clear();
      value_to_bytes(&bytes, &v, part, only, MODE_WRITE);
      size = int32_t(bytes.size());
      total = int64_t(size) * std::max(dup, 1);
      if (total > MAX_BYTES) error::raise(err::internal::no_memory);
    }
    reserve(&s, total);
    SeriesBuffer* b = buf(&s);
    uint8_t* p = memory::head(b);
    count = int32_t(memory::used_bytes(b));
    std::memmove(p + at + total, p + at, size_t(count - at));
    std::memcpy(p + at, bytes.data(), size_t(size));
    repeat_bytes(p + at, size, total);
    b->tail += uint32_t(total);
    if (owned) owner::notify_change(&s, "appended", &v, noticed, int32_t(total));
  }
  s.w1 = append_q ? 0 : uint32_t(at + total);
  *series = s;
  return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  int32_t h = clamp_head(&s);
  int32_t remaining = int32_t(memory::used_bytes(buf(&s))) - h;
  // The value's bytes are taken before anything moves: a value on this very buffer that
  // starts inside the replaced range would otherwise be read after the tail moved.
  std::string bytes;
  value_to_bytes(&bytes, &v, -1, only, MODE_CHANGE);
  int32_t size = int32_t(bytes.size());
  int64_t total = int64_t(size) * std::max(dup, 1);
  if (total > MAX_BYTES) error::raise(err::internal::no_memory);
  int32_t replaced = int32_t(part >= 0 ? std::min(part, remaining) : std::min<int64_t>(total, remaining));
  bool owned = owner::notify_change(&s, "change", &v, h, replaced) != 0;
  int32_t noticed = h, noticed_replaced = replaced;
  if (owned) {
    // The series and the value as the handler left them: everything is taken again.
    h = clamp_head(&s);
    remaining = int32_t(memory::used_bytes(buf(&s))) - h;
    bytes.clear();
    value_to_bytes(&bytes, &v, -1, only, MODE_CHANGE);
    size = int32_t(bytes.size());
    total = int64_t(size) * std::max(dup, 1);
    if (total > MAX_BYTES) error::raise(err::internal::no_memory);
    replaced = int32_t(part >= 0 ? std::min(part, remaining) : std::min<int64_t>(total, remaining));
  }
  if (total > replaced) reserve(&s, total - replaced);
  SeriesBuffer* b = buf(&s);
  uint8_t* p = memory::head(b) + h;
  if (total != replaced)
    std::memmove(p + total, p + replaced, size_t(remaining - replaced));
  if (size > 0) {
    std::memcpy(p, bytes.data(), size_t(size));
    repeat_bytes(p, size, total);
  }
  b->tail = uint32_t(int64_t(b->tail) + total - replaced);
  int32_t used = int32_t(memory::used_bytes(b));
  s.w1 = uint32_t(std::min<int64_t>(h + total, used));
  // The handler runs Kel code: nothing read from the buffer after it.
  if (owned) owner::notify_change(&s, "changed", &v, noticed, noticed_replaced);
  *series = s;
  return series;
}

// ---- Bitwise operations ----

namespace {

Cell* bitwise_op(char op) {
  Cell* a = frame_cell(0);
  Cell* b = frame_cell(1);
  if (cell::type(b) != T_BINARY) error::raise(err::script::invalid_arg, b);
  int32_t la = byte_count(a), lb = byte_count(b);
  std::string x(reinterpret_cast<const char*>(head_byte_pointer(a)), size_t(la));
  std::string y(reinterpret_cast<const char*>(head_byte_pointer(b)), size_t(lb));
  const std::string& longer = la >= lb ? x : y;
  size_t shorter = size_t(std::min(la, lb));
  std::string r(longer.size(), '\0');
  for (size_t i = 0; i < r.size(); ++i) {
    if (i < shorter) {
      uint8_t p = uint8_t(x[i]), q = uint8_t(y[i]);
      r[i] = char(op == '&' ? (p & q) : op == '|' ? (p | q) : (p ^ q));
    } else {
      r[i] = op == '&' ? '\0' : longer[i];
    }
  }
  Cell out = new_binary(r);
  *a = out;
  return a;
}

}  // namespace

Cell* and_() { return bitwise_op('&'); }
Cell* or_() { return bitwise_op('|'); }
Cell* xor_() { return bitwise_op('^'); }

Cell* complement() {
  Cell* a = frame_cell(0);
  int32_t n = byte_count(a);
  uint8_t* p = head_byte_pointer(a);
  for (int32_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
  return a;
}

// ---- trim ----

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
  Cell s = *series;
  gc::Root keep_s(&s);
  clamp_head(&s);
  if (with || all) {
    bool drop[256] = {};
    if (!with) {
      drop[0] = true;
    } else {
      uint32_t t = cell::type(with);
      if (t == T_CHAR || t == T_INTEGER) {
        int32_t c = cell::get_int(with);
        if (c >= 0 && c < 256) drop[c] = true;
      } else if (t == T_BINARY || string::any_string_q(t)) {
        std::string named;
        if (t == T_BINARY) {
          value_to_bytes(&named, with, -1, false, MODE_WRITE);
          for (char c : named) drop[uint8_t(c)] = true;
        } else {
          int32_t n = string::count_from_head(with);
          for (int32_t i = 0; i < n; ++i) {
            int32_t c = string::codepoint_at(with, int32_t(with->w1) + i);
            if (c >= 0 && c < 256) drop[c] = true;
          }
        }
      } else {
        error::raise(err::script::invalid_arg, with);
      }
    }
    SeriesBuffer* b = buf(&s);
    uint8_t* p = memory::head(b) + s.w1;
    int32_t n = int32_t(memory::used_bytes(b)) - int32_t(s.w1);
    int32_t w = 0;
    for (int32_t i = 0; i < n; ++i)
      if (!drop[p[i]]) p[w++] = p[i];
    b->tail = b->head + s.w1 + uint32_t(w);
  } else if (auto_ || lines) {
    error::raise(err::internal::not_done);
  } else {
    trim_zero_bytes(&s, head || !tail, tail || !head);
  }
  owner::notify_change(&s, "trim", nullptr, int32_t(s.w1), byte_count(&s));
  *series = s;
  return series;
}

// ---- swap ----

// string!'s swap, after checking that a character coming from a string fits in a byte:
// a wider one would otherwise be stored into the binary and widen its buffer.
Cell* swap(Cell* a, Cell* b) {
  for (Cell* other : {a, b}) {
    if (!string::any_string_q(cell::type(other)) || string::head_at_tail(other)) continue;
    int32_t c = string::codepoint_at(other, int32_t(other->w1));
    if (c > 255) {
      Cell ch{T_CHAR, 0, uint32_t(c), 0};
      error::raise(err::script::invalid_arg, &ch);
    }
  }
  Cell probe{T_STRING, 0, 0, 0};
  return actions::resolve<datatype::action::SWAP>(&probe)(a, b);
}

// ---- find ----

// string!'s find; the plain search of a byte pattern (no refinement but /tail) runs as one
// memory search instead of the general character loop.
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
  bool plain = !part && !same && !any && !with && !skip && !last && !reverse && !match;
  if (plain && cell::type(value) == T_BINARY && byte_count(value) > 0) {
    int32_t h = clamp_head(series);
    int32_t n = byte_count(series), k = byte_count(value);
    const uint8_t* hay = head_byte_pointer(series);
    const void* at = memmem(hay, size_t(n), head_byte_pointer(value), size_t(k));
    int32_t found = at ? h + int32_t(static_cast<const uint8_t*>(at) - hay) : -1;
    Cell* out = stack::push_copy(series);
    if (found < 0) *out = Cell{T_NONE, 0, 0, 0};
    else out->w1 = uint32_t(tail ? found + k : found);
    return out;
  }
  Cell probe{T_STRING, 0, 0, 0};
  return actions::resolve<datatype::action::FIND>(&probe)(series, value, part, only, case_, same,
                                                          any, with, skip, last, reverse, tail,
                                                          match);
}

// ---- Registration ----

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_BINARY, .parent = T_STRING, .name = "binary!",
       .slots = {.make = inherit, .random = inherit, .reflect = inherit, .to = to,
                 .form = form, .mold = mold, .eval_path = inherit, .compare = compare,
                 .and_ = and_, .complement = complement, .or_ = or_, .xor_ = xor_,
                 .append = append, .at = inherit, .back = inherit, .change = change,
                 .clear = inherit, .copy = inherit, .find = find, .head = inherit,
                 .head_q = inherit, .index_q = inherit, .insert = append,
                 .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                 .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
                 .sort = inherit, .skip = inherit, .swap = swap, .tail = inherit,
                 .tail_q = inherit, .take = inherit, .trim = trim, .modify = inherit}});
}

}  // namespace kel::binary
