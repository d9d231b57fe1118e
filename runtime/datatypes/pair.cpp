// pair!: registration, make/to, arithmetic with its hand-over to point2D!, compare, path and
// pick access, round, reverse, random and the text form "10x-20".
#include "runtime/datatypes/pair.h"

#include <cmath>
#include <string>
#include <utility>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace kel::pair {

namespace {

using immediate::datatype_cell;
using immediate::int32_of_double;
using immediate::raise_invalid_type;

// The pair's value kept with the cell's flags (new-line mark).
Cell* store(Cell* c, int32_t x, int32_t y) {
  uint32_t keep = c->header & ~hdr::TYPE_MASK;
  init_cell(c, x, y);
  c->header |= keep;
  return c;
}

int32_t item_value(const Cell* item, const Cell* spec) {
  switch (cell::type(item)) {
    case T_INTEGER: return cell::get_int(item);
    case T_FLOAT: return int32_of_double(cell::get_double(item), item);
    default: error::raise(err::syntax::malconstruct, spec);
  }
}

Cell* from_block(Cell* out, const Cell* spec) {
  if (block::count_from_head(spec) < 2) error::raise(err::syntax::malconstruct, spec);
  const Cell* first = block::cell_at_index(spec, int32_t(spec->w1));
  Cell a = first[0], b = first[1];
  return init_cell(out, item_value(&a, spec), item_value(&b, spec));
}

int32_t from_coordinate(float f) {
  Cell c;
  float_::init_cell(&c, double(f));
  return int32_of_double(double(f), &c);
}

// 1 or 2 for the element; pick and path differ in the errors they raise.
int32_t component(const Cell* pair, const Cell* element, const Cell* path) {
  uint32_t t = cell::type(element);
  if (immediate::word_like_q(t)) {
    int32_t i = point::component_of_word(element);
    if (i == 1 || i == 2) return i;
    error::raise(err::script::cannot_use, element, pair);
  }
  if (t == T_INTEGER && (cell::get_int(element) == 1 || cell::get_int(element) == 2))
    return cell::get_int(element);
  if (path) error::raise(err::script::invalid_path, path, element);
  error::raise(err::script::out_of_range, element);
}

Cell* integer_result(int32_t v) {
  Cell* out = stack::reserve_cell();
  cell::set_integer(out, v);
  return out;
}

}  // namespace

// ---- Cell API ----

Cell* init_cell(Cell* c, int32_t x, int32_t y) {
  *c = Cell{T_PAIR, 0, uint32_t(x), uint32_t(y)};
  return c;
}

Cell* push_new(int32_t x, int32_t y) { return init_cell(stack::reserve_cell(), x, y); }

Cell* add_to_block(Cell* block, int32_t x, int32_t y) {
  Cell v;
  init_cell(&v, x, y);
  return block::append_copy(block, &v);
}

Cell* as_point2D_cell(Cell* c) {
  uint32_t keep = c->header & ~hdr::TYPE_MASK;
  point2D::init_cell(c, float(x_of(c)), float(y_of(c)));
  c->header |= keep;
  return c;
}

// ---- Arithmetic ----

Cell* apply_math_op(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t tb = cell::type(b);
  int32_t x = x_of(a), y = y_of(a), x2, y2;
  switch (tb) {
    case T_POINT2D: case T_POINT3D:
      as_point2D_cell(a);
      return point::apply_math_op(o);
    case T_INTEGER:
      x2 = y2 = cell::get_int(b);
      break;
    case T_PAIR:
      x2 = x_of(b);
      y2 = y_of(b);
      break;
    case T_FLOAT: case T_PERCENT: {
      double f = cell::get_double(b);
      if (o == integer::op::MULTIPLY || o == integer::op::DIVIDE) {
        if (std::isnan(f) || (o == integer::op::MULTIPLY && std::isinf(f)))
          error::raise(err::script::invalid_arg, b);
        double rx = float_::arith_on_doubles(double(x), f, o);
        double ry = float_::arith_on_doubles(double(y), f, o);
        uint32_t keep = a->header & ~hdr::TYPE_MASK;
        point2D::init_cell(a, float(rx), float(ry));
        a->header |= keep;
        return a;
      }
      x2 = y2 = int32_of_double(f, b);
      break;
    }
    default:
      raise_invalid_type(tb);
  }
  Cell sx{T_INTEGER, 0, 0, 0}, sy{T_INTEGER, 0, 0, 0};
  int32_t rx = integer::do_op(x, x2, o, &sx);
  int32_t ry = integer::do_op(y, y2, o, &sy);
  if (cell::type(&sx) == T_FLOAT || cell::type(&sy) == T_FLOAT) {
    // Out of the integers (or an inexact quotient): the operation is redone on points.
    as_point2D_cell(a);
    point2D::init_cell(b, float(x2), float(y2));
    return point::apply_math_op(o);
  }
  return store(a, rx, ry);
}

Cell* add() { return apply_math_op(integer::op::ADD); }
Cell* subtract() { return apply_math_op(integer::op::SUBTRACT); }
Cell* multiply() { return apply_math_op(integer::op::MULTIPLY); }
Cell* divide() { return apply_math_op(integer::op::DIVIDE); }
Cell* remainder() { return apply_math_op(integer::op::REMAINDER); }
Cell* and_() { return apply_math_op(integer::op::AND); }
Cell* or_() { return apply_math_op(integer::op::OR); }
Cell* xor_() { return apply_math_op(integer::op::XOR); }

