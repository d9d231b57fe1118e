// Number texts of the lexer: decimal text to a 32-bit integer, and the hexadecimal-digit
// table that the lexer and integer! conversion share.
#pragma once
#include <cstdint>

namespace kel {

// Error codes of text_to_integer.
constexpr int32_t TEXT_BAD_CHAR = -1;  // a character that is not a digit or apostrophe
constexpr int32_t TEXT_OVERFLOW = -2;  // the value leaves the 32-bit range (result 0)

// Decimal text of count characters stored at unit bytes each (1, 2 or 4): optional sign,
// digits and ' separators. error gets 0, TEXT_BAD_CHAR or TEXT_OVERFLOW; -2147483648 reads.
// Text without a digit is a bad text.
int32_t text_to_integer(const uint8_t* chars, int32_t count, uint32_t unit, int32_t* error);

namespace lexer {
// Value of a hexadecimal digit (0-9, A-F, a-f) by 7-bit code; -1 for every other code.
extern const int8_t hex_digit[128];
}  // namespace lexer

}  // namespace kel
