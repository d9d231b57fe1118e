// Block cell helpers of the evaluator: cells and counts through a node, a fresh block, a
// (deep) copy, and the spec-word lookup of a callee.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::blk {
inline Cell* cells(Node n) { return memory::head_cells(memory::node_buffer(n)); }
// Cell series only: 16-byte units, so no division.
inline uint32_t count(Node n) {
  const SeriesBuffer* b = memory::node_buffer(n);
  return (b->tail - b->head) >> 4;
}
// A new empty block of room for n cells, written into out (out must be a rooted cell).
void init(Cell* out, uint32_t n);
// A copy of the block from its index; deep copies nested blocks, parens and paths.
void copy(Cell* out, const Cell* block, bool deep);
// Extras cell k of a function!, native!, action!, routine! or op! value.
inline Cell* extras(const Cell* fn, uint32_t k) { return cells(fn->w3) + k; }
// Index of a symbol (canonical match) among a callee's spec words, -1 when absent.
int32_t find_spec_symbol(const Cell* fn, int32_t symbol);
}  // namespace kel::blk
