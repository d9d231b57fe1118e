// actions/stats-walk: the memory statistics of the `stats` native, walked with automatic
// collection off so the walk never moves what it counts.
#include "runtime/cell_api.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::actions {

namespace {

void put_number(Cell* c, double v) {
  if (v <= 2147483647.0) {
    *c = Cell{T_INTEGER, 0, uint32_t(int32_t(v)), 0};
  } else {
    *c = Cell{T_FLOAT, 0, 0, 0};
    cell::put_double(c, v);
  }
}

// Appends a value to the block in *block (a stack cell), flagged to start a new line.
void append_line(Cell* block, const Cell& value) {
  Cell* dst = runtime::block_append_cell(block);
  *dst = value;
  dst->header |= hdr::NEW_LINE;
}

}  // namespace

double stats_walk(Cell* out, int32_t level) {
  gc::GcState& g = gc::state();
  bool automatic = g.automatic;
  g.automatic = false;
  struct Restore {
    gc::GcState& g;
    bool automatic;
    ~Restore() { g.automatic = automatic; }
  } restore{g, automatic};
  memory::MemoryState& m = memory::state();
  double in_use = 0;
  for (memory::NodePool* p = m.pool_head; p; p = p->next) in_use += 4.0 * p->used;
  for (memory::SeriesArena* a = m.arena_head; a; a = a->next) in_use += double(a->bump - a->data);
  for (memory::LargeBlock* l = m.large_head; l; l = l->next) in_use += double(l->size);
  if (level < 2 || !out) return in_use;
  Cell* pools = stack::reserve_cell();
  *pools = Cell{T_NONE, 0, 0, 0};
  blk::init(pools, 4);
  Cell* arenas = stack::reserve_cell();
  *arenas = Cell{T_NONE, 0, 0, 0};
  blk::init(arenas, 4);
  Cell* larges = stack::reserve_cell();
  *larges = Cell{T_NONE, 0, 0, 0};
  blk::init(larges, 4);
  Cell* item = stack::reserve_cell();
  double frames = 0;
  for (memory::NodePool* p = m.pool_head; p; p = p->next) {
    *item = Cell{T_NONE, 0, 0, 0};
    blk::init(item, 3);
    Cell v;
    put_number(&v, double(p->capacity - p->used));
    *runtime::block_append_cell(item) = v;
    put_number(&v, double(p->used));
    *runtime::block_append_cell(item) = v;
    put_number(&v, double(p->capacity));
    *runtime::block_append_cell(item) = v;
    append_line(pools, *item);
    frames += double(p->capacity) * sizeof(uintptr_t) + 36;
  }
  for (memory::SeriesArena* a = m.arena_head; a; a = a->next) {
    *item = Cell{T_NONE, 0, 0, 0};
    blk::init(item, 3);
    Cell v;
    put_number(&v, double(a->end - a->bump));
    *runtime::block_append_cell(item) = v;
    put_number(&v, double(a->bump - a->data));
    *runtime::block_append_cell(item) = v;
    put_number(&v, double(a->end - a->data));
    *runtime::block_append_cell(item) = v;
    append_line(arenas, *item);
    frames += double(a->size) + 20;
  }
  for (memory::LargeBlock* l = m.large_head; l; l = l->next) {
    Cell v;
    put_number(&v, double(l->size));
    append_line(larges, v);
    frames += double(l->size) + 12;
  }
  append_line(out, *pools);
  append_line(out, *arenas);
  append_line(out, *larges);
  size_t count = 0;
  double heap = double(rt::tracked_bytes(&count)) + 16.0 * double(count);
  Cell v;
  put_number(&v, frames + heap);
  *runtime::block_append_cell(out) = v;
  put_number(&v, heap);
  *runtime::block_append_cell(out) = v;
  stack::drop_cells(4);
  return in_use;
}

}  // namespace kel::actions