Cell* absolute() {
  Cell* a = stack::state().base;
  return store(a, integer::absolute_checked(x_of(a)), integer::absolute_checked(y_of(a)));
}

Cell* negate() {
  Cell* a = stack::state().base;
  // Negating the smallest integer has no answer in 32 bits.
  if (x_of(a) == INT32_MIN || y_of(a) == INT32_MIN) error::raise(err::math::overflow);
  return store(a, -x_of(a), -y_of(a));
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  if (scale && cell::type(scale) == T_MONEY) {
    Cell fn = stack::current_function_word();
    Cell dt = datatype_cell(T_MONEY);
    error::raise(err::script::not_related, &fn, &dt);
  }
  int32_t out[2];
  for (int32_t i = 0; i < 2; ++i) {
    Cell c;
    cell::set_integer(&c, i == 0 ? x_of(value) : y_of(value));
    Cell s;
    Cell* sp = nullptr;
    if (scale) {
      s = *scale;
      if (cell::type(scale) == T_PAIR) cell::set_integer(&s, i == 0 ? x_of(scale) : y_of(scale));
      sp = &s;
    }
    integer::round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
    out[i] = cell::type(&c) == T_INTEGER ? cell::get_int(&c) : int32_of_double(cell::get_double(&c));
  }
  return store(value, out[0], out[1]);
}

// ---- Slots ----

Cell* make(Cell* proto, Cell* spec, uint32_t) {
  switch (cell::type(spec)) {
    case T_PAIR: return spec;
    case T_INTEGER: return init_cell(proto, cell::get_int(spec), cell::get_int(spec));
    case T_FLOAT: {
      int32_t n = int32_of_double(cell::get_double(spec), spec);
      return init_cell(proto, n, n);
    }
    case T_BLOCK: return from_block(proto, spec);
    case T_STRING: return immediate::from_text(proto, spec, T_PAIR);
    case T_POINT2D: {
      int32_t x = from_coordinate(point::coordinate(spec, 0));
      int32_t y = from_coordinate(point::coordinate(spec, 1));
      return init_cell(proto, x, y);
    }
    default: immediate::raise_bad_to_arg(T_PAIR, spec);
  }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(x_of(value) ^ y_of(value));
    cell::set_unset(value);
    return value;
  }
  int32_t x = x_of(value), y = y_of(value);
  if (x) x = random::pick_1_to_n(secure, x);
  if (y) y = random::pick_1_to_n(secure, y);
  return store(value, x, y);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  std::string text = std::to_string(x_of(value)) + "x" + std::to_string(y_of(value));
  string::add_c_text(buffer, text.c_str());
  return limit - int32_t(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) == T_POINT2D) {
    Cell p = *a;
    as_point2D_cell(&p);
    return point::compare(&p, b, op);
  }
  if (cell::type(b) != T_PAIR) return -2;
  if (x_of(a) != x_of(b)) return x_of(a) < x_of(b) ? -1 : 1;
  if (y_of(a) != y_of(b)) return y_of(a) < y_of(b) ? -1 : 1;
  return 0;
}

Cell* pick(Cell* value, int32_t, Cell* index_cell) {
  int32_t i = component(value, index_cell, nullptr);
  return integer_result(i == 1 ? x_of(value) : y_of(value));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t, bool, bool, bool, bool change_notice) {
  int32_t i = component(parent, element, path);
  if (!value) return integer_result(i == 1 ? x_of(parent) : y_of(parent));
  if (cell::type(value) != T_INTEGER) raise_invalid_type(cell::type(value));
  Cell* old = change_notice ? stack::push_copy(parent) : nullptr;
  if (i == 1) parent->w2 = value->w2;
  else parent->w3 = value->w2;
  immediate::notify_path_set(container, previous, old, parent, value, i);
  if (old) stack::drop_cells(1);
  return stack::push_copy(value);
}

Cell* reverse(Cell* value, Cell*, Cell*) {
  std::swap(value->w2, value->w3);
  return value;
}

void install_type() {
  datatype::register_type(
      {.id = T_PAIR, .parent = 0, .name = "pair!",
       .slots = {.make = make, .random = random, .to = make, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .absolute = absolute, .add = add,
                 .divide = divide, .multiply = multiply, .negate = negate,
                 .remainder = remainder, .round = round, .subtract = subtract, .and_ = and_,
                 .or_ = or_, .xor_ = xor_, .pick = pick, .reverse = reverse}});
}

}  // namespace kel::pair

// The lexer's pair literal: two checked signed digit runs around x or X, each within 32 bits.
namespace kel::lexer::hook {
void load_pair(Cell* out, const uint8_t* text, int32_t length) {
  int64_t half[2] = {0, 0};
  int32_t k = 0;
  bool negative = false;
  for (int32_t i = 0; i < length; ++i) {
    uint8_t c = text[i];
    if (c == 'x' || c == 'X') {
      if (negative) half[k] = -half[k];
      k = 1;
      negative = false;
    } else if (c == '-') {
      negative = true;
    } else if (c >= '0' && c <= '9' && half[k] <= 0xFFFFFFFFll) {
      half[k] = half[k] * 10 + (c - '0');
    }
  }
  if (negative) half[1] = -half[1];
  pair::init_cell(out, int32_t(half[0]), int32_t(half[1]));
}
}  // namespace kel::lexer::hook
