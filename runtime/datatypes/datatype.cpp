// datatype!: the type's name as its text (form without "!", mold with it, /all in #( )),
// equality by id and no order; the datatype! cell constructors.
#include "runtime/datatypes/datatype.h"

#include <string_view>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kel::datatype {

namespace {

// The name of the id without its "!": the registered record's, else the id's own name (a type
// whose unit is not built yet still molds as itself).
std::string_view name_of(const Cell* v) {
  uint32_t id = v->w1;
  if (id < TABLE_TYPES && type_table[id].name) return {type_table[id].name, type_table[id].name_length};
  std::string_view n = type_name_of(id);
  return n.empty() ? n : n.substr(0, n.size() - 1);
}

void add_bytes(Cell* buffer, const char* text, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) string::add_codepoint(buffer, uint8_t(text[i]));
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  std::string_view n = name_of(value);
  if (n.empty()) return limit;
  add_bytes(buffer, n.data(), uint32_t(n.size()));
  return limit - int32_t(n.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t limit, int32_t) {
  std::string_view n = name_of(value);
  if (n.empty()) return limit;
  if (all) string::add_c_text(buffer, "#(");
  add_bytes(buffer, n.data(), uint32_t(n.size()));
  string::add_codepoint(buffer, '!');
  if (all) {
    string::add_codepoint(buffer, ')');
    limit -= 3;
  }
  return limit - int32_t(n.size()) - 1;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  switch (op) {
    case 0: case 1: case 2: case 9: case 12:
      return cell::type(b) == T_DATATYPE && b->w1 == a->w1 ? 0 : 1;
    default:
      return -2;  // datatypes have no order
  }
}

Cell* push_new(uint32_t id) {
  Cell* c = stack::reserve_cell();
  *c = value_of(id);
  return c;
}

Cell* add_to_block(const Cell* block, uint32_t id) {
  Cell* c = runtime::block_append_cell(block);
  *c = value_of(id);
  return c;
}

void install_type() {
  register_type({.id = T_DATATYPE, .parent = 0, .name = "datatype!",
                 .slots = {.form = form, .mold = mold, .compare = compare}});
}

}  // namespace kel::datatype
