// block! mold and form: the element walk shared by block!, paren!, hash! and the path
// family's contents, with its character budget, line layout and cycle placeholders.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::block {

// Each appends to the string cell buffer and returns the budget left. part is the /part
// argument cell (null when absent): only with it does a walk stop, once the budget is below 1.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
int32_t mold_cells(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                   int32_t budget, int32_t indent);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);

}  // namespace kel::block
