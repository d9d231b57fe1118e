// series! (id 42): the abstract parent whose 21 action slots every series type inherits,
// and the element access by datatype that pick, poke and random share.
#include "runtime/datatypes/series.h"

#include <cstring>
#include <memory>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/owner.h"
#include "runtime/random.h"
#include "runtime/rt.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::series {

namespace {

inline SeriesBuffer* buf(const Cell* s) { return memory::node_buffer(s->w2); }
inline uint32_t unit_of(const Cell* s) { return memory::unit(buf(s)); }
inline int32_t head_of(const Cell* s) { return int32_t(s->w1); }
inline uint8_t* at_unit(const Cell* s, int32_t i) {
  SeriesBuffer* b = buf(s);
  return memory::head(b) + size_t(i) * memory::unit(b);
}

constexpr uint32_t MEMORY_FLAGS = sflag::IN_HEAP | sflag::LARGE | sflag::MARK | sflag::MID_HEAD |
                                  sflag::MADE | sflag::IN_USE | sflag::ONCE_BODY;

bool same_type_buffer_q(const Cell* s, const Cell* p) {
  return cell::type(s) == cell::type(p) && s->w2 == p->w2;
}

Cell symbol_cell(uint32_t type, size_t word_index) {
  return Cell{type, 0, uint32_t(symbol::runtime_id(word_index)), 0xFFFFFFFFu};
}

[[noreturn]] void bad_refine(size_t refinement, const Cell* value) {
  Cell r = symbol_cell(T_REFINEMENT, refinement);
  error::raise(err::script::invalid_refine_arg, &r, value);
}

constexpr size_t REF_PART = runtime::runtime_word_index("part", runtime::WordKind::REFINEMENT);
constexpr size_t REF_SKIP = runtime::runtime_word_index("skip", runtime::WordKind::REFINEMENT);
constexpr size_t SYM_OWNED = runtime::runtime_word_index("owned", runtime::WordKind::SYMBOL);

bool owned_field_q(int32_t field) {
  return symbol::canonical_id(field) == symbol::canonical_id(symbol::runtime_id(SYM_OWNED));
}

// True when an owner's handler ran: it may have changed the series, so an action reads
// every count, index and address of it again after a notice.
bool notify(const Cell* s, const char* action, const Cell* value, int32_t index, int32_t part) {
  return owner::notify_change(s, action, value, index, part) != 0;
}

// A /part argument of remove and reverse as a count: an integer, or a position in the same
// series. Anything else raises script/invalid-refine-arg.
int32_t part_count(const Cell* s, const Cell* part) {
  if (cell::type(part) == T_INTEGER) return cell::get_int(part);
  if (same_type_buffer_q(s, part)) return head_of(part) - head_of(s);
  bad_refine(REF_PART, part);
}

Cell* set_logic(Cell* c, bool v) {
  *c = Cell{T_LOGIC, v ? 1u : 0u, 0, 0};
  return c;
}

Cell* frame_cell(int i) { return stack::state().base + i; }

bool hash_q(const Cell* s) { return cell::type(s) == T_HASH && s->w3 != 0; }

// Index upkeep of a hash! losing count cells at first (called before the cells move).
void hash_before_removal(const Cell* s, int32_t first, int32_t count, int32_t total) {
  if (!hash_q(s)) return;
  int32_t rest = total - first - count;
  if (rest <= 0) hash::table_delete_range(s->w3, first, count);
  else hash::table_shift_indexes(s->w3, -count, first + count, rest, true);
}

void hash_rebuild(const Cell* s) {
  if (hash_q(s)) hash::table_resize(s->w3, unit_count(s));
}

// Buffer for records being swapped or moved: the machine stack up to 16 bytes.
struct Scratch {
  uint8_t local[16];
  uint8_t* heap = nullptr;
  uint8_t* p;
  explicit Scratch(size_t bytes) {
    if (bytes <= sizeof local) {
      p = local;
    } else {
      heap = static_cast<uint8_t*>(rt::alloc(bytes));
      p = heap;
    }
  }
  ~Scratch() {
    if (heap) rt::free(heap);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

// The scratch buffer of take: one process-heap series that never moves, reused by every
// take without /part. Made again when the heap was reset under it (tests).
Node g_take_scratch = 0;

Node take_scratch(uint32_t unit) {
  gc::Roots& roots = gc::state().roots;
  if (roots.take_scratch != &g_take_scratch || !g_take_scratch || memory::node_free_q(g_take_scratch)) {
    g_take_scratch = memory::series_new_in_heap(1, 16, 0);
    roots.take_scratch = &g_take_scratch;
  }
  SeriesBuffer* b = memory::node_buffer(g_take_scratch);
  b->flags = (b->flags & ~sflag::UNIT_MASK) | unit;
  b->head = 0;
  b->tail = 0;
  return g_take_scratch;
}

}  // namespace

void forget_take_scratch() { g_take_scratch = 0; }

// ---- Shared operations ----

bool head_past_end(const Cell* s) {
  SeriesBuffer* b = buf(s);
  return int64_t(head_of(s)) * memory::unit(b) >= int64_t(memory::used_bytes(b));
}

int32_t unit_count(const Cell* s) { return int32_t(memory::units(buf(s))); }

bool advance(Cell* s, int32_t n) {
  int32_t count = unit_count(s);
  int64_t h = int64_t(head_of(s)) + n;
  if (h <= count) s->w1 = uint32_t(int32_t(h));
  return head_of(s) >= count;
}

int32_t count_to_tail(Cell* s, bool from_start) {
  int32_t count = unit_count(s);
  if (from_start) return count;
  if (head_of(s) > count) {
    s->w1 = uint32_t(count);
    return 0;
  }
  int32_t n = count - head_of(s);
  return n < 0 ? 0 : n;
}

int32_t resolve_offset(bool at) {
  Cell* s = frame_cell(0);
  Cell* offset = frame_cell(1);
  if (cell::type(offset) != T_INTEGER) error::raise(err::script::invalid_arg, offset);
  int64_t n = cell::get_int(offset);
  int64_t h = head_of(s);
  int64_t r = (at && n >= 1) ? h + n - 1 : h + n;
  int64_t count = unit_count(s);
  if (r < 0) r = 0;
  if (r > count) r = count;
  return int32_t(r);
}

// ---- Element access ----

void read_element(const Cell* s, int32_t index, Cell* out) {
  uint32_t t = cell::type(s);
  if (block::any_block_q(t) || t == T_MAP) {
    *out = memory::head_cells(buf(s))[index];
    return;
  }
  if (string::any_string_q(t)) {
    uint32_t u = unit_of(s);
    *out = Cell{T_CHAR, 0, uint32_t(string::read_codepoint(at_unit(s, index), u)), 0};
    return;
  }
  if (t == T_BINARY) {
    cell::set_integer(out, at_unit(s, index)[0]);
    return;
  }
  if (t == T_VECTOR) {
    Cell v = *s;
    gc::Root keep(&v);
    Cell* pushed = vector::push_element(at_unit(&v, index), unit_of(&v), v.w3);
    *out = *pushed;
    stack::drop_cells(1);
    return;
  }
  error::raise(err::internal::not_done);
}

void check_element(const Cell* s, const Cell* value) {
  uint32_t t = cell::type(s);
  if (block::any_block_q(t) || t == T_BINARY) return;  // binary/poke-byte raises its own
  if (string::any_string_q(t)) {
    if (cell::type(value) != T_CHAR) error::raise(err::script::invalid_arg, value);
    return;
  }
  if (t == T_VECTOR) {
    if (cell::type(value) != s->w3) error::raise(err::script::invalid_arg, value);
    return;
  }
  error::raise(err::internal::not_done);
}

void write_element(Cell* s, int32_t index, const Cell* value) {
  uint32_t t = cell::type(s);
  if (block::any_block_q(t)) {
    Cell* c = memory::head_cells(buf(s)) + index;
    // The old value leaves the index first, or its bucket would keep naming this cell.
    if (hash_q(s)) hash::table_delete_value(s->w3, c);
    *c = *value;
    memory::touch(buf(s));
    if (hash_q(s)) hash::table_add(s->w3, c);
    return;
  }
  if (string::any_string_q(t)) {
    string::store_codepoint(s, at_unit(s, index), cell::get_int(value));
    return;
  }
  if (t == T_BINARY) {
    binary::poke_byte(at_unit(s, index), value);
    return;
  }
  if (t == T_VECTOR) {
    vector::store_element(at_unit(s, index), value, unit_of(s));
    return;
  }
  error::raise(err::internal::not_done);
}

// ---- Frame-only actions ----

Cell* head() {
  Cell* s = frame_cell(0);
  s->w1 = 0;
  return s;
}
Cell* tail() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(unit_count(s));
  return s;
}
Cell* head_q() { return set_logic(frame_cell(0), head_of(frame_cell(0)) == 0); }
Cell* tail_q() { return set_logic(frame_cell(0), head_past_end(frame_cell(0))); }
Cell* index_q() {
  Cell* s = frame_cell(0);
  cell::set_integer(s, head_of(s) + 1);
  return s;
}

Cell* next() {
  Cell* s = frame_cell(0);
  if (head_of(s) < unit_count(s)) s->w1 = uint32_t(head_of(s) + 1);
  return s;
}

Cell* back() {
  Cell* s = frame_cell(0);
  if (head_of(s) > 0) s->w1 = uint32_t(head_of(s) - 1);
  return s;
}

Cell* at() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(resolve_offset(true));
  return s;
}
Cell* skip() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(resolve_offset(false));
  return s;
}

