// Text-to-number conversion: the float syntax table, floats and money from text of any
// unit, the lexer's number readers, and the checks of time, date, money and binary texts.
#include "runtime/evaluator/number_scan.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/datatypes/money.h"
#include "runtime/dtoa.h"
#include "runtime/evaluator/lexer_load.h"

namespace kel::lexer::number {

namespace {

bool digit_q(uint8_t b) { return b >= '0' && b <= '9'; }

// Float syntax: columns other, sign, digit, E/e, dot, apostrophe, end; 10 is the error.
const uint8_t FLOAT_TABLE[11][7] = {
    {10, 0, 1, 10, 4, 10, 10}, {10, 10, 1, 6, 5, 2, 9},   {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},  {10, 10, 3, 10, 10, 10, 9}, {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 9},
    {9, 9, 9, 9, 9, 9, 9},     {10, 10, 10, 10, 10, 10, 10}};

int float_column(uint8_t b) {
  switch (b) {
    case '+': case '-': return 1;
    case 'E': case 'e': return 3;
    case '.': return 4;
    case '\'': return 5;
    default: return digit_q(b) ? 2 : 0;
  }
}

int lower(uint8_t b) { return b >= 'A' && b <= 'Z' ? b + 32 : b; }

bool eq_nocase(const uint8_t* a, int32_t n, const char* b) {
  if (int32_t(std::strlen(b)) != n) return false;
  for (int32_t i = 0; i < n; ++i)
    if (lower(a[i]) != uint8_t(b[i])) return false;
  return true;
}

}  // namespace

bool float_syntax_q(const uint8_t* text, int32_t length) {
  if (length <= 0 || length > 312) return false;
  int state = 0;
  for (int32_t i = 0; i < length; ++i) state = FLOAT_TABLE[state][float_column(text[i])];
  return FLOAT_TABLE[state][6] == 9;
}

double convert_float(const uint8_t* text, int32_t length, int bias) {
  char local[64];
  std::vector<char> big;
  char* buf = local;
  if (length + 1 > int32_t(sizeof local)) {
    big.resize(size_t(length) + 1);
    buf = big.data();
  }
  int32_t n = 0;
  for (int32_t i = 0; i < length; ++i)
    if (text[i] != '\'') buf[n++] = char(text[i] == ',' ? '.' : text[i]);
  buf[n] = 0;
  return dtoa::text_to_float(buf, buf + n, bias, nullptr);
}

bool json_number(const uint8_t* text, int32_t length, Cell* out) {
  if (length <= 0 || length > 64) return false;
  int32_t i = text[0] == '-' ? 1 : 0;
  if (i >= length) return false;
  bool whole = true;
  for (int32_t k = i; k < length; ++k) {
    uint8_t c = text[k];
    if (c >= '0' && c <= '9') continue;
    if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') return false;
    whole = false;
  }
  if (!whole) {
    if (!float_syntax_q(text, length)) return false;
    *out = Cell{T_FLOAT, 0, 0, 0};
    cell::put_double(out, convert_float(text, length, 0));
    return true;
  }
  // load_integer's reading, without apostrophes (a JSON number has none)
  bool negative = i == 1;
  int32_t digits = length - i;
  int64_t value = 0;
  for (int32_t k = i; k < length; ++k)
    if (value <= 10000000000LL) value = value * 10 + (text[k] - '0');
  int64_t limit = negative ? 2147483648LL : 2147483647LL;
  if (digits > 10 || value > limit) {
    const char* p = reinterpret_cast<const char*>(text) + i;
    double d = dtoa::text_to_float(p, p + digits, 0, nullptr);
    *out = Cell{T_FLOAT, 0, 0, 0};
    cell::put_double(out, negative ? -d : d);
    return true;
  }
  int32_t v = negative ? int32_t(-value) : int32_t(value);
  *out = Cell{T_INTEGER, 0, uint32_t(v), 0};
  return true;
}

double special_float(const uint8_t* text, int32_t length) {
  int32_t i = 0;
  bool negative = false, sign = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) sign = true, negative = text[i++] == '-';
  if (length - i < 4 || text[i] != '1' || text[i + 1] != '.' || text[i + 2] != '#') return 0;
  const uint8_t* rest = text + i + 3;
  int32_t n = length - i - 3;
  if (eq_nocase(rest, n, "inf"))
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  if (!sign && eq_nocase(rest, n, "nan")) return std::numeric_limits<double>::quiet_NaN();
  return 0;
}

