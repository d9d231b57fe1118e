// The collector: its state, one collection, roots, marking by datatype, and the guards
// through which C++ code keeps values and buffer addresses across allocations.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::addr_map { struct Map; }

namespace kel::gc {

using MarkCallback = void (*)();
constexpr uint32_t MAX_CALLBACKS = 100;
constexpr uint32_t REMAP_ENTRIES = 20000;

// Roots owned by other units. Each owner stores the address of its own node variable (the
// collector rewrites it when nodes move) or its marking function; null means absent.
struct Roots {
  Node* root_block;          // marked as a block value
  Node* symbol_hash;         // hash/mark-table
  Node* owner_table;         // hash/mark-table, swept with hash/sweep-records
  void (*mark_stacks)();     // stack series, live argument cells, call frames
  Node* global_context;      // marked as a context
  Node* take_scratch;        // scratch series of take (never moves)
  Cell* interp_scratch;      // interpreter's scratch cell
  void (*mark_lexer_states)();
};

struct GcState {
  bool automatic;            // off until start-up turns it on
  bool collecting;
  bool node_moving;          // hash-table rebuilds switch it off
  bool nodes_moved;          // this collection moved nodes (remap exists)
  uint32_t collection_count;
  uint32_t relocation_count;
  uint32_t history_depth;    // 5: the sparse-pool rule looks at 6 collections
  MarkCallback callbacks[MAX_CALLBACKS];
  uint32_t callback_count;
  addr_map::Map* remap;      // old node -> new node during one collection
  uint32_t stress_period;    // 0 off; N: collect and move at every Nth allocation
  uint64_t stress_counter;
  uint32_t stress_pool_cursor;  // next pool index whose nodes stress mode relocates
  Roots roots;
};

namespace detail {
extern GcState g_gc;  // visible so the hot paths read it without a call
}
inline GcState& state() { return detail::g_gc; }

void init();
// One full collection (recycle calls it).
void collect();
// A collection when automatic collection is on (and, under stress, the move pass).
void collect_if_enabled();
bool collecting_q();
void set_automatic(bool on);

// Mark callbacks, called in registration order at the end of root marking. A removed one's
// slot is taken first; a full table is fatal (a root would go unmarked).
void add_root(MarkCallback callback);
void remove_root(MarkCallback callback);

// Marking, for callbacks and the mark steps of other units. Each takes the address of
// the word that holds the node so a moved node can be rewritten there.
bool mark_series(Node* word);              // true when newly marked
void mark_cells(Cell* first, Cell* end);
void mark_block_node(Node* word);
void mark_block_cell(Cell* cell);
void mark_context(Node* word);
void unmark(Node node);
// The node a moved node became in this collection (the node itself when not moved).
Node remap(Node node);

// Stress mode: every allocation (every Nth) runs a normal collection, then moves every
// movable buffer to fresh memory (the old memory is unmapped) and relocates the nodes
// of one pool. KEL_GC_STRESS=1 or =N sets it at memory::init.
void set_stress(uint32_t period);
uint32_t stress_period();
// Called by buffer_alloc before carving; runs stress collections when due.
void allocation_point();

// ---- Guards. Scoped: construct on the C++ stack, destroyed in any order. ----

struct GuardLink {
  GuardLink* prev;
  GuardLink* next;
  uint32_t kind;
  void* target;     // Cell*, Node*, Cell** or a pointer slot, by kind
  void* target2;    // end for ranges
  Node node;        // interior guards: the buffer's node (marked, rewritten)
  intptr_t offset;  // interior guards: offset from the data start during a collection
};

// Keeps the value of a cell (or the series of a node) alive across allocations. The
// cell or node word must lie outside the collected heap (a C++ local or static); nodes
// in it are rewritten when nodes move.
namespace detail {
extern GuardLink* g_guards;  // most recent first
constexpr uint32_t ROOT_CELL = 1, ROOT_NODE = 2;  // the collector's guard kinds
// The guard list holds the addresses of guards on the C++ stack; each guard unlinks itself
// in its destructor, which GCC cannot see at the link and warns about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
inline void link_root(GuardLink* g, uint32_t kind, void* target) {
  g->kind = kind;
  g->target = target;
  g->target2 = nullptr;
  g->node = 0;
  g->offset = -1;
  g->prev = nullptr;
  g->next = g_guards;
  if (g_guards) g_guards->prev = g;
  g_guards = g;
}
#pragma GCC diagnostic pop
inline void unlink_root(GuardLink* g) {
  if (g->prev) g->prev->next = g->next;
  else g_guards = g->next;
  if (g->next) g->next->prev = g->prev;
}
}  // namespace detail

// Inline: every allocating path takes and drops these.
struct Root {
  explicit Root(Cell* cell) { detail::link_root(&link, detail::ROOT_CELL, cell); }
  explicit Root(Node* node) { detail::link_root(&link, detail::ROOT_NODE, node); }
  ~Root() { detail::unlink_root(&link); }
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;
  GuardLink link;
};

// A copy of a cell (none for null) kept alive, and followed when nodes move, for the scope.
struct Kept {
  Cell c;
  Root root;
  explicit Kept(const Cell* x) : c(x ? *x : Cell{T_NONE, 0, 0, 0}), root(&c) {}
  Kept(const Kept&) = delete;
  Kept& operator=(const Kept&) = delete;
};

// Keeps every cell of an array outside the collected heap alive. The dynamic form reads
// the bounds through the two pointers at each collection (for stacks whose top moves).
struct RootRange {
  RootRange(Cell* begin, Cell* end);
  RootRange(Cell* const* begin, Cell* const* end);
  ~RootRange();
  RootRange(const RootRange&) = delete;
  RootRange& operator=(const RootRange&) = delete;
  GuardLink link;
};

// A raw address into the buffer of a node, corrected when the buffer moves. The guard
// also keeps the node alive. The pointer may be anywhere from the data start to the
// data end; it is not corrected when the node has been given another buffer since.
struct InteriorGuard {
  InteriorGuard(void** slot, Node node);
  template <class T>
  InteriorGuard(T** slot, Node node) : InteriorGuard(reinterpret_cast<void**>(slot), node) {}
  ~InteriorGuard();
  InteriorGuard(const InteriorGuard&) = delete;
  InteriorGuard& operator=(const InteriorGuard&) = delete;
  GuardLink link;
};

// Number of guards registered now (tests).
size_t guard_count();

}  // namespace kel::gc

// ---- Provided by other units. ----
namespace kel::hash {
void mark_table(Node* table);      // marks a hash table's buffers
void sweep_records(Node* table);   // drops owner records whose series died
bool mark_owner_records(Node table);  // marks owner records whose key is marked elsewhere
}  // namespace kel::hash
namespace kel::cycle {
void remap();                      // rewrites the nodes the cycle guard holds (gc::remap)
}
namespace kel::image {
void gc_mark_bitmap(Cell* image);  // marks an image's pixel record in the extern table
}