// ---- Direct forms ----

int32_t length_q(Cell* s) { return count_to_tail(s, false); }

namespace {
// Position of pick/poke's element, or -1 when there is none.
int32_t pick_position(const Cell* s, int32_t index) {
  if (index == 0) return -1;
  int64_t p = int64_t(head_of(s)) + (index > 0 ? int64_t(index) - 1 : int64_t(index));
  if (p < 0 || p >= unit_count(s)) return -1;
  return int32_t(p);
}
}  // namespace

Cell* pick(Cell* s, int32_t index, Cell*) {
  int32_t p = pick_position(s, index);
  if (p < 0) {
    cell::set_none(s);
    return s;
  }
  Cell out;
  read_element(s, p, &out);
  *s = out;
  return s;
}

Cell* poke(Cell* s, int32_t index, Cell* value, Cell* index_cell) {
  auto position = [&] {
    int32_t p = pick_position(s, index);
    if (p < 0) {
      Cell i;
      cell::set_integer(&i, index);
      error::raise(err::script::out_of_range, index_cell ? index_cell : &i);
    }
    return p;
  };
  int32_t p = position();
  check_element(s, value);
  int32_t noticed = p;
  // The position must still be there in the series the handler left.
  if (notify(s, "poke", value, p, 1)) p = position();
  write_element(s, p, value);
  notify(s, "poked", value, noticed, 1);
  return value;
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
  if (seed) {
    // From the head's first byte: the head index counts units, so it is scaled by the unit.
    SeriesBuffer* b = buf(value);
    int64_t from = int64_t(head_of(value)) * memory::unit(b);
    int64_t used = memory::used_bytes(b);
    if (from > used) from = used;
    if (from < 0) from = 0;
    random::seed(int32_t(hash::murmur3_x86_32(memory::head(b) + from, size_t(used - from))));
    cell::set_unset(value);
    return value;
  }
  int32_t n = count_to_tail(value, false);
  if (only) {
    if (n == 0) {
      cell::set_none(value);
      return value;
    }
    int32_t m = random::pick_1_to_n(secure, n);
    Cell out;
    read_element(value, head_of(value) + m - 1, &out);
    *value = out;
    return value;
  }
  int32_t h = head_of(value);
  int32_t noticed = n;
  if (notify(value, "random", nullptr, h, n)) n = count_to_tail(value, false);
  uint32_t u = unit_of(value);
  Scratch tmp(u);
  for (int32_t i = 0; i < n; ++i) {
    int32_t m = random::pick_1_to_n(secure, n - i);
    if (m == 1) continue;
    uint8_t* a = at_unit(value, h + i);
    uint8_t* b = at_unit(value, h + i + m - 1);
    std::memcpy(tmp.p, a, u);
    std::memcpy(a, b, u);
    std::memcpy(b, tmp.p, u);
  }
  if (n > 1) hash_rebuild(value);
  notify(value, "randomized", nullptr, h, noticed);
  return value;
}

