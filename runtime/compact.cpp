// Reclaiming after marking: sliding live buffers down (into the previous arena while it
// has room), node-pool evacuation, batched node releases, and stress mode's full move.
#include "runtime/compact.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/gc.h"
#include "runtime/nodemap.h"
#include "runtime/rt.h"

namespace kel::gc {

using memory::NodePool;
using memory::SeriesArena;

namespace memory_internal {}

namespace {

Node* g_deferred;
uint32_t g_deferred_count;

inline uint32_t footprint(const SeriesBuffer* b) { return memory::BUFFER_HEADER + uint32_t(b->capacity); }
inline SeriesBuffer* at(uint8_t* p) { return reinterpret_cast<SeriesBuffer*>(p); }

// Writes each moved buffer's new address into its node.
void fix_moved_run(uint8_t* start, uint32_t length) {
  for (uint8_t* p = start; p < start + length; p += footprint(at(p))) {
    SeriesBuffer* b = at(p);
    if (b->node) *memory::node_slot(b->node) = reinterpret_cast<uintptr_t>(b);
  }
}

bool has_free(NodePool* p) { return p->free != 0 && !p->releasing; }

NodePool* next_target(NodePool* from, NodePool* evacuated) {
  for (NodePool* p = from; p; p = p->next) {
    if (p != evacuated && has_free(p)) return p;
  }
  for (NodePool* p = memory::state().pool_head; p && p != from; p = p->next) {
    if (p != evacuated && has_free(p)) return p;
  }
  return nullptr;
}

void evacuate(NodePool* pool) {
  memory::MemoryState& m = memory::state();
  GcState& g = state();
  if (!g.remap) g.remap = addr_map::create(REMAP_ENTRIES);
  NodePool* target = next_target(m.pool_current, pool);
  Node first = pool->index * memory::POOL_NODES + 1;
  for (uint32_t i = 0; i < pool->capacity; ++i) {
    uintptr_t v = pool->slots[i];
    if (v == 0 || (v & 1)) continue;
    if (!target || !target->free) target = next_target(target ? target : m.pool_head, pool);
    if (!target) target = memory::pool_new(memory::POOL_NODES);
    Node n = memory::pool_pop(target);
    *memory::node_slot(n) = v;
    addr_map::put(g.remap, first + i, n);
    reinterpret_cast<SeriesBuffer*>(v)->node = n;
    pool->slots[i] = 1;  // free, end of list: the pool is going away
    pool->used--;
  }
  pool->free = 0;
  pool->releasing = 1;
  if (target) m.pool_current = target;
}

}  // namespace

// Three stable passes over 11-bit digits (a pass whose digit is the same for all is skipped):
// a program that makes a string a word flushes hundreds of thousands of handles.
void sort_handles(Node* a, Node* scratch, uint32_t n) {
  if (n < 256) {
    std::sort(a, a + n);
    return;
  }
  constexpr uint32_t BITS = 11, SIZE = 1u << BITS;
  Node* from = a;
  Node* to = scratch;
  for (uint32_t shift = 0; shift < 32; shift += BITS) {
    uint32_t count[SIZE] = {};
    for (uint32_t i = 0; i < n; ++i) ++count[(from[i] >> shift) & (SIZE - 1)];
    if (count[(from[0] >> shift) & (SIZE - 1)] == n) continue;
    uint32_t sum = 0;
    for (uint32_t d = 0; d < SIZE; ++d) {
      uint32_t c = count[d];
      count[d] = sum;
      sum += c;
    }
    for (uint32_t i = 0; i < n; ++i) to[count[(from[i] >> shift) & (SIZE - 1)]++] = from[i];
    std::swap(from, to);
  }
  if (from != a) std::memcpy(a, from, n * sizeof(Node));
}

void release_node_deferred(Node node) {
  if (!node) return;
  // The handles, then as many again for the sort's scratch.
  if (!g_deferred) g_deferred = static_cast<Node*>(rt::alloc(2 * DEFERRED_CAPACITY * sizeof(Node)));
  if (g_deferred_count == DEFERRED_CAPACITY) flush_deferred_releases();
  g_deferred[g_deferred_count++] = node;
}

void flush_deferred_releases() {
  if (!g_deferred_count) return;
  memory::state().renames++;  // released handles are taken again by new series
  sort_handles(g_deferred, g_deferred + DEFERRED_CAPACITY, g_deferred_count);
  for (uint32_t i = 0; i < g_deferred_count; ++i) {
    Node n = g_deferred[i];
    NodePool* pool = memory::node_pool(n);
    if (pool && !memory::node_free_q(n)) memory::node_give_back(pool, n);
  }
  g_deferred_count = 0;
}

uint32_t deferred_count() { return g_deferred_count; }

bool evacuate_sparse_pools() {
  memory::MemoryState& m = memory::state();
  GcState& g = state();
  NodePool* first = nullptr;
  for (NodePool* p = m.pool_head; p; p = p->next) {
    if (p->free) { first = p; break; }
  }
  if (!first) return false;
  m.pool_current = first;
  int64_t free_total = 0;
  for (NodePool* p = m.pool_head; p; p = p->next) {
    if (has_free(p)) free_total += p->capacity - p->used;
  }
  uint32_t mask = (1u << (g.history_depth + 1)) - 1;
  bool moved = false;
  for (NodePool* p = m.pool_tail; p;) {
    NodePool* prev = p->prev;
    if ((p->history & mask) == mask && p->used < SPARSE_USED_LIMIT && free_total > memory::POOL_NODES &&
        p != m.pool_current && !p->releasing) {
      evacuate(p);
      free_total -= memory::POOL_NODES;
      moved = true;
    }
    p = prev;
  }
  if (moved) g.relocation_count++;
  return moved;
}

bool evacuate_one_pool_for_stress() {
  memory::MemoryState& m = memory::state();
  GcState& g = state();
  uint32_t cap = m.pool_table_capacity;
  NodePool* chosen = nullptr;
  for (uint32_t k = 0; k < cap && !chosen; ++k) {
    uint32_t i = (g.stress_pool_cursor + k) % cap;
    NodePool* p = m.pool_table[i];
    if (p && p->used > 0 && !p->releasing) {
      chosen = p;
      g.stress_pool_cursor = i + 1;
    }
  }
  if (!chosen) return false;
  // Room elsewhere for every node of the chosen pool, or a fresh pool.
  int64_t room = 0;
  for (NodePool* p = m.pool_head; p; p = p->next) {
    if (p != chosen && has_free(p)) room += p->capacity - p->used;
  }
  if (room < chosen->used) m.pool_current = memory::pool_new(memory::POOL_NODES);
  else if (m.pool_current == chosen) m.pool_current = next_target(m.pool_head, chosen);
  evacuate(chosen);
  g.relocation_count++;
  return true;
}

void compact_arena(SeriesArena* a) {
  uint8_t* gap = nullptr;
  uint8_t* p = a->data;
  while (p < a->bump) {
    SeriesBuffer* b = at(p);
    if (!(b->flags & sflag::MARK)) {
      if (!gap) gap = p;
      release_node_deferred(b->node);
      p += footprint(b);
      continue;
    }
    uint8_t* run = p;
    while (p < a->bump && (at(p)->flags & sflag::MARK)) {
      at(p)->flags &= ~sflag::MARK;
      p += footprint(at(p));
    }
    uint32_t len = uint32_t(p - run);
    if (gap) {
      std::memmove(gap, run, len);
      fix_moved_run(gap, len);
      gap += len;
    }
  }
  if (gap) a->bump = gap;
}

void compact_arena_into_previous(SeriesArena* a, SeriesArena* prev) {
  uint8_t* gap = nullptr;
  uint64_t room = uint64_t(prev->end - prev->bump);
  bool across = room > memory::ARENA_MIN_FREE;
  uint8_t* p = a->data;
  while (p < a->bump) {
    SeriesBuffer* b = at(p);
    if (!(b->flags & sflag::MARK)) {
      if (!gap) gap = p;
      release_node_deferred(b->node);
      p += footprint(b);
      continue;
    }
    if (across) {
      uint8_t* q = p;
      uint64_t len = 0;
      while (q < a->bump && (at(q)->flags & sflag::MARK) && len + footprint(at(q)) <= room) {
        len += footprint(at(q));
        q += footprint(at(q));
      }
      if (len > 0) {
        for (uint8_t* r = p; r < q; r += footprint(at(r))) at(r)->flags &= ~sflag::MARK;
        std::memcpy(prev->bump, p, len);
        fix_moved_run(prev->bump, uint32_t(len));
        prev->bump += len;
        room -= len;
        if (!gap) gap = p;
        if (room <= memory::ARENA_MIN_FREE) across = false;
        p = q;
        continue;
      }
    }
    uint8_t* run = p;
    while (p < a->bump && (at(p)->flags & sflag::MARK)) {
      at(p)->flags &= ~sflag::MARK;
      p += footprint(at(p));
    }
    uint32_t len = uint32_t(p - run);
    if (gap) {
      std::memmove(gap, run, len);
      fix_moved_run(gap, len);
      gap += len;
    } else {
      across = false;
    }
  }
  if (gap) a->bump = gap;
  if (a->bump == a->data && a != memory::state().arena_tail) memory::arena_release(a);
}

void compact_arenas() {
  memory::MemoryState& m = memory::state();
  SeriesArena* a = m.arena_head;
  if (!a) return;
  compact_arena(a);
  a = a->next;
  while (a) {
    SeriesArena* next = a->next;
    compact_arena_into_previous(a, a->prev);
    a = next;
  }
}

void move_all_to_fresh_memory() {
  memory::MemoryState& m = memory::state();
  SeriesArena* old = m.arena_head;
  if (!old) return;
  m.arena_head = m.arena_current = m.arena_tail = nullptr;
  SeriesArena* dest = nullptr;
  for (SeriesArena* a = old; a; a = a->next) {
    for (uint8_t* p = a->data; p < a->bump;) {
      SeriesBuffer* b = at(p);
      uint32_t fp = footprint(b);
      if (!dest || dest->bump + fp > dest->end) dest = memory::arena_new();
      std::memcpy(dest->bump, p, fp);
      SeriesBuffer* nb = at(dest->bump);
      if (nb->node) *memory::node_slot(nb->node) = reinterpret_cast<uintptr_t>(nb);
      dest->bump += fp;
      p += fp;
    }
  }
  if (!m.arena_head) memory::arena_new();
  m.arena_current = m.arena_tail;
  // The old memory goes back to the system: any raw address still into it faults.
  for (SeriesArena* a = old; a;) {
    SeriesArena* next = a->next;
    memory::os_free_counted(a);
    a = next;
  }
}

void compact_shutdown() {
  if (g_deferred) rt::free(g_deferred);
  g_deferred = nullptr;
  g_deferred_count = 0;
}

}  // namespace kel::gc
