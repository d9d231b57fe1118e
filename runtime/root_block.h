// The root block: the one block in no other block that keeps the start-up's words and
// the runtime's own cells alive, marked by the collector as a root.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::runtime {

// Start-up step 7: a new root block with room for 8,783 cells, registered as the
// collector's root (any earlier one is dropped).
void make_root_block();
// The root block's node (0 before start-up).
Node root_block();
// Drops the block of a runtime that is gone (root_block() answers 0 again).
void forget_root_block();
// Appends a copy of the value and answers its 0-based position (stable for the process).
uint32_t root_append(const Cell* value);
// The cell at a position; the address is valid until the next allocation.
Cell* root_cell(uint32_t position);
// Step 11's words: the type words, then the runtime's global words and refinements, in
// the runtime-word table's order.
void root_collect_start_up_words();

}  // namespace kel::runtime