Cell* reflect(Cell* value, int32_t field) {
  if (!owned_field_q(field)) error::raise(err::internal::not_done);
  Cell* owner = owner::find(value);
  if (owner) *value = *owner;
  else cell::set_none(value);
  return value;
}

Cell* clear(Cell* s) {
  int32_t n = count_to_tail(s, false);
  if (n > 0) {
    int32_t h = head_of(s);
    int32_t cut = n;
    if (notify(s, "clear", nullptr, h, n)) cut = count_to_tail(s, false);
    if (cut > 0) {
      if (hash_q(s)) hash::table_delete_range(s->w3, h, cut);
      SeriesBuffer* b = buf(s);
      b->tail = b->head + uint32_t(h) * memory::unit(b);
    }
    notify(s, "cleared", nullptr, h, n);
  }
  return s;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  Cell src = *value;
  gc::Root keep(&src);
  int32_t units = unit_count(&src);
  int64_t head = head_of(&src);
  int64_t start = head;
  int64_t count = head > units ? 0 : units - head;
  if (part) {
    uint32_t pt = cell::type(part);
    if (pt == T_INTEGER) {
      count = cell::get_int(part);
    } else if (pt == T_PAIR) {
      int64_t x = int32_t(part->w2), y = int32_t(part->w3);  // pair! x and y
      start = x < 0 ? head + x : head + x - 1;
      if (start < 0) start = 0;
      count = y < x ? 0 : y - x;
    } else if (same_type_buffer_q(&src, part)) {
      count = int64_t(head_of(part)) - head;
    } else {
      bad_refine(REF_PART, part);
    }
  }
  if (count < 0) {
    count = -count;
    start = head - count;
    if (start < 0) {
      start = 0;
      count = head < 0 ? 0 : head;
    }
  }
  if (start > units) {
    start = units;
    count = 0;
  }
  if (start + count > units) count = units - start;
  copy_range(&src, uint32_t(start), uint32_t(count), result);
  return result;
}

