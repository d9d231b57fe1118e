// issue! values: the cell operations, make/to from words, strings and chars, the "#" mold,
// compare only against issues, and the registration under word!.
#include "runtime/datatypes/issue.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words_interim.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::issue {

namespace {
Cell issue_of(int32_t symbol) { return Cell{T_ISSUE, context::global, uint32_t(symbol), context::NO_INDEX}; }
datatype::SlotFn fn(auto f) { return reinterpret_cast<datatype::SlotFn>(f); }
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
  i.w1 = context::global;
  Cell* c = runtime::series_append_cell_node(b.w2);
  *c = i;
  return c;
}

Cell* from_c_text(const char* text) {
  Cell i = issue_of(symbol::intern_c_text(text));
  i.w1 = context::global;
  return stack::push_copy(&i);
}

Cell* push_from_word(const Cell* w) { return word::push_as(w, T_ISSUE); }

Cell* make(Cell* prototype, const Cell* spec, uint32_t type) {
  uint32_t t = cell::type(spec);
  Cell result;
  if (t >= T_WORD && t <= T_ISSUE) {
    result = *spec;
  } else if (t == T_STRING) {
    result = issue_of(symbol::intern_string(spec));  // from the string's index, not validated
    result.w1 = context::global;
  } else if (t == T_CHAR) {
    uint8_t bytes[4];
    int32_t n = unicode::encode_utf8_char(int32_t(spec->w1), bytes);
    result = issue_of(symbol::intern_text(bytes, uint32_t(n)));
    result.w1 = context::global;
  } else {
    return word::make(prototype, spec, type);
  }
  result.header = type;
  *prototype = result;
  return prototype;
}

int32_t mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* part, int32_t limit,
             int32_t) {
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
  for (auto& s : r.slots) s = nullptr;
  r.slots[datatype::slot::MAKE - 1] = fn(&make);
  r.slots[datatype::slot::TO - 1] = fn(&make);
  r.slots[datatype::slot::FORM - 1] = datatype::inherit_slot();
  r.slots[datatype::slot::MOLD - 1] = fn(&mold);
  r.slots[datatype::slot::COMPARE - 1] = fn(&compare);
  datatype::register_type(r);
}

}  // namespace kel::issue
