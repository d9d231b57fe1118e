// Cell API that allocates: appending cells, reserving bytes at a tail; the shared
// read-only unset and none cells.
#include "runtime/cell_api.h"

#include "runtime/gc.h"

namespace kel::runtime {

Cell* series_append_cell_node(Node node) {
  SeriesBuffer* b = memory::node_buffer(node);
  if (b->tail + sizeof(Cell) > uint32_t(b->capacity)) {
    // a capacity-0 series grows to one cell's worth at least
    int32_t size = b->capacity == 0 ? int32_t(sizeof(Cell)) : b->capacity * 2;
    b = memory::series_grow_copy_node(node, size);
  }
  Cell* c = memory::tail_cells(b);
  c->header = T_UNSET;
  b->tail += sizeof(Cell);
  memory::touch(b);
  return c;
}

Cell* series_append_cell(SeriesBuffer* buffer) { return series_append_cell_node(buffer->node); }

Cell* block_append_cell(const Cell* block) { return series_append_cell_node(block->w2); }

uint8_t* series_reserve_bytes_node(Node node, uint32_t n) {
  SeriesBuffer* b = memory::node_buffer(node);
  if (uint64_t(b->tail) + n > uint32_t(b->capacity)) {
    uint64_t size = n > uint32_t(b->capacity) ? uint64_t(n) * 2 : uint64_t(b->capacity) * 2;
    if (size > 0x7FFFFF00ull) size = 0x7FFFFF00ull;
    b = memory::series_grow_copy_node(node, int32_t(size));
  }
  uint8_t* at = memory::tail(b);
  b->tail += n;
  memory::touch(b);
  return at;
}

uint8_t* series_reserve_bytes(SeriesBuffer* buffer, uint32_t n) {
  return series_reserve_bytes_node(buffer->node, n);
}

}  // namespace kel::runtime

namespace kel::cell {
namespace {
const Cell k_unset{T_UNSET, 0, 0, 0};
const Cell k_none{T_NONE, 0, 0, 0};
}  // namespace
const Cell* unset_value() { return &k_unset; }
const Cell* none_value() { return &k_none; }
}  // namespace kel::cell