void copy_range(const Cell* s, uint32_t start, uint32_t count, Cell* out) {
  uint32_t u = unit_of(s);
  Node node = memory::series_new(count > 0 ? count : 1, u, 0);
  SeriesBuffer* from = buf(s);
  SeriesBuffer* to = memory::node_buffer(node);
  to->flags = (from->flags & ~(sflag::OWNED | MEMORY_FLAGS)) | (to->flags & MEMORY_FLAGS);
  std::memcpy(memory::head(to), memory::head(from) + size_t(start) * u, size_t(count) * u);
  to->tail = to->head + count * u;
  uint32_t t = cell::type(s);
  *out = Cell{t | (s->header & hdr::NEW_LINE), 0, node, t == T_VECTOR ? s->w3 : 0};
}

namespace {

// remove, reverse and take: once the before notice is sent (noticed), a handler that ran may
// have changed the series, so the action starts over on the series as the handler left it.
Cell* remove_units(Cell* s, Cell* part, Cell* key, bool noticed) {
  int32_t start = head_of(s);
  int32_t count = 1;
  if (key) {
    Cell found = *s;
    Cell k = *key;
    gc::Root keep_found(&found), keep_key(&k);
    Cell* r = actions::direct<datatype::action::FIND>(&found, &k, nullptr, false, true, false, false, nullptr,
                                   nullptr, false, false, false, false);
    if (!r || cell::type(r) == T_NONE) {
      cell::set_none(s);
      return s;
    }
    start = head_of(r);
    count = 2;
  } else if (part) {
    count = part_count(s, part);
  }
  if (count < 1) return s;
  int32_t units = unit_count(s);
  if (start < 0 || start >= units) return s;
  if (count > units - start) count = units - start;
  if (!noticed && notify(s, "remove", nullptr, start, count)) return remove_units(s, part, key, true);
  hash_before_removal(s, start, count, units);
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint8_t* at = memory::head(b) + size_t(start) * u;
  if (start + count < units)
    std::memmove(at, at + size_t(count) * u, size_t(units - start - count) * u);
  b->tail -= uint32_t(count) * u;
  notify(s, "removed", nullptr, start, count);
  return s;
}

Cell* reverse_units(Cell* s, Cell* part, Cell* skip, bool noticed) {
  int32_t available = count_to_tail(s, false);
  if (available == 0) return s;
  int32_t count = available;
  if (part) {
    count = part_count(s, part);
    if (count < 1) return s;
    if (count > available) count = available;
  }
  int32_t size = 1;
  if (skip) {
    if (cell::type(skip) != T_INTEGER) bad_refine(REF_SKIP, skip);
    size = cell::get_int(skip);
    if (size < 1) error::raise(err::script::out_of_range, skip);
    if (size > count || count % size != 0) bad_refine(REF_SKIP, skip);
    if (size == count) return s;
  }
  int32_t h = head_of(s);
  if (!noticed && notify(s, "reverse", nullptr, h, count)) return reverse_units(s, part, skip, true);
  uint32_t u = unit_of(s);
  size_t record = size_t(size) * u;
  Scratch tmp(record);
  int32_t records = count / size;
  for (int32_t i = 0, j = records - 1; i < j; ++i, --j) {
    uint8_t* a = at_unit(s, h + i * size);
    uint8_t* b = at_unit(s, h + j * size);
    std::memcpy(tmp.p, a, record);
    std::memcpy(a, b, record);
    std::memcpy(b, tmp.p, record);
  }
  if (records > 1) hash_rebuild(s);
  notify(s, "reversed", nullptr, h, count);
  return s;
}

Cell* take_from(Cell* s, Cell* part, bool last, bool noticed) {
  int32_t available = count_to_tail(s, false);
  if (available == 0) {
    cell::set_none(s);
    return s;
  }
  int32_t h = head_of(s);
  int32_t units = unit_count(s);
  int32_t start = h, count = 1;
  if (part) {
    int64_t n;
    if (cell::type(part) == T_INTEGER) {
      n = cell::get_int(part);
    } else if (same_type_buffer_q(s, part)) {
      int32_t ph = head_of(part) > units ? units : head_of(part);
      n = ph < h ? 0 : last ? units - ph : ph - h;
    } else {
      bad_refine(REF_PART, part);
    }
    if (n >= 0) {
      count = int32_t(n > available ? available : n);
      start = last ? units - count : h;
    } else if (last || h == 0) {
      count = 0;
    } else {
      count = int32_t(-n > h ? h : -n);
      start = h - count;
    }
  } else if (last) {
    start = units - 1;
  }

  Cell src = *s;
  gc::Root keep(&src);
  uint32_t t = cell::type(&src);
  uint32_t u = unit_of(&src);
  // The owner hears of the take before anything is copied: its handler may run Kel code
  // that takes from this or any other series (and so reuses the scratch buffer).
  if (count > 0 && !noticed && notify(&src, "take", nullptr, start, count))
    return take_from(s, part, last, true);
  Cell result{t, 0, 0, t == T_VECTOR ? src.w3 : 0};
  gc::Root keep_result(&result);
  if (part) {
    Node fresh = memory::series_new(uint32_t(count > 0 ? count : 1), u, 0);
    result.w2 = fresh;
    SeriesBuffer* from = buf(&src);
    SeriesBuffer* to = memory::node_buffer(result.w2);
    to->flags = (from->flags & ~(sflag::OWNED | MEMORY_FLAGS)) | (to->flags & MEMORY_FLAGS);
  } else {
    result.w2 = take_scratch(u);
  }
  if (count > 0) {
    SeriesBuffer* from = buf(&src);
    SeriesBuffer* to = memory::node_buffer(result.w2);
    std::memcpy(memory::head(to), memory::head(from) + size_t(start) * u, size_t(count) * u);
    to->tail = to->head + uint32_t(count) * u;
    hash_before_removal(&src, start, count, units);
    from = buf(&src);
    uint8_t* at = memory::head(from) + size_t(start) * u;
    if (start + count < units)
      std::memmove(at, at + size_t(count) * u, size_t(units - start - count) * u);
    from->tail -= uint32_t(count) * u;
    if (t == T_HASH && part) result.w3 = hash::table_create(count, &result, hash::KIND_HASH, 0);
    if (part) {
      notify(&src, "taken", nullptr, start, count);
    } else {
      // The handler of the second notice may take too: the unit is held aside (rooted
      // when it is a cell) and put back on the scratch buffer afterwards.
      bool cell_unit = u == sizeof(Cell);
      Cell held{T_NONE, 0, 0, 0};
      uint8_t raw[sizeof(Cell)] = {};
      gc::Root keep_held(&held);
      std::memcpy(cell_unit ? static_cast<void*>(&held) : raw,
                  memory::head(memory::node_buffer(result.w2)), u);
      notify(&src, "taken", nullptr, start, count);
      result.w2 = take_scratch(u);
      SeriesBuffer* back = memory::node_buffer(result.w2);
      std::memcpy(memory::head(back), cell_unit ? static_cast<const void*>(&held) : raw, u);
      back->tail = back->head + u;
    }
  } else if (t == T_HASH && part) {
    result.w3 = hash::table_create(0, &result, hash::KIND_HASH, 0);
  }
  *s = result;
  return s;
}

}  // namespace

