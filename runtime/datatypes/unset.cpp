// unset!: make/to give a new unset cell, empty form, "unset" mold, equal only to itself;
// the unset cell API.
#include "runtime/datatypes/unset.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kel::unset {

Cell* make(Cell*, Cell*, uint32_t) { return push_new(); }

int32_t form(Cell*, Cell*, Cell*, int32_t limit) { return limit; }

int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t limit, int32_t) {
  if (all) {
    string::add_c_text(buffer, "#(unset)");
    return limit - 8;
  }
  string::add_c_text(buffer, "unset");
  return limit - 5;
}

int32_t compare(const Cell*, const Cell* b, int32_t op) {
  if (cell::type(b) != T_UNSET) return -2;
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
    default: return -2;
  }
}

Cell* set_result() { return stack::set_result(cell::unset_value()); }

Cell* add_to_block(const Cell* block) {
  Cell* c = runtime::block_append_cell(block);
  cell::set_unset(c);
  return c;
}

Cell* push_new() {
  Cell* c = stack::reserve_cell();
  cell::set_unset(c);
  return c;
}

void install_type() {
  datatype::register_type({.id = T_UNSET, .parent = 0, .name = "unset!",
                           .slots = {.make = make, .to = make, .form = form, .mold = mold,
                                     .compare = compare}});
}

}  // namespace kel::unset
