// Word family: cell operations over contexts and the stack, make/to, form and the five molds,
// compare by canonical or exact ids, index?, and the registrations of word! and its children.
#include "runtime/datatypes/word.h"

#include <string>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/hash_mem.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::word {

using gc::Kept;

namespace {

using string::MODE_APPEND;

Cell* cells(Node n) { return reinterpret_cast<Cell*>(hash::mem::data(n)); }

// The value cell at index, stack- or series-held; a function context that is not running
// raises script/not-defined with the word-list entry.
Cell* slot_of(Node ctx, int32_t index) {
  Cell* x = context::cell_of(ctx);
  if (!x->w2) {
    Cell w = *context::word_at(ctx, index);
    error::raise(err::script::not_defined, &w);
  }
  if (x->header & hdr::CONTEXT_ON_STACK) return stack::at_index(x->w2 - 1 + uint32_t(index));
  return cells(x->w2) + index;
}

void mark_assigned(Node ctx, int32_t index) {
  if (context::kind_of(ctx) == context::KIND_OBJECT)
    context::word_at(ctx, index)->header |= hdr::WORD_ASSIGNED;
}

// Appends the symbol's name to the buffer; returns the characters written.
int32_t append_name(int32_t symbol, Cell* buffer) {
  Cell s{T_STRING, 0, symbol::string_node(symbol), 0};
  gc::Root keep(&s);
  string::concat_part(buffer, &s, -1, 0, true, MODE_APPEND);
  return int32_t(hash::mem::used(s.w2) / hash::mem::unit(s.w2));
}

}  // namespace

namespace detail {

int32_t mold_with(const Cell* value, Cell* buffer, int32_t limit, int32_t prefix, int32_t suffix) {
  int32_t symbol = int32_t(value->w2);
  if (prefix) string::add_codepoint(buffer, prefix);
  int32_t n = append_name(symbol, buffer);
  if (suffix) string::add_codepoint(buffer, suffix);
  return limit - n - 1;
}

}  // namespace detail

namespace {

bool word_or_lit(uint32_t a, uint32_t b) {
  return (a == T_WORD && b == T_LIT_WORD) || (a == T_LIT_WORD && b == T_WORD);
}

}  // namespace

namespace detail {

// A child of word!: everything inherited but its mold (and index? where it has none).
void register_child(uint32_t id, const char* name, datatype::MoldFn mold_fn, bool index) {
  datatype::Registration r{id, T_WORD, name, {}};
  r.slots.make = datatype::inherit;
  r.slots.to = datatype::inherit;
  r.slots.form = datatype::inherit;
  r.slots.mold = mold_fn;
  r.slots.compare = datatype::inherit;
  if (index) r.slots.index_q = datatype::inherit;
  datatype::register_type(r);
}

}  // namespace detail

bool any_word_type_q(uint32_t type) { return type >= T_WORD && type <= T_ISSUE; }

Cell intern_global(const char* text) {
  return context::add_word(symbol::intern_c_text(text), true, true);
}

Cell* init_cell(int32_t symbol, Cell* cell) {
  Cell w{T_WORD, context::global, uint32_t(symbol), 0};
  w.w3 = uint32_t(context::find_or_add_word_index(context::global, &w));
  w.w1 = context::global;  // re-read: the add may have moved the node
  *cell = w;
  return cell;
}

Cell* push_new(int32_t symbol) {
  Cell w;
  init_cell(symbol, &w);
  return stack::push_copy(&w);
}

Cell* add_to_block(int32_t symbol, const Cell* block) {
  Kept b(block);
  Cell w;
  {
    gc::Root keep(&w);
    w = Cell{T_UNSET, 0, 0, 0};
    init_cell(symbol, &w);
    Cell* c = runtime::series_append_cell_node(b.c.w2);
    *c = w;
    return c;
  }
}

Cell* add_text_to_block(const char* text, const Cell* block) {
  Kept b(block);
  return add_to_block(symbol::intern_c_text(text), &b.c);
}

Cell* push_copy(const Cell* w) { return stack::push_copy(w); }

Cell* bound_word_at(Node ctx, int32_t index) { return context::word_at(ctx, index); }

Cell* push_bound_word(Node ctx, int32_t index) { return stack::push_copy(context::word_at(ctx, index)); }

Cell lookup_or_add(Node ctx, int32_t symbol) {
  int32_t i = context::find_symbol(ctx, symbol, false);
  if (i >= 0) return Cell{T_WORD, ctx, uint32_t(symbol), uint32_t(i)};
  return context::add_global_word(symbol);
}