Cell* remove(Cell* s, Cell* part, Cell* key) { return remove_units(s, part, key, false); }
Cell* reverse(Cell* s, Cell* part, Cell* skip) { return reverse_units(s, part, skip, false); }
Cell* take_units(Cell* s, Cell* part, bool last) { return take_from(s, part, last, false); }

Cell* take(Cell* s, Cell* part, bool, bool last) {
  take_units(s, part, last);
  if (part || cell::type(s) == T_NONE) return s;
  Cell element;
  read_element(s, 0, &element);
  *s = element;
  return s;
}

namespace {

// Once the "move" notice is sent (noticed), a handler that ran may have changed either
// series, so everything is measured again.
Cell* move_units(Cell* origin, Cell* target, Cell* part, bool noticed) {
  uint32_t to = cell::type(target), fo = cell::type(origin);
  bool target_series = block::any_block_q(to) || string::any_string_q(to) || to == T_BINARY ||
                       to == T_VECTOR || to == T_IMAGE;
  if (!target_series) {
    Cell word = stack::current_function_word();
    Cell type{T_DATATYPE, to, 0, 0};
    Cell arg = error::nth_argument_word(1);
    error::raise(err::script::expect_arg, &word, &type, &arg);
  }
  int32_t available = count_to_tail(origin, false);
  if (available == 0) return target;
  int32_t n = 1;
  if (part) {
    if (cell::type(part) != T_INTEGER) bad_refine(REF_PART, part);
    n = cell::get_int(part);
    if (n < 1) return target;
    if (n > available) n = available;
  }
  int32_t o = head_of(origin);

  if (origin->w2 != target->w2) {
    bool blocks_o = block::any_block_q(fo), blocks_t = block::any_block_q(to);
    bool text_o = string::any_string_q(fo), text_t = string::any_string_q(to);
    Cell ft{T_DATATYPE, fo, 0, 0}, tt{T_DATATYPE, to, 0, 0};
    if ((blocks_o && !blocks_t) || (blocks_t && !blocks_o)) error::raise(err::script::move_bad, &ft, &tt);
    uint32_t uo = unit_of(origin), ut = unit_of(target);
    if (uo != ut && !(text_o && text_t)) error::raise(err::script::move_bad, &ft, &tt);
    count_to_tail(target, false);  // a head past the tail inserts at the tail
    int32_t th = head_of(target);
    if (!noticed && notify(origin, "move", nullptr, o, n)) return move_units(origin, target, part, true);
    if (uo != ut) {
      string::move_codepoints(origin, target, th, n * int32_t(uo));
    } else {
      uint32_t u = uo;
      int32_t tunits = unit_count(target);
      SeriesBuffer* tb = buf(target);
      uint64_t needed = uint64_t(memory::used_bytes(tb)) + uint64_t(n) * u;
      if (uint64_t(tb->head) + needed > uint64_t(tb->capacity)) {
        if (needed * 2 > 0x7FFFFF00ull) error::raise(err::internal::no_memory);
        memory::series_grow_copy_node(target->w2, int32_t(needed * 2));
      }
      if (hash_q(target) && tunits > th)
        hash::table_shift_indexes(target->w3, n, th, tunits - th, false);
      tb = buf(target);
      uint8_t* at = memory::head(tb) + size_t(th) * u;
      std::memmove(at + size_t(n) * u, at, size_t(tunits - th) * u);
      std::memcpy(at, at_unit(origin, o), size_t(n) * u);
      tb->tail += uint32_t(n) * u;
      int32_t ounits = unit_count(origin);
      hash_before_removal(origin, o, n, ounits);
      SeriesBuffer* ob = buf(origin);
      uint8_t* from = memory::head(ob) + size_t(o) * u;
      std::memmove(from, from + size_t(n) * u, size_t(ounits - o - n) * u);
      ob->tail -= uint32_t(n) * u;
      if (hash_q(target)) {
        for (int32_t i = 0; i < n; ++i) hash::table_add(target->w3, memory::head_cells(buf(target)) + th + i);
      }
    }
    notify(target, "moved", nullptr, th, n);
    return target;
  }

  // One buffer.
  int32_t units = unit_count(origin);
  int32_t tp = head_of(target);
  if (tp > units) tp = units;
  if (tp < 0) tp = 0;
  if (tp == o) return target;
  if (tp > o && tp < units && units - tp < n) return target;
  int32_t dest;
  if (tp > o) {
    dest = tp == units ? units - n : tp - n + 1;
    if (dest < o) dest = o;
  } else {
    dest = tp;
  }
  if (dest == o) return tp > o ? origin : target;
  if (!noticed && notify(origin, "move", nullptr, o, n)) return move_units(origin, target, part, true);
  uint32_t u = unit_of(origin);
  Scratch saved(size_t(n) * u);
  uint8_t* base = at_unit(origin, 0);
  std::memcpy(saved.p, base + size_t(o) * u, size_t(n) * u);
  if (dest > o) {
    std::memmove(base + size_t(o) * u, base + size_t(o + n) * u, size_t(dest - o) * u);
  } else {
    std::memmove(base + size_t(dest + n) * u, base + size_t(dest) * u, size_t(o - dest) * u);
  }
  std::memcpy(base + size_t(dest) * u, saved.p, size_t(n) * u);
  hash_rebuild(origin);
  Cell* result = tp > o ? origin : target;
  notify(result, "moved", nullptr, dest, n);
  return result;
}

}  // namespace

Cell* move(Cell* origin, Cell* target, Cell* part) { return move_units(origin, target, part, false); }

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
  if (!owned_field_q(int32_t(field->w2))) return value;
  if (cell::type(value) == T_NONE) {
    owner::disown(target);
  } else if (block::any_block_q(cell::type(value)) && block::count_from_head(value) >= 2) {
    Cell* first = block::head_cell(value);
    if (cell::type(first) == T_OBJECT && cell::type(first + 1) == T_WORD) {
      Cell obj = first[0], word = first[1];
      gc::Root k1(&obj), k2(&word);
      owner::attach_flagged(target, &obj, &word);
    }
  }
  return value;
}

void install_type() {
  datatype::register_type(
      {.id = T_SERIES, .parent = 0, .name = "series!",
       .slots = {.random = random, .reflect = reflect, .at = at, .back = back, .clear = clear,
                 .copy = copy, .head = head, .head_q = head_q, .index_q = index_q,
                 .length_q = length_q, .move = move, .next = next, .pick = pick, .poke = poke,
                 .remove = remove, .reverse = reverse, .skip = skip, .tail = tail,
                 .tail_q = tail_q, .take = take, .modify = modify}});
}

}  // namespace kel::series
