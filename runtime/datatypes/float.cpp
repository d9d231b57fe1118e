// float!: the action row (make/to, random, text, compare, math, round, parity), the text of
// a double per numeric kind, the mixed-operand dispatcher and tolerant equality of doubles.
#include "runtime/datatypes/float.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/evaluator/number_scan.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::float_ {

bool pretty = true;
namespace {
bool g_full_support = false;
}

void set_pretty_print(bool on) { pretty = on; }
bool pretty_print_q() { return pretty; }
void set_full_support(bool on) { g_full_support = on; }
bool full_support_q() { return g_full_support; }

void set_flag_routine() {
  const Cell* args = stack::state().base;
  uint32_t t = cell::type(args + 1);
  bool on = t != T_NONE && !(t == T_LOGIC && args[1].w1 == 0);
  int32_t word = symbol::canonical_id(int32_t(args[0].w2));
  if (word == symbol::canonical_id(symbol::intern_c_text("pretty?"))) set_pretty_print(on);
  else if (word == symbol::canonical_id(symbol::intern_c_text("full?"))) set_full_support(on);
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

namespace {

constexpr double DBL_EPS = 2.220446049250313080847e-16;  // 2^-52

std::string general(double x, int precision) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, precision);
  return std::string(buf, r.ptr);
}

std::string print_kind(double x, int k) {
  switch (k) {
    case kind::FLOAT: return general(x, 16);
    case kind::PERCENT: return general(x, 13);
    case kind::TIME_SECONDS: return dtoa::float_to_text(x, 6, false);
    default: return general(x, 7);
  }
}

// Ordered integer of a double's bits: -0.0 and +0.0 coincide.
int64_t ordered(double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  if (bits >> 63) return -int64_t(bits & 0x7FFFFFFFFFFFFFFFull);
  return int64_t(bits);
}

int32_t ordered32(float f) {
  uint32_t bits = std::bit_cast<uint32_t>(f);
  if (bits >> 31) return -int32_t(bits & 0x7FFFFFFFu);
  return int32_t(bits);
}

int32_t add_text(Cell* buffer, const std::string& text) {
  string::add_buffer_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()),
                           int32_t(text.size()));
  return int32_t(text.size());
}

Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

[[noreturn]] void raise_invalid_type(uint32_t t) {
  Cell dt = datatype_cell(t);
  error::raise(err::script::invalid_type, &dt);
}

[[noreturn]] void raise_bad_to_arg(uint32_t target, const Cell* spec) {
  Cell dt = datatype_cell(target);
  error::raise(err::script::bad_to_arg, &dt, spec);
}

// script/not-related with the word of the action asked and the other operand's type.
[[noreturn]] void raise_not_related(uint32_t t) {
  Cell fn = stack::current_function_word();
  Cell dt = datatype_cell(t);
  error::raise(err::script::not_related, &fn, &dt);
}

// Used units of a series cell from its head (a head past the tail reads as empty).
void series_span(const Cell* s, const uint8_t** start, int32_t* count, uint32_t* unit) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  *unit = memory::unit(b);
  uint32_t total = memory::units(b);
  uint32_t head = s->w1 > total ? total : s->w1;
  *start = memory::head(b) + size_t(head) * *unit;
  *count = int32_t(total - head);
}

bool text_type_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL ||
         t == T_REF;
}

bool number_q(const Cell* c) {
  uint32_t t = cell::type(c);
  return t == T_INTEGER || t == T_FLOAT;
}

double number_of(const Cell* c) {
  return cell::type(c) == T_INTEGER ? double(cell::get_int(c)) : cell::get_double(c);
}

// The double truncated toward zero as a 32-bit integer; false when it does not fit.
bool truncate_32(double d, int32_t* out) {
  double t = std::trunc(d);
  if (std::isnan(t) || t > 2147483647.0 || t < -2147483648.0) return false;
  *out = int32_t(t);
  return true;
}

