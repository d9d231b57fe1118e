// string! storage: readers, the writers with their widening rules, growth, joining,
// making strings and loading them from external text.
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

using unicode::load_unit;
using unicode::store_unit;

[[noreturn]] void bad_unit() { rt::fatal_error(98, uintptr_t(__builtin_return_address(0))); }

inline SeriesBuffer* buf(const Cell* s) { return memory::node_buffer(s->w2); }
inline uint32_t chars(const SeriesBuffer* b) { return memory::units(b); }

uint32_t checked_size(uint64_t bytes) {
  if (bytes > 0x7FFFFF00u) error::raise(err::internal::no_memory);
  return uint32_t(bytes);
}

// The buffer of s with room for at least bytes after its start; grows to twice the need.
SeriesBuffer* ensure_room(Cell* s, uint64_t bytes) {
  SeriesBuffer* b = buf(s);
  if (uint64_t(b->head) + bytes <= uint64_t(b->capacity)) return b;
  uint64_t want = std::max<uint64_t>(bytes * 2, 16);
  if (want > 0x7FFFFF00u) want = checked_size(bytes);
  b = memory::series_grow_copy_node(s->w2, int32_t(want));
  s->w2 = b->node;
  return b;
}

// Widens s to to_unit with room for min_bytes after the start; the node is kept.
SeriesBuffer* widen_cell(Cell* s, uint32_t to_unit, uint64_t min_bytes) {
  SeriesBuffer* b = unicode::widen_to(buf(s), to_unit, checked_size(min_bytes));
  s->w2 = b->node;
  return b;
}

// Unit a write of c needs in a buffer of unit u; limit is 127 for appends, 255 otherwise.
inline uint32_t unit_needed(uint32_t u, int32_t c, int32_t limit) {
  uint32_t x = uint32_t(c);
  if (x > 0xFFFF) return 4;
  if (u == 1 && x > uint32_t(limit)) return 2;
  return u;
}

uint8_t* scratch = nullptr;
constexpr size_t SCRATCH_SIZE = 65536;

}  // namespace

bool any_string_q(uint32_t type) {
  return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG || type == T_EMAIL ||
         type == T_REF;
}

// ---- Reading ----

uint32_t unit_of(const Cell* s) { return memory::unit(buf(s)); }

uint8_t* head_pointer(Cell* s) {
  SeriesBuffer* b = buf(s);
  uint32_t n = chars(b);
  if (int32_t(s->w1) < 0) s->w1 = 0;
  if (s->w1 > n) s->w1 = n;
  return memory::head(b) + size_t(s->w1) * memory::unit(b);
}

uint8_t* tail_pointer(const Cell* s) { return memory::tail(buf(s)); }

bool head_at_tail(const Cell* s) { return int32_t(s->w1) >= int32_t(chars(buf(s))); }

int32_t count_from_head(Cell* s) {
  SeriesBuffer* b = buf(s);
  int32_t n = int32_t(chars(b));
  if (int32_t(s->w1) > n) s->w1 = uint32_t(n);
  if (int32_t(s->w1) < 0) s->w1 = 0;
  return n - int32_t(s->w1);
}

int32_t count_from_start(const Cell* s) { return int32_t(chars(buf(s))); }

int32_t read_codepoint(const uint8_t* p, uint32_t unit) {
  if (unit != 1 && unit != 2 && unit != 4) bad_unit();
  return load_unit(p, unit);
}

int32_t codepoint_at(const Cell* s, int32_t index) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  if (index < 0 || uint32_t(index) >= chars(b)) return -1;  // nothing stored there
  return read_codepoint(memory::head(b) + size_t(index) * u, u);
}

int32_t index_of_codepoint(Cell* s, int32_t c) {
  int32_t n = count_from_head(s);
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  const uint8_t* p = memory::head(b) + size_t(s->w1) * u;
  for (int32_t i = 0; i < n; ++i)
    if (read_codepoint(p + size_t(i) * u, u) == c) return i;
  return -1;
}

// ---- Writing ----

SeriesBuffer* add_codepoint(Cell* s, int32_t c) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint64_t n = chars(b);
  uint32_t nu = unit_needed(u, c, 127);
  if (nu != u) {
    b = widen_cell(s, nu, (n + 1) * nu);
    u = nu;
  }
  b = ensure_room(s, (n + 1) * u);
  store_unit(memory::tail(b), u, c);
  b->tail += u;
  return b;
}

SeriesBuffer* add_codepoint(SeriesBuffer* b, int32_t c) {
  Cell s{T_STRING, 0, b->node, 0};
  gc::Root keep(&s);
  return add_codepoint(&s, c);
}

