// same? (identity by each datatype's rule) and not; the comparison natives proper hand
// their operands to the compare action with an operator code.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void same_q(int32_t check, const int32_t* refs);
void not_(int32_t check, const int32_t* refs);

void install_compare(NativeFn* entries);

// The identity test of same?.
bool same_values_q(const Cell* a, const Cell* b);

}  // namespace kel::natives
