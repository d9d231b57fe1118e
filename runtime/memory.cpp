// Memory manager: counted OS blocks, node pools and handles, arenas, large blocks, the
// series constructors, growth and cloning.
#include "runtime/memory.h"


#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/compact.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/platform.h"
#include "runtime/unwind.h"
#include "runtime/rt.h"

namespace kel::memory {

namespace detail {
MemoryState g_memory;
}

namespace {

MemoryState& g_state = detail::g_memory;
std::vector<void*>* g_heap_series;   // in-heap series blocks, freed by release_all
uint32_t g_pool_cursor;              // next-fit start in the pool table

constexpr uint32_t FIRST_POOL_TABLE = 64;
constexpr size_t OS_PREFIX = 16;     // keeps the rounded size, data stays 16-aligned

size_t round_up(size_t v, size_t to) { return (v + to - 1) / to * to; }


}  // namespace


void init() {
  uint64_t moves = g_state.moves;  // a fresh heap still counts as a move for old addresses
  uint64_t renames = g_state.renames;
  uint64_t cell_moves = g_state.cell_moves;
  uint32_t stamps = g_state.stamp_clock;
  g_state = MemoryState{};
  g_state.moves = moves + 1;
  g_state.cell_moves = cell_moves + 1;
  g_state.renames = renames + 1;
  g_state.stamp_clock = stamps;
  g_state.arena_first_size = ARENA_FIRST_SIZE;
  g_state.arena_next_size = ARENA_FIRST_SIZE;
  g_state.large_threshold = LARGE_THRESHOLD;
  g_state.collect_floor = COLLECT_FLOOR;
  g_state.pool_table_capacity = FIRST_POOL_TABLE;
  g_state.pool_table_count = FIRST_POOL_TABLE;
  g_state.pool_table = static_cast<NodePool**>(rt::alloc_zeroed(FIRST_POOL_TABLE * sizeof(NodePool*)));
  g_pool_cursor = 0;
  if (!g_heap_series) g_heap_series = new std::vector<void*>();
  if (const char* s = std::getenv("KEL_GC_STRESS")) {
    long n = std::strtol(s, nullptr, 10);
    gc::set_stress(n > 0 ? uint32_t(n) : 0);
  }
}

void release_all() {
  while (g_state.pool_head) pool_release(g_state.pool_head);
  while (g_state.arena_head) arena_release(g_state.arena_head);
  while (g_state.large_head) large_free(reinterpret_cast<SeriesBuffer*>(g_state.large_head + 1));
  if (g_heap_series) {
    for (void* p : *g_heap_series) rt::free(p);
    g_heap_series->clear();
  }
  if (g_state.pool_table) rt::free(g_state.pool_table);
  gc::compact_shutdown();
  uint64_t moves = g_state.moves;
  uint64_t renames = g_state.renames;
  uint64_t cell_moves = g_state.cell_moves;
  uint32_t stamps = g_state.stamp_clock;
  g_state = MemoryState{};
  g_state.moves = moves + 1;
  g_state.cell_moves = cell_moves + 1;
  g_state.renames = renames + 1;
  g_state.stamp_clock = stamps;
}

uint32_t heap_series_count() { return g_heap_series ? uint32_t(g_heap_series->size()) : 0; }
void* heap_series_at(uint32_t i) { return (*g_heap_series)[i]; }
uint32_t pool_cursor() { return g_pool_cursor; }

uint32_t stamp_wrapped() {
  // Stamps given before the wrap may come again: every cache keyed on one is dropped.
  g_state.moves++;
  g_state.cell_moves++;
  g_state.renames++;
  g_state.stamp_clock = 1;
  return 1;
}

// ---- Counted OS blocks ----

void* os_alloc_counted(size_t size, OsPages pages) {
  size_t rounded = round_up(size + OS_PREFIX, PAGE_SIZE);
  void* p = nullptr;
  try {
    if (pages == OsPages::HUGE) p = platform::virtual_alloc_huge(rounded);
    else if (pages == OsPages::AT_ONCE) p = platform::virtual_alloc_populated(rounded);
    else p = platform::virtual_alloc(rounded, false);
  } catch (const Unwind& u) {
    if (u.code < unwind_code::MEM_LOW || u.code > unwind_code::MEM_HIGH) throw;
    error::raise(err::internal::no_memory);
  }
  g_state.os_bytes += rounded;
  *static_cast<size_t*>(p) = rounded;
  return static_cast<uint8_t*>(p) + OS_PREFIX;
}

void os_free_counted(void* address) {
  uint8_t* p = static_cast<uint8_t*>(address) - OS_PREFIX;
  size_t rounded = *reinterpret_cast<size_t*>(p);
  g_state.os_bytes -= rounded;
  try {
    platform::virtual_free(p, rounded);
  } catch (const Unwind& u) {
    if (u.code < unwind_code::MEM_LOW || u.code > unwind_code::MEM_HIGH) throw;
    error::raise(err::internal::wrong_mem);
  }
}

// ---- Nodes ----

void node_fault(Node node) { rt::fatal_error(98, node); }

NodePool* node_pool(Node node) {
  if (node == 0) return nullptr;
  uint32_t p = (node - 1) / POOL_NODES;
  if (p >= g_state.pool_table_count) return nullptr;
  return g_state.pool_table[p];
}

uintptr_t* node_slot(Node node) {
  NodePool* pool = node_pool(node);
  if (!pool) node_fault(node);
  return &pool->slots[(node - 1) - pool->index * POOL_NODES];
}

bool node_free_q(Node node) {
  NodePool* pool = node_pool(node);
  if (!pool) return true;
  return (pool->slots[(node - 1) - pool->index * POOL_NODES] & 1) != 0;
}

NodePool* pool_new(uint32_t count) {
  if (count > POOL_NODES) count = POOL_NODES;  // handles assume 10,000 slots a pool
  // Next-fit over the table, so a released pool's handles are not reused at once.
  uint32_t cap = g_state.pool_table_capacity;
  uint32_t index = cap;
  for (uint32_t k = 0; k < cap; ++k) {
    uint32_t i = (g_pool_cursor + k) % cap;
    if (!g_state.pool_table[i]) { index = i; break; }
  }
  if (index == cap) {
    uint32_t ncap = cap * 2;
    if (uint64_t(ncap) * POOL_NODES >= 0xFFFFFFFFull) rt::fatal_error(94, 0);
    g_state.pool_table = static_cast<NodePool**>(rt::realloc(g_state.pool_table, ncap * sizeof(NodePool*)));
    std::memset(g_state.pool_table + cap, 0, (ncap - cap) * sizeof(NodePool*));
    g_state.pool_table_capacity = g_state.pool_table_count = ncap;
  }
  g_pool_cursor = index + 1;
  size_t bytes = offsetof(NodePool, slots) + sizeof(uintptr_t) * count;
  NodePool* pool = static_cast<NodePool*>(os_alloc_counted(bytes, OsPages::AT_ONCE));
  std::memset(pool, 0, offsetof(NodePool, slots));
  pool->capacity = count;
  pool->born = gc::state().collection_count;
  pool->index = index;
  Node first = index * POOL_NODES + 1;
  for (uint32_t i = 0; i < count; ++i) {
    Node next = (i + 1 < count) ? first + i + 1 : 0;
    pool->slots[i] = (uintptr_t(next) << 1) | 1;
  }
  pool->free = first;
  g_state.pool_table[index] = pool;
  g_state.pool_count++;
  if (!g_state.pool_tail) {
    g_state.pool_head = g_state.pool_tail = g_state.pool_current = pool;
  } else {
    pool->prev = g_state.pool_tail;
    g_state.pool_tail->next = pool;
    g_state.pool_tail = pool;
  }
  return pool;
}

// Pops a node from one pool's free list; the slot becomes 0.
Node pool_pop(NodePool* pool) {
  Node n = pool->free;
  uintptr_t* slot = &pool->slots[(n - 1) - pool->index * POOL_NODES];
  pool->free = Node(*slot >> 1);
  *slot = 0;
  pool->used++;
  return n;
}

Node node_take() {
  NodePool* pool = g_state.pool_current;
  if (!pool || !pool->free || pool->releasing) {
    pool = nullptr;
    for (NodePool* p = g_state.pool_head; p; p = p->next) {
      if (p->free && !p->releasing) { pool = p; break; }
    }
    if (!pool) pool = pool_new(POOL_NODES);
    g_state.pool_current = pool;
  }
  return pool_pop(pool);
}

void node_give_back(NodePool* pool, Node node) {
  pool->slots[(node - 1) - pool->index * POOL_NODES] = (uintptr_t(pool->free) << 1) | 1;
  pool->free = node;
  pool->used--;
}

void pool_release(NodePool* pool) {
  if (pool->prev) pool->prev->next = pool->next;
  else g_state.pool_head = pool->next;
  if (pool->next) pool->next->prev = pool->prev;
  else g_state.pool_tail = pool->prev;
  if (g_state.pool_current == pool) g_state.pool_current = g_state.pool_tail;
  g_state.pool_table[pool->index] = nullptr;
  g_state.pool_count--;
  os_free_counted(pool);
}

void pools_after_collection() {
  bool current_set = false;
  for (NodePool* p = g_state.pool_head; p;) {
    NodePool* next = p->next;
    if (p->used == 0 || p->releasing) {
      pool_release(p);
    } else {
      if (!current_set && p->used < p->capacity) {
        g_state.pool_current = p;
        current_set = true;
      }
      p->history = (p->history << 1) | (p->used == p->used_last ? 1u : 0u);
      p->used_last = p->used;
    }
    p = next;
  }
}

// ---- Arenas and large blocks ----

SeriesArena* arena_new() {
  uint32_t size = g_state.arena_next_size;
  if (g_state.arena_next_size < ARENA_SIZE_CAP) {
    g_state.arena_next_size = std::min<uint32_t>(g_state.arena_next_size * 2, ARENA_SIZE_CAP);
  }
  SeriesArena* a = static_cast<SeriesArena*>(os_alloc_counted(sizeof(SeriesArena) + size, OsPages::HUGE));
  std::memset(a, 0, sizeof(SeriesArena));
  a->size = sizeof(SeriesArena) + size;
  a->data = reinterpret_cast<uint8_t*>(a + 1);
  a->bump = a->data;
  a->end = a->data + size;
  if (!g_state.arena_head) {
    g_state.arena_head = g_state.arena_current = g_state.arena_tail = a;
  } else if (a < g_state.arena_head) {
    a->next = g_state.arena_head;
    g_state.arena_head->prev = a;
    g_state.arena_head = a;
  } else if (a > g_state.arena_tail) {
    a->prev = g_state.arena_tail;
    g_state.arena_tail->next = a;
    g_state.arena_tail = a;
  } else {
    SeriesArena* above = g_state.arena_head;
    while (above < a) above = above->next;
    a->next = above;
    a->prev = above->prev;
    above->prev->next = a;
    above->prev = a;
  }
  return a;
}

SeriesArena* arena_find_room(uint32_t size) {
  for (SeriesArena* a = g_state.arena_head; a; a = a->next) {
    if (a->bump + size < a->end) return a;
  }
  return nullptr;
}

void arena_release(SeriesArena* arena) {
  if (arena->prev) arena->prev->next = arena->next;
  else g_state.arena_head = arena->next;
  if (arena->next) arena->next->prev = arena->prev;
  else g_state.arena_tail = arena->prev;
  if (g_state.arena_current == arena) g_state.arena_current = g_state.arena_tail;
  os_free_counted(arena);
}

SeriesBuffer* large_alloc(size_t size) {
  LargeBlock* block = static_cast<LargeBlock*>(os_alloc_counted(sizeof(LargeBlock) + size));
  block->next = nullptr;
  block->prev = g_state.large_tail;
  block->size = size;
  block->pad = 0;
  if (g_state.large_tail) g_state.large_tail->next = block;
  else g_state.large_head = block;
  g_state.large_tail = block;
  return reinterpret_cast<SeriesBuffer*>(block + 1);
}

void large_free(SeriesBuffer* buffer) {
  LargeBlock* block = reinterpret_cast<LargeBlock*>(buffer) - 1;
  if (block->prev) block->prev->next = block->next;
  else g_state.large_head = block->next;
  if (block->next) block->next->prev = block->prev;
  else g_state.large_tail = block->prev;
  os_free_counted(block);
}

void large_sweep() {
  for (LargeBlock* block = g_state.large_head; block;) {
    LargeBlock* next = block->next;
    SeriesBuffer* b = reinterpret_cast<SeriesBuffer*>(block + 1);
    if (b->flags & sflag::MARK) {
      b->flags &= ~sflag::MARK;
    } else {
      gc::release_node_deferred(b->node);
      large_free(b);
    }
    block = next;
  }
}

bool collection_due_q() {
  return g_state.carved_since_collection >= std::max(g_state.live_after_collection, g_state.collect_floor);
}

void after_collection() {
  uint64_t live = 0;
  for (SeriesArena* a = g_state.arena_head; a; a = a->next) live += uint64_t(a->bump - a->data);
  for (LargeBlock* b = g_state.large_head; b; b = b->next) live += b->size;
  g_state.live_after_collection = live;
  g_state.carved_since_collection = 0;
}

bool in_collected_heap_q(const void* address) {
  const uint8_t* p = static_cast<const uint8_t*>(address);
  for (SeriesArena* a = g_state.arena_head; a; a = a->next) {
    if (p >= a->data && p < a->end) return true;
  }
  for (LargeBlock* b = g_state.large_head; b; b = b->next) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(b + 1);
    if (p >= s && p < s + b->size) return true;
  }
  return false;
}

