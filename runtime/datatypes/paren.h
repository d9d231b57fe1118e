// paren! (id 6, parent block!): the block that evaluates as a sub-expression; its own
// mold, and a registration that inherits block! but for mold and trim.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::paren {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
void install_type();

}  // namespace kel::paren
