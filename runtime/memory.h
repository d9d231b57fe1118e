// Memory manager: node handles and their pools, series buffers, arenas, large blocks,
// the series constructors, growth and cloning. The collector lives in gc.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel {

// A node is a 32-bit handle to a series buffer; 0 means none. Handle h lives in
// pool (h - 1) / 10,000 at slot (h - 1) % 10,000 of the pool table.
using Node = uint32_t;

// Header of every series buffer: six 32-bit words, no pointers, so the data area (which
// follows at once) is 8-aligned. Footprint = 24 + capacity.
// head and tail are byte offsets from the data start.
struct SeriesBuffer {
  uint32_t flags;
  uint32_t node;      // back reference; 0 once replaced by a larger buffer
  int32_t capacity;   // data bytes, a multiple of 16
  uint32_t head;      // offset of the first used byte
  uint32_t tail;      // offset just past the last used byte
  uint32_t stamp;     // write stamp: a new one at every write of a block's cells (touch)
};
static_assert(sizeof(SeriesBuffer) == 24);

// Flag bits of a series buffer header.
namespace sflag {
constexpr uint32_t UNIT_MASK = 0x1F;           // unit size: 1, 2, 4 or 16
constexpr uint32_t OWNED = 0x00020000;         // recorded in the owner table
constexpr uint32_t UTF16_LOADER = 0x00040000;  // reserved for the UTF-16 loader
constexpr uint32_t COMPLEMENT = 0x00080000;    // bitset! stored complemented
constexpr uint32_t IN_HEAP = 0x00100000;       // a process-heap block; never moves
constexpr uint32_t LARGE = 0x01000000;         // lives in a large block of its own
constexpr uint32_t ONCE_BODY = 0x00200000;     // a boot literal body `func` may take uncopied
constexpr uint32_t MARK = 0x08000000;          // collector mark; clear outside a collection
constexpr uint32_t MID_HEAD = 0x10000000;      // made with its head in the middle
constexpr uint32_t LIBRARY = 0x40000000;       // library code: tracing sees it as compiled
constexpr uint32_t MADE = 0x20000000;          // set on every buffer made here
constexpr uint32_t IN_USE = 0x80000000;        // cleared when the buffer is abandoned
}  // namespace sflag

