// money!: exact decimal amounts of 22 BCD digits (17 integer, 5 fraction) with a sign and a
// currency position, their arithmetic, rounding, conversions, text, comparison and paths.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::money {

constexpr uint32_t SIGN_BIT = 0x4000;  // header bit 14: negative

void install_type();

// Constructors. Each returns false (cell untouched) for input it refuses: an unknown
// currency, digits that do not fit, nibbles above 9.
// Integer digit text (apostrophes skipped) right-aligned at the units; at most 5 fraction
// digits are kept. code is null (or length 0) without currency.
bool init_cell_from_text(Cell* cell, bool negative, const uint8_t* code, int32_t code_length,
                         const uint8_t* integer, const uint8_t* integer_end,
                         const uint8_t* fraction, const uint8_t* fraction_end);
// Checked money text (sign, code, "$", digits) as the lexer and text-to-money read it.
bool init_cell_from_literal(Cell* cell, const uint8_t* text, int32_t length);
// Whether a checked literal's currency code (if it has one) is in the list.
bool literal_code_known_q(const uint8_t* text, int32_t length);
bool init_cell_from_bcd(Cell* cell, bool negative, int32_t currency, const uint8_t bcd[11]);
Cell* push_new_from_integer(int32_t n);
// Raises script/bad-make-arg for floats out of range (and, strict, with more than 5
// fraction digits).
Cell* push_new_from_float(double d, bool strict);
void init_from_integer(Cell* cell, int32_t n);
void init_from_float(Cell* cell, double d, bool strict);

// Accessors.
int32_t integer_value(const Cell* m);  // script/type-limit beyond 32 bits
double to_float(const Cell* m);
int32_t sign_of(const Cell* m);
bool below_zero_q(const Cell* m);
bool is_zero_q(const Cell* m);
bool above_zero_q(const Cell* m);
int32_t currency_index(const Cell* m);  // 1-based, or -1 without currency
void store_currency_index(Cell* m, int32_t index);
bool sign_bit(const Cell* m);
void store_sign_bit(Cell* m, bool negative);

// Arithmetic on the current frame's first two cells (op 0 add, 1 subtract, 2 multiply,
// 3 divide, 4 remainder); also reached from integer! and float! with money second.
Cell* apply_math_op(int32_t op);
// Comparison of a number (integer!, float!) first with money second.
int32_t compare_number_first(const Cell* number, const Cell* m, int32_t op);

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);

}  // namespace kel::money
