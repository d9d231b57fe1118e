// point2D! and point3D!: registration, make/to, arithmetic by the second operand's type,
// tolerant compare, round, path and pick access, random and the text form "(x, y[, z])".
#include "runtime/datatypes/point.h"

#include <bit>
#include <cmath>
#include <string>
#include <utility>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/murmur3.h"
#include "runtime/random.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::point {

namespace {

using immediate::datatype_cell;
using immediate::raise_bad_to_arg;
using immediate::raise_invalid_type;

// Makes c a point of the type from up to three coordinates, keeping its header flags.
Cell* store(Cell* c, uint32_t type, const double* v) {
  uint32_t keep = c->header & ~hdr::TYPE_MASK;
  *c = Cell{type, 0, 0, 0};
  c->header |= keep;
  for (int32_t i = 0; i < count_of(c); ++i) set_coordinate(c, i, float(v[i]));
  return c;
}

Cell* from_block(Cell* out, const Cell* spec, uint32_t type) {
  int32_t n = type == T_POINT3D ? 3 : 2;
  if (block::count_from_head(spec) < n) error::raise(err::syntax::malconstruct, spec);
  double v[3] = {0, 0, 0};
  for (int32_t i = 0; i < n; ++i) {
    const Cell* item = block::cell_at_index(spec, int32_t(spec->w1) + i);
    if (cell::type(item) == T_INTEGER) v[i] = double(cell::get_int(item));
    else if (cell::type(item) == T_FLOAT) v[i] = cell::get_double(item);
    else error::raise(err::syntax::malconstruct, spec);
  }
  *out = Cell{T_NONE, 0, 0, 0};
  return store(out, type, v);
}

// The 1-based coordinate an element names; a path and pick differ in their errors.
int32_t component(const Cell* point, const Cell* element, const Cell* path) {
  int32_t n = count_of(point);
  uint32_t t = cell::type(element);
  int32_t i = 0;
  if (immediate::word_like_q(t)) {
    i = component_of_word(element);
    if (i >= 1 && i <= n) return i;
    if (path) error::raise(err::script::invalid_path, path, element);
    error::raise(err::script::cannot_use, element, point);
  }
  if (t == T_INTEGER) i = cell::get_int(element);
  if (i >= 1 && i <= n) return i;
  if (path) error::raise(err::script::invalid_path, path, element);
  error::raise(err::script::out_of_range, element);
}

Cell* float_result(float f) {
  Cell* out = stack::reserve_cell();
  return float_::init_cell(out, double(f));
}

}  // namespace

float coordinate(const Cell* c, int32_t i) {
  return std::bit_cast<float>(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3);
}

void set_coordinate(Cell* c, int32_t i, float v) {
  uint32_t bits = std::bit_cast<uint32_t>(v);
  if (i == 0) c->w1 = bits;
  else if (i == 1) c->w2 = bits;
  else c->w3 = bits;
}

int32_t component_of_word(const Cell* word) {
  using runtime::WordKind;
  static constexpr size_t words[3] = {runtime::runtime_word_index("x", WordKind::SYMBOL),
                                      runtime::runtime_word_index("y", WordKind::SYMBOL),
                                      runtime::runtime_word_index("z", WordKind::SYMBOL)};
  int32_t id = symbol::canonical_id(int32_t(word->w2));
  for (int32_t i = 0; i < 3; ++i)
    if (id == symbol::canonical_id(symbol::runtime_id(words[i]))) return i + 1;
  return 0;
}

// ---- Arithmetic ----

Cell* apply_math_op(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t ta = cell::type(a), tb = cell::type(b);
  int32_t n = count_of(a);
  if (o < integer::op::ADD || o > integer::op::REMAINDER) raise_invalid_type(tb);
  double c[3], r[3];
  for (int32_t i = 0; i < n; ++i) c[i] = double(coordinate(a, i));
  if (tb == T_INTEGER) {
    for (int32_t i = 0; i < n; ++i) r[i] = double(cell::get_int(b));
  } else if (tb == T_FLOAT || tb == T_PERCENT) {
    for (int32_t i = 0; i < n; ++i) r[i] = double(float(cell::get_double(b)));
  } else if (tb == T_PAIR && ta == T_POINT2D) {
    r[0] = double(pair::x_of(b));
    r[1] = double(pair::y_of(b));
  } else if (tb == ta) {
    for (int32_t i = 0; i < n; ++i) r[i] = double(coordinate(b, i));
  } else {
    raise_invalid_type(tb);
  }
  for (int32_t i = 0; i < n; ++i) c[i] = float_::arith_on_doubles(c[i], r[i], o);
  return store(a, ta, c);
}