// A float of at most four binary fraction digits from 1/16 up to 10^11 holds an exact
// decimal of at most 15 digits: %.16g writes it as it is (no exponent, nothing rounded, no
// noise for the pretty trim, whose 01/99 endings such a fraction never has). Its float!
// text with the ".0" of a whole number, or 0 for any other value.
int32_t short_float_text(double x, char* out) {
  double ax = std::fabs(x);
  if (!(ax >= 0.0625 && ax < 1e11)) return 0;
  double sixteenths = ax * 16.0;  // exact: a power of two
  uint64_t m = uint64_t(sixteenths);  // below 1.6e12: exact when whole
  if (double(m) != sixteenths) return 0;
  uint64_t whole = m >> 4;
  uint32_t frac = uint32_t(m & 15) * 625;  // ten-thousandths
  char* p = out;
  if (x < 0) *p++ = '-';
  char digits[20];
  int n = 0;
  do {
    digits[n++] = char('0' + whole % 10);
    whole /= 10;
  } while (whole);
  while (n) *p++ = digits[--n];
  *p++ = '.';
  if (frac == 0) {
    *p++ = '0';
  } else {
    char f[4] = {char('0' + frac / 1000), char('0' + frac / 100 % 10), char('0' + frac / 10 % 10),
                 char('0' + frac % 10)};
    int k = 4;
    while (f[k - 1] == '0') --k;
    for (int i = 0; i < k; ++i) *p++ = f[i];
  }
  return int32_t(p - out);
}

}  // namespace

std::string number_to_text(double x, int k) {
  if (k == kind::FLOAT) {
    char text[32];
    if (int32_t n = short_float_text(x, text)) return std::string(text, size_t(n));
  }
  if (std::isnan(x)) return "1.#NaN";
  if (std::isinf(x)) return x > 0 ? "1.#INF" : "-1.#INF";
  if (pretty && std::fabs(x) < DBL_EPS) {
    if (k == kind::SINGLE_PERCENT || k == kind::PERCENT) return "0%";
    return k == kind::POINT ? "0" : "0.0";
  }
  std::string t = print_kind(x, k);
  if (pretty) {
    size_t e = t.find('e');
    size_t len = e == std::string::npos ? t.size() : e;
    size_t first = t[0] == '-' ? 1 : 0;
    bool noisy = e != std::string::npos ? len > 16 : (len > 16 && t[first] != '0') || len > 17;
    if (noisy && len >= 2) {
      std::string last = t.substr(len - 2, 2);
      if (last == "01" || last == "99") {
        bool short_kind = k == kind::SINGLE || k == kind::TIME_SECONDS || k == kind::POINT;
        t = general(x, short_kind ? 5 : 14);
      }
    }
  }
  // Exponent: keep "-", drop "+" and leading zeros (1e+020 -> 1e20).
  size_t e = t.find('e');
  if (e != std::string::npos) {
    std::string mant = t.substr(0, e);
    std::string exp = t.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    size_t i = (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) ? 1 : 0;
    while (i + 1 < exp.size() && exp[i] == '0') ++i;
    t = mant + "e" + (neg ? "-" : "") + exp.substr(i);
  }
  if (k == kind::SINGLE_PERCENT || k == kind::PERCENT) return t + "%";
  if ((k == kind::SINGLE || k == kind::FLOAT) && t.find('.') == std::string::npos) {
    size_t at = t.find('e');
    if (at == std::string::npos) t += ".0";
    else t.insert(at, ".0");
  }
  return t;
}

