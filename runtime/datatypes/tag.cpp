// tag!, email! and ref!: their text forms, email!'s user and host path, and their
// registrations (string! slots inherited as the table of each type allows).
#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel {

namespace {
// The text of a string-like value appended as form does; the characters' cost is taken.
int32_t chars(Cell* value, Cell* out, Cell* part, int32_t budget) {
  return string::form(value, out, part, budget);
}
}  // namespace

namespace tag {

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
  string::add_codepoint(out, '<');
  budget = chars(value, out, part, budget - 1);
  string::add_codepoint(out, '>');
  return budget - 1;
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  return form(value, out, part, budget);
}

Cell* push_copy(const Cell* value) { return string::push_copy(value); }

}  // namespace tag

namespace email {

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  return chars(value, out, part, budget);
}

namespace {

bool word_is_q(const Cell* w, const char* name) {
  return symbol::canonical_id(int32_t(w->w2)) ==
         symbol::canonical_id(symbol::intern_c_text(name));
}

// A new string! of the characters [from, to) of the email (indexes from the head).
Cell* part_copy(Cell* e, int32_t from, int32_t to) {
  Cell* r = stack::reserve_cell();
  *r = Cell{T_NONE, 0, 0, 0};  // the collector reads the cell while the string is made
  string::init_cell(r, to - from);
  for (int32_t i = from; i < to; ++i)
    string::add_codepoint(r, string::codepoint_at(e, int32_t(e->w1) + i));
  return r;
}

}  // namespace

Cell* user_host_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                     Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                     bool change_notice) {
  uint32_t et = cell::type(element);
  if (et == T_INTEGER) {
    auto fn = datatype::slot<datatype::action::EVAL_PATH>(T_STRING);
    if (!fn) error::raise(err::script::invalid_path, element, path);
    return fn(parent, element, value, path, container, previous, step, absent_as_none, case_,
              last, change_notice);
  }
  bool user = et == T_WORD && word_is_q(element, "user");
  bool host = et == T_WORD && word_is_q(element, "host");
  if (!user && !host) error::raise(err::script::invalid_path, element, path);
  Cell e = *parent;
  gc::Root keep(&e);
  int32_t n = string::count_from_head(&e);
  int32_t at = string::index_of_codepoint(&e, '@');
  bool has_at = at >= 0;
  if (!has_at) at = n;
  if (!value) return user ? part_copy(&e, 0, at) : part_copy(&e, has_at ? at + 1 : n, n);

  Cell v = *value;
  gc::Root keep_v(&v);
  if (!string::any_string_q(cell::type(&v))) {
    Cell text;
    string::init_cell(&text, 16);
    gc::Root keep_text(&text);
    actions::direct_form(&v, &text, nullptr, 0x7FFFFFFF);
    v = text;
  }
  int32_t h = int32_t(e.w1);
  if (user) {
    string::delete_range(&e, h, at);
    string::concat_part(&e, &v, -1, 0, false, string::MODE_INSERT);
  } else {
    // Without an "@" the host would join the user part: the "@" is written first.
    if (!has_at) string::add_codepoint(&e, '@');
    string::shorten_to(&e, h + at + 1);
    string::concat_part(&e, &v, -1, 0, false, string::MODE_APPEND);
  }
  *parent = e;
  return value;
}

}  // namespace email

namespace ref {

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  string::add_codepoint(out, '@');
  return chars(value, out, part, budget - 1);
}

Cell* push_copy(const Cell* value) { return string::push_copy(value); }

}  // namespace ref

// ---- Registrations: what each type takes from string! ----

void tag::install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_TAG, .parent = T_STRING, .name = "tag!",
       .slots = {.make = inherit, .reflect = inherit, .to = inherit, .form = form, .mold = mold,
                 .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
                 .back = inherit, .change = inherit, .clear = inherit, .copy = inherit,
                 .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
                 .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
                 .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit,
                 .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
                 .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit}});
}

void email::install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_EMAIL, .parent = T_STRING, .name = "email!",
       .slots = {.make = inherit, .reflect = inherit, .to = inherit, .form = inherit,
                 .mold = mold, .eval_path = user_host_path, .compare = inherit,
                 .append = inherit, .at = inherit, .back = inherit, .change = inherit,
                 .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
                 .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit,
                 .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
                 .put = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
                 .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
                 .take = inherit, .modify = inherit}});
}

void ref::install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_REF, .parent = T_STRING, .name = "ref!",
       .slots = {.make = inherit, .reflect = inherit, .to = inherit, .form = inherit,
                 .mold = mold, .compare = inherit, .at = inherit, .back = inherit,
                 .change = inherit, .clear = inherit, .copy = inherit, .find = inherit,
                 .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
                 .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                 .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
                 .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
                 .take = inherit, .modify = inherit}});
}

}  // namespace kel
