// integer!: the arithmetic core (checked builtins, overflow into float!), the mixed-type
// dispatch, make/to, text, compare, power, round, random and the integer cell API.
#include "runtime/datatypes/integer.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/cell_api.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/error.h"
#include "runtime/evaluator/number_text.h"
#include "runtime/random.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::integer {

namespace {

constexpr int32_t MIN_INT = INT32_MIN;

// A word cell over one of the runtime's own symbols (unbound until the words exist).
Cell word_cell(size_t index) {
  return Cell{T_WORD, 0, runtime::runtime_word_ids[index], 0xFFFFFFFF};
}
Cell integer_type_word() {
  return word_cell(runtime::runtime_word_index("integer!", runtime::WordKind::SYMBOL));
}
Cell action_word(int32_t o) {
  using runtime::WordKind;
  switch (o) {
    case op::ADD: return word_cell(runtime::runtime_word_index("add", WordKind::GLOBAL_WORD));
    case op::SUBTRACT:
      return word_cell(runtime::runtime_word_index("subtract", WordKind::GLOBAL_WORD));
    case op::MULTIPLY:
      return word_cell(runtime::runtime_word_index("multiply", WordKind::GLOBAL_WORD));
    case op::DIVIDE:
      return word_cell(runtime::runtime_word_index("divide", WordKind::GLOBAL_WORD));
    default:
      return stack::current_function_word();  // remainder and the bitwise actions
  }
}

[[noreturn]] void raise_not_related(int32_t o) {
  Cell w = action_word(o);
  Cell t = integer_type_word();
  error::raise(err::script::not_related, &w, &t);
}

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell t = integer_type_word();
  error::raise(err::script::bad_to_arg, &t, spec);
}

int32_t overflow_to_float(Cell* result, double d) {
  if (!result) error::raise(err::math::overflow);
  *result = Cell{T_FLOAT, 0, 0, 0};
  cell::put_double(result, d);
  return 0;
}

bool any_string_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Head and tail of a series cell's used units (head index clamped to the tail).
void series_span(const Cell* s, const uint8_t** start, int32_t* count, uint32_t* unit) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  *unit = memory::unit(b);
  uint32_t total = memory::units(b);
  uint32_t head = s->w1 > total ? total : s->w1;  // a head past the tail reads as empty
  *start = memory::head(b) + size_t(head) * *unit;
  *count = int32_t(total - head);
}

// The double truncated toward zero, when that fits 32 bits (2147483647.9 gives
// 2147483647); otherwise, and for NaN, script/type-limit.
int32_t truncate_checked(double d) {
  double t = std::trunc(d);
  if (std::isnan(t) || t > 2147483647.0 || t < -2147483648.0) {
    Cell w = integer_type_word();
    error::raise(err::script::type_limit, &w);
  }
  return int32_t(t);
}

Cell* float_path_power(Cell* base) {
  double d = double(get(base));
  float_::init_cell(base, d);
  return float_::power();
}

}  // namespace

// ---- Cell API ----

int32_t result_value() { return get(stack::state().base); }

int32_t result_value_or_zero() {
  const Cell* c = stack::state().base;
  return cell::type(c) == T_INTEGER ? get(c) : 0;
}

Cell* set_result(int32_t value) {
  Cell v;
  cell::set_integer(&v, value);
  return stack::set_result(&v);
}

Cell* init_cell(Cell* c, int32_t value) {
  cell::set_type(c, T_INTEGER);
  c->w2 = uint32_t(value);
  return c;
}

Cell* add_to_block(const Cell* block, int32_t value) {
  Cell* c = runtime::block_append_cell(block);
  cell::set_integer(c, value);
  return c;
}

Cell* push_new(int32_t value) {
  Cell* c = stack::reserve_cell();
  cell::set_integer(c, value);
  return c;
}

int32_t sign_of(int32_t value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }

int32_t absolute_checked(int32_t value) {
  if (value == MIN_INT) error::raise(err::math::overflow);
  return value < 0 ? -value : value;
}

bool double_out_of_range_q(double d) {
  return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}

bool float_out_of_range_q(const Cell* float_cell) {
  return double_out_of_range_q(cell::get_double(float_cell));
}

const char* to_decimal_text(int32_t value) {
  // Written from the end, two digits a step.
  static char buf[12];
  static constexpr char pairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  uint32_t v = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
  char* p = buf + 11;
  *p = 0;
  while (v >= 100) {
    uint32_t r = v % 100;
    v /= 100;
    p -= 2;
    std::memcpy(p, pairs + 2 * r, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, pairs + 2 * v, 2);
  } else {
    *--p = char('0' + v);
  }
  if (value < 0) *--p = '-';
  return p;
}

// ---- Arithmetic ----

