// Stand-in for the lexer's text-to-float until the number readers are merged: plain
// decimal text (sign, digits, "." or ",", exponent) through the correctly rounded reader.
#include <cmath>
#include <string>

#include "runtime/dtoa.h"

namespace kel {

__attribute__((weak)) double text_to_float(const uint8_t* chars, int32_t count, uint32_t unit,
                                           int32_t* error) {
  std::string t;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t c = unit == 1 ? chars[i] : unit == 2 ? reinterpret_cast<const uint16_t*>(chars)[i]
                                                  : reinterpret_cast<const uint32_t*>(chars)[i];
    if (c > 127 || count > 312) { *error = -1; return NAN; }
    t += c == ',' ? '.' : char(c);
  }
  size_t i = 0, digits = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && (isdigit(static_cast<unsigned char>(t[i])) || t[i] == '\'')) digits += t[i++] != '\'';
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t d = 0;
    while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) ++i, ++d;
    if (!d) digits = 0;
  }
  if (!digits || i != t.size()) { *error = -1; return NAN; }
  std::string clean;
  for (char c : t) if (c != '\'') clean += c;
  *error = 0;
  return dtoa::text_to_float(clean.data(), clean.data() + clean.size(), 0, nullptr);
}

}  // namespace kel