Cell* add() { return apply_math_op(integer::op::ADD); }
Cell* subtract() { return apply_math_op(integer::op::SUBTRACT); }
Cell* multiply() { return apply_math_op(integer::op::MULTIPLY); }
Cell* divide() { return apply_math_op(integer::op::DIVIDE); }
Cell* remainder() { return apply_math_op(integer::op::REMAINDER); }

Cell* absolute() {
  Cell* a = stack::state().base;
  a->w1 &= 0x7FFFFFFFu;
  a->w2 &= 0x7FFFFFFFu;
  if (count_of(a) == 3) a->w3 &= 0x7FFFFFFFu;
  return a;
}

Cell* negate() {
  Cell* a = stack::state().base;
  for (int32_t i = 0; i < count_of(a); ++i) set_coordinate(a, i, float(0.0 - double(coordinate(a, i))));
  return a;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  uint32_t ts = scale ? cell::type(scale) : 0;
  if (ts == T_MONEY) {
    Cell fn = stack::current_function_word();
    Cell dt = datatype_cell(T_MONEY);
    error::raise(err::script::not_related, &fn, &dt);
  }
  int32_t n = count_of(value);
  double out[3];
  for (int32_t i = 0; i < n; ++i) {
    Cell c;
    float_::init_cell(&c, double(coordinate(value, i)));
    Cell s;
    Cell* sp = nullptr;
    if (scale) {
      s = *scale;
      if (ts == T_PAIR && cell::type(value) == T_POINT2D) {
        cell::set_integer(&s, i == 0 ? pair::x_of(scale) : pair::y_of(scale));
      } else if (ts == T_POINT2D || ts == T_POINT3D) {
        float f = i < count_of(scale) ? coordinate(scale, i) : 0.0f;
        float_::init_cell(&s, double(f));
      }
      sp = &s;
    }
    float_::round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
    out[i] = cell::type(&c) == T_INTEGER ? double(cell::get_int(&c)) : cell::get_double(&c);
  }
  return store(value, cell::type(value), out);
}

Cell* reverse(Cell* value, Cell*, Cell*) {
  if (count_of(value) == 3) std::swap(value->w1, value->w3);
  else std::swap(value->w1, value->w2);
  return value;
}

// ---- Slots ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t target = type == T_POINT3D ? T_POINT3D : T_POINT2D;
  uint32_t ts = cell::type(spec);
  if (ts == target) return spec;
  double v[3] = {0, 0, 0};
  switch (ts) {
    case T_BLOCK: return from_block(proto, spec, target);
    case T_STRING: return immediate::from_text(proto, spec, target);
    case T_INTEGER: v[0] = v[1] = v[2] = double(cell::get_int(spec)); break;
    case T_FLOAT: v[0] = v[1] = v[2] = cell::get_double(spec); break;
    case T_PAIR:
      v[0] = double(pair::x_of(spec));
      v[1] = double(pair::y_of(spec));
      break;
    case T_POINT2D:  // only for point3D! here
      v[0] = double(coordinate(spec, 0));
      v[1] = double(coordinate(spec, 1));
      break;
    default: raise_bad_to_arg(target, spec);
  }
  *proto = Cell{T_NONE, 0, 0, 0};
  return store(proto, target, v);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  int32_t n = count_of(value);
  if (seed) {
    uint32_t words[3] = {value->w1, value->w2, value->w3};
    random::seed(int32_t(hash::murmur3_x86_32(words, size_t(n) * 4)));
    cell::set_unset(value);
    return value;
  }
  for (int32_t i = 0; i < n; ++i) {
    float c = coordinate(value, i);
    if (c != 0.0f) set_coordinate(value, i, float(float_::random_fraction(double(c), secure)));
  }
  return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  std::string text = "(";
  for (int32_t i = 0; i < count_of(value); ++i) {
    if (i) text += ", ";
    text += float_::number_to_text(double(coordinate(value, i)), float_::kind::POINT);
  }
  text += ")";
  string::add_c_text(buffer, text.c_str());
  return limit - int32_t(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  Cell other = *b;
  if (cell::type(a) == T_POINT2D && cell::type(b) == T_PAIR) pair::as_point2D_cell(&other);
  if (cell::type(&other) != cell::type(a)) return -2;
  int32_t n = count_of(a);
  switch (op) {
    case 0: case 1:
      for (int32_t i = 0; i < n; ++i)
        if (!float_::equal_single_q(coordinate(a, i), coordinate(&other, i))) return 1;
      return 0;
    case 2:
      for (int32_t i = 0; i < n; ++i)
        if (!(coordinate(a, i) == coordinate(&other, i))) return 1;
      return 0;
    case 9:
      return a->w1 == other.w1 && a->w2 == other.w2 && (n == 2 || a->w3 == other.w3) ? 0 : 1;
    default:
      break;
  }
  // Ordered by x, then y, then z; coordinates that are equal within the tolerance tie.
  for (int32_t i = 0; i < n; ++i) {
    float x = coordinate(a, i), y = coordinate(&other, i);
    if (float_::equal_single_q(x, y)) continue;
    double d = double(x) - double(y);
    if (d < 0) return -1;
    if (d > 0) return 1;
  }
  return 0;
}

