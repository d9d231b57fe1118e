// block! storage: the block cell layout and the block API the rest of the runtime calls
// directly (counting, stepping, inserting with growth, cloning, building, key lookup).
#include "runtime/datatypes/block.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/block_mold.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::block {

namespace {

inline SeriesBuffer* buf(const Cell* b) { return memory::node_buffer(b->w2); }
inline int32_t cells_in(const SeriesBuffer* b) { return int32_t(memory::used_bytes(b) / sizeof(Cell)); }

bool word_family_q(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }

// Type selection of copy/types: a datatype! names one id, a typeset! sets bits.
bool kind_selects(const Cell* kind, uint32_t t) {
  if (!kind) return true;
  if (cell::type(kind) == T_DATATYPE) return kind->w1 == t;
  if (cell::type(kind) == T_TYPESET) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&kind->w1);
    return t / 8 < 12 && (bytes[t / 8] & (0x80u >> (t % 8))) != 0;
  }
  return false;
}

bool copyable_q(uint32_t t) {
  return any_block_q(t) || string::any_string_q(t) || t == T_VECTOR || t == T_BINARY ||
         t == T_IMAGE || t == T_BITSET || t == T_OBJECT || t == T_ERROR || t == T_MAP;
}

bool clone_nested_q(uint32_t t, bool paths_too) {
  if (t == T_BLOCK) return true;
  return paths_too && (t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH ||
                       t == T_PAREN);
}

Cell g_fixed{T_NONE, 0, 0, 0};

}  // namespace

bool any_block_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH) || t == T_HASH;
}

int32_t count_from_head(const Cell* block) { return cells_in(buf(block)) - int32_t(block->w1); }

bool step_head(Cell* block) {
  int32_t n = cells_in(buf(block));
  if (int32_t(block->w1) < n) block->w1 = uint32_t(int32_t(block->w1) + 1);
  return int32_t(block->w1) >= n;
}

Cell* head_cell(Cell* block) {
  SeriesBuffer* b = buf(block);
  int32_t n = cells_in(b);
  if (int32_t(block->w1) > n) block->w1 = uint32_t(n);
  return memory::head_cells(b) + int32_t(block->w1);
}

Cell* tail_cell(const Cell* block) { return memory::tail_cells(buf(block)); }

bool head_at_tail(const Cell* block) { return int32_t(block->w1) == cells_in(buf(block)); }

Cell* cell_at_index(const Cell* block, int32_t index) { return memory::head_cells(buf(block)) + index; }

void truncate_at(Cell* block, int32_t index) {
  SeriesBuffer* b = buf(block);
  memory::set_tail(b, reinterpret_cast<uint8_t*>(memory::head_cells(b) + index));
  memory::touch(b);
}

void truncate_at_head(Cell* block) {
  SeriesBuffer* b = buf(block);
  int32_t n = cells_in(b);
  int32_t h = int32_t(block->w1);
  if (h < n) truncate_at(block, h < 0 ? 0 : h);
}

Cell* append_copy(Cell* block, const Cell* value) {
  Cell v = *value;  // the value may live in the buffer that grows
  gc::Root keep(&v);
  Cell* c = runtime::block_append_cell(block);
  *c = v;
  return c;
}

void append_range(Cell* target, const Cell* source) {
  Cell src = *source;
  gc::Root keep(&src);
  int32_t n = count_from_head(&src);
  for (int32_t i = 0; i < n; ++i) {
    Cell v = memory::head_cells(buf(&src))[int32_t(src.w1) + i];
    append_copy(target, &v);
  }
}

Cell* insert_cell(Cell* block, const Cell* value, bool advance, bool at_start) {
  Cell v = *value;
  gc::Root keep(&v);
  SeriesBuffer* b = buf(block);
  if (uint64_t(b->tail) + sizeof(Cell) > uint64_t(b->capacity)) {
    uint64_t needed = uint64_t(memory::used_bytes(b)) + sizeof(Cell);
    if (needed * 2 > 0x7FFFFF00ull) error::raise(err::internal::no_memory);
    b = memory::series_grow_copy_node(block->w2, int32_t(needed * 2));
  }
  int32_t n = cells_in(b);
  int32_t at = at_start ? 0 : int32_t(block->w1);
  if (at > n) at = n;
  if (at < 0) at = 0;
  Cell* pos = memory::head_cells(b) + at;
  int32_t moving = n - at;
  bool hash = cell::type(block) == T_HASH && block->w3;
  if (moving > 0) {
    if (hash) hash::table_shift_indexes(block->w3, 1, at, moving, false);
    b = buf(block);
    pos = memory::head_cells(b) + at;
    std::memmove(pos + 1, pos, size_t(moving) * sizeof(Cell));
  }
  b->tail += sizeof(Cell);
  *pos = v;
  memory::touch(b);
  if (hash) hash::table_add(block->w3, pos);
  if (advance) block->w1 = uint32_t(int32_t(block->w1) + 1);
  return memory::head_cells(buf(block)) + at;
}

