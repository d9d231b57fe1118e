// char!: codepoint arithmetic kept in 0..10FFFF, make/to from numbers, binaries and texts,
// the character as form, #"..." with caret escapes as mold, comparison by codepoint.
#include "runtime/datatypes/char.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/error.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::char_ {

namespace {

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell t{T_WORD, 0,
         runtime::runtime_word_ids[runtime::runtime_word_index("char!", runtime::WordKind::SYMBOL)],
         0xFFFFFFFF};
  error::raise(err::script::bad_to_arg, &t, spec);
}

bool any_string_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

inline Cell of(int32_t cp) { return Cell{T_CHAR, 0, uint32_t(cp), 0}; }

Cell* add() { return do_math(integer::op::ADD); }
Cell* subtract() { return do_math(integer::op::SUBTRACT); }
Cell* multiply() { return do_math(integer::op::MULTIPLY); }
Cell* divide() { return do_math(integer::op::DIVIDE); }
Cell* remainder() { return do_math(integer::op::REMAINDER); }
Cell* and_() { return do_math(integer::op::AND); }
Cell* or_() { return do_math(integer::op::OR); }
Cell* xor_() { return do_math(integer::op::XOR); }

}  // namespace

Cell* do_math(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  int32_t r = 0;
  switch (cell::type(b)) {
    case T_CHAR:
    case T_INTEGER:
      r = cell::get_int(b);
      break;
    case T_FLOAT: {
      double d = cell::get_double(b);
      // a float that leaves the 32-bit range cannot give a codepoint
      if (integer::double_out_of_range_q(d)) error::raise(err::math::overflow);
      r = int32_t(d);
      break;
    }
    case T_VECTOR:
      return vector::scalar_first(o);
    default: {
      Cell dt{T_DATATYPE, cell::type(b), 0, 0};
      error::raise(err::script::invalid_type, &dt);
    }
  }
  Cell scratch{T_NONE, 0, 0, 0};
  int32_t result = integer::do_op(cell::get_int(a), r, o,
                                  o == integer::op::DIVIDE ? nullptr : &scratch);
  if (cell::type(&scratch) == T_FLOAT || result > MAX_CODEPOINT || result < 0)
    error::raise(err::math::overflow);
  a->w2 = uint32_t(result);
  return a;
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  uint32_t ts = cell::type(spec);
  int32_t cp = 0;
  switch (ts) {
    case T_CHAR:
    case T_INTEGER:
      cp = cell::get_int(spec);
      if (cp < 0 || cp > MAX_CODEPOINT) error::raise(err::script::out_of_range, spec);
      break;
    case T_FLOAT:
    case T_PERCENT: {
      double d = cell::get_double(spec);
      if (integer::double_out_of_range_q(d)) error::raise(err::script::out_of_range, spec);
      cp = int32_t(d);
      if (cp < 0 || cp > MAX_CODEPOINT) error::raise(err::script::out_of_range, spec);
      break;
    }
    case T_BINARY: {
      SeriesBuffer* b = memory::node_buffer(spec->w2);
      uint32_t total = memory::units(b);
      uint32_t head = spec->w1 > total ? total : spec->w1;
      const uint8_t* p = memory::head(b) + head;
      int32_t available = int32_t(total - head);
      // at least one whole sequence at the head
      if (available < 1) raise_bad_to_arg(spec);
      int32_t need = unicode::utf8_lead_length(p[0]);
      if ((need == 0 ? 1 : need) > available) raise_bad_to_arg(spec);
      int32_t used = 0;
      int32_t c = unicode::decode_utf8_checked(p, available, &used);
      cp = c < 0 ? 0xFFFE : c;
      break;
    }
    default: {
      if (!any_string_q(ts)) raise_bad_to_arg(spec);
      SeriesBuffer* b = memory::node_buffer(spec->w2);
      uint32_t unit = memory::unit(b);
      uint32_t total = memory::units(b);
      if (spec->w1 >= total) raise_bad_to_arg(spec);
      cp = unicode::load_unit(memory::head(b) + size_t(spec->w1) * unit, unit);
    }
  }
  *proto = of(cp);
  return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  string::add_codepoint(buffer, cell::get_int(value));
  return limit - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t limit, int32_t) {
  string::add_c_text(buffer, "#\"");
  string::mold_char(buffer, cell::get_int(value), all);
  string::add_codepoint(buffer, '"');
  return limit - 4;  // the escape's own length is not counted
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t tb = cell::type(b);
  if ((op == 2 || op == 12) && tb != T_CHAR) return 1;
  if (tb != T_CHAR && tb != T_INTEGER) return -2;
  int32_t x = cell::get_int(a), y = cell::get_int(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

Cell* push_new(int32_t codepoint) {
  Cell* c = stack::reserve_cell();
  *c = of(codepoint);
  return c;
}

Cell* add_to_block(const Cell* block, int32_t codepoint) {
  Cell* c = runtime::block_append_cell(block);
  *c = of(codepoint);
  return c;
}

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_CHAR, .parent = T_INTEGER, .name = "char!",
       .slots = {.make = make, .random = inherit, .to = make, .form = form, .mold = mold,
                 .compare = compare, .absolute = inherit, .add = add, .divide = divide,
                 .multiply = multiply, .remainder = remainder, .subtract = subtract,
                 .even_q = inherit, .odd_q = inherit, .and_ = and_, .or_ = or_,
                 .xor_ = xor_}});
}

}  // namespace kel::char_
