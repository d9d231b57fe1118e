// money!: exact decimal amounts of 22 BCD digits (17 integer, 5 fraction) with a sign and a
// currency position, their arithmetic, rounding, conversions, text, comparison and paths.
#include "runtime/datatypes/money.h"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/locale.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/evaluator/number_scan.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"

namespace kel::money {

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr int32_t DIGITS = 22, FRACTION = 5;

constexpr u128 pow10(int n) {
  u128 v = 1;
  for (int i = 0; i < n; ++i) v *= 10;
  return v;
}
constexpr u128 LIMIT = pow10(DIGITS);  // magnitudes stay below 10^22 units of 10^-5
constexpr u128 UNIT = pow10(FRACTION);

// An amount read out of a cell: magnitude in units of 10^-5.
struct Amount {
  bool negative = false;
  int32_t currency = 0;
  u128 magnitude = 0;
};

uint8_t* payload(Cell* c) { return reinterpret_cast<uint8_t*>(c) + 4; }
const uint8_t* payload(const Cell* c) { return reinterpret_cast<const uint8_t*>(c) + 4; }

int32_t digit_at(const Cell* c, int32_t p) {
  uint8_t b = payload(c)[1 + (p - 1) / 2];
  return (p & 1) ? b >> 4 : b & 0x0F;
}

Amount read(const Cell* c) {
  Amount a;
  a.negative = (c->header & SIGN_BIT) != 0;
  a.currency = payload(c)[0];
  for (int32_t p = 1; p <= DIGITS; ++p) a.magnitude = a.magnitude * 10 + u128(digit_at(c, p) % 10);
  return a;
}

void write(Cell* c, const Amount& a) {
  *c = Cell{T_MONEY | (a.negative ? SIGN_BIT : 0), 0, 0, 0};
  uint8_t* b = payload(c);
  b[0] = uint8_t(a.currency);
  u128 m = a.magnitude;
  for (int32_t p = DIGITS; p >= 1; --p) {
    uint8_t d = uint8_t(m % 10);
    m /= 10;
    uint8_t& byte = b[1 + (p - 1) / 2];
    byte = (p & 1) ? uint8_t((byte & 0x0F) | (d << 4)) : uint8_t((byte & 0xF0) | d);
  }
}

int32_t significant_digits(u128 m) {
  int32_t n = 0;
  while (m) m /= 10, ++n;
  return n ? n : 1;
}

Cell type_word(const char* name) { return Cell{T_WORD, 0, uint32_t(symbol::intern_c_text(name)), 0xFFFFFFFF}; }
Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

[[noreturn]] void raise_limit() {
  Cell w = type_word("money!");
  error::raise(err::script::type_limit, &w);
}
[[noreturn]] void raise_invalid_type(uint32_t t) {
  Cell d = datatype_cell(t);
  error::raise(err::script::invalid_type, &d);
}
[[noreturn]] void raise_bad_make(const Cell* spec) {
  Cell w = type_word("money!");
  error::raise(err::script::bad_make_arg, &w, spec);
}
[[noreturn]] void raise_bad_to(const Cell* spec) {
  Cell w = type_word("money!");
  error::raise(err::script::bad_to_arg, &w, spec);
}

bool any_text_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// The magnitude of a double in units of 10^-5, read from its shortest decimal text. Extra
// fraction digits are refused (strict) or dropped.
u128 magnitude_of_float(double d, bool strict, bool* negative) {
  Cell f{T_FLOAT, 0, 0, 0};
  cell::put_double(&f, d);
  double a = std::fabs(d);
  if (!std::isfinite(d) || a >= 1e17 || (a != 0.0 && a < 0.00001)) raise_bad_make(&f);
  *negative = std::signbit(d) && d != 0.0;
  if (a == 0.0) return 0;
  int point = 0, sign = 0, count = 0;
  std::string digits = dtoa::digits(a, 0, &point, &sign, &count, false);
  if (strict && count - point > FRACTION) raise_bad_make(&f);
  u128 m = 0;
  for (int i = 0; i < count; ++i) {
    int scaled = point - 1 - i + FRACTION;  // the digit's power of ten in 10^-5 units
    if (scaled < 0) break;
    m += u128(digits[size_t(i)] - '0') * pow10(scaled);
  }
  return m;
}

Amount amount_of_integer(int32_t n) {
  Amount a;
  a.negative = n < 0;
  int64_t v = n < 0 ? -int64_t(n) : int64_t(n);
  a.magnitude = u128(v) * UNIT;
  return a;
}

Amount amount_of_float(double d, bool strict) {
  Amount a;
  a.magnitude = magnitude_of_float(d, strict, &a.negative);
  return a;
}

int32_t signum(const Amount& a) { return a.magnitude == 0 ? 0 : a.negative ? -1 : 1; }

int32_t compare_amounts(const Amount& a, const Amount& b) {
  int32_t sa = signum(a), sb = signum(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int32_t c = a.magnitude < b.magnitude ? -1 : a.magnitude > b.magnitude ? 1 : 0;
  return sa < 0 ? -c : c;
}

bool compatible(const Amount& a, const Amount& b) {
  return a.currency == 0 || b.currency == 0 || a.currency == b.currency;
}

// Signed sum of a and (b, negated when subtracting); zero operands return the other.
Amount add_amounts(Amount a, Amount b, bool subtract) {
  if (subtract) b.negative = !b.negative;
  if (b.magnitude == 0) return a;
  if (a.magnitude == 0) return b;
  Amount r;
  if (a.negative == b.negative) {
    r.magnitude = a.magnitude + b.magnitude;
    if (r.magnitude >= LIMIT) raise_limit();
    r.negative = a.negative;
  } else if (a.magnitude >= b.magnitude) {
    r.magnitude = a.magnitude - b.magnitude;
    r.negative = a.negative && r.magnitude != 0;
  } else {
    r.magnitude = b.magnitude - a.magnitude;
    r.negative = b.negative;
  }
  return r;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
  if (a.magnitude == 0) return a;
  if (b.magnitude == 0) return b;
  if (significant_digits(a.magnitude) + significant_digits(b.magnitude) > 28) raise_limit();
  Amount r;
  r.negative = a.negative != b.negative;
  r.magnitude = a.magnitude * b.magnitude / UNIT;  // below 10^28: no overflow
  if (r.magnitude >= LIMIT || r.magnitude == 0) raise_limit();
  return r;
}

// Quotient truncated toward zero, or the remainder with the dividend's sign.
Amount divide_amounts(const Amount& a, const Amount& b, bool remainder) {
  if (b.magnitude == 0) error::raise(err::math::zero_divide);
  if (a.magnitude == 0) return a;
  Amount r;
  if (remainder) {
    r.negative = a.negative;
    r.magnitude = a.magnitude % b.magnitude;
    return r;
  }
  // A 23-digit estimate can still fit: the final test decides.
  if (significant_digits(a.magnitude) + 6 - significant_digits(b.magnitude) > 23) raise_limit();
  r.negative = a.negative != b.negative;
  r.magnitude = a.magnitude * UNIT / b.magnitude;
  if (r.magnitude == 0 || r.magnitude >= LIMIT) raise_limit();
  return r;
}

std::string amount_text(const Amount& a, bool grouping, int32_t fraction_digits, bool with_code) {
  std::string s;
  if (a.negative && a.magnitude != 0) s += '-';
  if (with_code && a.currency) s += locale::currency_code(a.currency);
  s += '$';
  u128 integer = a.magnitude / UNIT;
  uint32_t fraction = uint32_t(a.magnitude % UNIT);
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(integer % 10)));
    integer /= 10;
  } while (integer);
  for (size_t i = 0; i < digits.size(); ++i) {
    s += digits[i];
    size_t after = digits.size() - 1 - i;
    if (grouping && after > 0 && after % 3 == 0) s += '\'';
  }
  if (fraction_digits > FRACTION) fraction_digits = FRACTION;
  if (fraction_digits >= 1) {
    char f[6];
    for (int i = 4; i >= 0; --i) f[i] = char('0' + fraction % 10), fraction /= 10;
    s += '.';
    for (int32_t i = 0; i < fraction_digits; ++i) {
      s += f[i];
      if (grouping && i == 2 && fraction_digits >= 4) s += '\'';
    }
  }
  return s;
}