namespace memory {

constexpr uint32_t POOL_NODES = 10000;
constexpr uint32_t BUFFER_HEADER = 24;          // the header with its stamp
// One huge page: the boot library alone carves about 3 MB (see "What a start-up costs").
constexpr uint32_t ARENA_FIRST_SIZE = 2097152;
constexpr uint32_t LARGE_THRESHOLD = 2097152;
// Arenas keep doubling up to this data size (see bench/README.md for the choice).
constexpr uint32_t ARENA_SIZE_CAP = 64u << 20;
// An automatic collection waits until at least this many bytes were carved since the last.
constexpr uint64_t COLLECT_FLOOR = 8u << 20;
constexpr uint32_t ARENA_MIN_FREE = 52428;      // below this an arena found after a collection is passed over
constexpr uint32_t PAGE_SIZE = 4096;

// A pool of node slots. A used slot holds its buffer's address; a free slot holds
// (next free handle << 1) | 1, so "free" is exact.
struct NodePool {
  NodePool* next;
  NodePool* prev;
  uint32_t capacity;
  Node free;           // first free node, 0 when full
  uint32_t used;
  uint32_t born;       // collection count at creation
  uint32_t used_last;  // used after the previous collection
  uint32_t history;    // bit per collection, newest in bit 0: 1 = used unchanged
  uint32_t releasing;  // every node moved out; released after the collection
  uint32_t index;      // position in the pool table: handles index*10000+1 ...
  uintptr_t slots[1];  // capacity slots
};

// An arena from which buffers are carved by bumping a pointer; list sorted by address.
struct SeriesArena {
  SeriesArena* next;
  SeriesArena* prev;
  size_t size;         // header plus data area, bytes
  uint8_t* bump;       // first free byte
  uint8_t* end;        // just past the data area
  uint8_t* data;       // start of the data area
  uint64_t pad[2];     // keeps the data 16-aligned
};

// A block of its own for one buffer of large-threshold bytes or more.
struct LargeBlock {
  LargeBlock* next;
  LargeBlock* prev;
  size_t size;         // requested size (footprint)
  uint64_t pad;
  // SeriesBuffer follows
};

struct MemoryState {
  size_t os_bytes;
  NodePool* pool_head;
  NodePool* pool_tail;
  NodePool* pool_current;
  SeriesArena* arena_head;
  SeriesArena* arena_current;
  SeriesArena* arena_tail;
  uint32_t arena_first_size;
  uint32_t arena_next_size;
  uint32_t large_threshold;
  LargeBlock* large_head;
  LargeBlock* large_tail;
  // Pool table: handle arithmetic finds the pool; released entries are null.
  NodePool** pool_table;
  uint32_t pool_table_count;     // entries in use (highest index + 1)
  uint32_t pool_table_capacity;
  uint32_t pool_count;           // live pools
  uint64_t allocations;          // buffers allocated so far
  // Changes whenever a buffer or a node may have moved (a collection, a series given a
  // larger buffer): an address read through a node stays good while it is unchanged.
  uint64_t moves;
  // The same for the buffers of 16-byte cells alone (a collection, a cell series given a
  // larger buffer): caches that hold only such addresses (the interpreter's: code blocks,
  // contexts, callee extras) outlive the growth of a string being built.
  uint64_t cell_moves;
  // Changes whenever a node may have been released, reused or renamed (a collection, a new
  // start-up): a node read before names the same series while it is unchanged.
  uint64_t renames;
  // Pacing: an automatic collection runs only once the bytes carved (arena and large)
  // since the last collection reach max(live bytes it left, collect_floor).
  uint64_t carved_since_collection;
  uint64_t live_after_collection;
  uint64_t collect_floor;
  // The last write stamp given (see touch); kept across a new start-up.
  uint32_t stamp_clock;
  // While an ApartScope lowers large_threshold for cell series: the threshold every other
  // buffer keeps (0 outside a scope).
  uint32_t outer_large_threshold;
};

namespace detail {
extern MemoryState g_memory;  // visible so the hot paths read it without a call
}
inline MemoryState& state() { return detail::g_memory; }

// The fixed tables start-up makes (the root block, the global context, the symbol list, the
// owner table) keep room for thousands of entries a start never fills. Made in this scope,
// each of their cell series of `bytes` or more is a block of its own, like a large buffer:
// the room it keeps costs a page only once it is written, instead of the first arena's
// huge page (an empty start then fits in one).
class ApartScope {
 public:
  explicit ApartScope(uint32_t bytes)
      : threshold_(state().large_threshold), outer_(state().outer_large_threshold) {
    if (!outer_ && bytes < threshold_) {
      state().outer_large_threshold = threshold_;
      state().large_threshold = bytes;
    }
  }
  ~ApartScope() {
    state().large_threshold = threshold_;
    state().outer_large_threshold = outer_;
  }
  ApartScope(const ApartScope&) = delete;
  ApartScope& operator=(const ApartScope&) = delete;

