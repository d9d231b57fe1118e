// series! (id 42): the abstract parent whose 21 action slots every series type inherits,
// and the element access by datatype that pick, poke and random share.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::series {

// Shared operations. A series cell: w1 head index in units (signed), w2 node, w3 per type.
bool head_past_end(const Cell* s);
int32_t unit_count(const Cell* s);
bool advance(Cell* s, int32_t n);
// Units from the head (or the buffer start) to the tail, never negative; a head past the
// tail is moved back to the tail in the value.
int32_t count_to_tail(Cell* s, bool from_start);
// New head index for at (true) or skip (false), from frame cells 0 and 1.
int32_t resolve_offset(bool at);

// Element access by datatype; index counts units from the buffer start.
void read_element(const Cell* s, int32_t index, Cell* out);
// Raises script/invalid-arg when the series cannot hold the value; changes nothing.
void check_element(const Cell* s, const Cell* value);
void write_element(Cell* s, int32_t index, const Cell* value);

// Frame-only actions: the series is frame cell 0 (also the result), the offset cell 1.
Cell* head();
Cell* tail();
Cell* head_q();
Cell* tail_q();
Cell* index_q();
Cell* next();
Cell* back();
Cell* at();
Cell* skip();

// Direct forms. Refinement arguments are null when the refinement is absent. Each returns
// the result cell; actions that leave a series write it into the series' own cell.
int32_t length_q(Cell* s);
Cell* pick(Cell* s, int32_t index, Cell* index_cell);
// pick of a cell series (any block) by integer, in place, for the evaluator's short paths:
// the cell, or none when the index falls outside the series. Nothing allocates.
[[gnu::always_inline]] inline void pick_cell(Cell* s, int32_t index) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  // Positive indexes count from 1, negative ones back from the head; a position before the
  // head is a huge unsigned one, so one compare bounds both ends.
  int64_t p = int64_t(int32_t(s->w1)) + int64_t(index) - int64_t(index > 0);
  if (index == 0 || uint64_t(p) >= memory::used_bytes(b) / sizeof(Cell)) {
    *s = Cell{T_NONE, 0, 0, 0};
    return;
  }
  *s = memory::head_cells(b)[p];
}
Cell* poke(Cell* s, int32_t index, Cell* value, Cell* index_cell);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, int32_t field);
Cell* clear(Cell* s);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
// copy/part's new series: units [start, start + count) of s (within its tail), of its type
// and flags. s is rooted by the caller (the allocation may collect).
void copy_range(const Cell* s, uint32_t start, uint32_t count, Cell* out);
Cell* remove(Cell* s, Cell* part, Cell* key);
Cell* reverse(Cell* s, Cell* part, Cell* skip);
// take as the slot: the taken series with /part, otherwise the single element.
Cell* take(Cell* s, Cell* part, bool deep, bool last);
// The raw take: without /part the result is a series on the runtime's scratch buffer,
// valid until the next take; callers turn it into the element before Kel code sees it.
Cell* take_units(Cell* s, Cell* part, bool last);
// The scratch buffer names a heap that is gone: the next take makes a new one.
void forget_take_scratch();
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_q);

// Registers series! (42), and the scratch node of take as a collector root.
void install_type();

}  // namespace kel::series
