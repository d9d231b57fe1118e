// Slot table: cells held for C++ code by 1-based handles; free cells are integer! links.
// Its block is a collector root.
#include "runtime/slots.h"

#include "runtime/cell_api.h"
#include "runtime/gc.h"

namespace kel::slot_table {

namespace {
State g_state{0, -1, 0};

// Threads the cells from `from` to the end of the capacity into the free list.
void thread(uint32_t from) {
  SeriesBuffer* b = memory::node_buffer(g_state.block);
  Cell* cells = reinterpret_cast<Cell*>(memory::data(b));
  for (uint32_t i = from; i < g_state.capacity; ++i) {
    cell::set_integer(&cells[i], i + 1 < g_state.capacity ? int32_t(i + 1) : -1);
  }
  b->head = 0;
  b->tail = g_state.capacity * sizeof(Cell);
  g_state.free_head = int32_t(from);
}
}  // namespace

State& state() { return g_state; }

void init() {
  g_state.block = 0;  // the collector roots it once made
  g_state.capacity = FIRST_CAPACITY;
  g_state.block = memory::series_new_cells(FIRST_CAPACITY);
  thread(0);
}

uint32_t store(const Cell* value) {
  Cell copy = *value;  // the value may live in the block, which can move
  gc::Root keep(&copy);
  if (!g_state.block) init();
  if (g_state.free_head < 0) {
    uint32_t old = g_state.capacity;
    memory::series_grow_copy_node(g_state.block, int32_t(old * 2 * sizeof(Cell)));
    g_state.capacity = old * 2;
    thread(old);
  }
  uint32_t index = uint32_t(g_state.free_head);
  Cell* cells = reinterpret_cast<Cell*>(memory::data(memory::node_buffer(g_state.block)));
  g_state.free_head = cell::get_int(&cells[index]);
  cells[index] = copy;
  return index + 1;
}

Cell* get(uint32_t handle) {
  return reinterpret_cast<Cell*>(memory::data(memory::node_buffer(g_state.block))) + (handle - 1);
}

void release(uint32_t handle) {
  if (handle == 0) return;
  Cell* c = get(handle);
  cell::set_integer(c, g_state.free_head);
  g_state.free_head = int32_t(handle - 1);
}

}  // namespace kel::slot_table