 private:
  uint32_t threshold_, outer_;
};

// Sets the state to its start values (idempotent after release_all) and reads
// KEL_GC_STRESS. Takes no pool or arena: they come on demand.
void init();
// Frees every pool, arena and large block (process end, or between tests).
void release_all();

// Counted OS blocks. Failure raises internal/no-memory or internal/wrong-mem.
// How a counted block's pages come: on first touch, as huge pages from a 2 MB boundary
// (arenas), or all mapped at once (node pools, written whole when made).
enum class OsPages { ON_TOUCH, HUGE, AT_ONCE };
void* os_alloc_counted(size_t size, OsPages pages = OsPages::ON_TOUCH);
void os_free_counted(void* address);

// Process-heap series blocks (series_new_in_heap), in the order made, and the pool table
// position pool_new looks from next (heap images check and name them).
uint32_t heap_series_count();
void* heap_series_at(uint32_t i);
uint32_t pool_cursor();

// Nodes.
NodePool* pool_new(uint32_t count);
Node node_take();
void node_give_back(NodePool* pool, Node node);
// Takes a node from one given pool (which must have a free node); its slot becomes 0.
Node pool_pop(NodePool* pool);
void pool_release(NodePool* pool);
// Pool of a handle, or null when the handle names no live pool.
NodePool* node_pool(Node node);
// Whether the node's slot is on a free list (or names no pool at all).
bool node_free_q(Node node);
// Address of a node's slot (only for the collector and the pool bookkeeping).
uintptr_t* node_slot(Node node);
// Stops the process with fatal 98: a free or unknown node was used.
[[noreturn]] void node_fault(Node node);
void pools_after_collection();

// Arenas and large blocks.
SeriesArena* arena_new();
SeriesArena* arena_find_room(uint32_t size);
void arena_release(SeriesArena* arena);
SeriesBuffer* large_alloc(size_t size);
// Whether enough was carved since the last collection for an automatic one to pay off.
bool collection_due_q();
// Called at the end of every collection: measures what it left and restarts the count.
void after_collection();
void large_free(SeriesBuffer* buffer);
void large_sweep();

// Buffers and series. Sizes are units unless said otherwise; constructors return the node.
// head_offset -1 puts head and tail at capacity / 2.
SeriesBuffer* buffer_alloc(uint32_t units, uint32_t unit_flags, int32_t head_offset);
Node series_new(uint32_t units, uint32_t unit_flags, int32_t head_offset);
Node series_new_cells(uint32_t n);
Node series_new_unset_cells(uint32_t n);
Node series_new_bytes(uint32_t n);
Node series_new_units(uint32_t n, uint32_t unit);
Node series_new_filled(uint32_t n, uint8_t byte);
Node series_new_in_heap(uint32_t units, uint32_t unit_flags, int32_t head_offset);
void series_set_flags(Node node, uint32_t bits);
// Growth gives the node a larger buffer; it may collect, so the old buffer is found
// again through its node. new_size in bytes; 0 doubles. Returns the new buffer.
SeriesBuffer* series_grow(SeriesBuffer* buffer, int32_t new_size);
SeriesBuffer* series_grow_copy(SeriesBuffer* buffer, int32_t new_size);
SeriesBuffer* series_grow_filled(SeriesBuffer* buffer, int32_t new_size, uint8_t byte);
// Node-based forms of the same (preferred: nothing to re-find).
SeriesBuffer* series_grow_node(Node node, int32_t new_size);
SeriesBuffer* series_grow_copy_node(Node node, int32_t new_size);
// A new node whose buffer holds a copy of the used bytes; owned and mark clear.
Node series_clone(SeriesBuffer* buffer);
Node series_clone_node(Node node);
void fill_range(void* start, void* end, uint8_t byte);

// Whether an address lies in an arena data area or a large block (for checks and tests).
bool in_collected_heap_q(const void* address);

// Node -> buffer. Stops with fatal 98 on a free or unknown node.
inline SeriesBuffer* node_buffer(Node node) {
  MemoryState& m = state();
  uint32_t i = node - 1;
  uint32_t p = i / POOL_NODES;
  if (p >= m.pool_table_count) [[unlikely]] node_fault(node);
  NodePool* pool = m.pool_table[p];
  if (!pool) [[unlikely]] node_fault(node);
  uintptr_t v = pool->slots[i - p * POOL_NODES];
  if ((v & 1) || v == 0) [[unlikely]] node_fault(node);
  return reinterpret_cast<SeriesBuffer*>(v);
}

// The node's slot, or null for a node no pool holds.
[[gnu::always_inline]] inline uintptr_t* hinted_slot(Node node) {
  MemoryState& m = state();
  uint32_t i = node - 1;
  uint32_t p = i / POOL_NODES;
  if (p >= m.pool_table_count) return nullptr;
  NodePool* pool = m.pool_table[p];
  if (!pool || i - p * POOL_NODES >= pool->capacity) return nullptr;
  return &pool->slots[i - p * POOL_NODES];
}
// Cache hints for walks that read many series one after another (sorts, finds): the first
// brings a node's slot near, the second (some steps later) the buffer header and the first
// cells it names. They change nothing, cannot fault, and pass over a node naming no buffer.
[[gnu::always_inline]] inline void prefetch_node(Node node) {
  if (uintptr_t* slot = hinted_slot(node)) __builtin_prefetch(slot);
}
[[gnu::always_inline]] inline void prefetch_buffer(Node node) {
  uintptr_t* slot = hinted_slot(node);
  if (!slot) return;
  uintptr_t v = *slot;
  if ((v & 1) || v == 0) return;
  __builtin_prefetch(reinterpret_cast<const void*>(v));
  __builtin_prefetch(reinterpret_cast<const void*>(v + 64));
}

// Write stamps. Every buffer is made with a fresh stamp, and every writer of a block's
// cells (block!, paren!, the path family, hash!) gives its series a new one: the series
// actions through their owner notices, cell appends and byte reserves, the block unit's
// writers, bind and unbind, the lexer writing into a given block. A form derived from a
// block's cells (a resolved body, a compiled rule) is still good while the node's stamp is
// the one it was made at: stamps are taken from one clock, so a node given to another
// series later never shows an old stamp. When the clock wraps, `moves` and `renames`
// change: a cache keyed on a stamp also keys on `renames` (or drops itself after every
// collection). A C++ writer that stores into a block's cells by address calls touch.
[[gnu::cold]] uint32_t stamp_wrapped();
inline uint32_t next_stamp() {
  uint32_t s = ++detail::g_memory.stamp_clock;
  if (s == 0) [[unlikely]] return stamp_wrapped();
  return s;
}
inline void touch(SeriesBuffer* b) { b->stamp = next_stamp(); }
inline uint32_t stamp(const SeriesBuffer* b) { return b->stamp; }

// Buffer accessors. Addresses are valid only until the next allocation.
inline uint8_t* data(SeriesBuffer* b) { return reinterpret_cast<uint8_t*>(b) + BUFFER_HEADER; }
inline uint8_t* head(SeriesBuffer* b) { return data(b) + b->head; }
inline uint8_t* tail(SeriesBuffer* b) { return data(b) + b->tail; }
inline uint8_t* end(SeriesBuffer* b) { return data(b) + b->capacity; }
inline uint32_t unit(const SeriesBuffer* b) { return b->flags & sflag::UNIT_MASK; }
inline uint32_t used_bytes(const SeriesBuffer* b) { return b->tail - b->head; }
// Cells and bytes by shift or not at all: a division costs more than the rest of a pick.
inline uint32_t units(const SeriesBuffer* b) {
  uint32_t n = b->tail - b->head, u = unit(b);
  if (u == 16) return n >> 4;
  if (u == 1) return n;
  return n / u;
}
inline void set_tail(SeriesBuffer* b, const uint8_t* p) { b->tail = uint32_t(p - data(b)); }
inline void set_head(SeriesBuffer* b, const uint8_t* p) { b->head = uint32_t(p - data(b)); }
inline Cell* head_cells(SeriesBuffer* b) { return reinterpret_cast<Cell*>(head(b)); }
inline Cell* tail_cells(SeriesBuffer* b) { return reinterpret_cast<Cell*>(tail(b)); }
inline Cell* end_cells(SeriesBuffer* b) { return reinterpret_cast<Cell*>(end(b)); }
// Convenience through a node.
inline uint8_t* node_head(Node n) { return head(node_buffer(n)); }
inline uint8_t* node_tail(Node n) { return tail(node_buffer(n)); }
inline void touch_node(Node n) { touch(node_buffer(n)); }
inline uint32_t stamp_of(Node n) { return node_buffer(n)->stamp; }

}  // namespace memory
}  // namespace kel
