// system/locale (month names, the currency list) and system/options/money-digits: their
// start-up values and the reads date! and money! make of them.
#include "runtime/datatypes/locale.h"

#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"

// The start-up values, generated from boot/locale.kel.
#include "locale_gen.h"

namespace kel::locale {

namespace {

Cell word_of(const char* name) {
  Cell w = word::intern_global(name);
  w.header = T_WORD;
  return w;
}

// The object field's value (a copy), or none.
Cell field(const Cell& object, const char* name) {
  if (cell::type(&object) != T_OBJECT) return Cell{T_NONE, 0, 0, 0};
  Cell o = object;
  gc::Root keep(&o);  // interning may allocate and move the context's node
  int32_t symbol = symbol::intern_c_text(name);
  Cell* v = context::value_of_symbol(symbol, o.w1);
  return v ? *v : Cell{T_NONE, 0, 0, 0};
}

Cell system_object() {
  Cell w = word_of("system");
  if (!w.w1) return Cell{T_NONE, 0, 0, 0};
  Cell* v = word::value_slot(&w);
  return v ? *v : Cell{T_NONE, 0, 0, 0};
}

// Sets the field of the object at path to the values loaded from text, unless it is there.
void add_loaded(const char* path, const char* name, const char* text) {
  Cell* top = stack::state().top;
  Cell* o = system::push_object(path);
  Cell w = word_of(name);
  bool present = context::find_symbol(o->w1, int32_t(w.w2), true) >= 0;
  if (!present) {
    Cell* block = stack::reserve_cell();
    *block = Cell{T_NONE, 0, 0, 0};
    launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)),
                        block);
    system::set_field(path, name, block);
  }
  stack::state().top = top;
}

Cell currency_list() {
  Cell sys = system_object();
  Cell list = field(field(field(sys, "locale"), "currencies"), "list");
  return list;
}

}  // namespace

void add_system_fields() {
  Cell sys = system_object();
  if (cell::type(&sys) != T_OBJECT) return;
  add_loaded("locale", "months", boot::MONTHS);
  add_loaded("locale/currencies", "list", boot::CURRENCIES);
  Cell* top = stack::state().top;
  Cell* options = system::push_object("options");
  Cell w = word_of("money-digits");
  if (context::find_symbol(options->w1, int32_t(w.w2), true) < 0) {
    Cell two{T_INTEGER, 0, 2, 0};
    system::set_field("options", "money-digits", &two);
  }
  stack::state().top = top;
}

int32_t currency_index(const uint8_t* code, int32_t length) {
  if (length != 3) return -1;
  Cell list = currency_list();
  if (cell::type(&list) != T_BLOCK) {
    // Before `system` is made the boot list stands for it.
    for (int32_t i = 0; i < boot::CURRENCY_COUNT; ++i) {
      const char* c = boot::CURRENCIES + i * 4;
      if ((code[0] & 0xDF) == uint8_t(c[0]) && (code[1] & 0xDF) == uint8_t(c[1]) &&
          (code[2] & 0xDF) == uint8_t(c[2]))
        return i + 1;
    }
    return -1;
  }
  gc::Root keep(&list);
  int32_t wanted = symbol::canonical_id(symbol::intern_text(code, 3));
  int32_t n = block::count_from_head(&list);
  for (int32_t i = 0; i < n && i < 255; ++i) {
    const Cell* c = block::cell_at_index(&list, int32_t(list.w1) + i);
    if (word::any_word_type_q(cell::type(c)) &&
        symbol::canonical_id(int32_t(c->w2)) == wanted)
      return i + 1;
  }
  return -1;
}

bool currency_word(int32_t index, Cell* out) {
  if (index < 1 || index > 255) return false;
  Cell list = currency_list();
  if (cell::type(&list) != T_BLOCK || index > block::count_from_head(&list)) return false;
  const Cell* c = block::cell_at_index(&list, int32_t(list.w1) + index - 1);
  if (!word::any_word_type_q(cell::type(c))) return false;
  *out = *c;
  out->header = T_WORD;
  return true;
}

std::string currency_code(int32_t index) {
  Cell w;
  if (cell::type(&(w = currency_list())) != T_BLOCK) {
    if (index < 1 || index > boot::CURRENCY_COUNT) return std::string();
    return std::string(boot::CURRENCIES + (index - 1) * 4, 3);
  }
  if (!currency_word(index, &w)) return std::string();
  return symbol::text(int32_t(w.w2));
}

int32_t money_digits() {
  Cell d = field(field(system_object(), "options"), "money-digits");
  return cell::type(&d) == T_INTEGER ? cell::get_int(&d) : 2;
}

int32_t month_abbreviation(int32_t month, int32_t out[3]) {
  Cell loc = field(system_object(), "locale");
  if (cell::type(&loc) != T_OBJECT && month >= 1 && month <= 12) {
    // Before `system/locale` is made the boot names stand for it.
    const boot::Abbreviation& a = boot::MONTH_ABBREVIATIONS[month - 1];
    for (int32_t k = 0; k < a.count; ++k) out[k] = a.codepoints[k];
    return a.count;
  }
  Cell months = field(loc, "months");
  if (cell::type(&months) == T_BLOCK && month >= 1 &&
      month <= block::count_from_head(&months)) {
    Cell item = *block::cell_at_index(&months, int32_t(months.w1) + month - 1);
    if (cell::type(&item) == T_STRING) {
      int32_t n = string::count_from_head(&item);
      int32_t k = 0;
      for (; k < n && k < 3; ++k) out[k] = string::codepoint_at(&item, int32_t(item.w1) + k);
      return k;
    }
  }
  error::raise(err::script::invalid_months);
}

}  // namespace kel::locale
