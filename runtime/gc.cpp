// The collector: one collection in its fixed order, the roots and guards, and marking
// by datatype with an explicit mark stack (deep nesting never recurses in C++).
#include "runtime/gc.h"

#include <vector>

#include "runtime/compact.h"
#include "runtime/extern.h"
#include "runtime/nodemap.h"
#include "runtime/rt.h"
#include "runtime/slots.h"

namespace kel::gc {

namespace detail {
GcState g_gc;
GuardLink* g_guards;
}

namespace {

GcState& g_state = detail::g_gc;
GuardLink*& g_guards = detail::g_guards;  // most recent first
std::vector<Node>* g_mark_stack;     // blocks whose cells are still to be marked
std::vector<SeriesBuffer*>* g_heap_marked;  // never-moving buffers marked this collection

enum GuardKind : uint32_t {
  G_CELL = detail::ROOT_CELL, G_NODE = detail::ROOT_NODE, G_RANGE, G_RANGE_DYN, G_INTERIOR
};

void attach(GuardLink* g, uint32_t kind, void* target, void* target2, Node node) {
  g->kind = kind;
  g->target = target;
  g->target2 = target2;
  g->node = node;
  g->offset = -1;
  g->prev = nullptr;
  g->next = g_guards;
  if (g_guards) g_guards->prev = g;
  g_guards = g;
}

void detach(GuardLink* g) {
  if (g->prev) g->prev->next = g->next;
  else g_guards = g->next;
  if (g->next) g->next->prev = g->prev;
}

std::vector<Node>& mark_stack() {
  if (!g_mark_stack) g_mark_stack = new std::vector<Node>();
  return *g_mark_stack;
}

// The handle a node has after this collection's moves. One collection can move a node
// twice (a pool that took the nodes of a sparse pool is then stress mode's pick), so the
// map is followed to its end; a handle that is a key belongs to an evacuated pool, which
// never takes nodes again, so the walk ends.
Node last_handle(Node n) {
  while (uint32_t* v = addr_map::get(g_state.remap, n)) n = *v;
  return n;
}

// Rewrites a moved node in place and returns it.
Node resolve(Node* word) {
  Node n = *word;
  if (n && g_state.remap) {
    Node moved = last_handle(n);
    if (moved != n) *word = n = moved;
  }
  return n;
}

void push_block(Node* word) {
  if (mark_series(word)) {
    SeriesBuffer* b = memory::node_buffer(*word);
    if (memory::unit(b) == 16) mark_stack().push_back(*word);
  }
}

void push_context(Node* word) {
  if (!mark_series(word)) return;
  SeriesBuffer* b = memory::node_buffer(*word);
  Cell* cells = memory::head_cells(b);
  Cell* end = std::min(memory::tail_cells(b), cells + 2);
  if (cells < end && cell::type(cells) == T_CONTEXT) {
    Cell* ctx = cells;
    if (ctx->w1) hash::mark_table(&ctx->w1);
    if (!(ctx->header & hdr::CONTEXT_ON_STACK) && ctx->w2) push_block(&ctx->w2);
    // the self cell (the context! cell is handled above)
    for (Cell* c = cells + 1; c < end; ++c) mark_cells(c, c + 1);
  } else if (memory::unit(b) == 16) {
    mark_stack().push_back(*word);  // not a context: a plain cell series
  }
}

// A word's w1: a context, or a plain cell series for `self` words.
void push_context_or_block(Node* word) {
  Node n = resolve(word);
  if (!n) return;
  SeriesBuffer* b = memory::node_buffer(n);
  Cell* first = memory::head_cells(b);
  if (memory::unit(b) == 16 && first < memory::tail_cells(b) && cell::type(first) == T_CONTEXT)
    push_context(word);
  else
    push_block(word);
}

void scan_cells(Cell* first, Cell* end) {
  for (Cell* c = first; c < end; ++c) {
    switch (cell::type(c)) {
      case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
      case T_ISSUE:  // an issue holds the global context node, which can move too
        if (c->w1) push_context_or_block(&c->w1);
        break;
      case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        if (c->w2) push_block(&c->w2);
        break;
      case T_SYMBOL:
        mark_series(&c->w3);
        if (c->w2) mark_series(&c->w2);
        break;
      case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        mark_series(&c->w2);
        if (c->w3) mark_series(&c->w3);
        break;
      case T_BITSET: case T_VECTOR: case T_BINARY:
        mark_series(&c->w2);
        break;
      case T_OBJECT: case T_PORT: case T_ERROR:
        if (c->w1) push_context(&c->w1);
        if (c->w3) push_block(&c->w3);
        break;
      case T_CONTEXT:
        if (c->w1) hash::mark_table(&c->w1);
        if (!(c->header & hdr::CONTEXT_ON_STACK) && c->w2) push_block(&c->w2);
        break;
      case T_MAP: case T_HASH:
        if (c->w2) push_block(&c->w2);
        if (c->w3) hash::mark_table(&c->w3);
        break;
      case T_FUNCTION: case T_ROUTINE:
        if (c->w1) push_context(&c->w1);
        if (c->w2) push_block(&c->w2);
        if (c->w3) push_block(&c->w3);
        break;
      case T_NATIVE: case T_ACTION: case T_OP: {
        if (c->w2) push_block(&c->w2);
        if (c->w3) push_block(&c->w3);
        uint32_t wrapped = (c->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
        if (cell::type(c) == T_OP && (wrapped == T_FUNCTION || wrapped == T_ROUTINE) && c->w1)
          push_context(&c->w1);
        break;
      }
      case T_IMAGE:  // w2 is a record id in the extern table, never a node
        if (c->w2) image::gc_mark_bitmap(c);
        break;
      case T_HANDLE:
        if (int32_t(c->w3) >= 0) extern_::set_mark(int32_t(c->w3), nullptr);
        break;
      case T_EVENT:
        if ((c->header & hdr::EVENT_HAS_BLOCK) && c->w2) push_block(&c->w2);
        break;
      default:
        break;
    }
  }
}

void drain() {
  auto& stack = mark_stack();
  while (!stack.empty()) {
    Node n = stack.back();
    stack.pop_back();
    SeriesBuffer* b = memory::node_buffer(n);
    scan_cells(memory::head_cells(b), memory::tail_cells(b));
  }
}

void mark_guards() {
  for (GuardLink* g = g_guards; g; g = g->next) {
    switch (g->kind) {
      case G_CELL: mark_cells(static_cast<Cell*>(g->target), static_cast<Cell*>(g->target) + 1); break;
      case G_NODE: {
        Node* n = static_cast<Node*>(g->target);
        push_block(n);
        drain();
        break;
      }
      case G_RANGE: mark_cells(static_cast<Cell*>(g->target), static_cast<Cell*>(g->target2)); break;
      case G_RANGE_DYN:
        mark_cells(*static_cast<Cell* const*>(g->target), *static_cast<Cell* const*>(g->target2));
        break;
      case G_INTERIOR: push_block(&g->node); drain(); break;
    }
  }
}

void mark_roots() {
  Roots& r = g_state.roots;
  if (r.root_block && *r.root_block) mark_block_node(r.root_block);
  if (r.symbol_hash && *r.symbol_hash) hash::mark_table(r.symbol_hash);
  if (r.owner_table && *r.owner_table) hash::mark_table(r.owner_table);
  if (r.mark_stacks) r.mark_stacks();
  if (r.global_context && *r.global_context) mark_context(r.global_context);
  if (r.take_scratch && *r.take_scratch) mark_block_node(r.take_scratch);
  if (r.interp_scratch) mark_cells(r.interp_scratch, r.interp_scratch + 1);
  if (r.mark_lexer_states) r.mark_lexer_states();
  if (slot_table::state().block) mark_block_node(&slot_table::state().block);
  mark_guards();
  for (uint32_t i = 0; i < g_state.callback_count; ++i) {
    if (g_state.callbacks[i]) g_state.callbacks[i]();
  }
}

// Interior pointers become offsets from their buffer's data start while buffers move.
void interior_to_offsets() {
  for (GuardLink* g = g_guards; g; g = g->next) {
    if (g->kind != G_INTERIOR) continue;
    g->offset = -1;
    if (!g->node || memory::node_free_q(g->node)) continue;
    SeriesBuffer* b = memory::node_buffer(g->node);
    uint8_t* p = *static_cast<uint8_t**>(g->target);
    if (p >= memory::data(b) && p <= memory::end(b)) g->offset = p - memory::data(b);
  }
}

void interior_from_offsets() {
  for (GuardLink* g = g_guards; g; g = g->next) {
    if (g->kind != G_INTERIOR || g->offset < 0) continue;
    *static_cast<uint8_t**>(g->target) = memory::data(memory::node_buffer(g->node)) + g->offset;
    g->offset = -1;
  }
}

struct CollectingFlag {
  CollectingFlag() { g_state.collecting = true; }
  ~CollectingFlag() { g_state.collecting = false; }
};

}  // namespace


void init() {
  Roots roots = g_state.roots;
  uint32_t stress = g_state.stress_period;
  g_state = GcState{};
  g_state.roots = roots;
  g_state.stress_period = stress;
  g_state.node_moving = true;
  g_state.history_depth = 5;
  if (!g_heap_marked) g_heap_marked = new std::vector<SeriesBuffer*>();
}

bool collecting_q() { return g_state.collecting; }
void set_automatic(bool on) { g_state.automatic = on; }

void collect() {
  if (g_state.collecting) return;
  CollectingFlag flag;
  memory::state().moves++;  // buffers slide and nodes may be renamed
  memory::state().renames++;
  g_state.nodes_moved = false;
  if (g_state.node_moving) {
    if (evacuate_sparse_pools()) g_state.nodes_moved = true;
    if (g_state.stress_period && evacuate_one_pool_for_stress()) g_state.nodes_moved = true;
  }
  mark_roots();
  drain();
  if (g_state.nodes_moved) cycle::remap();
  // Owner records live while their key lives: settle them before anything is swept, so an
  // external resource reachable only through a kept owner survives.
  bool owners = g_state.roots.owner_table && *g_state.roots.owner_table;
  if (owners) {
    hash::mark_owner_records(*g_state.roots.owner_table);
    drain();
  }
  extern_::sweep();
  if (owners) hash::sweep_records(g_state.roots.owner_table);
  interior_to_offsets();
  compact_arenas();
  memory::large_sweep();
  flush_deferred_releases();
  memory::pools_after_collection();
  if (g_state.remap) {
    addr_map::free(g_state.remap);
    g_state.remap = nullptr;
  }
  for (SeriesBuffer* b : *g_heap_marked) b->flags &= ~sflag::MARK;
  g_heap_marked->clear();
  if (g_state.stress_period) move_all_to_fresh_memory();
  interior_from_offsets();
  memory::after_collection();
  g_state.collection_count++;
}

void collect_if_enabled() {
  if (g_state.automatic) collect();
}

void allocation_point() {
  if (!g_state.stress_period || !g_state.automatic || g_state.collecting) return;
  if (++g_state.stress_counter % g_state.stress_period == 0) collect();
}

void set_stress(uint32_t period) { g_state.stress_period = period; }
uint32_t stress_period() { return g_state.stress_period; }

void add_root(MarkCallback callback) {
  // Units take their callback out and put it back whenever a runtime is made again: the
  // freed slot is taken first, so the table never fills with holes and drops a root.
  for (uint32_t i = 0; i < g_state.callback_count; ++i) {
    if (!g_state.callbacks[i]) {
      g_state.callbacks[i] = callback;
      return;
    }
  }
  if (g_state.callback_count == MAX_CALLBACKS) rt::fatal_error(98, 0);  // a root would go unmarked
  g_state.callbacks[g_state.callback_count++] = callback;
}

void remove_root(MarkCallback callback) {
  for (uint32_t i = 0; i < g_state.callback_count; ++i) {
    if (g_state.callbacks[i] == callback) {
      g_state.callbacks[i] = nullptr;
      return;
    }
  }
}

bool mark_series(Node* word) {
  Node n = resolve(word);
  if (!n) return false;
  SeriesBuffer* b = memory::node_buffer(n);
  if (b->flags & sflag::MARK) return false;
  b->flags |= sflag::MARK;
  if (b->flags & sflag::IN_HEAP) {
    if (!g_heap_marked) g_heap_marked = new std::vector<SeriesBuffer*>();
    g_heap_marked->push_back(b);
  }
  return true;
}

void mark_cells(Cell* first, Cell* end) {
  scan_cells(first, end);
  drain();
}

void mark_block_node(Node* word) {
  push_block(word);
  drain();
}

void mark_block_cell(Cell* cell) {
  if (cell->w2) mark_block_node(&cell->w2);
}

void mark_context(Node* word) {
  push_context(word);
  drain();
}

void unmark(Node node) {
  if (node) memory::node_buffer(node)->flags &= ~sflag::MARK;
}

Node remap(Node node) {
  if (node && g_state.remap) return last_handle(node);
  return node;
}

RootRange::RootRange(Cell* begin, Cell* end) { attach(&this->link, G_RANGE, begin, end, 0); }
RootRange::RootRange(Cell* const* begin, Cell* const* end) {
  attach(&this->link, G_RANGE_DYN, const_cast<Cell**>(begin), const_cast<Cell**>(end), 0);
}
RootRange::~RootRange() { detach(&link); }

InteriorGuard::InteriorGuard(void** slot, Node node) { attach(&this->link, G_INTERIOR, slot, nullptr, node); }
InteriorGuard::~InteriorGuard() { detach(&link); }

size_t guard_count() {
  size_t n = 0;
  for (GuardLink* g = g_guards; g; g = g->next) ++n;
  return n;
}

}  // namespace kel::gc
