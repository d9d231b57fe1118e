// handle! cells: making them, their text forms ("0001A2B3h", "#[handle! 0001A2B3h window]"),
// comparison by value, and the datatype's registration (form, mold, compare only).
#include "runtime/datatypes/handle.h"

#include <string>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kel::handle {

namespace {

const char* const KIND_NAMES[] = {"null", "fd", "monitor", "window", "font", "rich-text",
                                    "port-actor"};

void add_text(Cell* out, const char* text) { string::add_c_text(out, text); }

// The value as 8 upper-case hexadecimal digits and "h".
void value_text(const Cell* h, char* text) {
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 8; ++i) text[i] = digits[(h->w2 >> (28 - 4 * i)) & 15];
  text[8] = 'h';
  text[9] = 0;
}

}  // namespace

Cell* init_cell(Cell* cell, int32_t value, uint32_t kind) {
  *cell = Cell{T_HANDLE, kind, uint32_t(value), 0xFFFFFFFFu};
  return cell;
}

Cell* push_new(int32_t value, uint32_t kind) { return init_cell(stack::reserve_cell(), value, kind); }

void set_result(int32_t value, uint32_t kind) {
  Cell c;
  init_cell(&c, value, kind);
  stack::set_only_result(&c);
}

Cell* push_null() { return push_new(0, KIND_NULL); }

const char* kind_name(uint32_t kind) {
  return kind < sizeof KIND_NAMES / sizeof KIND_NAMES[0] ? KIND_NAMES[kind] : "";
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
  char text[10];
  value_text(value, text);
  add_text(out, text);
  return budget - 9;
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
  if (!all) {
    add_text(out, "handle!");
    return budget - 7;
  }
  char text[10];
  value_text(value, text);
  std::string s = "#[handle! ";
  s += text;
  if (value->w1 > 0 && *kind_name(value->w1)) {
    s += ' ';
    s += kind_name(value->w1);
  }
  s += ']';
  add_text(out, s.c_str());
  return budget - int32_t(s.size());
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
  // Not a handle: unequal, and no order (1 here would make `null-handle > 1` true).
  if (cell::type(b) != T_HANDLE) return -2;
  int32_t x = int32_t(a->w2), y = int32_t(b->w2);
  return x < y ? -1 : x > y ? 1 : 0;
}

void install_type() {
  datatype::register_type({.id = T_HANDLE, .parent = T_INTEGER, .name = "handle!",
                           .slots = {.form = form, .mold = mold, .compare = compare}});
}

}  // namespace kel::handle
