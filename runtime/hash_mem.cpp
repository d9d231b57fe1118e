// The hash tables' view of series memory and the collector, over the memory
// manager and collector units.
#include "runtime/hash_mem.h"

#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/memory.h"

namespace kel::hash::mem {

Node new_bytes(uint32_t n) { return memory::series_new_bytes(n); }
Node new_cells(uint32_t n) { return memory::series_new_cells(n); }
Node new_units(uint32_t n, uint32_t u) { return memory::series_new_units(n, u); }
void ensure(Node n, uint32_t bytes) {
  SeriesBuffer* b = memory::node_buffer(n);
  if (b->head + bytes <= uint32_t(b->capacity)) return;
  uint32_t want = uint32_t(b->capacity) * 2;
  if (want < bytes) want = bytes;
  want = (want + 15) & ~15u;
  memory::series_grow_copy_node(n, int32_t(want));
}
Node clone(Node n) { return memory::series_clone_node(n); }

uint32_t relocations() { return gc::state().relocation_count; }
bool collecting() { return gc::collecting_q(); }
bool node_moving() { return gc::state().node_moving; }
void set_node_moving(bool on) { gc::state().node_moving = on; }

bool mark_series(uint32_t* word) { return gc::mark_series(word); }
void mark_cells(Cell* first, Cell* end) { gc::mark_cells(first, end); }
bool marked(Node n) { return n && !memory::node_free_q(n) && (memory::node_buffer(n)->flags & sflag::MARK); }
bool live_node_q(Node n) { return n && !memory::node_free_q(n); }
void remap(uint32_t* word) { *word = gc::remap(*word); }

namespace {
uint32_t* global_roots[8];
uint32_t global_root_count = 0;
void mark_global_roots() {
  for (uint32_t i = 0; i < global_root_count; i++)
    if (*global_roots[i]) hash::mark_table(global_roots[i]);
}
}  // namespace

bool add_global_root(uint32_t* word) {
  gc::GcState& g = gc::state();
  bool registered = false;
  for (uint32_t i = 0; i < g.callback_count; i++) registered |= g.callbacks[i] == mark_global_roots;
  if (!registered) {
    gc::add_root(mark_global_roots);
    global_root_count = 0;
  }
  for (uint32_t i = 0; i < global_root_count; i++)
    if (global_roots[i] == word) return registered;
  if (global_root_count < 8) global_roots[global_root_count++] = word;
  return registered;
}

}  // namespace kel::hash::mem
