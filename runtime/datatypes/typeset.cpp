// typeset!: bit map operations, spec type blocks, make/to, form/mold, compare, the logic
// actions, find, and the typeset! registration.
#include "runtime/datatypes/typeset.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::typeset {

namespace {

Cell* frame_cell(uint32_t i) { return stack::state().base + i; }

// A word's value, or the value itself.
Cell resolved(const Cell* value) {
  if (cell::type(value) == T_WORD) return *word::value_slot(value);
  return *value;
}

}  // namespace

void clear_bits(Cell* ts) { ts->w1 = ts->w2 = ts->w3 = 0; }

void init_default(Cell* ts) {
  *ts = Cell{T_TYPESET, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  clear_bit(ts, T_UNSET);
}

void add_default_to_block(const Cell* block) {
  Cell ts;
  init_default(&ts);
  *runtime::block_append_cell(block) = ts;
}

void from_type_block(Cell* ts, const Cell* type_block) {
  *ts = Cell{T_TYPESET, 0, 0, 0};
  Node n = type_block->w2;
  for (uint32_t i = type_block->w1;; ++i) {
    SeriesBuffer* b = memory::node_buffer(n);
    if (i >= memory::units(b)) break;
    Cell entry = memory::head_cells(b)[i];
    Cell v = entry;
    if (cell::type(&entry) == T_WORD) {
      v = *word::value_slot(&entry);
      if (cell::type(&v) == T_WORD) {  // a word naming a word: an object class
        set_bit(ts, T_OBJECT);
        continue;
      }
    }
    switch (cell::type(&v)) {
      case T_DATATYPE: set_bit(ts, v.w1); break;
      case T_TYPESET: ts->w1 |= v.w1; ts->w2 |= v.w2; ts->w3 |= v.w3; break;
      case T_BLOCK: break;
      default: error::raise(err::script::invalid_type_spec, &entry);
    }
  }
}

void add_from_type_block(const Cell* block, const Cell* type_block) {
  Cell ts;
  from_type_block(&ts, type_block);
  *runtime::block_append_cell(block) = ts;
}

void add_type(Cell* ts, const Cell* value) {
  Cell v = resolved(value);
  switch (cell::type(&v)) {
    case T_TYPESET: ts->w1 |= v.w1; ts->w2 |= v.w2; ts->w3 |= v.w3; break;
    case T_DATATYPE: set_bit(ts, v.w1); break;
    default: error::raise(err::script::invalid_arg, value);
  }
}

Cell* set_operation(int32_t op) {
  Cell a = *frame_cell(0);
  Cell b = *frame_cell(1);
  if (cell::type(&b) == T_DATATYPE) {
    uint32_t t = b.w1;
    b = Cell{T_TYPESET, 0, 0, 0};
    set_bit(&b, t);
  } else if (cell::type(&b) != T_TYPESET && op != 8) {
    error::raise(err::script::invalid_arg, frame_cell(1));
  }
  Cell r{T_TYPESET, 0, 0, 0};
  switch (op) {
    case 5: case 9: r.w1 = a.w1 | b.w1; r.w2 = a.w2 | b.w2; r.w3 = a.w3 | b.w3; break;
    case 6: case 10: r.w1 = a.w1 & b.w1; r.w2 = a.w2 & b.w2; r.w3 = a.w3 & b.w3; break;
    case 7: case 12: r.w1 = a.w1 ^ b.w1; r.w2 = a.w2 ^ b.w2; r.w3 = a.w3 ^ b.w3; break;
    case 11: r.w1 = a.w1 & ~b.w1; r.w2 = a.w2 & ~b.w2; r.w3 = a.w3 & ~b.w3; break;
    default: r = a; break;
  }
  r.header = T_TYPESET;
  stack::set_only_result(&r);
  return stack::state().base;
}

void list_types(const Cell* ts, Cell* target) {
  Cell saved = *ts;  // target may be ts
  Node n = memory::series_new_cells(4);
  cell::set_block(target, n);
  for (uint32_t t = 1; t <= datatype::highest_registered; ++t)
    if (has_q(&saved, t)) *runtime::block_append_cell(target) = Cell{T_DATATYPE, t, 0, 0};
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  (void)proto;
  Cell r{T_TYPESET, 0, 0, 0};
  switch (cell::type(spec)) {
    case T_TYPESET: r = *spec; r.header = T_TYPESET; break;
    case T_BLOCK: {
      Node n = spec->w2;
      for (uint32_t i = spec->w1;; ++i) {
        SeriesBuffer* b = memory::node_buffer(n);
        if (i >= memory::units(b)) break;
        Cell v = memory::head_cells(b)[i];
        add_type(&r, &v);
      }
      break;
    }
    default: {
      Cell dt{T_DATATYPE, T_TYPESET, 0, 0};
      error::raise(err::script::bad_to_arg, &dt, spec);
    }
  }
  return stack::set_result(&r);
}

namespace {

int32_t write_types(const Cell* value, Cell* buffer, bool only, bool limited, int32_t limit) {
  Cell ts = *value;
  if (!only) {
    string::add_c_text(buffer, "make typeset! [");
    limit -= 15;
  }
  bool wrote = false;
  for (uint32_t t = 1; t <= datatype::highest_registered; ++t) {
    if (!has_q(&ts, t) || !datatype::type_table[t].name) continue;
    if (limited && limit < 0) break;
    string::add_c_text(buffer, datatype::type_table[t].name);
    string::add_codepoint(buffer, ' ');
    limit -= int32_t(datatype::type_table[t].name_length) + 2;
    wrote = true;
  }
  SeriesBuffer* b = memory::node_buffer(buffer->w2);
  if (only) {
    if (wrote) b->tail -= memory::unit(b);
  } else if (wrote) {
    b->tail -= memory::unit(b);
    string::add_codepoint(buffer, ']');
  } else {
    string::add_codepoint(buffer, ']');
  }
  return limit;
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  return write_types(value, buffer, false, part != nullptr, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* part, int32_t limit,
             int32_t) {
  return write_types(value, buffer, only, part != nullptr, limit);
}

namespace {
int32_t popcount(const Cell* ts) {
  int32_t n = 0;
  for (uint32_t t = 1; t <= datatype::highest_registered; ++t) n += has_q(ts, t);
  return n;
}
}  // namespace

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_TYPESET) return -2;
  switch (op) {
    case 0: case 1: case 2: case 9: case 10: case 11: case 12:
      return (a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3) ? 0 : 1;
    case 7: case 8: {
      int32_t x = popcount(a), y = popcount(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    default: return -2;
  }
}

Cell* complement() {
  Cell r = *frame_cell(0);
  r.header = T_TYPESET;
  r.w1 = ~r.w1;
  r.w2 = ~r.w2;
  r.w3 = ~r.w3;
  stack::set_only_result(&r);
  return stack::state().base;
}

Cell* and_() { return set_operation(6); }
Cell* or_() { return set_operation(5); }
Cell* xor_() { return set_operation(7); }

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool,
           bool, bool) {
  if (cell::type(value) != T_DATATYPE) error::raise(err::script::invalid_arg, value);
  Cell r{T_LOGIC, has_q(series, value->w1) ? 1u : 0u, 0, 0};
  return stack::set_result(&r);
}

void install_type() {
  datatype::register_type({.id = T_TYPESET,
                           .parent = 0,
                           .name = "typeset!",
                           .slots = {.make = make,
                                     .to = make,
                                     .form = form,
                                     .mold = mold,
                                     .compare = compare,
                                     .and_ = and_,
                                     .complement = complement,
                                     .or_ = or_,
                                     .xor_ = xor_,
                                     .find = find}});
}

}  // namespace kel::typeset