// Operand of mixed arithmetic: money as it is, integer exactly, float or percent leniently.
Amount operand(const Cell* c) {
  switch (cell::type(c)) {
    case T_MONEY: return read(c);
    case T_INTEGER: return amount_of_integer(cell::get_int(c));
    case T_FLOAT: case T_PERCENT: return amount_of_float(cell::get_double(c), false);
    default: raise_invalid_type(cell::type(c));
  }
}

bool word_named(const Cell* c, size_t runtime_word) {
  return cell::type(c) == T_WORD &&
         symbol::canonical_id(int32_t(c->w2)) ==
             symbol::canonical_id(symbol::runtime_id(runtime_word));
}

// Field 1 (code), 2 (amount), 0 for any other selector.
int32_t field_of(const Cell* selector) {
  if (cell::type(selector) == T_INTEGER) {
    int32_t i = cell::get_int(selector);
    return i == 1 || i == 2 ? i : 0;
  }
  using runtime::runtime_word_index;
  using runtime::WordKind;
  if (word_named(selector, runtime_word_index("code", WordKind::SYMBOL))) return 1;
  if (word_named(selector, runtime_word_index("amount", WordKind::SYMBOL))) return 2;
  return 0;
}

void field_value(const Cell* m, int32_t field, Cell* out) {
  if (field == 1) {
    Cell w;
    if (!locale::currency_word(payload(m)[0], &w)) w = Cell{T_NONE, 0, 0, 0};
    *out = w;
  } else {
    Amount a = read(m);
    a.currency = 0;
    write(out, a);
  }
}