Cell* pick(Cell* value, int32_t, Cell* index_cell) {
  return float_result(coordinate(value, component(value, index_cell, nullptr) - 1));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t, bool, bool, bool, bool change_notice) {
  int32_t i = component(parent, element, path);
  if (!value) return float_result(coordinate(parent, i - 1));
  float f;
  switch (cell::type(value)) {
    case T_INTEGER: f = float(cell::get_int(value)); break;
    case T_FLOAT: f = float(cell::get_double(value)); break;
    default: raise_invalid_type(cell::type(value));
  }
  Cell* old = change_notice ? stack::push_copy(parent) : nullptr;
  set_coordinate(parent, i - 1, f);
  immediate::notify_path_set(container, previous, old, parent, value, i);
  if (old) stack::drop_cells(1);
  return stack::push_copy(value);
}

}  // namespace kel::point

namespace kel::point2D {

Cell* init_cell(Cell* c, float x, float y) {
  *c = Cell{T_POINT2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
  return c;
}

Cell* push_new(float x, float y) { return init_cell(stack::reserve_cell(), x, y); }

Cell* apply_math_op(int32_t op) { return point::apply_math_op(op); }

void install_type() {
  using namespace point;
  datatype::register_type(
      {.id = T_POINT2D, .parent = 0, .name = "point2D!",
       .slots = {.make = make, .random = point::random, .to = make, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .absolute = absolute,
                 .add = add, .divide = divide, .multiply = multiply, .negate = negate,
                 .remainder = remainder, .round = round, .subtract = subtract,
                 .pick = pick, .reverse = reverse}});
}

}  // namespace kel::point2D

namespace kel::point3D {

Cell* init_cell(Cell* c, float x, float y, float z) {
  *c = Cell{T_POINT3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
            std::bit_cast<uint32_t>(z)};
  return c;
}

Cell* push_new(float x, float y, float z) { return init_cell(stack::reserve_cell(), x, y, z); }

Cell* apply_math_op(int32_t op) { return point::apply_math_op(op); }

void install_type() {
  using namespace point;
  datatype::register_type(
      {.id = T_POINT3D, .parent = 0, .name = "point3D!",
       .slots = {.make = make, .random = point::random, .to = make, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .absolute = absolute,
                 .add = add, .divide = divide, .multiply = multiply, .negate = negate,
                 .remainder = remainder, .round = round, .subtract = subtract,
                 .pick = pick, .reverse = reverse}});
}

}  // namespace kel::point3D

// The lexer's point literals: coordinates read as doubles, stored as singles; a paren with
// commas holds numbers that the lexer has counted and checked.
namespace kel::lexer::hook {
void load_point(Cell* out, const double* coordinates, int32_t count) {
  if (count == 3)
    point3D::init_cell(out, float(coordinates[0]), float(coordinates[1]), float(coordinates[2]));
  else
    point2D::init_cell(out, float(coordinates[0]), float(coordinates[1]));
}

void load_point_block(Cell* out, uint32_t type, const Cell* block) {
  double v[3] = {0, 0, 0};
  int32_t n = block::count_from_head(block);
  for (int32_t i = 0; i < n && i < 3; ++i) {
    const Cell* item = block::cell_at_index(block, int32_t(block->w1) + i);
    v[i] = cell::type(item) == T_INTEGER ? double(cell::get_int(item)) : cell::get_double(item);
  }
  if (type == T_POINT3D) point3D::init_cell(out, float(v[0]), float(v[1]), float(v[2]));
  else point2D::init_cell(out, float(v[0]), float(v[1]));
}
}  // namespace kel::lexer::hook