bool time_text(const uint8_t* text, int32_t length, double* seconds) {
  const uint8_t* p = text;
  const uint8_t* end = text + length;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int32_t hours, minutes, error;
  const uint8_t* q = read_int(p, end, false, &hours, &error);
  if (error || q >= end || *q != ':') return false;
  p = q + 1;
  q = read_int(p, end, false, &minutes, &error);
  if (error) return false;
  double secs = 0;
  if (q < end && (*q == '.' || *q == ',')) {
    // minutes:seconds.fraction
    const uint8_t* f = q + 1;
    const uint8_t* g = f;
    while (g < end && digit_q(*g)) ++g;
    if (g == f || g != end) return false;
    std::vector<uint8_t> buf(p, g);
    for (auto& b : buf) if (b == ',') b = '.';
    if (!float_syntax_q(buf.data(), int32_t(buf.size()))) return false;
    secs = convert_float(buf.data(), int32_t(buf.size()), 0);
    double value = secs + double(hours) * 60;
    *seconds = negative ? -value : value;
    return true;
  }
  if (q < end) {
    if (*q != ':') return false;
    const uint8_t* f = q + 1;
    const uint8_t* g = f;
    while (g < end && digit_q(*g)) ++g;
    if (g == f) return false;  // a trailing colon
    if (g < end && (*g == '.' || *g == ',')) {
      ++g;
      while (g < end && digit_q(*g)) ++g;
    }
    if (g != end) return false;
    std::vector<uint8_t> buf(f, g);
    for (auto& b : buf) if (b == ',') b = '.';
    if (!float_syntax_q(buf.data(), int32_t(buf.size()))) return false;
    secs = convert_float(buf.data(), int32_t(buf.size()), 0);
  }
  if (secs < 0) return false;
  double value = secs + double(minutes) * 60 + double(hours) * 3600;
  *seconds = negative ? -value : value;
  return true;
}

namespace {

bool leap_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int32_t month_days(int32_t y, int32_t m) {
  static const int32_t days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2) return leap_q(y) ? 29 : 28;
  return days[m - 1];
}

const char* const MONTHS[12] = {"january", "february", "march", "april", "may", "june",
                                "july", "august", "september", "october", "november",
                                "december"};

struct Cursor {
  const uint8_t* p;
  const uint8_t* end;
  bool at(uint8_t b) const { return p < end && *p == b; }
  int32_t digits(int32_t max, int32_t* value) {
    int32_t n = 0, v = 0;
    while (p < end && digit_q(*p) && n < max) v = v * 10 + (*p++ - '0'), ++n;
    *value = v;
    return n;
  }
};

// Zone after a time: Z, or +/- hours with optional : and minutes.
bool zone(Cursor& c) {
  if (c.p >= c.end) return true;
  if (*c.p == 'Z' || *c.p == 'z') return ++c.p == c.end;
  if (*c.p != '+' && *c.p != '-') return false;
  ++c.p;
  int32_t h, m;
  int32_t n = c.digits(2, &h);
  if (n == 0 || h > 15) return false;
  if (c.at(':')) ++c.p;
  if (c.p < c.end) {
    if (c.digits(2, &m) != 2 || m >= 60) return false;
  }
  return c.p == c.end;
}

// hh:mm[:ss[.fff]] then a zone.
bool time_part(Cursor& c) {
  int32_t h, m, sec;
  if (c.digits(2, &h) == 0 || h >= 24 || !c.at(':')) return false;
  ++c.p;
  if (c.digits(2, &m) != 2 || m >= 60) return false;
  if (c.at(':')) {
    ++c.p;
    if (c.digits(2, &sec) == 0 || sec >= 60) return false;
    if (c.at('.')) {
      ++c.p;
      int32_t f;
      if (c.digits(9, &f) == 0) return false;
    }
  }
  return zone(c);
}

}  // namespace