// The currency position of a code word, or -1.
int32_t index_of_word(const Cell* w) {
  uint32_t n;
  const uint8_t* p = symbol::utf8(int32_t(w->w2), &n);
  uint8_t code[3];
  if (n != 3) return -1;
  std::memcpy(code, p, 3);
  return locale::currency_index(code, 3);
}

Amount from_block(Cell* spec) {
  int32_t n = block::count_from_head(spec);
  if (n < 1 || n > 3) raise_bad_make(spec);
  Cell items[3];
  for (int32_t i = 0; i < n; ++i) items[i] = *block::cell_at_index(spec, int32_t(spec->w1) + i);
  int32_t i = 0;
  int32_t currency = 0;
  if (cell::type(&items[0]) == T_WORD) {
    currency = index_of_word(&items[0]);
    if (currency < 0 || n < 2) raise_bad_make(spec);
    i = 1;
  }
  Amount a;
  uint32_t ta = cell::type(&items[i]);
  if (ta == T_INTEGER) a = amount_of_integer(cell::get_int(&items[i]));
  else if (ta == T_FLOAT) a = amount_of_float(cell::get_double(&items[i]), true);
  else raise_bad_make(spec);
  ++i;
  if (i < n) {
    if (ta != T_INTEGER || cell::type(&items[i]) != T_INTEGER) raise_bad_make(spec);
    int32_t f = cell::get_int(&items[i]);
    if (f < 0 || f > 99999) raise_bad_make(spec);
    a.magnitude += u128(f);
    if (a.magnitude >= LIMIT) raise_limit();
    ++i;
  }
  if (i != n) raise_bad_make(spec);
  a.currency = currency;
  return a;
}

}  // namespace

// ---- Constructors and accessors ----

