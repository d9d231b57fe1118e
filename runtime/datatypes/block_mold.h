// block! mold and form: the element walk shared by block!, paren!, hash! and the path
// family's contents, with its character budget, line layout and cycle placeholders.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::block {

// Each appends to the string cell buffer and returns the budget left. part > 0 says a
// /part limit was given: only then does a walk stop, once the budget falls below 1.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
             int32_t budget, int32_t indent);
int32_t mold_cells(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
                   int32_t budget, int32_t indent);
int32_t form(Cell* value, Cell* buffer, int32_t part, int32_t budget);

}  // namespace kel::block