// ---- Buffers ----

namespace {

uint32_t capacity_for(uint32_t units, uint32_t unit_flags) {
  uint64_t bytes = uint64_t(units) * (unit_flags & sflag::UNIT_MASK);
  bytes = round_up(bytes, 16);
  if (bytes > 0x7FFFFF00ull) error::raise(err::internal::no_memory);
  return uint32_t(bytes);
}

void init_header(SeriesBuffer* b, uint32_t capacity, uint32_t flags, int32_t head_offset) {
  b->capacity = int32_t(capacity);
  b->node = 0;
  b->stamp = next_stamp();
  uint32_t offset;
  if (head_offset == -1) {
    offset = capacity / 2;
    flags |= sflag::MID_HEAD | sflag::MADE;
  } else {
    offset = std::min<uint32_t>(uint32_t(std::max(head_offset, 0)), capacity);
    flags |= sflag::MADE;
  }
  b->flags = flags;
  b->head = b->tail = offset;
}

Node link_node(SeriesBuffer* b) {
  NodePool* pool = g_state.pool_current;
  Node n;
  uintptr_t* slot;
  if (pool && pool->free && !pool->releasing) [[likely]] {
    // node_take's own first case, without the call: pop the current pool's free list.
    n = pool->free;
    slot = &pool->slots[(n - 1) - pool->index * POOL_NODES];
    pool->free = Node(*slot >> 1);
    pool->used++;
  } else {
    n = node_take();
    // node_take popped it from the current pool: its slot is there, without a table look-up.
    pool = g_state.pool_current;
    slot = &pool->slots[(n - 1) - pool->index * POOL_NODES];
  }
  *slot = reinterpret_cast<uintptr_t>(b);
  b->node = n;
  return n;
}

}  // namespace