bool init_cell_from_text(Cell* cell, bool negative, const uint8_t* code, int32_t code_length,
                         const uint8_t* integer, const uint8_t* integer_end,
                         const uint8_t* fraction, const uint8_t* fraction_end) {
  Amount a;
  a.negative = negative;
  if (code && code_length > 0) {
    a.currency = locale::currency_index(code, code_length);
    if (a.currency < 0) return false;
  }
  int32_t count = 0;
  for (const uint8_t* p = integer; p < integer_end; ++p) {
    if (*p == '\'') continue;
    if (*p < '0' || *p > '9') return false;
    if (count > 0 || *p != '0') ++count;
    a.magnitude = a.magnitude * 10 + u128(*p - '0');
  }
  if (count > DIGITS - FRACTION) return false;  // 17 integer digits at most
  a.magnitude *= UNIT;
  int32_t k = 0;
  for (const uint8_t* p = fraction; p < fraction_end && k < FRACTION; ++p, ++k) {
    if (*p < '0' || *p > '9') return false;
    a.magnitude += u128(*p - '0') * pow10(FRACTION - 1 - k);
  }
  write(cell, a);
  return true;
}

bool init_cell_from_literal(Cell* cell, const uint8_t* text, int32_t length) {
  const uint8_t* p = text;
  const uint8_t* end = text + length;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const uint8_t* code = p;
  int32_t code_length = 0;
  while (p < end && *p != '$' && ((*p | 0x20) >= 'a' && (*p | 0x20) <= 'z')) ++p, ++code_length;
  if (p < end && *p == '$') ++p;
  else if (code_length) return false;
  const uint8_t* integer = p;
  while (p < end && *p != '.' && *p != ',') ++p;
  const uint8_t* integer_end = p;
  const uint8_t* fraction = p < end ? p + 1 : end;
  return init_cell_from_text(cell, negative, code_length ? code : nullptr, code_length, integer,
                             integer_end, fraction, end);
}

bool literal_code_known_q(const uint8_t* text, int32_t length) {
  const uint8_t* p = text;
  const uint8_t* end = text + length;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const uint8_t* code = p;
  while (p < end && *p != '$') ++p;
  if (p == end || p == code) return true;
  return locale::currency_index(code, int32_t(p - code)) > 0;
}

bool init_cell_from_bcd(Cell* cell, bool negative, int32_t currency, const uint8_t bcd[11]) {
  for (int i = 0; i < 11; ++i)
    if ((bcd[i] >> 4) > 9 || (bcd[i] & 0x0F) > 9) return false;
  if (currency < 0 || currency > 255) return false;
  if (currency > 0 && locale::currency_code(currency).empty()) return false;
  *cell = Cell{T_MONEY | (negative ? SIGN_BIT : 0), 0, 0, 0};
  payload(cell)[0] = uint8_t(currency);
  std::memcpy(payload(cell) + 1, bcd, 11);
  return true;
}

void init_from_integer(Cell* cell, int32_t n) { write(cell, amount_of_integer(n)); }
void init_from_float(Cell* cell, double d, bool strict) { write(cell, amount_of_float(d, strict)); }

Cell* push_new_from_integer(int32_t n) {
  Cell* c = stack::reserve_cell();
  init_from_integer(c, n);
  return c;
}

Cell* push_new_from_float(double d, bool strict) {
  Cell m;
  init_from_float(&m, d, strict);
  return stack::push_copy(&m);
}

int32_t integer_value(const Cell* m) {
  Amount a = read(m);
  u128 whole = a.magnitude / UNIT;
  if (whole > (a.negative ? u128(2147483648u) : u128(2147483647u))) {
    Cell w = type_word("integer!");
    error::raise(err::script::type_limit, &w);
  }
  int64_t v = int64_t(whole);
  return int32_t(a.negative ? -v : v);
}

double to_float(const Cell* m) {
  Amount a = read(m);
  std::string text = amount_text(a, false, FRACTION, false);
  size_t start = text[0] == '-' ? 2 : 1;  // after the "$"
  double d = dtoa::text_to_float(text.data() + start, text.data() + text.size(), 0, nullptr);
  return a.negative ? -d : d;
}

