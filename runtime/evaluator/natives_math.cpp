// The numeric natives over the platform's math library: no math errors of their own (a
// negative logarithm gives NaN, log 0 minus infinity); max and min by the compound rules.
#include "runtime/evaluator/natives_math.h"

#include <cmath>
#include <cstdio>

#include "runtime/angle.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double TO_DEGREES = 180.0 / PI;
constexpr double HALF_PI = PI / 2;
constexpr double EPSILON = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

inline Cell* arg(int i) { return stack::state().base + i; }

void result_double(double d) {
  Cell c{T_FLOAT, 0, 0, 0};
  cell::put_double(&c, d);
  stack::set_only_result(&c);
}
void result_logic(bool v) {
  Cell c{T_LOGIC, v ? 1u : 0u, 0, 0};
  stack::set_only_result(&c);
}
void result_integer(int32_t v) {
  Cell c{T_INTEGER, 0, uint32_t(v), 0};
  stack::set_only_result(&c);
}

bool double_type_q(uint32_t t) { return t == T_FLOAT || t == T_PERCENT || t == T_TIME; }

// integer! becomes a float! of the same value in its cell; percent! is retyped float!
// (50% is 0.5); float! stays.
double to_float_in_place(Cell* c) {
  uint32_t t = cell::type(c);
  if (t == T_INTEGER) {
    double d = double(cell::get_int(c));
    *c = Cell{T_FLOAT, 0, 0, 0};
    cell::put_double(c, d);
    return d;
  }
  if (t == T_PERCENT) cell::set_type(c, T_FLOAT);
  return cell::get_double(c);
}

// -1, 0 or 1 by the sign of a sign test's argument (NaN 0); other types raise
// script/expect-arg naming the native.
int32_t sign_of(Cell* v) {
  uint32_t t = cell::type(v);
  if (t == T_INTEGER) {
    int32_t i = cell::get_int(v);
    return (i > 0) - (i < 0);
  }
  if (double_type_q(t)) {
    double d = cell::get_double(v);
    return (d > 0.0) - (d < 0.0);
  }
  if (t == T_MONEY) {
    Cell zero{T_INTEGER, 0, 0, 0};
    if (actions::compare(v, &zero, 3)) return -1;
    return actions::compare(v, &zero, 0) ? 0 : 1;
  }
  Cell allowed{T_TYPESET, 0, 0, 0};
  for (uint32_t a : {T_INTEGER, T_FLOAT, T_PERCENT, T_MONEY, T_TIME}) typeset::set_bit(&allowed, a);
  runtime::verify_arg_type(&allowed, 1, v);
  return 0;
}

bool radians_q(const int32_t* refs) { return refs[0] >= 0; }

// The angle argument in radians (degrees reduced by mode: 2 sine, 1 cosine, 0 tangent).
double angle_of(const int32_t* refs, int mode) {
  double x = to_float_in_place(arg(0));
  return radians_q(refs) ? x : runtime::normalize_angle(x, mode);
}

double flush_tiny(double v) { return std::fabs(v) < EPSILON ? 0.0 : v; }

void arc(double v, const int32_t* refs) { result_double(radians_q(refs) ? v : v * TO_DEGREES); }

[[noreturn]] void raise_type_limit() {
  Cell w{T_NONE, 0, 0, 0};
  word::init_cell(symbol::intern_c_text("integer!"), &w);
  error::raise(err::script::type_limit, &w);
}

// A float for a pair or tuple: truncated toward zero, type-limit outside 32 bits (NaN too).
int32_t truncate_checked(double d) {
  double t = std::trunc(d);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) raise_type_limit();
  return int32_t(t);
}

template <typename T>
T pick(T a, T b, bool max) {
  return max ? (a < b ? b : a) : (b < a ? b : a);
}

// Coordinates of points: the other side's NaN wins.
float pick_coordinate(float a, float b, bool max) {
  if (std::isnan(b)) return b;
  return pick(a, b, max);
}

bool plain_number_q(uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }
bool compound_q(uint32_t t) {
  return t == T_PAIR || t == T_POINT2D || t == T_POINT3D || t == T_TUPLE;
}