SeriesBuffer* buffer_alloc(uint32_t units, uint32_t unit_flags, int32_t head_offset) {
  uint32_t capacity = capacity_for(units, unit_flags);
  uint32_t footprint = capacity + BUFFER_HEADER;
  if (gc::state().stress_period) [[unlikely]] gc::allocation_point();
  g_state.allocations++;
  uint32_t flags = (unit_flags & sflag::UNIT_MASK) | sflag::IN_USE;
  SeriesBuffer* b;
  g_state.carved_since_collection += footprint;
  bool large = footprint >= g_state.large_threshold;
  if (large && g_state.outer_large_threshold) [[unlikely]]  // an ApartScope: cells only
    large = footprint >= g_state.outer_large_threshold || (unit_flags & sflag::UNIT_MASK) == 16;
  if (large) {
    if (collection_due_q()) gc::collect_if_enabled();
    b = large_alloc(footprint);
    flags |= sflag::LARGE;
  } else {
    SeriesArena* a = g_state.arena_current;
    if (!a || !(a->bump + footprint < a->end)) {
      a = arena_find_room(footprint);
      if (!a) {
        // Collect only once as much was carved as the last collection left alive (at
        // least the floor): each collection marks everything live, so collecting at
        // every full arena made building live data quadratic.
        if (collection_due_q()) {
          gc::collect_if_enabled();
          a = arena_find_room(footprint);
        }
        if (!a || uint32_t(a->end - a->bump) < ARENA_MIN_FREE) {
          if (footprint >= g_state.arena_next_size)
            g_state.arena_next_size = std::max(g_state.arena_next_size, g_state.large_threshold);
          a = arena_new();
        }
      }
      g_state.arena_current = a;
    }
    b = reinterpret_cast<SeriesBuffer*>(a->bump);
    a->bump += footprint;
  }
  init_header(b, capacity, flags, head_offset);
  return b;
}