int32_t sign_of(const Cell* m) { return signum(read(m)); }
bool below_zero_q(const Cell* m) { return sign_of(m) < 0; }
bool is_zero_q(const Cell* m) { return sign_of(m) == 0; }
bool above_zero_q(const Cell* m) { return sign_of(m) > 0; }
int32_t currency_index(const Cell* m) {
  int32_t i = payload(m)[0];
  return i ? i : -1;
}
void store_currency_index(Cell* m, int32_t index) {
  payload(m)[0] = uint8_t(index > 0 && index <= 255 ? index : 0);
}
bool sign_bit(const Cell* m) { return (m->header & SIGN_BIT) != 0; }
void store_sign_bit(Cell* m, bool negative) {
  m->header = negative ? (m->header | SIGN_BIT) : (m->header & ~SIGN_BIT);
}

// ---- Arithmetic ----

Cell* apply_math_op(int32_t o) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t ta = cell::type(a), tb = cell::type(b);
  if (o == float_::op::MULTIPLY && ta == T_MONEY && tb == T_MONEY) raise_invalid_type(T_MONEY);
  if (ta != T_MONEY && (o == float_::op::DIVIDE || o == float_::op::REMAINDER))
    raise_invalid_type(ta);
  if (o < float_::op::ADD || o > float_::op::REMAINDER) raise_invalid_type(tb);
  Amount x = operand(a), y = operand(b);
  if (!compatible(x, y)) error::raise(err::script::wrong_denom, a, b);
  int32_t currency = y.currency ? y.currency : x.currency;
  Amount r;
  switch (o) {
    case float_::op::ADD: r = add_amounts(x, y, false); break;
    case float_::op::SUBTRACT: r = add_amounts(x, y, true); break;
    case float_::op::MULTIPLY: r = multiply_amounts(x, y); break;
    case float_::op::DIVIDE: r = divide_amounts(x, y, false); break;
    default: r = divide_amounts(x, y, true); break;
  }
  r.currency = currency;
  if (o == float_::op::DIVIDE && ta == T_MONEY && tb == T_MONEY) {
    Cell q;
    write(&q, r);
    Cell f{T_FLOAT, 0, 0, 0};
    cell::put_double(&f, to_float(&q));
    *a = f;
    return a;
  }
  write(a, r);
  return a;
}

namespace {
Cell* frame_op(int32_t o) { return apply_math_op(o); }
Cell* add() { return frame_op(float_::op::ADD); }
Cell* subtract() { return frame_op(float_::op::SUBTRACT); }
Cell* multiply() { return frame_op(float_::op::MULTIPLY); }
Cell* divide() { return frame_op(float_::op::DIVIDE); }
Cell* remainder() { return frame_op(float_::op::REMAINDER); }
Cell* absolute() {
  Cell* a = stack::state().base;
  a->header &= ~SIGN_BIT;
  return a;
}
Cell* negate() {
  Cell* a = stack::state().base;
  a->header ^= SIGN_BIT;
  return a;
}

// Against a float beyond money's range: by sign; a tiny non-zero float counts as zero;
// equality is never met. 2 = convert and compare.
int32_t out_of_range_order(const Amount& m, double f, int32_t op, int32_t* result) {
  double af = std::fabs(f);
  if (std::isnan(f)) {
    *result = op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : 1;
    return 1;
  }
  bool huge = af >= 1e17, tiny = af != 0.0 && af < 0.00001;
  if (!huge && !tiny) return 0;
  if (op <= 2 || op == 9 || op == 12) {
    *result = 1;
    return 1;
  }
  if (huge) *result = f > 0 ? -1 : 1;
  else *result = signum(m);
  return 1;
}
}  // namespace

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t tb = cell::type(b);
  if ((op == 2 || op == 9 || op == 12) && tb != T_MONEY) return 1;
  Amount x = read(a);
  switch (tb) {
    case T_MONEY: {
      Amount y = read(b);
      if (op >= 3 && op <= 6) {
        if (!compatible(x, y)) error::raise(err::script::wrong_denom, a, b);
      } else if (op == 7 || op == 8) {
        if (x.currency != y.currency) {
          if (!x.currency) return -1;
          if (!y.currency) return 1;
          std::string cx = locale::currency_code(x.currency), cy = locale::currency_code(y.currency);
          int c = cx.compare(cy);
          if (c) return c < 0 ? -1 : 1;
        }
      } else if (op == 0 || op == 1) {
        if (!compatible(x, y)) return 1;
      } else if (op == 2 || op == 9) {
        if (x.currency != y.currency) return 1;
      } else if (op == 12) {
        if (y.currency && x.currency != y.currency) return 1;
      }
      return compare_amounts(x, y);
    }
    case T_INTEGER:
      return compare_amounts(x, amount_of_integer(cell::get_int(b)));
    case T_FLOAT: {
      double f = cell::get_double(b);
      int32_t r;
      if (out_of_range_order(x, f, op, &r)) return r;
      return compare_amounts(x, amount_of_float(f, false));
    }
    default:
      return -2;
  }
}

