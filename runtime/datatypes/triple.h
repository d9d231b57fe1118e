// triple!: three signed 32-bit integers kept in the cell (the parse engine's saved
// positions); text forms only.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::triple {

void install_type();

inline Cell value_of(int32_t a, int32_t b, int32_t c) {
  return Cell{T_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}
// form and mold write the same text: make triple! [a b c].
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);

}  // namespace kel::triple
