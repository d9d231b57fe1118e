// Hooks the block actions call into vector! (declared here until that unit exists; the weak
// definition in block_hooks_stub.cpp raises internal/not-done) and typeset!.
#pragma once
#include "runtime/cell.h"

namespace kel::vector {
// Turns the cell into a block! of the vector's elements from its head.
void elements_into_block(const Cell* vector, Cell* cell);
}  // namespace kel::vector

namespace kel::typeset {
// Turns the cell into a block of the datatypes whose bits are set.
void list_types(const Cell* typeset, Cell* cell);
}  // namespace kel::typeset