void insert_range(Cell* target, const Cell* source) {
  Cell src = *source;
  gc::Root keep(&src);
  int32_t n = count_from_head(&src);
  for (int32_t i = 0; i < n; ++i) {
    Cell v = memory::head_cells(buf(&src))[int32_t(src.w1) + i];
    insert_cell(target, &v, true, false);
  }
}

void insert_result() {
  Cell* base = stack::state().base;
  insert_cell(base - 1, base, true, false);
}

void append_result() {
  Cell* base = stack::state().base;
  Cell* c = append_copy(base - 1, base);
  if (cell::type(base - 1) == T_HASH && base[-1].w3) hash::table_add(base[-1].w3, c);
}

void append_second_arg() {
  Cell* base = stack::state().base;
  Cell* c = append_copy(base, base + 1);
  if (cell::type(base) == T_HASH && base->w3) hash::table_add(base->w3, c);
}

const Cell* value_after_word(Cell* block, const Cell* word, bool exact) {
  Cell* p = head_cell(block);
  Cell* end = tail_cell(block);
  int32_t want = int32_t(word->w2);
  if (!exact) want = symbol::canonical_id(want);
  for (; p < end; ++p) {
    if (!word_family_q(cell::type(p))) continue;
    int32_t s = int32_t(p->w2);
    if (!exact) s = symbol::canonical_id(s);
    if (s != want) continue;
    return p + 1 < end ? p + 1 : cell::none_value();
  }
  return cell::none_value();
}

const Cell* value_after_match(Cell* block, const Cell* value) {
  Cell v = *value;
  gc::Root keep(&v);
  int32_t n = count_from_head(block);
  for (int32_t i = 0; i < n; ++i) {
    Cell c = head_cell(block)[i];
    if (actions::compare(&v, &c, 12)) {
      Cell* p = head_cell(block) + i;
      return p + 1 < tail_cell(block) ? p + 1 : cell::none_value();
    }
  }
  return cell::none_value();
}

bool remove_first_match(Cell* block, const Cell* value, bool from_start) {
  Cell v = *value;
  gc::Root keep(&v);
  head_cell(block);
  int32_t start = from_start ? 0 : int32_t(block->w1);
  int32_t n = cells_in(buf(block));
  for (int32_t i = start; i < n; ++i) {
    Cell c = memory::head_cells(buf(block))[i];
    if (!actions::compare(&v, &c, 12)) continue;
    SeriesBuffer* b = buf(block);
    Cell* p = memory::head_cells(b) + i;
    std::memmove(p, p + 1, size_t(n - i - 1) * sizeof(Cell));
    b->tail -= sizeof(Cell);
    memory::touch(b);
    return i <= int32_t(block->w1);
  }
  return false;
}

Cell* clone(Cell* value, bool deep, bool paths_too, uint32_t series_flags) {
  head_cell(value);  // a head past the tail moves back to it, in the value too
  Cell src = *value;  // its head is in range now
  gc::Root keep(&src);
  int32_t n = count_from_head(&src);
  Cell* result = stack::reserve_cell();
  uint32_t at = stack::index_of(result);
  cell::set_unset(result);
  Node node = memory::series_new_cells(uint32_t(n > 0 ? n : 1));
  result = stack::at_index(at);
  *result = Cell{T_BLOCK, 0, node, 0};
  if (series_flags) memory::node_buffer(node)->flags |= series_flags;
  if (n > 0) {
    SeriesBuffer* to = memory::node_buffer(node);
    std::memcpy(memory::head_cells(to), memory::head_cells(buf(&src)) + int32_t(src.w1),
                size_t(n) * sizeof(Cell));
    to->tail = to->head + uint32_t(n) * sizeof(Cell);
  }
  if (deep && n > 0) {
    cycle::Scope guard(src.w2);
    for (int32_t i = 0; i < n; ++i) {
      // Cells that need no copy of their own are passed over without a look-up each:
      // nothing allocates until one is found.
      const Cell* copied = memory::head_cells(buf(stack::at_index(at)));
      while (i < n && !clone_nested_q(cell::type(copied + i), paths_too)) ++i;
      if (i == n) break;
      Cell inner = copied[i];
      Cell* copy = clone(&inner, true, paths_too, series_flags);
      Cell made = *copy;
      made.header = inner.header;
      memory::head_cells(buf(stack::at_index(at)))[i] = made;
      stack::drop_cells(1);
    }
  }
  result = stack::at_index(at);
  result->header = cell::type(&src);
  return result;
}