int32_t do_op(int32_t l, int32_t r, int32_t o, Cell* result) {
  int32_t v = 0;
  switch (o) {
    case op::ADD:
      if (__builtin_add_overflow(l, r, &v)) return overflow_to_float(result, double(l) + double(r));
      break;
    case op::SUBTRACT:
      if (__builtin_sub_overflow(l, r, &v)) return overflow_to_float(result, double(l) - double(r));
      break;
    case op::MULTIPLY:
      if (__builtin_mul_overflow(l, r, &v)) return overflow_to_float(result, double(l) * double(r));
      break;
    case op::DIVIDE:
      if (r == 0) error::raise(err::math::zero_divide);
      if (l == MIN_INT && r == -1) error::raise(err::math::overflow);
      if (result && l % r != 0) {
        *result = Cell{T_FLOAT, 0, 0, 0};
        cell::put_double(result, double(l) / double(r));
        return 0;
      }
      v = l / r;
      break;
    case op::REMAINDER:
      if (r == 0) error::raise(err::math::zero_divide);
      if (l == MIN_INT && r == -1) error::raise(err::math::overflow);
      v = l % r;
      break;
    case op::OR: v = l | r; break;
    case op::AND: v = l & r; break;
    case op::XOR: v = l ^ r; break;
    default: error::raise(err::internal::not_done);
  }
  if (result) result->w2 = uint32_t(v);
  return v;
}

Cell* do_math(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  switch (cell::type(b)) {
    case T_CHAR:
    case T_INTEGER:
      do_op(get(a), get(b), o, a);
      return a;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
      return float_::apply_math_op(o);
    case T_POINT2D:
    case T_POINT3D:
    case T_PAIR: {
      // A scalar minus or divided by a pair or point has no meaning; otherwise swapped.
      if (o == op::SUBTRACT || o == op::DIVIDE) raise_not_related(o);
      uint32_t t = cell::type(b);
      std::swap(*a, *b);
      return t == T_PAIR ? pair::apply_math_op(o) : point::apply_math_op(o);
    }
    case T_TUPLE:
      if (o == op::SUBTRACT || o == op::DIVIDE) raise_not_related(o);
      return tuple::apply_math_op(o);
    case T_DATE:
      if (o != op::ADD) raise_not_related(o);  // named by the action asked
      return date::add_number_first();
    case T_MONEY:
      return money::apply_math_op(o);
    case T_VECTOR:
      return vector::scalar_first(o);
    default: {
      Cell dt{T_DATATYPE, cell::type(b), 0, 0};
      error::raise(err::script::invalid_type, &dt);
    }
  }
}

Cell* add() { return do_math(op::ADD); }
Cell* subtract() { return do_math(op::SUBTRACT); }
Cell* multiply() { return do_math(op::MULTIPLY); }
Cell* divide() { return do_math(op::DIVIDE); }
Cell* remainder() { return do_math(op::REMAINDER); }
Cell* or_() { return do_math(op::OR); }
Cell* and_() { return do_math(op::AND); }
Cell* xor_() { return do_math(op::XOR); }

Cell* absolute() {
  Cell* a = stack::state().base;
  a->w2 = uint32_t(absolute_checked(get(a)));
  return a;
}

Cell* negate() {
  Cell* a = stack::state().base;
  if (get(a) == MIN_INT) error::raise(err::math::overflow);
  a->w2 = uint32_t(-get(a));
  return a;
}

Cell* complement() {
  Cell* a = stack::state().base;
  a->w2 = ~a->w2;
  return a;
}