bool equal_double_q(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::fabs(a - b) < DBL_EPS) return true;
  int64_t x = ordered(a), y = ordered(b);
  uint64_t distance = x > y ? uint64_t(x) - uint64_t(y) : uint64_t(y) - uint64_t(x);
  return distance <= 10;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  return limit - add_text(buffer, number_to_text(value_of(value), kind::FLOAT));
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  return limit - add_text(buffer, dtoa::float_to_text(value_of(value), 0, true));
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t tb = cell::type(b);
  if ((op == 2 || op == 9 || op == 12) && tb != cell::type(a)) return 1;
  double x = value_of(a), y;
  switch (tb) {
    case T_INTEGER: y = double(cell::get_int(b)); break;
    case T_FLOAT: case T_PERCENT: case T_TIME: y = value_of(b); break;
    case T_MONEY: return money::compare_number_first(a, b, op);
    default: return -2;
  }
  switch (op) {
    case 0: case 1: return equal_double_q(x, y) ? 0 : 1;
    case 2: return x == y ? 0 : 1;
    case 9: return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : 1;
    default: break;
  }
  if (std::isnan(x) || std::isnan(y)) {
    if (op == 3 || op == 4) return 1;
    if (op == 5 || op == 6) return -1;
    return 0;
  }
  return x < y ? -1 : x > y ? 1 : 0;
}

Cell* power() {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t tb = cell::type(b);
  double y;
  if (tb == T_INTEGER) y = double(cell::get_int(b));
  else if (tb == T_FLOAT) y = value_of(b);
  else {
    Cell fn = stack::current_function_word();
    Cell dt{T_DATATYPE, tb, 0, 0};
    Cell arg = error::nth_argument_word(1);
    error::raise(err::script::expect_arg, &fn, &dt, &arg);
  }
  cell::put_double(a, std::pow(value_of(a), y));
  return a;
}


namespace {

// m x 10^e from a block of exactly two numbers.
double from_block(Cell* spec, uint32_t target) {
  if (block::count_from_head(spec) != 2) raise_bad_to_arg(target, spec);
  const Cell* m = block::cell_at_index(spec, int32_t(spec->w1));
  const Cell* e = m + 1;
  if (!number_q(m) || !number_q(e)) raise_bad_to_arg(target, spec);
  int32_t exponent;
  if (!truncate_32(number_of(e), &exponent)) raise_bad_to_arg(target, spec);
  return number_of(m) * std::pow(10.0, double(exponent));
}

double from_binary(const Cell* spec) {
  const uint8_t* p;
  int32_t n;
  uint32_t unit;
  series_span(spec, &p, &n, &unit);
  uint64_t bits = 0;
  for (int32_t i = 0; i < n && i < 8; ++i) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

double from_text(const Cell* spec, uint32_t target) {
  const uint8_t* p;
  int32_t n;
  uint32_t unit;
  series_span(spec, &p, &n, &unit);
  if (n < 1) raise_bad_to_arg(target, spec);
  int32_t bad = 0;
  double d = text_to_float(p, n, unit, &bad);
  if (bad) raise_bad_to_arg(target, spec);
  return d;
}

}  // namespace

// percent! reads its text as one loaded value (runtime/datatypes/percent.cpp).
namespace percent_text {
double load(const Cell* spec);
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t target = type == T_PERCENT ? T_PERCENT : T_FLOAT;
  uint32_t ts = cell::type(spec);
  double d;
  switch (ts) {
    case T_INTEGER: case T_CHAR: d = double(cell::get_int(spec)); break;
    case T_FLOAT: case T_PERCENT: case T_TIME: d = cell::get_double(spec); break;
    case T_MONEY: d = money::to_float(spec); break;
    case T_BINARY: d = from_binary(spec); break;
    case T_BLOCK: case T_PAREN: case T_HASH: d = from_block(spec, target); break;
    default:
      if (!text_type_q(ts)) raise_bad_to_arg(target, spec);
      d = target == T_PERCENT ? percent_text::load(spec) : from_text(spec, target);
  }
  *proto = Cell{target, 0, 0, 0};
  cell::put_double(proto, d);
  return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w2 ^ value->w3));
    cell::set_unset(value);
    return value;
  }
  cell::put_double(value, random_fraction(value_of(value), secure));
  return value;
}

double random_fraction(double x, bool secure) {
  if (secure) {
    double a = random::secure_31(), b = random::secure_31();
    return x * (a / 2147483647.0 + b) / 2147483648.0;
  }
  return x * (double(random::next_word()) / 2147483647.0);
}