Node series_new(uint32_t units, uint32_t unit_flags, int32_t head_offset) {
  return link_node(buffer_alloc(units, unit_flags, head_offset));
}

Node series_new_cells(uint32_t n) { return series_new(n, 16, 0); }

Node series_new_unset_cells(uint32_t n) {
  Node node = series_new(n, 16, 0);
  SeriesBuffer* b = node_buffer(node);
  for (Cell* c = reinterpret_cast<Cell*>(data(b)); c < end_cells(b); ++c) *c = Cell{T_UNSET, 0, 0, 0};
  return node;
}

Node series_new_bytes(uint32_t n) { return series_new(n == 0 ? 16 : n, 1, 0); }

Node series_new_units(uint32_t n, uint32_t unit) {
  if (n == 0) n = 16 >> (unit >> 1);
  return series_new(n, unit, 0);
}

Node series_new_filled(uint32_t n, uint8_t byte) {
  Node node = series_new_bytes(n);
  SeriesBuffer* b = node_buffer(node);
  std::memset(data(b), byte, uint32_t(b->capacity));
  return node;
}

Node series_new_in_heap(uint32_t units, uint32_t unit_flags, int32_t head_offset) {
  uint32_t capacity = capacity_for(units, unit_flags);
  auto* b = static_cast<SeriesBuffer*>(rt::alloc(BUFFER_HEADER + capacity));
  g_heap_series->push_back(b);
  init_header(b, capacity, (unit_flags & sflag::UNIT_MASK) | sflag::IN_USE | sflag::IN_HEAP, head_offset);
  return link_node(b);
}

