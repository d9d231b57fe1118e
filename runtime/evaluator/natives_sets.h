// The set-operation natives (union, intersect, unique, difference, exclude) with their one
// dispatcher over the engines of each datatype, and complement?.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void union_(int32_t check, const int32_t* refs);
void intersect(int32_t check, const int32_t* refs);
void unique(int32_t check, const int32_t* refs);
void difference(int32_t check, const int32_t* refs);
void exclude(int32_t check, const int32_t* refs);
void complement_q(int32_t check, const int32_t* refs);

// The dispatcher: the sets in the frame's first two cells, the /case flag, the frame index
// of the /skip size (-1 when absent) and the operation code (8 unique ... 12 difference).
void set_operation(bool case_, int32_t skip_index, int32_t op);

// Puts the natives of this unit into the entries being built (index = id - 1); runs at
// compile time for the table's static fill.
constexpr void install_sets(NativeFn* entries) {
  entries[41 - 1] = &union_;
  entries[42 - 1] = &intersect;
  entries[43 - 1] = &unique;
  entries[44 - 1] = &difference;
  entries[45 - 1] = &exclude;
  entries[46 - 1] = &complement_q;
}

}  // namespace kel::natives
