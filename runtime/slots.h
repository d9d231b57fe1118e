// Slot table: a block of cells held for C++ code by 1-based handles; free cells are
// integer! links. The block is a collector root.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::slot_table {

constexpr uint32_t FIRST_CAPACITY = 100;

struct State {
  Node block;        // the cell series
  int32_t free_head; // 0-based, -1 when empty
  uint32_t capacity; // cells
};

State& state();
void init();
uint32_t store(const Cell* value);   // handle = index + 1
Cell* get(uint32_t handle);          // valid until the next allocation
void release(uint32_t handle);

}  // namespace kel::slot_table
