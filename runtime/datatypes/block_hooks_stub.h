// Hook the block actions call into typeset! (declared here; typeset! defines it in its own
// unit).
#pragma once
#include "runtime/cell.h"

namespace kel::typeset {
// Turns the cell into a block of the datatypes whose bits are set.
void list_types(const Cell* typeset, Cell* cell);
}  // namespace kel::typeset