double arith_on_doubles(double x, double y, int32_t o) {
  switch (o) {
    case op::ADD: return x + y;
    case op::SUBTRACT: return x - y;
    case op::MULTIPLY: return x * y;
    case op::DIVIDE: return x / y;
    case op::REMAINDER:
      if (std::isnan(y)) return y;
      if (std::isinf(y)) return std::isfinite(x) ? x : std::numeric_limits<double>::quiet_NaN();
      return std::fmod(x, y);
    default: error::raise(err::internal::not_done);
  }
}

Cell* apply_math_op(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t tl = cell::type(a), tr = cell::type(b);
  switch (tr) {
    case T_PAIR: case T_POINT2D: case T_POINT3D:
      if (tl == T_TIME) raise_invalid_type(tr);
      if (o == op::SUBTRACT || o == op::DIVIDE) raise_not_related(tr);
      std::swap(*a, *b);
      return tr == T_PAIR ? pair::apply_math_op(o) : point::apply_math_op(o);
    case T_TUPLE:
      return tuple::apply_math_op(o);
    case T_MONEY:
      return money::apply_math_op(o);
    case T_VECTOR:
      return vector::scalar_first(o);
    default: break;
  }
  bool r_ok = tr == T_INTEGER || tr == T_CHAR || tr == T_FLOAT || tr == T_PERCENT || tr == T_TIME;
  if (!r_ok || (tr == T_CHAR && (tl == T_TIME || tl == T_PERCENT))) raise_invalid_type(tr);
  if (o < op::ADD || o > op::REMAINDER) raise_invalid_type(tr);  // no bitwise ops on doubles
  double x = tl == T_INTEGER || tl == T_CHAR ? double(cell::get_int(a)) : value_of(a);
  double y = tr == T_INTEGER || tr == T_CHAR ? double(cell::get_int(b)) : value_of(b);
  uint32_t result_type;
  if (tl == T_TIME || tr == T_TIME) result_type = T_TIME;
  else if (tl == T_PERCENT) result_type = T_PERCENT;
  else result_type = T_FLOAT;
  double r = arith_on_doubles(x, y, o);
  if (result_type == T_TIME) time::check_range(r);
  *a = Cell{result_type, 0, 0, 0};
  cell::put_double(a, r);
  return a;
}

Cell* add() { return apply_math_op(op::ADD); }
Cell* subtract() { return apply_math_op(op::SUBTRACT); }
Cell* multiply() { return apply_math_op(op::MULTIPLY); }
Cell* divide() { return apply_math_op(op::DIVIDE); }
Cell* remainder() { return apply_math_op(op::REMAINDER); }

Cell* absolute() {
  Cell* a = stack::state().base;
  a->w3 &= 0x7FFFFFFFu;
  return a;
}

Cell* negate() {
  Cell* a = stack::state().base;
  cell::put_double(a, 0.0 - value_of(a));
  return a;
}

