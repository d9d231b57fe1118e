// Number texts of the lexer: text-to-integer (sign, digits, apostrophes, checked range)
// and the hexadecimal-digit table.
#include "runtime/evaluator/number_text.h"

#include <cstring>

#include "runtime/unicode.h"

namespace kel {

using unicode::load_unit;

int32_t text_to_integer(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error) {
  *error = 0;
  int32_t i = 0;
  bool negative = false;
  if (count > 0) {
    int32_t c = load_unit(chars, unit);
    if (c == '+' || c == '-') {
      negative = c == '-';
      i = 1;
    }
  }
  // The magnitude may reach 2147483648 for negative text only.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  bool digits = false;
  for (; i < count; ++i) {
    int32_t c = load_unit(chars + size_t(i) * unit, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') {
      *error = TEXT_BAD_CHAR;
      return 0;
    }
    digits = true;
    value = value * 10 + (c - '0');
    if (value > limit) {
      *error = TEXT_OVERFLOW;
      return 0;
    }
  }
  if (!digits) {
    *error = TEXT_BAD_CHAR;
    return 0;
  }
  return int32_t(negative ? -value : value);
}

namespace lexer {

#define H16(a) a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a
const int8_t hex_digit[128] = {
    H16(-1), H16(-1), H16(-1),
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -1, -1, -1, -1, -1,          // '0'-'9'
    -1, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // '@', 'A'-'F'
    H16(-1),
    -1, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // '`', 'a'-'f'
    H16(-1)};
#undef H16

}  // namespace lexer

}  // namespace kel