int32_t compare_number_first(const Cell* number, const Cell* m, int32_t op) {
  if (op == 2 || op == 9 || op == 12) return 1;
  int32_t r = compare(m, number, op);
  if (r == -2) return r;
  if (op <= 2 || op == 9 || op == 12) return r;
  // Out of range answers for ordering were made from money's side: turn them round.
  return -r;
}

// ---- Rounding ----

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
  Amount v = read(value);
  if (v.magnitude == 0) return value;
  u128 e = UNIT;
  if (scale) {
    switch (cell::type(scale)) {
      case T_MONEY: e = read(scale).magnitude; break;
      case T_INTEGER: e = amount_of_integer(cell::get_int(scale)).magnitude; break;
      case T_FLOAT: e = amount_of_float(cell::get_double(scale), true).magnitude; break;
      default: {
        Cell fn = stack::current_function_word();
        Cell d = datatype_cell(cell::type(scale));
        error::raise(err::script::not_related, &fn, &d);
      }
    }
  }
  if (e == 0) return value;
  u128 m = v.magnitude;
  u128 r = m % e, u = e - r;
  u128 lower = m - r;
  bool tie = r == u;
  bool odd = ((m - r) / e) % 2 == 1;
  bool nearest_up = !(r < u);
  bool up;
  if (r == 0) up = false;
  else if (down) up = false;
  else if (floor) up = v.negative;
  else if (ceiling) up = !v.negative;
  else if (even) up = tie ? odd : nearest_up;
  else if (half_down) up = tie ? false : nearest_up;
  else if (half_ceiling) up = tie ? !v.negative : nearest_up;
  else up = nearest_up;
  u128 result = up ? m + u : lower;
  if (result >= LIMIT) raise_limit();
  v.magnitude = result;
  write(value, v);
  return value;
}

bool even_q(const Cell* value) { return digit_at(value, 17) % 2 == 0; }
bool odd_q(const Cell* value) { return digit_at(value, 17) % 2 == 1; }

