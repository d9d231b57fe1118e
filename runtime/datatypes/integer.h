// integer!: 32-bit signed integers whose add, subtract and multiply overflow into float!;
// the arithmetic core shared with char! and the compound types, conversion, text,
// comparison, power, round, random and the integer cell API.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::integer {

// Operation codes of do_op and do_math.
namespace op {
constexpr int32_t ADD = 0, SUBTRACT = 1, MULTIPLY = 2, DIVIDE = 3, REMAINDER = 4, OR = 5,
                  AND = 6, XOR = 7;
}

void install_type();

// Cell API. The value lives in w2 (cell::get_int).
inline int32_t get(const Cell* c) { return cell::get_int(c); }
int32_t result_value();
int32_t result_value_or_zero();
// Writes integer! value into the frame's first cell (whole header replaced).
Cell* set_result(int32_t value);
// Sets the cell's type to integer!, keeping its header flags, and stores the value.
Cell* init_cell(Cell* c, int32_t value);
Cell* add_to_block(const Cell* block, int32_t value);
Cell* push_new(int32_t value);
int32_t sign_of(int32_t value);
// Raises math/overflow for min-int.
int32_t absolute_checked(int32_t value);
// True when the double is above 2147483647.0, below -2147483648.0, or NaN.
bool float_out_of_range_q(const Cell* float_cell);
bool double_out_of_range_q(double d);
// Decimal text in a static buffer (valid until the next call).
const char* to_decimal_text(int32_t value);

// The arithmetic core. add, subtract, multiply overflowing turn the result cell's whole
// header into float! holding the double result and return 0; without a result cell they
// raise math/overflow. divide is exact or becomes float! (truncated without a result cell).
// A result kept as an integer is stored in the result cell's payload (header untouched).
int32_t do_op(int32_t left, int32_t right, int32_t op, Cell* result);
// add ... xor~ on the frame's cells by the type of the second operand; result in cell 0.
Cell* do_math(int32_t op);

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* absolute();
Cell* add();
Cell* divide();
Cell* multiply();
Cell* negate();
Cell* power();
Cell* remainder();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
Cell* subtract();
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
Cell* and_();
Cell* complement();
Cell* or_();
Cell* xor_();

// The value of an issue's text read as hexadecimal (at most 8 digits, wrapping into the
// sign); anything else raises script/invalid-data with the issue.
int32_t from_hex_text(const Cell* issue, const uint8_t* text, int32_t length);

}  // namespace kel::integer