void max_min(bool max) {
  Cell* a = arg(0);
  Cell* b = arg(1);
  for (;;) {
    uint32_t ta = cell::type(a), tb = cell::type(b);
    // 1. A NaN against a plain number wins.
    if ((ta == T_FLOAT || ta == T_PERCENT) && plain_number_q(tb) &&
        std::isnan(cell::get_double(a))) {
      stack::set_only_result(a);
      return;
    }
    if ((tb == T_FLOAT || tb == T_PERCENT) && plain_number_q(ta) &&
        std::isnan(cell::get_double(b))) {
      stack::set_only_result(b);
      return;
    }
    // 2. The compound value goes first.
    if ((ta == T_INTEGER || ta == T_FLOAT) && compound_q(tb)) {
      Cell t = *a;
      *a = *b;
      *b = t;
      continue;
    }
    // 3. pair!
    if (ta == T_PAIR) {
      int32_t x = pair::x_of(a), y = pair::y_of(a);
      if (tb == T_PAIR) {
        pair::init_cell(a, pick(x, pair::x_of(b), max), pick(y, pair::y_of(b), max));
        stack::set_only_result(a);
        return;
      }
      if (tb == T_FLOAT) {
        double d = cell::get_double(b);
        if (!(std::trunc(d) >= -2147483648.0 && std::trunc(d) <= 2147483647.0)) {
          pair::as_point2D_cell(a);
          continue;
        }
        int32_t i = int32_t(std::trunc(d));
        *b = Cell{T_INTEGER, 0, uint32_t(i), 0};
        tb = T_INTEGER;
      }
      if (tb == T_INTEGER) {
        int32_t i = cell::get_int(b);
        pair::init_cell(a, pick(x, i, max), pick(y, i, max));
        stack::set_only_result(a);
        return;
      }
      if (tb == T_POINT2D) {
        pair::as_point2D_cell(a);
        continue;
      }
    }
    // 4. point2D! and point3D!
    if (ta == T_POINT2D || ta == T_POINT3D) {
      int32_t n = point::count_of(a);
      if (tb == T_INTEGER || tb == T_FLOAT) {
        float f = tb == T_INTEGER ? float(cell::get_int(b)) : float(cell::get_double(b));
        for (int32_t i = 0; i < n; ++i)
          point::set_coordinate(a, i, pick_coordinate(point::coordinate(a, i), f, max));
        stack::set_only_result(a);
        return;
      }
      if (tb == ta) {
        for (int32_t i = 0; i < n; ++i)
          point::set_coordinate(
              a, i, pick_coordinate(point::coordinate(a, i), point::coordinate(b, i), max));
        stack::set_only_result(a);
        return;
      }
    }
    // 5. tuple!
    if (ta == T_TUPLE) {
      int32_t n = tuple::length_of(a);
      uint8_t x[12], y[12];
      tuple::bytes_of(a, x);
      bool done = false;
      if (tb == T_INTEGER || tb == T_FLOAT) {
        int32_t i = tb == T_INTEGER ? cell::get_int(b) : truncate_checked(cell::get_double(b));
        uint8_t v = uint8_t(i < 0 ? 0 : i > 255 ? 255 : i);
        for (int32_t k = 0; k < n; ++k) x[k] = pick(x[k], v, max);
        done = true;
      } else if (tb == T_TUPLE && tuple::length_of(b) == n) {
        tuple::bytes_of(b, y);
        for (int32_t k = 0; k < n; ++k) x[k] = pick(x[k], y[k], max);
        done = true;
      }
      if (done) {
        tuple::init_cell(a, n, x);
        stack::set_only_result(a);
        return;
      }
    }
    // 6. The lesser? compare; ties keep value1 for max and take value2 for min.
    bool less = actions::compare(a, b, 3);
    stack::set_only_result(max ? (less ? b : a) : (less ? a : b));
    return;
  }
}

void log_like(double (*f)(double)) { result_double(f(to_float_in_place(arg(0)))); }

}  // namespace

void negative_q(int32_t, const int32_t*) { result_logic(sign_of(arg(0)) < 0); }
void positive_q(int32_t, const int32_t*) { result_logic(sign_of(arg(0)) > 0); }
void sign_q(int32_t, const int32_t*) { result_integer(sign_of(arg(0))); }

void max(int32_t, const int32_t*) { max_min(true); }
void min(int32_t, const int32_t*) { max_min(false); }