void series_set_flags(Node node, uint32_t bits) { node_buffer(node)->flags |= bits; }

namespace {

void drop_heap_block(SeriesBuffer* b) {
  auto& v = *g_heap_series;
  auto it = std::find(v.begin(), v.end(), static_cast<void*>(b));
  if (it != v.end()) v.erase(it);
  rt::free(b);
}

// Gives the node a new buffer of new_size bytes; copies the old data area from its head
// (bounded by the new capacity) when asked.
SeriesBuffer* grow(Node node, int32_t new_size, bool copy) {
  SeriesBuffer* old = node_buffer(node);
  int64_t size = new_size == 0 ? int64_t(old->capacity) * 2 : new_size;
  if (size <= 0 || size > 0x7FFFFF00) error::raise(err::internal::no_memory);
  uint32_t u = std::max<uint32_t>(unit(old), 1);
  gc::Root keep(&node);  // a collection may move the old buffer and the node
  SeriesBuffer* b = buffer_alloc(uint32_t(size / u), u, 0);
  old = node_buffer(node);
  uint32_t keep_flags = old->flags & ~(sflag::LARGE | sflag::IN_HEAP | sflag::MARK | sflag::MID_HEAD);
  b->flags = keep_flags | (b->flags & sflag::LARGE) | sflag::IN_USE;
  b->node = node;
  uint32_t used = std::min<uint32_t>(used_bytes(old), uint32_t(b->capacity));
  b->head = 0;
  b->tail = used;
  if (copy) {
    uint32_t n = std::min<uint32_t>(uint32_t(old->capacity) - old->head, uint32_t(b->capacity));
    std::memcpy(data(b), head(old), n);
  }
  *node_slot(node) = reinterpret_cast<uintptr_t>(b);
  g_state.moves++;
  if (u == 16) g_state.cell_moves++;
  old->node = 0;
  old->flags &= ~sflag::IN_USE;
  if (old->flags & sflag::IN_HEAP) drop_heap_block(old);
  return b;
}

}  // namespace