bool even_q(const Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(const Cell* value) { return (value->w2 & 1) != 0; }

Cell* power() {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t tb = cell::type(b);
  if (tb != T_INTEGER && tb != T_FLOAT) {
    Cell fn = stack::current_function_word();
    Cell dt{T_DATATYPE, tb, 0, 0};
    Cell arg = error::nth_argument_word(1);
    error::raise(err::script::expect_arg, &fn, &dt, &arg);
  }
  if (tb == T_FLOAT || get(b) < 0) return float_path_power(a);
  int64_t result = 1, base = get(a);
  int32_t e = get(b);
  while (e != 0) {
    if (e & 1) {
      result *= base;
      if (result > INT32_MAX || result < INT32_MIN) return float_path_power(a);
    }
    e >>= 1;
    if (e > 0) {
      base *= base;
      if (base > INT32_MAX || base < INT32_MIN) return float_path_power(a);
    }
  }
  return init_cell(a, int32_t(result));
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  if (scale && cell::type(scale) == T_MONEY) {
    Cell fn = stack::current_function_word();
    Cell dt{T_DATATYPE, T_MONEY, 0, 0};
    error::raise(err::script::not_related, &fn, &dt);
  }
  int32_t v = get(value);
  if (v == MIN_INT) return value;
  int32_t s = 1;
  if (scale) {
    if (cell::type(scale) != T_INTEGER) {
      float_::init_cell(value, double(v));
      return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    s = absolute_checked(get(scale));
  }
  if (s == 0) return value;
  int32_t a = v < 0 ? -v : v;
  int32_t r = a % s;
  if (r == 0) return value;
  int32_t lower = a - r;
  int32_t upper = 0;
  bool upper_overflows = __builtin_add_overflow(a, s - r, &upper);
  bool negative = v < 0;
  bool up;
  if (down) up = false;
  else if (floor) up = negative;
  else if (ceiling) up = !negative;
  else if (r < s - r) up = false;
  else if (r > s - r) up = true;
  else if (even) up = ((a / s) & 1) != 0;
  else if (half_down) up = false;
  else if (half_ceiling) up = !negative;
  else up = true;  // halves away from zero
  if (up && upper_overflows) error::raise(err::math::overflow);
  int32_t m = up ? upper : lower;
  value->w2 = uint32_t(negative ? -m : m);
  return value;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(get(value));
    cell::set_unset(value);
    return value;
  }
  int32_t v = get(value);
  if (v != 0) value->w2 = uint32_t(random::pick_1_to_n(secure, v));
  return value;
}

// ---- Conversion ----

int32_t from_hex_text(const Cell* issue, const uint8_t* text, int32_t length) {
  if (length < 1 || length > 8) error::raise(err::script::invalid_data, issue);
  uint32_t value = 0;
  for (int32_t i = 0; i < length; ++i) {
    uint8_t c = text[i] & 0x7F;
    int8_t d = c < 32 ? -1 : lexer::hex_digit[c];
    if (d < 0) error::raise(err::script::invalid_data, issue);
    value = value * 16 + uint32_t(d);
  }
  return int32_t(value);
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  if (cell::type(spec) == T_LOGIC) {
    cell::set_integer(proto, spec->w1 == 1 ? 1 : 0);
    return proto;
  }
  return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  uint32_t ts = cell::type(spec);
  if (ts == T_INTEGER) return spec;
  int32_t v = 0;
  switch (ts) {
    case T_CHAR:
      v = get(spec);
      break;
    case T_FLOAT:
    case T_PERCENT:
      v = truncate_checked(cell::get_double(spec));
      break;
    case T_TIME:
      v = truncate_checked(cell::get_double(spec) + 0.5);
      break;
    case T_BINARY: {
      const uint8_t* p;
      int32_t n;
      uint32_t unit;
      series_span(spec, &p, &n, &unit);
      uint32_t u = 0;
      for (int32_t i = 0; i < n && i < 4; ++i) u = (u << 8) | p[i];
      v = int32_t(u);
      break;
    }
    case T_ISSUE: {
      // The name is read by characters, each taken modulo 128; nine are enough to refuse.
      uint32_t n;
      const uint8_t* p = symbol::utf8(int32_t(spec->w2), &n);
      const uint8_t* end = p + n;
      uint8_t text[9];
      int32_t count = 0;
      while (p < end && count < 9) {
        int32_t cp;
        p = unicode::read_utf8_char(p, end, &cp);
        text[count++] = uint8_t(cp & 0x7F);
      }
      v = from_hex_text(spec, text, count);
      break;
    }
    case T_MONEY:
      v = money::integer_value(spec);
      break;
    case T_DATE:
      v = date::seconds_since_1970(spec);
      break;
    default:
      if (!any_string_q(ts)) raise_bad_to_arg(spec);
      {
        const uint8_t* p;
        int32_t n;
        uint32_t unit;
        series_span(spec, &p, &n, &unit);
        int32_t bad = 0;
        v = text_to_integer(p, n, unit, &bad);
        if (bad) raise_bad_to_arg(spec);
      }
  }
  cell::set_integer(proto, v);
  return proto;
}

// ---- Text and comparison ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  const char* text = to_decimal_text(get(value));
  int32_t n = int32_t(std::strlen(text));
  string::add_buffer_bytes(buffer, reinterpret_cast<const uint8_t*>(text), n);
  return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t limit, int32_t) {
  return form(value, buffer, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t tb = cell::type(b);
  if ((op == 2 || op == 12) && tb != T_INTEGER) return 1;
  switch (tb) {
    case T_INTEGER:
    case T_CHAR: {
      int32_t x = get(a), y = get(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: {
      Cell f;
      float_::init_cell(&f, double(get(a)));
      return float_::compare(&f, b, op);
    }
    case T_MONEY:
      return money::compare_number_first(a, b, op);
    default:
      return -2;
  }
}

void install_type() {
  datatype::register_type(
      {.id = T_INTEGER, .parent = 0, .name = "integer!",
       .slots = {.make = make, .random = random, .to = to, .form = form, .mold = mold,
                 .compare = compare, .absolute = absolute, .add = add, .divide = divide,
                 .multiply = multiply, .negate = negate, .power = power,
                 .remainder = remainder, .round = round, .subtract = subtract,
                 .even_q = even_q, .odd_q = odd_q, .and_ = and_, .complement = complement,
                 .or_ = or_, .xor_ = xor_}});
}

}  // namespace kel::integer
