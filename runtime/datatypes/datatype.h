// datatype! values: form, mold and compare of type names, its registration, and the
// constructors of datatype! cells for other units.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::datatype {

void install_type();

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// A datatype! cell naming the id.
inline Cell value_of(uint32_t id) { return Cell{T_DATATYPE, id, 0, 0}; }
// A new datatype! cell reserved on the argument stack.
Cell* push_new(uint32_t id);
// A new datatype! cell appended at the block's tail.
Cell* add_to_block(const Cell* block, uint32_t id);

}  // namespace kel::datatype
