// The path family: make and to (capacities, one-value paths, the rest through block!),
// form and mold with "/" between values and the cycle guard, copy, and the registrations.
#include "runtime/datatypes/path.h"

#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace kel::path {

namespace {

bool any_path_q(uint32_t t) { return t >= T_PATH && t <= T_GET_PATH; }

void init_typed(Cell* cell, int32_t capacity, uint32_t type) {
  block::init_cell(cell, capacity <= 0 ? 1 : capacity);
  cell->header = type;
}

Cell* push_typed(Cell* cell, uint32_t type) {
  cell->header = type;
  return stack::push_copy(cell);
}

// block!'s own slot, through the dispatcher (an empty slot raises script/expect-arg).
template <uint32_t K>
datatype::SlotFn<K> block_slot() {
  Cell probe = Cell{T_BLOCK, 0, 0, 0};
  return actions::resolve<K>(&probe);
}

// The shared walk of form and mold: each value from the index to the tail, "/" between.
int32_t walk(Cell* value, Cell* buffer, bool molding, bool only, bool all, bool flat, Cell* part,
             int32_t budget) {
  if (cycle::emit_placeholder(value, buffer->w2, budget, molding)) return budget;
  uint32_t saved_top = stack::index_of(stack::state().top);
  Cell* v = stack::push_copy(value);
  cycle::Scope scope(v->w2);
  int32_t n = block::count_from_head(v);
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) budget = function::add_text(buffer, "/", budget);
    Cell* e = stack::push_copy(block::cell_at_index(v, int32_t(v->w1) + i));
    budget = molding ? actions::direct_mold(e, buffer, only, all, flat, part, budget, 0)
                     : actions::direct_form(e, buffer, part, budget);
    stack::drop_cells(1);
    if (part && budget <= 0) break;
    n = block::count_from_head(v);
  }
  stack::state().top = stack::at_index(saved_top);
  return budget;
}

}  // namespace

Cell* push_as_path(Cell* cell) { return push_typed(cell, T_PATH); }
void init_cell(Cell* cell, int32_t capacity) { init_typed(cell, capacity, T_PATH); }

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t t = cell::type(spec);
  if (t == T_INTEGER || t == T_FLOAT || t == T_PERCENT) {
    int32_t capacity;
    if (t == T_INTEGER) {
      capacity = cell::get_int(spec);
    } else {
      double d = std::trunc(cell::get_double(spec));
      capacity = d >= 2147483647.0 ? 2147483647 : d <= 0 ? 0 : int32_t(d);
    }
    // 0 and negative counts make room for one value.
    init_typed(proto, capacity, type);
    return proto;
  }
  if (t == T_BLOCK || t == T_PAREN || t == T_HASH || any_path_q(t))
    return block_slot<datatype::action::TO>()(proto, spec, type);
  Cell type_cell = datatype::value_of(type);
  error::raise_bad_make_arg(&type_cell, spec);
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t t = cell::type(spec);
  if (t == T_MAP || t == T_OBJECT || t == T_TYPESET) {
    Cell* s = stack::push_copy(spec);
    Cell* result = stack::reserve_cell();
    cell::set_none(result);
    init_typed(result, 1, type);
    block::append_copy(result, s);
    *s = *result;
    stack::drop_cells(1);
    return s;
  }
  return block_slot<datatype::action::TO>()(proto, spec, type);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  return walk(value, buffer, false, false, false, false, part, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  (void)indent;  // path values are molded with indent 0
  return walk(value, buffer, true, only, all, flat, part, limit);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  uint32_t t = cell::type(value);
  Cell* r = block_slot<datatype::action::COPY>()(value, result, part, deep, types);
  cell::set_type(r, t);
  return r;
}

// The slots path! takes from block! as they are.
void inherit_block_slots(datatype::Row& s) {
  const auto in = datatype::inherit;
  s.reflect = in, s.eval_path = in, s.compare = in, s.append = in, s.at = in, s.back = in;
  s.change = in, s.clear = in, s.find = in, s.head = in, s.head_q = in, s.index_q = in;
  s.insert = in, s.length_q = in, s.move = in, s.next = in, s.pick = in, s.poke = in;
  s.put = in, s.remove = in, s.reverse = in, s.select = in, s.skip = in, s.swap = in;
  s.tail = in, s.tail_q = in, s.take = in, s.modify = in;
}

void install_type() {
  datatype::Registration r{};
  r.id = T_PATH;
  r.parent = T_BLOCK;
  r.name = "path!";
  auto& s = r.slots;
  s.make = make;
  s.to = to;
  s.form = form;
  s.mold = mold;
  s.copy = copy;
  inherit_block_slots(s);
  datatype::register_type(r);
}

// The children take every slot path! supports and mold in their own way.
void install_child(uint32_t id, const char* name, datatype::MoldFn mold_fn) {
  datatype::Registration r{};
  r.id = id;
  r.parent = T_PATH;
  r.name = name;
  auto& s = r.slots;
  s.make = datatype::inherit;
  s.to = datatype::inherit;
  s.form = datatype::inherit;
  s.copy = datatype::inherit;
  inherit_block_slots(s);
  s.mold = mold_fn;
  datatype::register_type(r);
}

}  // namespace kel::path

namespace kel::lit_path {
Cell* push_as_path(Cell* cell) { return path::push_typed(cell, T_LIT_PATH); }
void init_cell(Cell* cell, int32_t capacity) { path::init_typed(cell, capacity, T_LIT_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  limit = function::add_text(buffer, "'", limit);
  return path::mold(value, buffer, only, all, flat, part, limit, indent);
}
void install_type() { path::install_child(T_LIT_PATH, "lit-path!", mold); }
}  // namespace kel::lit_path

namespace kel::set_path {
Cell* push_as_path(Cell* cell) { return path::push_typed(cell, T_SET_PATH); }
void init_cell(Cell* cell, int32_t capacity) { path::init_typed(cell, capacity, T_SET_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  limit = path::mold(value, buffer, only, all, flat, part, limit, indent);
  return function::add_text(buffer, ":", limit);
}
void install_type() { path::install_child(T_SET_PATH, "set-path!", mold); }
}  // namespace kel::set_path

namespace kel::get_path {
Cell* push_as_path(Cell* cell) { return path::push_typed(cell, T_GET_PATH); }
void init_cell(Cell* cell, int32_t capacity) { path::init_typed(cell, capacity, T_GET_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent) {
  limit = function::add_text(buffer, ":", limit);
  return path::mold(value, buffer, only, all, flat, part, limit, indent);
}
void install_type() { path::install_child(T_GET_PATH, "get-path!", mold); }
}  // namespace kel::get_path
