// The narrow view of series memory and the collector that the hash tables use.
// Everything the tables allocate, mark or re-read goes through these few calls.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

namespace kel::hash::mem {

using kel::Node;

// New empty series (tail = head) with room for at least n bytes / n cells.
Node new_bytes(uint32_t n);
Node new_cells(uint32_t n);
Node new_units(uint32_t n, uint32_t unit);  // text series of unit 1, 2 or 4
// Head address; valid only until the next allocation.
inline uint8_t* data(Node n) { return memory::node_head(n); }
// Bytes from head to tail.
inline uint32_t used(Node n) { return memory::used_bytes(memory::node_buffer(n)); }
inline void set_used(Node n, uint32_t bytes) {
  SeriesBuffer* b = memory::node_buffer(n);
  b->tail = b->head + bytes;
}
// Bytes from head to the end of the data area.
inline uint32_t room(Node n) {
  SeriesBuffer* b = memory::node_buffer(n);
  return uint32_t(b->capacity) - b->head;
}
inline uint32_t unit(Node n) { return memory::unit(memory::node_buffer(n)); }
// Grows (content kept) so that at least `bytes` fit from the head; may collect.
void ensure(Node n, uint32_t bytes);
// A copy with the same used bytes; may collect.
Node clone(Node n);

// Collector state the tables read or switch.
uint32_t relocations();
bool collecting();
bool node_moving();
void set_node_moving(bool on);

// Marking (collector only). mark_series rewrites a moved node first.
bool mark_series(uint32_t* word);
void mark_cells(Cell* first, Cell* end);
bool marked(Node n);
bool live_node_q(Node n);
void remap(uint32_t* word);

// Keeps the node held in a word (or the value of a cell) outside the collected heap
// alive, and rewritten when nodes move, while in scope.
using Root = gc::Root;
// Marks the table whose node *word holds at every collection. Answers whether that
// registration was already in effect (false the first time, or after a collector reset).
bool add_global_root(uint32_t* word);

}  // namespace kel::hash::mem
