// Interim stand-ins used by the block and series units for services whose owners have not
// landed yet: direct copy and find.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/owner.h"

// Each group below is deleted once its owner's unit is merged; callers keep the same names.

namespace kel::actions {
// Through the value's copy or find slot (an empty slot raises script/expect-arg).
Cell* direct_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* direct_find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same,
                  bool any, Cell* with, Cell* skip, bool last, bool reverse, bool tail,
                  bool match);
}  // namespace kel::actions