void copy_typed_values(Cell* block, int32_t first, int32_t end, int32_t step, bool deep,
                       const Cell* kind) {
  if (step < 1) step = 1;
  Cell k{T_NONE, 0, 0, 0};
  if (kind) k = *kind;
  gc::Root keep_kind(&k);
  for (int32_t i = first; i < end; i += step) {
    if (i >= cells_in(buf(block))) break;
    Cell c = memory::head_cells(buf(block))[i];
    uint32_t t = cell::type(&c);
    if (!copyable_q(t) || !kind_selects(kind ? &k : nullptr, t)) continue;
    gc::Root keep(&c);
    actions::direct<datatype::action::COPY>(&c, &c, nullptr, deep, deep && kind ? &k : nullptr);
    memory::head_cells(buf(block))[i] = c;
    memory::touch(buf(block));
  }
}

void init_cell(Cell* cell, int32_t n) {
  uint32_t flags = cell->header & ~hdr::TYPE_MASK;
  cell::set_unset(cell);
  Node node = memory::series_new_cells(uint32_t(n <= 0 ? 1 : n));
  *cell = Cell{T_BLOCK | flags, 0, node, 0};
}

void init_cell_alloc(Cell* cell, int32_t n, bool heap) {
  cell::set_unset(cell);
  uint32_t count = uint32_t(n <= 0 ? 1 : n);
  Node node = heap ? memory::series_new_in_heap(count, 16, 0) : memory::series_new_unset_cells(count);
  *cell = Cell{T_BLOCK, 0, node, 0};
}

Cell* fixed_cell() {
  static gc::Root keep(&g_fixed);
  return &g_fixed;
}

Cell* new_in(Cell* parent, int32_t n) {
  Cell* c = parent ? runtime::block_append_cell(parent) : fixed_cell();
  if (!parent) {
    init_cell(c, n);
    return c;
  }
  // The new cell lives in the parent's buffer, which may move while the child is made.
  uint32_t index = uint32_t(memory::units(buf(parent)) - 1);
  Cell made{T_UNSET, 0, 0, 0};
  gc::Root keep(&made);
  init_cell(&made, n);
  Cell* slot = memory::head_cells(buf(parent)) + index;
  *slot = made;
  return slot;
}

Cell* new_in_alloc(Cell* parent, int32_t n) {
  Cell* c = parent ? runtime::block_append_cell(parent) : fixed_cell();
  if (!parent) {
    init_cell_alloc(c, n, true);
    return c;
  }
  uint32_t index = uint32_t(memory::units(buf(parent)) - 1);
  Cell made{T_UNSET, 0, 0, 0};
  gc::Root keep(&made);
  init_cell_alloc(&made, n, true);
  Cell* slot = memory::head_cells(buf(parent)) + index;
  *slot = made;
  return slot;
}

Cell* push_empty(int32_t n) {
  Cell* c = stack::reserve_cell();
  uint32_t at = stack::index_of(c);
  cell::set_unset(c);
  Node node = memory::series_new_cells(uint32_t(n <= 0 ? 1 : n));
  c = stack::at_index(at);
  *c = Cell{T_BLOCK, 0, node, 0};
  return c;
}

Cell* push_copy(const Cell* block) { return stack::push_copy(block); }

}  // namespace kel::block

namespace kel::block {

void install_type() {
  using datatype::inherit;
  datatype::Registration r{
      .id = T_BLOCK, .parent = T_SERIES, .name = "block!",
      .slots = {.random = inherit, .reflect = inherit, .form = form, .mold = mold,
                .at = inherit, .back = inherit, .clear = inherit, .copy = inherit,
                .head = inherit, .head_q = inherit, .index_q = inherit, .length_q = inherit,
                .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
                .remove = inherit, .reverse = inherit, .skip = inherit, .tail = inherit,
                .tail_q = inherit, .take = inherit, .modify = inherit}};
  // The cell-aware actions, comparison and sort (block_actions.cpp, block_compare.cpp).
  install_actions(r.slots);
  datatype::register_type(r);
}

}  // namespace kel::block
