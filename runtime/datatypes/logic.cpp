// logic!: make from numbers, to by the truth rule, random, text, compare (no order),
// complement and the and~/or~/xor~ core; the truth helpers and constructors.
#include "runtime/datatypes/logic.h"

#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace kel::logic {

namespace {

const Cell k_true{T_LOGIC, 1, 0, 0};
const Cell k_false{T_LOGIC, 0, 0, 0};

inline Cell of(bool flag) { return flag ? k_true : k_false; }

// and~ (6), or~ (5), xor~ (7) on the frame's two cells.
Cell* do_op(int32_t op) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  if (cell::type(b) != T_LOGIC) {
    Cell fn = stack::current_function_word();
    Cell dt{T_DATATYPE, cell::type(b), 0, 0};
    Cell arg = error::nth_argument_word(1);
    error::raise(err::script::expect_arg, &fn, &dt, &arg);
  }
  uint32_t x = a->w1, y = b->w1;
  a->w1 = op == 6 ? (x & y) : op == 5 ? (x | y) : (x ^ y);
  return a;
}

}  // namespace

const Cell* true_value() { return &k_true; }
const Cell* false_value() { return &k_false; }

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  switch (cell::type(spec)) {
    case T_INTEGER:
      *proto = of(cell::get_int(spec) != 0);
      return proto;
    case T_FLOAT:
    case T_PERCENT:
      *proto = of(cell::get_double(spec) != 0.0);  // NaN is not 0.0: true
      return proto;
    default:
      return to(proto, spec, type);
  }
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  if (cell::type(spec) == T_LOGIC) return spec;
  *proto = of(cell::type(spec) != T_NONE);
  return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w1));
    cell::set_unset(value);
    return value;
  }
  int32_t draw = secure ? random::secure_31() : random::next_word();
  *value = of(draw > 0x3FFFFFFF);
  return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  if (value->w1 == 1) {
    string::add_c_text(buffer, "true");
    return limit - 4;
  }
  string::add_c_text(buffer, "false");
  return limit - 5;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* part, int32_t limit,
             int32_t) {
  if (!all) return form(value, buffer, part, limit);
  if (value->w1 == 1) {
    string::add_c_text(buffer, "#(true)");
    return limit - 7;
  }
  string::add_c_text(buffer, "#(false)");
  return limit - 8;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_LOGIC) return -2;
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 9: case 12:
      // by truth, so false sorts before true
      return int32_t(a->w1 == 1) - int32_t(b->w1 == 1);
    default:
      return -2;  // no order: true < false raises in the generic compare
  }
}

Cell* complement() {
  Cell* a = stack::state().base;
  a->w1 ^= 1;
  return a;
}

Cell* and_() { return do_op(6); }
Cell* or_() { return do_op(5); }
Cell* xor_() { return do_op(7); }

Cell* set_result(bool flag) {
  Cell v = of(flag);
  return stack::set_result(&v);
}

Cell* add_to_block(const Cell* block, bool flag) {
  Cell* c = runtime::block_append_cell(block);
  *c = of(flag);
  return c;
}

Cell* push_new(bool flag) {
  Cell* c = stack::reserve_cell();
  *c = of(flag);
  return c;
}

int32_t get_flag(const Cell* c) { return int32_t(c->w1); }

bool truth_of(const Cell* value, bool check, const Cell* word) {
  if (check && cell::type(value) == T_UNSET) error::raise(err::script::no_value, word);
  return true_q(value);
}

bool top_is_true() {
  stack::State& s = stack::state();
  const Cell* v = s.top > s.base ? s.top - 1 : s.base;
  return true_q(v);
}

bool top_is_false() { return !top_is_true(); }

bool result_truth_checked() {
  const Cell* v = stack::state().base;
  if (cell::type(v) == T_UNSET) error::raise(err::script::no_return);
  return true_q(v);
}

bool result_truth() { return true_q(stack::state().base); }

void install_type() {
  datatype::register_type({.id = T_LOGIC, .parent = 0, .name = "logic!",
                           .slots = {.make = make, .random = random, .to = to, .form = form,
                                     .mold = mold, .compare = compare, .and_ = and_,
                                     .complement = complement, .or_ = or_, .xor_ = xor_}});
}

}  // namespace kel::logic