SeriesBuffer* insert_codepoint(Cell* s, int32_t index, int32_t c) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint64_t n = chars(b);
  uint32_t nu = unit_needed(u, c, 255);
  if (nu != u) {
    b = widen_cell(s, nu, (n + 1) * nu);
    u = nu;
  }
  b = ensure_room(s, (n + 1) * u);
  size_t i = size_t(std::clamp<int64_t>(index, 0, int64_t(n)));
  uint8_t* at = memory::head(b) + i * u;
  std::memmove(at + u, at, (n - i) * u);
  store_unit(at, u, c);
  b->tail += u;
  return b;
}

uint8_t* store_codepoint(Cell* s, uint8_t* address, int32_t c) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint32_t nu = unit_needed(u, c, 255);
  if (nu != u) {
    size_t i = size_t(address - memory::head(b)) / u;
    b = widen_cell(s, nu, uint64_t(chars(b)) * nu);
    u = nu;
    address = memory::head(b) + i * u;
  }
  store_unit(address, u, c);
  return address;
}

SeriesBuffer* put_codepoint_at(Cell* s, int32_t index, int32_t c) {
  if (index < 0) {
    Cell arg{};
    cell::set_integer(&arg, index);
    error::raise(err::script::out_of_range, &arg);
  }
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint32_t nu = unit_needed(u, c, 255);
  if (nu != u) {
    b = widen_cell(s, nu, uint64_t(chars(b)) * nu);
    u = nu;
  }
  uint64_t n = chars(b);
  // Grows until index + 1 characters fit, however far past the tail index lies.
  b = ensure_room(s, (uint64_t(index) + 1) * u);
  uint8_t* h = memory::head(b);
  if (uint64_t(index) >= n) {
    std::memset(h + n * u, 0, (uint64_t(index) - n) * u);
    b->tail = b->head + uint32_t((uint64_t(index) + 1) * u);
  }
  store_unit(h + size_t(index) * u, u, c);
  return b;
}

void delete_codepoint(Cell* s, int32_t index) { delete_range(s, index, 1); }

void delete_range(Cell* s, int32_t index, int32_t n) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  int64_t count = chars(b);
  if (index < 0 || index >= count || n <= 0) return;
  int64_t k = std::min<int64_t>(n, count - index);
  uint8_t* at = memory::head(b) + size_t(index) * u;
  std::memmove(at, at + k * u, size_t(count - index - k) * u);
  b->tail -= uint32_t(k * u);
}

void shorten_to(Cell* s, int32_t index) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  if (index < 0) return;
  uint64_t at = uint64_t(b->head) + uint64_t(index) * u;
  if (at <= uint64_t(b->capacity) && at < b->tail) b->tail = uint32_t(at);
}

void reset_empty(Cell* s) {
  SeriesBuffer* b = buf(s);
  b->tail = b->head;
  b->flags = (b->flags & ~sflag::UNIT_MASK) | 1;
  s->w1 = 0;
}

SeriesBuffer* widen_to(Cell* s, uint32_t from_unit, uint32_t to_unit) {
  SeriesBuffer* b = buf(s);
  if (from_unit != memory::unit(b)) bad_unit();
  if (from_unit == 1 && to_unit == 2) b = unicode::widen_1_to_2(b);
  else if (from_unit == 1 && to_unit == 4) b = unicode::widen_1_to_4(b);
  else if (from_unit == 2 && to_unit == 4) b = unicode::widen_2_to_4(b);
  else if (from_unit != to_unit) bad_unit();
  s->w2 = b->node;
  return b;
}

Node copy_widening(Node source, Node target, uint32_t to_unit, int32_t start, int32_t write,
                   int32_t end, bool keep) {
  gc::Root keep_source(&source);
  SeriesBuffer* sb = memory::node_buffer(source);
  uint32_t su = memory::unit(sb);
  if (to_unit != 1 && to_unit != 2 && to_unit != 4) bad_unit();
  if (su > to_unit) bad_unit();
  int32_t n = int32_t(chars(sb));
  if (end <= 0 || end > n) end = n;
  start = std::clamp(start, 0, end);
  write = std::max(write, 0);
  int32_t count = end - start;
  uint64_t need = (uint64_t(write) + uint64_t(count)) * to_unit;
  Cell t{T_STRING, 0, target, 0};
  gc::Root keep_target(&t);
  if (!target) {
    t.w2 = memory::series_new(uint32_t(std::max<uint64_t>(need / to_unit, 1)), to_unit, 0);
  } else {
    ensure_room(&t, need);
  }
  SeriesBuffer* tb = memory::node_buffer(t.w2);
  sb = memory::node_buffer(source);
  const uint8_t* from = memory::head(sb) + size_t(start) * su;
  uint8_t* to = memory::head(tb) + size_t(write) * to_unit;
  for (int32_t i = 0; i < count; ++i)
    store_unit(to + size_t(i) * to_unit, to_unit, load_unit(from + size_t(i) * su, su));
  if (!keep) {
    tb->flags = (tb->flags & ~sflag::UNIT_MASK) | to_unit;
    tb->tail = tb->head + uint32_t(need);
  }
  return t.w2;
}

