// none!: make/to give a new none cell, "none" text, equal only to itself; clear, find,
// remove, select and take answer none and length? -1 (a none result).
#include "runtime/datatypes/none.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kel::none {

namespace {
Cell* clear(Cell*) { return set_result(); }
Cell* find(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
  return set_result();
}
Cell* remove(Cell*, Cell*, Cell*) { return set_result(); }
Cell* select(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
  return set_result();
}
Cell* take(Cell*, Cell*, bool, bool) { return set_result(); }
}  // namespace

Cell* make(Cell*, Cell*, uint32_t) { return push_new(); }

int32_t form(Cell*, Cell* buffer, Cell*, int32_t limit) {
  string::add_c_text(buffer, "none");
  return limit - 4;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* part, int32_t limit,
             int32_t) {
  if (!all) return form(value, buffer, part, limit);
  string::add_c_text(buffer, "#(none)");
  return limit - 7;
}

int32_t compare(const Cell*, const Cell* b, int32_t op) {
  if (cell::type(b) != T_NONE) return -2;
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
    default: return -2;
  }
}

int32_t length_q(Cell*) { return -1; }

Cell* set_result() { return stack::set_result(cell::none_value()); }

Cell* add_to_block(const Cell* block) {
  Cell* c = runtime::block_append_cell(block);
  cell::set_none(c);
  return c;
}

Cell* push_new() {
  Cell* c = stack::reserve_cell();
  cell::set_none(c);
  return c;
}

void install_type() {
  datatype::register_type({.id = T_NONE, .parent = 0, .name = "none!",
                           .slots = {.make = make, .to = make, .form = form, .mold = mold,
                                     .compare = compare, .clear = clear, .find = find,
                                     .length_q = length_q, .remove = remove, .select = select,
                                     .take = take}});
}

}  // namespace kel::none