bool date_text_q(const uint8_t* text, int32_t length) {
  Cursor c{text, text + length};
  // Compact form yyyymmddThhmm[ss[.fff]][Z|+hhmm].
  if (length >= 13 && text[8] == 'T') {
    bool all = true;
    for (int i = 0; i < 8; ++i) all = all && digit_q(text[i]);
    if (all) {
      int32_t y, m, d, h, mi;
      c.digits(4, &y);
      c.digits(2, &m);
      c.digits(2, &d);
      ++c.p;
      if (c.digits(2, &h) != 2 || c.digits(2, &mi) != 2) return false;
      if (m < 1 || m > 12 || d < 1 || d > month_days(y, m) || h >= 24 || mi >= 60) return false;
      int32_t sec;
      if (c.p < c.end && digit_q(*c.p)) {
        if (c.digits(2, &sec) != 2 || sec >= 60) return false;
        if (c.at('.')) {
          ++c.p;
          int32_t f;
          if (c.digits(9, &f) == 0) return false;
        }
      }
      return zone(c);
    }
  }
  bool negative_first = c.at('-');
  if (negative_first) ++c.p;
  int32_t first;
  int32_t first_digits = c.digits(5, &first);
  if (first_digits == 0 || first_digits > 4) return false;
  if (!c.at('-') && !c.at('/')) return false;
  uint8_t sep = *c.p++;
  // ISO week yyyy-Www[-d] and ordinal yyyy-ddd.
  if (sep == '-' && (c.at('W') || c.at('w'))) {
    ++c.p;
    int32_t w, d = 1;
    if (c.digits(2, &w) != 2 || w < 1 || w > 53) return false;
    if (c.at('-')) {
      ++c.p;
      if (c.digits(1, &d) != 1 || d < 1 || d > 7) return false;
    }
    if (c.at('/') || c.at('T')) { ++c.p; return time_part(c); }
    return c.p == c.end;
  }
  int32_t month = 0;
  const uint8_t* mstart = c.p;
  int32_t mdigits = c.digits(3, &month);
  if (mdigits == 3 && sep == '-' && (c.p == c.end || c.at('/') || c.at('T'))) {
    int32_t year = negative_first ? -first : first;
    if (month < 1 || month > (leap_q(year) ? 366 : 365)) return false;
    if (c.p == c.end) return true;
    ++c.p;
    return time_part(c);
  }
  if (mdigits == 3) return false;
  if (mdigits == 0) {
    const uint8_t* q = c.p;
    while (q < c.end && ((*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z'))) ++q;
    int32_t n = int32_t(q - mstart);
    if (n < 3 || n > 9) return false;
    for (int32_t m = 0; m < 12 && month == 0; ++m) {
      if (int32_t(std::strlen(MONTHS[m])) < n) continue;
      bool match = true;
      for (int32_t i = 0; i < n && match; ++i) match = lower(mstart[i]) == uint8_t(MONTHS[m][i]);
      if (match) month = m + 1;
    }
    if (month == 0) return false;
    c.p = q;
  }
  if (!c.at(sep)) return false;
  ++c.p;
  bool negative_last = c.at('-');
  if (negative_last) ++c.p;
  int32_t last;
  int32_t last_digits = c.digits(5, &last);
  if (last_digits == 0 || last_digits > 4) return false;
  int32_t year, day;
  if (first_digits >= 3 && !negative_last && last <= 31) {
    year = negative_first ? -first : first;
    day = last;
  } else {
    if (negative_first) return false;
    day = first;
    year = negative_last ? -last : last;
    if (!negative_last && last_digits <= 2) year = last < 50 ? 2000 + last : 1900 + last;
  }
  if (year < -9999 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > month_days(year, month)) return false;
  if (c.p == c.end) return true;
  if (!c.at('/') && !c.at('T')) return false;
  ++c.p;
  return time_part(c);
}

bool money_syntax_q(const uint8_t* text, int32_t count, uint32_t unit) {
  auto at = [&](int32_t i) -> int32_t {
    const uint8_t* p = text + size_t(i) * unit;
    if (unit == 1) return *p;
    if (unit == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
    uint32_t v; std::memcpy(&v, p, 4); return int32_t(v);
  };
  auto letter = [](int32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (count < 1) return false;
  int32_t i = 0;
  if (at(i) == '+' || at(i) == '-') ++i;
  bool code = false;
  if (i + 3 <= count && letter(at(i)) && letter(at(i + 1)) && letter(at(i + 2))) {
    if (count - i < 5) return false;
    code = true;
    i += 3;
  }
  if (i < count && at(i) == '$') ++i;
  else if (code) return false;
  if (i >= count) return false;
  int32_t first = i;
  int32_t integer_digits = 0, decimals = 0;
  bool point = false;
  int32_t previous = 0;
  for (; i < count; ++i) {
    int32_t ch = at(i);
    if (ch >= '0' && ch <= '9') {
      if (point) ++decimals;
      else if (integer_digits > 0 || ch != '0') ++integer_digits;
    } else if (ch == '\'') {
      if (i == first || previous == '\'' || point || i == count - 1) return false;
    } else if (ch == '.' || ch == ',') {
      if (point || i == first || previous == '\'' || i == count - 1) return false;
      point = true;
    } else {
      return false;
    }
    previous = ch;
  }
  return integer_digits <= 17 && decimals <= 5;
}

namespace {

bool skip_blank_or_comment(const uint8_t*& p, const uint8_t* end, bool base64) {
  uint8_t b = *p;
  if (b == ' ' || b == '\t' || b == '\n' || b == '\r' ||
      (base64 && (b == 8 || b == 12 || b == '\''))) {
    ++p;
    return true;
  }
  if (b == ';') {
    while (p < end && *p != '\n') ++p;
    return true;
  }
  return false;
}

int base64_value(uint8_t b) {
  if (b >= 'A' && b <= 'Z') return b - 'A';
  if (b >= 'a' && b <= 'z') return b - 'a' + 26;
  if (b >= '0' && b <= '9') return b - '0' + 52;
  if (b == '+') return 62;
  if (b == '/') return 63;
  return -1;
}

}  // namespace

bool binary_text(const uint8_t* text, int32_t length, std::string* bytes) {
  int32_t sharp = 0;
  while (sharp < length && text[sharp] != '#') ++sharp;
  if (sharp + 2 > length || text[sharp + 1] != '{' || text[length - 1] != '}') return false;
  int base = 16;
  if (sharp == 1 && text[0] == '2') base = 2;
  else if (sharp == 2 && text[0] == '1' && text[1] == '6') base = 16;
  else if (sharp == 2 && text[0] == '6' && text[1] == '4') base = 64;
  else if (sharp != 0) return false;
  const uint8_t* p = text + sharp + 2;
  const uint8_t* end = text + length - 1;
  bytes->clear();
  if (base == 16) {
    int pending = -1;
    while (p < end) {
      if (skip_blank_or_comment(p, end, false)) continue;
      uint8_t b = *p++;
      int v = (b >= '0' && b <= '9') ? b - '0'
              : (b >= 'A' && b <= 'F') ? b - 'A' + 10
              : (b >= 'a' && b <= 'f') ? b - 'a' + 10 : -1;
      if (v < 0) return false;
      if (pending < 0) pending = v;
      else bytes->push_back(char(pending * 16 + v)), pending = -1;
    }
    return pending < 0;
  }
  if (base == 2) {
    int bits = 0, value = 0;
    while (p < end) {
      if (skip_blank_or_comment(p, end, false)) continue;
      uint8_t b = *p++;
      if (b != '0' && b != '1') return false;
      value = value * 2 + (b - '0');
      if (++bits == 8) bytes->push_back(char(value)), bits = value = 0;
    }
    return bits == 0;
  }
  int group = 0, pad = 0;
  uint32_t acc = 0;
  while (p < end) {
    if (skip_blank_or_comment(p, end, true)) continue;
    uint8_t b = *p++;
    if (b == '=') {
      if (group < 2) return false;
      ++pad;
      if (group + pad > 4) return false;
      continue;
    }
    if (pad) return false;
    int v = base64_value(b);
    if (v < 0) return false;
    acc = (acc << 6) | uint32_t(v);
    if (++group == 4) {
      bytes->push_back(char(acc >> 16));
      bytes->push_back(char(acc >> 8));
      bytes->push_back(char(acc));
      group = 0;
      acc = 0;
    }
  }
  if (group == 1) return false;
  if (group == 2) bytes->push_back(char(acc >> 4));
  if (group == 3) bytes->push_back(char(acc >> 10)), bytes->push_back(char(acc >> 2));
  return true;
}

}  // namespace kel::lexer::number

namespace kel::lexer {

const uint8_t* read_int(const uint8_t* start, const uint8_t* end, bool allow_sign,
                        int32_t* value, int32_t* error) {
  const uint8_t* p = start;
  bool negative = false;
  if (allow_sign && p < end && *p == '-') negative = true, ++p;
  int64_t v = 0;
  int32_t digits = 0;
  *error = 0;
  for (; p < end; ++p) {
    if (*p >= '0' && *p <= '9') {
      v = v * 10 + (*p - '0');
      ++digits;
      if (v > 2147483648LL) {
        *error = -5;
        while (p < end && ((*p >= '0' && *p <= '9') || *p == '\'')) ++p;
        *value = 0;
        return p;
      }
    } else if (*p != '\'') {
      break;
    }
  }
  if (digits == 0) {
    *error = -1;
    *value = 0;
    return p;
  }
  if (v == 2147483648LL && !negative) {
    *error = -5;
    *value = 0;
    return p;
  }
  *value = negative ? int32_t(-v) : int32_t(v);
  return p;
}

const uint8_t* read_digits(const uint8_t* start, const uint8_t* end, int32_t exact,
                           int32_t max, int32_t* value, int32_t* error) {
  *value = 0;
  if (start >= end) {
    *error = -2;
    return start;
  }
  const uint8_t* p = start;
  int32_t n = 0, v = 0;
  while (p < end && n < max && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0'), ++n;
  *error = (n == 0 || (exact > 0 && n != exact)) ? -1 : 0;
  *value = v;
  return p;
}

const uint8_t* read_float_digits(const uint8_t* start, const uint8_t* end, double* value,
                                 int32_t* error) {
  const uint8_t* p = start;
  while (p < end && ((*p >= '0' && *p <= '9') || *p == '.')) ++p;
  if (p == start || !number::float_syntax_q(start, int32_t(p - start))) {
    *error = -1;
    *value = 0;
    return p;
  }
  *error = 0;
  *value = number::convert_float(start, int32_t(p - start), 0);
  return p;
}

}  // namespace kel::lexer

namespace kel {

namespace {
int32_t unit_char(const uint8_t* chars, int32_t i, uint32_t unit) {
  const uint8_t* p = chars + size_t(i) * unit;
  if (unit == 1) return *p;
  if (unit == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
  uint32_t v; std::memcpy(&v, p, 4); return int32_t(v);
}
}  // namespace

double text_to_float(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error) {
  *error = NUMBER_BAD_TEXT;
  double nan = std::numeric_limits<double>::quiet_NaN();
  if (count <= 0 || count >= 313) return nan;
  uint8_t local[32];
  std::vector<uint8_t> big;
  uint8_t* buf = local;
  if (count > 31) {
    big.resize(size_t(count) + 1);
    buf = big.data();
  }
  for (int32_t i = 0; i < count; ++i) {
    int32_t c = unit_char(chars, i, unit);
    if (c > 127) return nan;
    buf[i] = uint8_t(c == ',' ? '.' : c);
  }
  buf[count] = 0;
  if (!lexer::number::float_syntax_q(buf, count)) return nan;
  *error = 0;
  return lexer::number::convert_float(buf, count, 0);
}

void text_to_money(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error,
                   Cell* result) {
  *error = NUMBER_BAD_TEXT;
  if (!lexer::number::money_syntax_q(chars, count, unit)) return;
  // The money! datatype builds the value from the checked text.
  std::vector<uint8_t> text;
  for (int32_t i = 0; i < count; ++i) text.push_back(uint8_t(unit_char(chars, i, unit)));
  Cell m{T_NONE, 0, 0, 0};
  if (!money::init_cell_from_literal(&m, text.data(), int32_t(text.size()))) return;
  *result = m;
  *error = 0;
}

}  // namespace kel
