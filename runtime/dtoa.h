// Float and text conversion: shortest round-trip and correctly rounded digits of a double,
// their layout in the language's float syntax, and correctly rounded reading.
#pragma once
#include <cstddef>
#include <string>

namespace kel::dtoa {

// Decimal-point value that marks the special texts: infinities and NaN, zeros.
constexpr int POINT_INF_NAN = 9999;
constexpr int POINT_ZERO = 9998;

// Significant digits of |value| (no leading or trailing zeros) with value = 0.d1d2... x 10^point.
// precision <= 0: the shortest digits that read back to value; > 0: at most that many digits,
// correctly rounded. Infinities, NaN and zeros give their whole texts ("1.#INF", "-1.#INF",
// "1.#NaN", "0.0"/"-0.0", or "0"/"-0" without dot_zero) with point 9999 or 9998.
// sign is 1 for a negative value, -0.0 included.
std::string digits(double value, int precision, int* point, int* sign, int* count, bool dot_zero);

// The value in float syntax: exponent form ("1.0e17", "1.23e-8") when |value| >= 1e17 or
// < 1e-7, plain decimals otherwise; dot_zero adds ".0" to whole numbers.
std::string float_to_text(double value, int precision, bool dot_zero);

// Reads [start, end): optional sign, digits, optional fraction, optional exponent (the text is
// checked by the lexer beforehand). bias is added to the decimal exponent. "1.#INF" and
// "1.#NaN" read back. remaining (if given) gets the characters left after the stop position.
double text_to_float(const char* start, const char* end, int bias, size_t* remaining);

}  // namespace kel::dtoa
