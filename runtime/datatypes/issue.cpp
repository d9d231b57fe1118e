// issue! values: the cell operations, make/to from words, strings and chars, the "#" mold,
// compare only against issues, and the registration under word!.
#include "runtime/datatypes/issue.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::issue {

namespace {
Cell issue_of(int32_t symbol) { return Cell{T_ISSUE, context::global, uint32_t(symbol), context::NO_INDEX}; }
}  // namespace

Cell* init_from_text(Cell* cell, const char* text) {
  int32_t s = symbol::intern_c_text(text);
  *cell = issue_of(s);
  return cell;
}

Cell* add_to_block(const char* text, const Cell* block) {
  Cell b = *block;
  gc::Root keep(&b);
  Cell i = issue_of(symbol::intern_c_text(text));
  Cell* c = runtime::series_append_cell_node(b.w2);
  i.w1 = context::global;  // the append may have moved the node
  *c = i;
  return c;
}

Cell* from_c_text(const char* text) {
  Cell i = issue_of(symbol::intern_c_text(text));
  if (!stack::state().args_begin) {
    // Before the stacks exist (start-up) there is nowhere to push: a cell of our own.
    static Cell made;
    made = i;
    return &made;
  }
  return stack::push_copy(&i);
}

Cell* push_from_word(const Cell* w) { return word::push_as(w, T_ISSUE); }

Cell* make(Cell* prototype, Cell* spec, uint32_t type) {
  uint32_t t = cell::type(spec);
  Cell result;
  if (t >= T_WORD && t <= T_ISSUE) {
    result = *spec;
  } else if (t == T_STRING) {
    result = issue_of(symbol::intern_string(spec));  // from the string's index, not validated
  } else if (t == T_CHAR) {
    uint8_t bytes[4];
    int32_t n = unicode::encode_utf8_char(cell::get_int(spec), bytes);
    result = issue_of(symbol::intern_text(bytes, uint32_t(n)));
  } else {
    return word::make(prototype, spec, type);
  }
  result.header = type;
  *prototype = result;
  return prototype;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  Cell v = *value;
  string::add_codepoint(buffer, '#');
  return word::form(&v, buffer, part, limit - 1);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_ISSUE) return -2;
  return word::compare(a, b, op);
}

void install_type() {
  datatype::Registration r{T_ISSUE, T_WORD, "issue!", {}};
  r.slots.make = &make;
  r.slots.to = &make;
  r.slots.form = datatype::inherit;
  r.slots.mold = &mold;
  r.slots.compare = &compare;
  datatype::register_type(r);
}

}  // namespace kel::issue