Cell* slot_at_node(Node ctx, int32_t index) { return cells(context::cell_of(ctx)->w2) + index; }

Cell* push_value_at(Node ctx, int32_t index) { return stack::push_copy(slot_of(ctx, index)); }

Cell* push_value_checked(const Cell* w) {
  Cell word = *w;
  const Cell* v = value_slot(&word);
  if (cell::type(v) == T_UNSET) error::raise(err::script::no_value, &word);
  return stack::push_copy(v);
}

Cell* assign_frame_value() {
  Cell* base = stack::state().base;
  if (cell::type(base + 1) == T_UNSET) error::raise(err::script::need_value, base);
  assign_value(base, base + 1);
  return stack::set_result(base + 1);
}

void set_slot_from_top(Node ctx, int32_t index) {
  mark_assigned(ctx, index);
  *slot_of(ctx, index) = *stack::last_pushed();
}

void swap_slot_with_top(Node ctx, int32_t index) {
  Cell former = *stack::last_pushed();
  mark_assigned(ctx, index);
  stack::push_copy(slot_of(ctx, index));
  *slot_of(ctx, index) = former;
}

Cell* symbol_cell(const Cell* w) { return symbol::cell_of(int32_t(w->w2)); }

Cell* form_to_string(const Cell* w) {
  // The string gets its own copy of the characters: the symbol's string is shared by
  // every word of that spelling and must never change.
  Node shared = symbol::string_node(int32_t(w->w2));
  Cell s{T_STRING, 0, shared, 0};
  gc::Root keep(&s);
  s.w2 = hash::mem::clone(s.w2);
  return stack::push_copy(&s);
}

uint32_t scan_type(const Cell* w) {
  uint32_t n = 0;
  const uint8_t* p = symbol::utf8(int32_t(w->w2), &n);
  std::string text(reinterpret_cast<const char*>(p), n);
  return lexer::scan_first_type(reinterpret_cast<const uint8_t*>(text.data()), int32_t(n));
}

void assign_value(Cell* w, const Cell* value) { context::assign(w, value, w->w1, true); }

Cell* value_slot(const Cell* w) { return context::value_slot(w, w->w1); }

Cell* set_frame() {
  Cell* base = stack::state().base;
  assign_value(base, base + 1);
  return stack::set_result(base + 1);
}

Cell* get_frame() {
  Cell* base = stack::state().base;
  return stack::set_result(value_slot(base));
}

Cell* push_as(const Cell* w, uint32_t type) {
  Cell* c = stack::push_copy(w);
  cell::set_type(c, type);
  return c;
}

Cell* add_text_as(const char* text, const Cell* block, uint32_t type) {
  Cell* c = add_text_to_block(text, block);
  cell::set_type(c, type);
  return c;
}

Cell intern_global_as(const char* text, uint32_t type) {
  Cell w = intern_global(text);
  cell::set_type(&w, type);
  return w;
}

// The type's global word from its record (made when the type words are not interned yet).
Cell type_word(uint32_t type, const Cell* target, const Cell* spec) {
  datatype::TypeRecord& rec = datatype::type_table[type < datatype::TABLE_TYPES ? type : 0];
  if (!rec.name) error::raise(err::script::bad_to_arg, target, spec);
  if (cell::type(&rec.word) != T_WORD) rec.word = intern_global(rec.name);
  Cell w = rec.word;
  w.w1 = context::global;  // the record is no root: its node may be an old one
  return w;
}

