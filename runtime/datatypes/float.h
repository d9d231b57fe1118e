// float!: the double in w2-w3, its action row, and the numeric services other types share:
// text of a double per numeric kind, the mixed-operand dispatcher, tolerant equality, round.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::float_ {

// Kinds of number_to_text.
namespace kind {
constexpr int SINGLE = 0, FLOAT = 1, SINGLE_PERCENT = 2, PERCENT = 3, TIME_SECONDS = 4,
              POINT = 5;
}

// Operation codes of apply_math_op and arith_on_doubles.
namespace op {
constexpr int32_t ADD = 0, SUBTRACT = 1, MULTIPLY = 2, DIVIDE = 3, REMAINDER = 4;
}

// system/options/float/pretty? (on at start); the boot library's handler calls the setter.
extern bool pretty;
void set_pretty_print(bool on);
bool pretty_print_q();
// system/options/float/full? (off at start): kept for the handler; nothing reads it yet.
void set_full_support(bool on);
bool full_support_q();
// The routine the system/options/float handler calls with [word value]: pretty? or full?
// takes the value's truth; other words change nothing.
void set_flag_routine();

void install_type();

// The text of a double for a numeric kind (%.16g for float!, noise trimmed, ".0" added).
std::string number_to_text(double x, int kind);
// NaN equals nothing; exactly equal, within DBL_EPSILON, or at most 10 ordered steps apart.
bool equal_double_q(double a, double b);
// The same for 32-bit floats (point coordinates).
bool equal_single_q(float a, float b);

// The mixed-operand dispatcher: operands in the current frame's first two cells, the
// result replaces the first (its type by the operands' types).
Cell* apply_math_op(int32_t op);
// x scaled by a random fraction: x * w / 2147483647 for the next generator word w, or with
// secure x * (a / 2147483647 + b) / 2147483648 for two secure 31-bit draws a and b.
double random_fraction(double x, bool secure);
// Plain IEEE arithmetic; remainder follows fmod with NaN and infinite divisors handled.
double arith_on_doubles(double x, double y, int32_t op);

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
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
Cell* subtract();
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
// Rounds value in place (float!, percent!, time!); with a scale the result takes the
// scale's type (integer! range-checked).
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);

// Helpers.
bool not_a_number_q(uint32_t low, uint32_t high);
bool single_not_a_number_q(float f);
bool infinite_or_nan_q(double d);
double clear_sign(double d);

// Cell API.
Cell* init_cell(Cell* c, double d);
Cell* set_result(double d);
Cell* push_new(double d);
Cell* push_new_bits(uint32_t low, uint32_t high);
Cell* add_to_block(Cell* block, uint32_t low, uint32_t high);
double value_of(const Cell* c);

}  // namespace kel::float_
