// Float <-> text conversion on top of <charconv> (shortest and correctly rounded digits,
// correctly rounded reading); this unit adds the special texts, the layout and the reader syntax.
#include "runtime/dtoa.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kel::dtoa {

namespace {
// A double has at most 767 significant decimal digits; more are all zeros.
constexpr int MAX_PRECISION = 780;

std::string special_text(double value, bool dot_zero, int* point, int* sign) {
  bool neg = std::signbit(value);
  const char* t;
  if (std::isnan(value)) {
    t = "1.#NaN";
    neg = false;
    *point = POINT_INF_NAN;
  } else if (std::isinf(value)) {
    t = neg ? "-1.#INF" : "1.#INF";
    *point = POINT_INF_NAN;
  } else {
    t = dot_zero ? (neg ? "-0.0" : "0.0") : (neg ? "-0" : "0");
    *point = POINT_ZERO;
  }
  *sign = neg ? 1 : 0;
  return t;
}
}  // namespace

std::string digits(double value, int precision, int* point, int* sign, int* count, bool dot_zero) {
  int p = 0, s = 0;
  std::string out;
  if (!std::isfinite(value) || value == 0.0) {
    out = special_text(value, dot_zero, &p, &s);
  } else {
    s = std::signbit(value) ? 1 : 0;
    double a = std::fabs(value);
    char buf[MAX_PRECISION + 32];
    std::to_chars_result r;
    if (precision <= 0) {
      r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    } else {
      int prec = precision < MAX_PRECISION ? precision : MAX_PRECISION;
      r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, prec - 1);
    }
    // buf holds d[.ddd]e(+|-)XX
    const char* e = static_cast<const char*>(std::memchr(buf, 'e', size_t(r.ptr - buf)));
    out.reserve(size_t(e - buf));
    for (const char* q = buf; q < e; ++q)
      if (*q != '.') out.push_back(*q);
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    int exp = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, exp);
    p = exp + 1;
  }
  if (point) *point = p;
  if (sign) *sign = s;
  if (count) *count = int(out.size());
  return out;
}

std::string float_to_text(double value, int precision, bool dot_zero) {
  int p, s, n;
  std::string d = digits(value, precision, &p, &s, &n, dot_zero);
  if (p >= POINT_ZERO) return d;
  std::string out;
  out.reserve(size_t(n) + 32);
  if (s) out.push_back('-');
  if (p > 17 || p < -6) {
    out.push_back(d[0]);
    out.push_back('.');
    if (n > 1) out.append(d, 1, std::string::npos);
    else if (dot_zero) out.push_back('0');
    else out.pop_back();
    out.push_back('e');
    char eb[16];
    auto r = std::to_chars(eb, eb + sizeof eb, p - 1);
    out.append(eb, r.ptr);
  } else if (p <= 0) {
    out.append("0.");
    out.append(size_t(-p), '0');
    out.append(d);
  } else if (n > p) {
    out.append(d, 0, size_t(p));
    out.push_back('.');
    out.append(d, size_t(p), std::string::npos);
  } else {
    out.append(d);
    out.append(size_t(p - n), '0');
    if (dot_zero) out.append(".0");
  }
  return out;
}

namespace {
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

double text_to_float(const char* start, const char* end, int bias, size_t* remaining) {
  const char* p = start;
  bool neg = false;
  auto finish = [&](double v) {
    if (remaining) *remaining = size_t(end - p);
    return v;
  };
  if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
  while (p < end && *p == '0') ++p;
  const double zero = neg ? -0.0 : 0.0;
  if (p == end) return finish(zero);

  // Significant digits go to one buffer; exp10 is the exponent of its last digit.
  std::string many;
  char small[64];
  size_t len = 0;
  auto push = [&](char c) {
    if (len == 0 && c == '0') return false;  // a leading zero of the fraction: not significant
    if (len < sizeof small - 16) small[len] = c;
    else {
      if (many.empty()) many.assign(small, len);
      many.push_back(c);
    }
    ++len;
    return true;
  };
  int64_t exp10 = 0;
  const char* int_start = p;
  while (p < end && is_digit(*p)) push(*p++);
  if (p < end && *p == '.') {
    if (p - int_start == 1 && end - p >= 3 && p[1] == '#') {
      char c = p[2];
      auto skip_word = [&] {  // the rest of "INF" / "NaN"
        p += 3;
        while (p < end && ((*p | 0x20) >= 'a' && (*p | 0x20) <= 'z')) ++p;
      };
      if (c == 'I' || c == 'i') {
        skip_word();
        return finish(neg ? -HUGE_VAL : HUGE_VAL);
      }
      if (c == 'N' || c == 'n') {
        skip_word();
        return finish(std::numeric_limits<double>::quiet_NaN());
      }
    }
    ++p;
    while (p < end && is_digit(*p)) {
      push(*p++);
      --exp10;
    }
    // zeros after the point and before the first significant digit still move the point
  }
  if (p < end && (*p == 'e' || *p == 'E') && end - p >= 2) {
    const char* q = p + 1;
    bool eneg = false;
    if (*q == '+' || *q == '-') eneg = *q++ == '-';
    if (q < end && is_digit(*q)) {
      int64_t e = 0;
      while (q < end && is_digit(*q)) {
        if (e < 100'000'000) e = e * 10 + (*q - '0');
        ++q;
      }
      exp10 += eneg ? -e : e;
      p = q;
    }
  }
  exp10 += bias;
  if (len == 0) return finish(zero);
  // Far outside the range of doubles: no need to ask the converter.
  int64_t magnitude = exp10 + int64_t(len);  // value < 10^magnitude
  if (magnitude > 310) return finish(neg ? -HUGE_VAL : HUGE_VAL);
  if (magnitude < -330) return finish(zero);

  const char* text;
  if (many.empty()) {
    text = small;
  } else {
    text = many.data();
  }
  std::string with_exp;
  char eb[24];
  auto er = std::to_chars(eb, eb + sizeof eb, exp10);
  const char* conv_begin;
  const char* conv_end;
  if (many.empty()) {
    small[len] = 'e';
    std::memcpy(small + len + 1, eb, size_t(er.ptr - eb));
    conv_begin = small;
    conv_end = small + len + 1 + (er.ptr - eb);
  } else {
    with_exp.assign(text, len);
    with_exp.push_back('e');
    with_exp.append(eb, er.ptr);
    conv_begin = with_exp.data();
    conv_end = conv_begin + with_exp.size();
  }
  double v = 0.0;
  auto r = std::from_chars(conv_begin, conv_end, v, std::chars_format::scientific);
  if (r.ec == std::errc::result_out_of_range) v = magnitude > 0 ? HUGE_VAL : 0.0;
  return finish(neg ? -v : v);
}

}  // namespace kel::dtoa