void move_codepoints(Cell* source, Cell* target, int32_t index, int32_t length_bytes) {
  int32_t avail = count_from_head(source);
  uint32_t su = unit_of(source);
  int32_t count = std::clamp(length_bytes / int32_t(su), 0, avail);
  if (count == 0) return;
  // Taken out first: source and target may share the buffer.
  std::vector<int32_t> cps(static_cast<size_t>(count));
  const uint8_t* p = head_pointer(source);
  for (int32_t i = 0; i < count; ++i) cps[size_t(i)] = load_unit(p + size_t(i) * su, su);
  int32_t from = int32_t(source->w1);
  delete_range(source, from, count);
  if (target->w2 == source->w2 && index > from) index = std::max(from, index - count);
  for (int32_t i = 0; i < count; ++i) insert_codepoint(target, index + i, cps[size_t(i)]);
}

void init_scratch() {
  if (!scratch) scratch = static_cast<uint8_t*>(rt::alloc(SCRATCH_SIZE));
}

void release_scratch() {
  if (scratch) rt::free(scratch);
  scratch = nullptr;
}

void rotate_bytes(uint8_t* first, int32_t first_length, uint8_t* second, int32_t second_length,
                  int32_t gap) {
  if (first_length <= 0 && second_length <= 0) return;
  init_scratch();
  size_t a = size_t(std::max(first_length, 0));
  size_t b = size_t(std::max(second_length, 0));
  size_t g = size_t(std::max(gap, 0));
  size_t kept = std::min(a, b) + g;
  bool enlarged = kept > SCRATCH_SIZE;
  if (enlarged) scratch = static_cast<uint8_t*>(rt::realloc(scratch, kept));
  if (a <= b) {
    std::memcpy(scratch, first, a + g);           // A G out
    std::memmove(first, second, b);               // B down
    std::memcpy(first + b, scratch + a, g);       // G
    std::memcpy(first + b + g, scratch, a);       // A
  } else {
    std::memcpy(scratch, first + a, g + b);       // G B out
    std::memmove(first + b + g, first, a);        // A up
    std::memcpy(first, scratch + g, b);           // B
    std::memcpy(first + b, scratch, g);           // G
  }
  if (enlarged) scratch = static_cast<uint8_t*>(rt::realloc(scratch, SCRATCH_SIZE));
}

// ---- Joining ----

SeriesBuffer* concat_part(Cell* target, const Cell* source, int32_t limit, int32_t offset,
                          bool keep, int mode) {
  Cell src = *source;
  gc::Root keep_src(&src);
  int32_t count = count_from_head(&src);
  if (limit >= 0 && limit < count) count = limit;

  uint32_t tu = unit_of(target);
  uint32_t su = unit_of(&src);
  if (tu < su) {
    widen_to(target, tu, su);
    tu = su;
  } else if (su < tu && !keep) {
    widen_to(&src, su, tu);
    su = tu;
  }
  if (src.w2 == target->w2) su = tu;  // the same buffer has one unit

  SeriesBuffer* tb = buf(target);
  int64_t n = chars(tb);
  int64_t thead = std::clamp<int64_t>(int32_t(target->w1), 0, n);
  int64_t pos = mode == MODE_APPEND ? n : std::clamp<int64_t>(thead + offset, 0, n);
  int64_t needed = mode == MODE_OVERWRITE ? std::max<int64_t>(n, pos + count) : n + count;
  if (count == 0) return tb;

  // A source in the target's own buffer is copied out before that buffer changes.
  std::vector<uint8_t> own;
  if (src.w2 == target->w2) {
    SeriesBuffer* sb = buf(&src);
    const uint8_t* p = memory::head(sb) + size_t(src.w1) * su;
    own.assign(p, p + size_t(count) * su);
  }
  tb = ensure_room(target, uint64_t(needed) * tu);
  SeriesBuffer* sb = buf(&src);
  const uint8_t* from = own.empty() ? memory::head(sb) + size_t(src.w1) * su : own.data();
  uint8_t* h = memory::head(tb);
  if (mode == MODE_INSERT)
    std::memmove(h + size_t(pos + count) * tu, h + size_t(pos) * tu, size_t(n - pos) * tu);
  uint8_t* to = h + size_t(pos) * tu;
  if (su == tu) {
    std::memmove(to, from, size_t(count) * tu);
  } else {
    for (int32_t i = 0; i < count; ++i)
      store_unit(to + size_t(i) * tu, tu, load_unit(from + size_t(i) * su, su));
  }
  tb->tail = tb->head + uint32_t(needed * tu);
  return tb;
}