int32_t shift_bits(int32_t data, int32_t bits, int32_t direction, int32_t mode) {
  if (bits < 0) bits = 0;
  if (direction > 0) return bits >= 32 ? 0 : int32_t(uint32_t(data) << bits);
  if (mode > 0) return bits >= 32 ? 0 : int32_t(uint32_t(data) >> bits);
  return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}

void shift(int32_t, const int32_t* refs) {
  int32_t direction = refs[0] >= 0 ? 1 : -1;
  int32_t mode = refs[1] >= 0 ? 1 : -1;
  result_integer(shift_bits(cell::get_int(arg(0)), cell::get_int(arg(1)), direction, mode));
}

void to_hex(int32_t, const int32_t* refs) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", unsigned(cell::get_int(arg(0))));
  int32_t keep = 8;
  if (refs[0] >= 0) {
    Cell* length = arg(refs[0]);
    keep = cell::get_int(length);
    if (keep <= 0) error::raise(err::script::invalid_arg, length);
    if (keep > 8) keep = 8;
  }
  Cell* made = issue::from_c_text(text + (8 - keep));
  Cell r = *made;
  stack::drop_cells(1);
  stack::set_only_result(&r);
}

void sine(int32_t, const int32_t* refs) { result_double(flush_tiny(std::sin(angle_of(refs, 2)))); }
void cosine(int32_t, const int32_t* refs) {
  result_double(flush_tiny(std::cos(angle_of(refs, 1))));
}

void tangent(int32_t, const int32_t* refs) {
  double r = angle_of(refs, 0);
  if (r == HALF_PI) return result_double(INFINITY);
  if (r == -HALF_PI) return result_double(-INFINITY);
  result_double(std::tan(r));
}

void arcsine(int32_t, const int32_t* refs) { arc(std::asin(to_float_in_place(arg(0))), refs); }
void arccosine(int32_t, const int32_t* refs) { arc(std::acos(to_float_in_place(arg(0))), refs); }
void arctangent(int32_t, const int32_t* refs) { arc(std::atan(to_float_in_place(arg(0))), refs); }

void arctangent2(int32_t, const int32_t* refs) {
  double y =
      cell::type(arg(0)) == T_INTEGER ? double(cell::get_int(arg(0))) : cell::get_double(arg(0));
  double x = to_float_in_place(arg(1));
  arc(std::atan2(y, x), refs);
}

void NaN_q(int32_t, const int32_t*) {
  Cell* v = arg(0);
  result_logic(cell::type(v) != T_INTEGER && std::isnan(cell::get_double(v)));
}

void log_2(int32_t, const int32_t*) { result_double(std::log(to_float_in_place(arg(0))) / LN_2); }
void log_10(int32_t, const int32_t*) { log_like(&::log10); }
void log_e(int32_t, const int32_t*) { log_like(&::log); }
void exp(int32_t, const int32_t*) { result_double(std::pow(E, to_float_in_place(arg(0)))); }
void square_root(int32_t, const int32_t*) { log_like(&::sqrt); }

void zero_q(int32_t, const int32_t*) {
  Cell* v = arg(0);
  uint32_t t = cell::type(v);
  bool z;
  switch (t) {
    case T_INTEGER:
    case T_CHAR: z = cell::get_int(v) == 0; break;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: z = cell::get_double(v) == 0.0; break;
    case T_PAIR: z = pair::x_of(v) == 0 && pair::y_of(v) == 0; break;
    case T_POINT2D:
    case T_POINT3D: {
      z = true;
      for (int32_t i = 0; i < point::count_of(v); ++i) z = z && point::coordinate(v, i) == 0.0f;
      break;
    }
    case T_TUPLE: z = tuple::all_zero_q(v); break;
    case T_MONEY: {
      Cell zero{T_INTEGER, 0, 0, 0};
      z = actions::compare(v, &zero, 0);
      break;
    }
    default: {
      Cell allowed{T_TYPESET, 0, 0, 0};
      for (uint32_t a : {T_INTEGER, T_FLOAT, T_PERCENT, T_MONEY, T_PAIR, T_TIME, T_CHAR, T_TUPLE,
                         T_POINT2D, T_POINT3D})
        typeset::set_bit(&allowed, a);
      runtime::verify_arg_type(&allowed, 1, v);
      z = false;
    }
  }
  result_logic(z);
}

}  // namespace kel::natives
