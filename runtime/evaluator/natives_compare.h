// same? (identity by each datatype's rule) and not; the comparison natives proper hand
// their operands to the compare action with an operator code.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void same_q(int32_t check, const int32_t* refs);
void not_(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1); runs at
// compile time for the table's static fill.
constexpr void install_compare(NativeFn* entries) {
  entries[32 - 1] = &same_q;
  entries[33 - 1] = &not_;
}

// The identity test of same?.
bool same_values_q(const Cell* a, const Cell* b);

}  // namespace kel::natives
