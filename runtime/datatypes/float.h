// float! (interim row: form, mold, compare, power): text of a double per numeric kind,
// tolerant equality, comparison, and the float cell API; the rest of the row comes later.
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

// system/options/float/pretty? (on at start).
extern bool pretty;

void install_type();

// The text of a double for a numeric kind (%.16g for float!, noise trimmed, ".0" added).
std::string number_to_text(double x, int kind);
// NaN equals nothing; exactly equal, within DBL_EPSILON, or at most 10 ordered steps apart.
bool equal_double_q(double a, double b);

// Slots.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* power();
// Not built yet: raise internal/not-done.
Cell* apply_math_op(int32_t op);
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);

// Cell API.
Cell* init_cell(Cell* c, double d);
Cell* set_result(double d);
Cell* push_new(double d);
double value_of(const Cell* c);

}  // namespace kel::float_
