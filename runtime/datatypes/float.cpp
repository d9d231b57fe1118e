// float! interim row: number text per kind, shortest round-trip mold, tolerant compare,
// power; apply-math-op and round are not built yet.
#include "runtime/datatypes/float.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string_min.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kel::float_ {

bool pretty = true;

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

int32_t add_text(Cell* buffer, const std::string& text) {
  for (unsigned char c : text) string::add_codepoint(buffer, c);
  return int32_t(text.size());
}

}  // namespace

std::string number_to_text(double x, int k) {
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
    case T_MONEY: error::raise(err::internal::not_done);  // the money comparison
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

Cell* apply_math_op(int32_t) { error::raise(err::internal::not_done); }

Cell* round(Cell*, Cell*, bool, bool, bool, bool, bool, bool) {
  error::raise(err::internal::not_done);
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

double value_of(const Cell* c) { return cell::get_double(c); }

void install_type() {
  datatype::register_type({.id = T_FLOAT, .parent = 0, .name = "float!",
                           .slots = {.form = form, .mold = mold, .compare = compare,
                                     .power = power}});
}

}  // namespace kel::float_