Cell* make(Cell* prototype, Cell* spec, uint32_t type) {
  Kept s(spec);
  Cell result{};
  uint32_t t = cell::type(&s.c);
  Cell target{T_DATATYPE, type, 0, 0};
  switch (t) {
    case T_DATATYPE:
      result = type_word(s.c.w1, &target, &s.c);
      break;
    case T_LOGIC:
      result = context::add_word(symbol::runtime_id(s.c.w1 == 1 ? symbol::RW_TRUE : symbol::RW_FALSE),
                                 true, true);
      break;
    case T_STRING:
    case T_CHAR: {
      Cell text = s.c;
      gc::Root keep(&text);
      if (t == T_CHAR) {
        string::init_cell(&text, 1);
        string::add_codepoint(&text, cell::get_int(&s.c));
      }
      lexer::load_first_value(&text, &result);
      if (!any_word_type_q(cell::type(&result))) error::raise(err::script::invalid_chars);
      break;
    }
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD:
      result = s.c;
      break;
    case T_REFINEMENT: case T_ISSUE: {
      uint32_t st = scan_type(&s.c);
      if (st != T_WORD && st != T_SET_WORD && st != T_GET_WORD && st != T_LIT_WORD)
        error::raise(err::script::bad_to_arg, &target, &s.c);
      result = s.c;
      context::bind_one(context::global, &result);
      break;
    }
    default:
      error::raise(err::script::bad_to_arg, &target, &s.c);
  }
  result.header = type;
  *prototype = result;
  return prototype;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  return limit - append_name(int32_t(value->w2), buffer);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t ta = cell::type(a), tb = cell::type(b);
  if ((tb == T_ISSUE && ta != T_ISSUE) || !any_word_type_q(tb)) return -2;
  int32_t sa = int32_t(a->w2), sb = int32_t(b->w2);
  auto result = [](bool equal) { return equal ? 0 : 1; };
  switch (op) {
    case 0: case 1: case 12:
      return result(sa == sb || symbol::canonical_id(sa) == symbol::canonical_id(sb));
    case 2:
      return result(ta == tb && sa == sb);
    case 9:
      return result(sa == sb && a->w1 == b->w1 && ta == tb);
    case 10:
      return result(word_or_lit(ta, tb) ? sa == sb : ta == tb && sa == sb);
    case 11: {
      bool same = sa == sb || symbol::canonical_id(sa) == symbol::canonical_id(sb);
      return result(word_or_lit(ta, tb) ? same : ta == tb && same);
    }
    default: {
      Cell x{T_STRING, 0, symbol::string_node(sa), 0};
      gc::Root kx(&x);
      Cell y{T_STRING, 0, symbol::string_node(sb), 0};
      return string::compare_strings(&x, &y, op, false);
    }
  }
}

Cell* index_q() {
  Cell* base = stack::state().base;
  if (int32_t(base->w3) == -1) cell::set_none(base);
  else cell::set_integer(base, int32_t(base->w3) + 1);
  return base;
}

void install_type() {
  datatype::Registration r{T_WORD, T_SYMBOL, "word!", {}};
  r.slots.make = &make;
  r.slots.to = &make;
  r.slots.form = &form;
  r.slots.mold = &mold;
  r.slots.compare = &compare;
  r.slots.index_q = &index_q;
  datatype::register_type(r);
}

}  // namespace kel::word

namespace kel::lit_word {
Cell* push_bound_word(Node ctx, int32_t i) { return word::push_as(context::word_at(ctx, i), T_LIT_WORD); }
int32_t mold(Cell* v, Cell* b, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return word::detail::mold_with(v, b, limit, '\'', 0);
}
void install_type() { word::detail::register_child(T_LIT_WORD, "lit-word!", &mold, true); }
}  // namespace kel::lit_word

namespace kel::set_word {
Cell* push_bound_word(Node ctx, int32_t i) { return word::push_as(context::word_at(ctx, i), T_SET_WORD); }
int32_t mold(Cell* v, Cell* b, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return word::detail::mold_with(v, b, limit, 0, ':');
}
void install_type() { word::detail::register_child(T_SET_WORD, "set-word!", &mold, true); }
}  // namespace kel::set_word

namespace kel::get_word {
Cell* push_bound_word(Node ctx, int32_t i) { return word::push_as(context::word_at(ctx, i), T_GET_WORD); }
int32_t mold(Cell* v, Cell* b, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return word::detail::mold_with(v, b, limit, ':', 0);
}
void install_type() { word::detail::register_child(T_GET_WORD, "get-word!", &mold, true); }
}  // namespace kel::get_word

namespace kel::refinement {
Cell* push_bound_word(Node ctx, int32_t i) { return word::push_as(context::word_at(ctx, i), T_REFINEMENT); }
int32_t mold(Cell* v, Cell* b, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return word::detail::mold_with(v, b, limit, '/', 0);
}
void install_type() { word::detail::register_child(T_REFINEMENT, "refinement!", &mold, false); }
}  // namespace kel::refinement

namespace kel::get_word {
Cell* push_value(const Cell* w) {
  Cell word = *w;
  return stack::push_copy(word::value_slot(&word));
}
}  // namespace kel::get_word

namespace kel::refinement {
Cell add_global(const char* text) { return Cell{T_REFINEMENT, 0, uint32_t(symbol::intern_c_text(text)), context::NO_INDEX}; }
}  // namespace kel::refinement
