// Text-to-number conversion beside the integer reader: floats and money from string text,
// the lexer's number readers, and the literal checks the lexer's loaders share.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel {

// Error codes (callers choose the error they raise).
constexpr int32_t NUMBER_BAD_TEXT = -1;
constexpr int32_t NUMBER_OVERFLOW = -2;

// count characters stored at unit bytes each (1, 2 or 4). error gets 0 or -1 (result NaN).
double text_to_float(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error);
// Checks money text and fills result through the money! datatype; error gets 0 or -1.
void text_to_money(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error,
                   Cell* result);

}  // namespace kel

namespace kel::lexer {

// Optionally negative decimal with apostrophes in [start, end) (time loader). error: 0, -1
// for a bad text, -5 on overflow (the 11-byte "-2147483648" reads).
const uint8_t* read_int(const uint8_t* start, const uint8_t* end, bool allow_sign,
                        int32_t* value, int32_t* error);
// Up to max decimal digits; error -2 when the range is empty, -1 when none were read or an
// exact count (above 0) is not met.
const uint8_t* read_digits(const uint8_t* start, const uint8_t* end, int32_t exact,
                           int32_t max, int32_t* value, int32_t* error);
// The run of digits and dots at start, converted; error -1 when it does not read.
const uint8_t* read_float_digits(const uint8_t* start, const uint8_t* end, double* value,
                                 int32_t* error);

}  // namespace kel::lexer

namespace kel::lexer::number {

// The float syntax check (at most 312 bytes).
bool float_syntax_q(const uint8_t* text, int32_t length);
// Checked float text to double, apostrophes dropped; bias is added to the decimal exponent.
double convert_float(const uint8_t* text, int32_t length, int bias);
// "1.#INF", "-1.#INF", "+1.#INF", "1.#NaN" (any case); a finite 0 when it is none of them.
double special_float(const uint8_t* text, int32_t length);
// Time literal to seconds; false when invalid.
bool time_text(const uint8_t* text, int32_t length, double* seconds);
// Date literal check (every form and limit).
bool date_text_q(const uint8_t* text, int32_t length);
// Money text: sign, currency code, $, digits; unit is the character size of text.
bool money_syntax_q(const uint8_t* text, int32_t count, uint32_t unit);
// The value the lexer loads from a JSON number text (optional "-", digits, optional fraction
// and exponent) of at most 64 bytes, in out: an integer token as load_integer reads it (a
// float beyond the 32-bit range), one with "." or an exponent as load_float does. False
// (out untouched) for any other text, which the lexer itself then reads.
bool json_number(const uint8_t* text, int32_t length, Cell* out);
// Binary literal "[base]#{...}" to bytes; false when invalid.
bool binary_text(const uint8_t* text, int32_t length, std::string* bytes);

}  // namespace kel::lexer::number