// ---- make, to ----

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  uint32_t ts = cell::type(spec);
  switch (ts) {
    case T_MONEY: return spec;
    case T_INTEGER: init_from_integer(proto, cell::get_int(spec)); return proto;
    case T_FLOAT: init_from_float(proto, cell::get_double(spec), true); return proto;
    default: break;
  }
  if (!any_text_q(ts)) raise_bad_to(spec);
  int32_t n = string::count_from_head(spec);
  uint32_t unit = string::unit_of(spec);
  std::string bytes(size_t(n) * unit, '\0');
  if (n > 0) std::memcpy(bytes.data(), string::head_pointer(spec), bytes.size());
  int32_t bad = 0;
  Cell m{T_NONE, 0, 0, 0};
  text_to_money(reinterpret_cast<const uint8_t*>(bytes.data()), n, unit, &bad, &m);
  if (bad) raise_bad_to(spec);
  *proto = m;
  return proto;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t ts = cell::type(spec);
  if (word::any_word_type_q(ts) && ts != T_REFINEMENT && ts != T_ISSUE) {
    Amount a;
    a.currency = index_of_word(spec);
    if (a.currency < 0) raise_bad_make(spec);
    write(proto, a);
    return proto;
  }
  if (ts == T_BLOCK) {
    Amount a = from_block(spec);
    write(proto, a);
    return proto;
  }
  return to(proto, spec, type);
}

// ---- random ----

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & SIGN_BIT)));
    cell::set_unset(value);
    return value;
  }
  auto draw = [&](int32_t top) { return random::pick_1_to_n(secure, top + 1) - 1; };
  auto word = [&]() { return secure ? random::secure_31() : random::next_word(); };
  Amount a = read(value);
  int32_t first = DIGITS - significant_digits(a.magnitude) + 1;
  uint8_t digits[DIGITS + 1] = {};
  for (int32_t p = 1; p <= DIGITS; ++p) digits[p] = uint8_t(digit_at(value, p));
  bool free = false;
  for (int32_t p = first; p <= DIGITS; ++p) {
    if (free) {
      digits[p] = uint8_t(draw(9));
      continue;
    }
    int32_t d = digits[p];
    for (;;) {
      int32_t g = draw(d);
      if (g < d) {
        digits[p] = uint8_t(g);
        free = true;
        break;
      }
      if (uint32_t(word()) % 1000 == uint32_t(word()) % 1000) break;
    }
  }
  u128 m = 0;
  for (int32_t p = 1; p <= DIGITS; ++p) m = m * 10 + digits[p];
  a.magnitude = m;
  write(value, a);
  return value;
}

// ---- Text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t limit) {
  std::string s = amount_text(read(value), true, locale::money_digits(), true);
  string::add_c_text(buffer, s.c_str());
  return limit - int32_t(s.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t limit, int32_t) {
  std::string s = amount_text(read(value), false, all ? FRACTION : locale::money_digits(), true);
  string::add_c_text(buffer, s.c_str());
  return limit - int32_t(s.size());
}

// ---- Paths ----

Cell* pick(Cell* value, int32_t, Cell* index_cell) {
  int32_t f = field_of(index_cell);
  if (!f) error::raise(err::script::out_of_range, index_cell);
  Cell out;
  field_value(value, f, &out);
  *value = out;
  return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool, bool, bool) {
  if (value) error::raise(err::script::bad_path_set, path, element);
  int32_t f = field_of(element);
  if (!f) error::raise(err::script::invalid_path, path, element);
  Cell out;
  field_value(parent, f, &out);
  return stack::push_copy(&out);
}

void install_type() {
  // Once per process: start-up may install the types again (tests do), `system` is built once.
  static bool registered = false;
  if (!registered) system::on_build(&locale::add_system_fields);
  registered = true;
  datatype::register_type(
      {.id = T_MONEY, .parent = 0, .name = "money!",
       .slots = {.make = make, .random = random, .to = to, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .absolute = absolute, .add = add,
                 .divide = divide, .multiply = multiply, .negate = negate,
                 .remainder = remainder, .round = round, .subtract = subtract,
                 .even_q = even_q, .odd_q = odd_q, .pick = pick}});
}

}  // namespace kel::money

namespace kel::lexer::hook {
void load_money(Cell* out, const uint8_t* text, int32_t length) {
  if (!money::init_cell_from_literal(out, text, length)) {
    Cell d{T_DATATYPE, T_MONEY, 0, 0};
    error::raise(err::syntax::invalid, &d);
  }
}
}  // namespace kel::lexer::hook