SeriesBuffer* concat(Cell* target, const Cell* source, int mode) {
  return concat_part(target, source, -1, 0, false, mode);
}

void add_c_bytes(Cell* s, const uint8_t* bytes, int32_t n) {
  if (n <= 0) return;
  std::vector<uint8_t> copy;
  if (memory::in_collected_heap_q(bytes)) {
    copy.assign(bytes, bytes + n);
    bytes = copy.data();
  }
  add_buffer_bytes(s, bytes, n);
}

void add_buffer_bytes(Cell* s, const uint8_t* bytes, int32_t n) {
  if (n <= 0) return;
  // ASCII (what the form slots write) fits a text of any width as it is: the room is made
  // once, then the units stored. Far from the size limit only, so a refusal stays the same.
  bool ascii = true;
  for (int32_t i = 0; i < n && ascii; ++i) ascii = bytes[i] < 0x80;
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint64_t have = chars(b);
  if (ascii && (have + uint64_t(n)) * u <= 0x3FFFFF00u) {
    b = ensure_room(s, (have + uint64_t(n)) * u);
    uint8_t* at = memory::tail(b);
    if (u == 1) std::memcpy(at, bytes, size_t(n));
    else for (int32_t i = 0; i < n; ++i) store_unit(at + size_t(i) * u, u, bytes[i]);
    b->tail += uint32_t(n) * u;
    return;
  }
  for (int32_t i = 0; i < n; ++i) add_codepoint(s, bytes[i]);
}

void add_c_text(Cell* s, const char* text) {
  add_c_bytes(s, reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)));
}

// ---- Making ----

Cell* init_cell_sized(Cell* cell, int32_t n, uint32_t unit) {
  if (unit != 1 && unit != 2 && unit != 4) bad_unit();
  if (n < 0) n = 0;
  Node node = memory::series_new(uint32_t(n == 0 ? 1 : n), unit, 0);
  *cell = Cell{T_STRING, 0, node, 0};
  return cell;
}

Cell* init_cell(Cell* cell, int32_t n) { return init_cell_sized(cell, n, 1); }

Cell* push_copy(const Cell* s) { return stack::push_copy(s); }

Cell* load_encoded(const uint8_t* input, int32_t length, Cell* cell, int32_t encoding) {
  if (encoding != 0 && encoding != -1) rt::fatal_error(98, uintptr_t(__builtin_return_address(0)));
  if (!cell) {
    cell = stack::reserve_cell();
    cell::set_none(cell);
  }
  Node node = encoding == 0 ? unicode::utf8_to_new_string(input, length)
                            : unicode::utf16le_to_string(input, length, nullptr, false);
  *cell = Cell{T_STRING, 0, node, 0};
  return cell;
}

Cell* load_push(const uint8_t* input, int32_t length, int32_t encoding) {
  return load_encoded(input, length, nullptr, encoding);
}

Cell* load_into_block(Cell* block, const uint8_t* input, int32_t length, int32_t encoding) {
  Cell loaded{T_NONE, 0, 0, 0};
  gc::Root keep(&loaded);
  load_encoded(input, length, &loaded, encoding);
  Cell* slot = runtime::block_append_cell(block);
  *slot = loaded;
  return slot;
}

Cell* from_utf8_binary(const uint8_t* bytes, int32_t length) {
  if (length < 0) length = 0;
  std::vector<uint8_t> copy(bytes, bytes + length);
  Cell* cell = stack::reserve_cell();
  cell::set_none(cell);
  int32_t unread = 0;
  Node node = unicode::utf8_to_string(copy.data(), length, 0, &unread, false);
  *cell = Cell{T_STRING, 0, node, 0};
  if (unread > 0) {
    Node bin = memory::series_new_bytes(uint32_t(unread));
    SeriesBuffer* b = memory::node_buffer(bin);
    std::memcpy(memory::head(b), copy.data() + (length - unread), size_t(unread));
    b->tail = b->head + uint32_t(unread);
    Cell arg{T_BINARY, 0, bin, 0};
    error::raise(err::access::invalid_utf8, &arg);
  }
  return cell;
}

double text_to_float(const uint8_t* start, int32_t length, bool* bad) {
  const char* s = reinterpret_cast<const char*>(start);
  size_t remaining = 0;
  double d = dtoa::text_to_float(s, s + std::max(length, 0), 0, &remaining);
  if (bad) *bad = length <= 0 || remaining != 0;
  return d;
}

}  // namespace kel::string
