// The write-back of a path assignment: a value held in its cell (time!, pair!, tuple!, date!,
// ...) that a path step changed on a stack copy is stored back into what holds it.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::path_set {

// Stack cells a set path keeps per step: the container before the step and the element.
constexpr uint32_t CELLS_PER_STEP = 2;

// Types whose path steps change the value's own cell rather than a buffer it names.
bool held_in_cell_q(uint32_t type);

// chain holds steps x [container before the step, element]; changed is the last container
// after the assignment. Walking back, each container that changed is stored into the one
// before it through that one's eval-path slot (block slot, object field, which notify as
// their own sets do), and the first into the head word. Stops at the first container that
// did not change (a series or object holds the change already).
void write_back(Cell* head_word, const Cell* path, Cell* chain, uint32_t steps, Cell* changed);

}  // namespace kel::path_set
