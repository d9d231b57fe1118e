// Cell API that allocates: appending cells to series and reserving bytes at a tail.
// (The allocation-free cell operations are in cell.h.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::runtime {

// Both return an address valid only until the next allocation.
Cell* series_append_cell(SeriesBuffer* buffer);
Cell* series_append_cell_node(Node node);
Cell* block_append_cell(const Cell* block);
uint8_t* series_reserve_bytes(SeriesBuffer* buffer, uint32_t n);
uint8_t* series_reserve_bytes_node(Node node, uint32_t n);

}  // namespace kel::runtime

namespace kel::cell {
// Read-only shared constants (header 2 and 3, payload 0).
const Cell* unset_value();
const Cell* none_value();
inline void set_unset(Cell* c) { *c = Cell{T_UNSET, 0, 0, 0}; }
inline void set_none(Cell* c) { *c = Cell{T_NONE, 0, 0, 0}; }
inline void set_integer(Cell* c, int32_t v) { *c = Cell{T_INTEGER, 0, uint32_t(v), 0}; }
inline void set_block(Cell* c, Node node, int32_t head = 0, uint32_t type = T_BLOCK) {
  *c = Cell{type, uint32_t(head), node, 0};
}
}  // namespace kel::cell