// Parity of the double truncated toward zero; NaN and infinities are neither even nor odd.
bool even_q(const Cell* value) {
  double t = std::trunc(value_of(value));
  return std::isfinite(t) && std::fmod(t, 2.0) == 0.0;
}
bool odd_q(const Cell* value) {
  double t = std::trunc(value_of(value));
  return std::isfinite(t) && std::fmod(t, 2.0) != 0.0;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  uint32_t tv = cell::type(value);
  uint32_t ts = scale ? cell::type(scale) : 0;
  if (ts == T_MONEY) raise_not_related(T_MONEY);
  double x = value_of(value);
  double s = tv == T_PERCENT ? 0.01 : 1.0;
  if (scale) {
    if (ts == T_INTEGER) s = std::fabs(double(cell::get_int(scale)));
    else if (ts == T_FLOAT || ts == T_PERCENT || ts == T_TIME) s = std::fabs(value_of(scale));
    else raise_invalid_type(ts);
    if (tv == T_PERCENT) s /= 100.0;
  }
  // A zero scale leaves every value as it is (1 / 0 would turn it into NaN).
  if (s == 0.0 || std::ldexp(std::fabs(x), -53) > s) return value;
  int shift = 0;
  double r = 0.0, e;
  if (s >= 1.0) {
    e = x / s;
  } else {
    double xs = x, ss = s;
    int se;
    std::frexp(s, &se);
    if (se < -1021) {  // 1 / s would overflow: renormalise both first
      shift = -se;
      xs = std::ldexp(x, shift);
      ss = std::ldexp(s, shift);
    }
    r = 1.0 / ss;
    e = xs * r;
  }
  double c;
  if (down) {
    c = std::trunc(e);
  } else if (floor) {
    c = std::floor(e);
  } else if (ceiling) {
    c = std::ceil(e);
  } else {
    double a = std::fabs(e), f = std::floor(a), m;
    if (a < f + 0.5) m = f;
    else if (a > f + 0.5) m = std::ceil(a);
    else if (even) m = std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : f;
    else if (half_down) m = f;
    else if (half_ceiling) m = std::signbit(e) ? f : std::ceil(a);
    else m = std::ceil(a);  // halves away from zero
    c = std::copysign(m, e);
  }
  double result;
  if (s >= 1.0) {
    result = c * s;
    if (std::isinf(result)) error::raise(err::math::overflow);
  } else {
    result = c / r;
    if (shift) result = std::ldexp(result, -shift);
  }
  if (!scale) {
    cell::put_double(value, result);
    return value;
  }
  if (ts == T_INTEGER) {
    int32_t n;
    if (!truncate_32(result, &n)) error::raise(err::math::overflow);
    cell::set_integer(value, n);
    return value;
  }
  *value = Cell{ts, 0, 0, 0};
  cell::put_double(value, result);
  return value;
}

bool not_a_number_q(uint32_t low, uint32_t high) {
  return std::isnan(std::bit_cast<double>(uint64_t(high) << 32 | low));
}
bool single_not_a_number_q(float f) { return std::isnan(f); }
bool infinite_or_nan_q(double d) { return !std::isfinite(d); }
double clear_sign(double d) { return std::fabs(d); }

bool equal_single_q(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::isfinite(a) && std::isfinite(b)) {
    if (a == 0.0f && b == 0.0f) return true;
    int64_t d = int64_t(ordered32(a)) - int64_t(ordered32(b));
    return d <= 10 && d >= -10;
  }
  if (std::signbit(a) != std::signbit(b)) return false;
  uint32_t x = std::bit_cast<uint32_t>(a) & 0x7FFFFFFFu, y = std::bit_cast<uint32_t>(b) & 0x7FFFFFFFu;
  return (x > y ? x - y : y - x) < 0x100000u;
}

Cell* init_cell(Cell* c, double d) {
  *c = Cell{T_FLOAT, 0, 0, 0};
  cell::put_double(c, d);
  return c;
}

Cell* set_result(double d) {
  Cell v;
  init_cell(&v, d);
  return stack::set_result(&v);
}

Cell* push_new(double d) {
  Cell* c = stack::reserve_cell();
  return init_cell(c, d);
}

Cell* push_new_bits(uint32_t low, uint32_t high) {
  Cell* c = stack::reserve_cell();
  *c = Cell{T_FLOAT, 0, low, high};
  return c;
}

Cell* add_to_block(Cell* block, uint32_t low, uint32_t high) {
  Cell v{T_FLOAT, 0, low, high};
  return block::append_copy(block, &v);
}

double value_of(const Cell* c) { return cell::get_double(c); }

void install_type() {
  datatype::register_type(
      {.id = T_FLOAT, .parent = 0, .name = "float!",
       .slots = {.make = make, .random = random, .to = make, .form = form, .mold = mold,
                 .compare = compare, .absolute = absolute, .add = add, .divide = divide,
                 .multiply = multiply, .negate = negate, .power = power,
                 .remainder = remainder, .round = round, .subtract = subtract,
                 .even_q = even_q, .odd_q = odd_q}});
}

}  // namespace kel::float_