SeriesBuffer* series_grow(SeriesBuffer* buffer, int32_t new_size) { return grow(buffer->node, new_size, false); }
SeriesBuffer* series_grow_copy(SeriesBuffer* buffer, int32_t new_size) { return grow(buffer->node, new_size, true); }
SeriesBuffer* series_grow_node(Node node, int32_t new_size) { return grow(node, new_size, false); }
SeriesBuffer* series_grow_copy_node(Node node, int32_t new_size) { return grow(node, new_size, true); }

SeriesBuffer* series_grow_filled(SeriesBuffer* buffer, int32_t new_size, uint8_t byte) {
  uint32_t old_capacity = uint32_t(buffer->capacity);
  SeriesBuffer* b = grow(buffer->node, new_size, true);
  if (uint32_t(b->capacity) > old_capacity) {
    std::memset(data(b) + old_capacity, byte, uint32_t(b->capacity) - old_capacity);
  }
  return b;
}

Node series_clone_node(Node node) {
  SeriesBuffer* old = node_buffer(node);
  uint32_t capacity = old->capacity == 0 ? 16 : uint32_t(old->capacity);
  uint32_t u = std::max<uint32_t>(unit(old), 1);
  gc::Root keep(&node);
  SeriesBuffer* b = buffer_alloc(capacity / u, u, 0);
  old = node_buffer(node);
  uint32_t kept = old->flags & ~(sflag::LARGE | sflag::IN_HEAP | sflag::MARK | sflag::OWNED);
  b->flags = kept | (b->flags & sflag::LARGE) | sflag::IN_USE;
  uint32_t used = used_bytes(old);
  std::memcpy(data(b), head(old), used);
  b->head = 0;
  b->tail = used;
  return link_node(b);
}

Node series_clone(SeriesBuffer* buffer) { return series_clone_node(buffer->node); }

void fill_range(void* start, void* end, uint8_t byte) {
  uint8_t* s = static_cast<uint8_t*>(start);
  uint8_t* e = static_cast<uint8_t*>(end);
  if (e > s) std::memset(s, byte, size_t(e - s));
}

}  // namespace kel::memory
