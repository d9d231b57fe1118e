// Collector tests: roots and guards, marking by datatype, deep and cyclic structures,
// callbacks, automatic collection, stress mode.
#include <csignal>
#include <cstring>

#include "memory_fixture.h"
#include "runtime/compact.h"
#include "runtime/hash.h"

namespace kel::test {
namespace {

using memory::node_buffer;

TEST_F(MemoryTest, SelfContainingBlockMarkedOnce) {
  Node n = memory::series_new_cells(2);
  gc::Root keep(&n);
  Cell* c = runtime::series_append_cell_node(n);
  *c = Cell{T_BLOCK, 0, n, 0};
  gc::collect();
  EXPECT_TRUE(alive(n));
  EXPECT_EQ(memory::head_cells(node_buffer(n))->w2, n);
  EXPECT_FALSE(node_buffer(n)->flags & sflag::MARK);
}

TEST_F(MemoryTest, MillionNestedBlocksNoRecursion) {
  NoStress ns;
  gc::set_automatic(false);
  Cell cur{T_NONE, 0, 0, 0};
  gc::Root keep(&cur);
  for (int i = 0; i < 1000000; ++i) {
    Node n = memory::series_new_cells(1);
    *runtime::series_append_cell_node(n) = cur;
    cur = Cell{T_BLOCK, 0, n, 0};
  }
  gc::collect();
  // walk down: every block alive and intact
  Cell c = cur;
  int depth = 0;
  while (cell::type(&c) == T_BLOCK) {
    ASSERT_TRUE(alive(c.w2));
    c = *memory::head_cells(node_buffer(c.w2));
    ++depth;
  }
  EXPECT_EQ(depth, 1000000);
  cur = Cell{T_NONE, 0, 0, 0};
  gc::collect();
  EXPECT_EQ(memory::state().pool_count, 0u);
}

TEST_F(MemoryTest, RootGuardKeepsRawPointerDoesNot) {
  NoStress ns;
  memory::series_new_bytes(64);  // dead, so the next one slides down
  Cell held{T_BLOCK, 0, memory::series_new_cells(2), 0};
  gc::Root keep(&held);
  cell::set_integer(runtime::block_append_cell(&held), 42);
  Node raw_node = memory::series_new_cells(1);
  Cell* raw = memory::head_cells(node_buffer(raw_node));
  (void)raw;
  SeriesBuffer* before = node_buffer(held.w2);
  gc::collect();
  ASSERT_TRUE(alive(held.w2));
  EXPECT_NE(node_buffer(held.w2), before) << "moved down over the dead buffer";
  EXPECT_EQ(memory::head_cells(node_buffer(held.w2))->w2, 42u);
  EXPECT_TRUE(memory::node_free_q(raw_node)) << "a raw Cell* keeps nothing";
}

TEST_F(MemoryTest, NodeGuardRewrittenAndKept) {
  Node n = memory::series_new_bytes(8);
  gc::Root keep(&n);
  std::memcpy(memory::data(node_buffer(n)), "kel!", 4);
  node_buffer(n)->tail = 4;
  for (int i = 0; i < 50; ++i) memory::series_new_bytes(100);
  gc::collect();
  EXPECT_TRUE(alive(n));
  EXPECT_EQ(std::memcmp(memory::head(node_buffer(n)), "kel!", 4), 0);
}

// Each row: a cell of that type holding a fresh series in its reference word(s).
TEST_F(MemoryTest, MarkingTableRows) {
  struct Row { uint32_t type; int word; uint32_t extra_header; bool kept; };
  Row rows[] = {
      {T_BLOCK, 2, 0, true}, {T_PAREN, 2, 0, true}, {T_PATH, 2, 0, true},
      {T_LIT_PATH, 2, 0, true}, {T_SET_PATH, 2, 0, true}, {T_GET_PATH, 2, 0, true},
      {T_STRING, 2, 0, true}, {T_STRING, 3, 0, true}, {T_FILE, 2, 0, true}, {T_URL, 2, 0, true},
      {T_TAG, 2, 0, true}, {T_EMAIL, 2, 0, true}, {T_REF, 2, 0, true},
      {T_SYMBOL, 3, 0, true}, {T_SYMBOL, 2, 0, true},
      {T_BITSET, 2, 0, true}, {T_VECTOR, 2, 0, true}, {T_BINARY, 2, 0, true},
      {T_OBJECT, 1, 0, true}, {T_OBJECT, 3, 0, true}, {T_PORT, 1, 0, true}, {T_ERROR, 1, 0, true},
      {T_CONTEXT, 1, 0, true}, {T_CONTEXT, 2, 0, true},
      {T_MAP, 2, 0, true}, {T_MAP, 3, 0, true}, {T_HASH, 2, 0, true},
      {T_FUNCTION, 1, 0, true}, {T_FUNCTION, 2, 0, true}, {T_FUNCTION, 3, 0, true},
      {T_ROUTINE, 3, 0, true},
      {T_NATIVE, 2, 0, true}, {T_ACTION, 3, 0, true}, {T_OP, 2, 0, true},
      {T_OP, 1, uint32_t(T_FUNCTION) << 16, true}, {T_OP, 1, 0, false},
      {T_IMAGE, 2, 0, false}, {T_EVENT, 2, 0x1000, true}, {T_EVENT, 2, 0, false},
      {T_WORD, 1, 0, true}, {T_SET_WORD, 1, 0, true}, {T_REFINEMENT, 1, 0, true},
      {T_INTEGER, 2, 0, false}, {T_CHAR, 1, 0, false}, {T_FLOAT, 2, 0, false},
      {T_CONTEXT, 2, hdr::CONTEXT_ON_STACK, false},
  };
  for (const Row& r : rows) {
    Cell held{r.type | r.extra_header, 0, 0, 0};
    if (r.type == T_HANDLE) held.w3 = uint32_t(-1);
    gc::Root keep(&held);
    Node n = memory::series_new_cells(2);  // also a fine plain series
    (&held.w1)[r.word - 1] = n;
    memory::series_new_bytes(32);          // allocation between
    gc::collect();
    Node now = (&held.w1)[r.word - 1];
    EXPECT_EQ(alive(now), r.kept) << "type " << r.type << " word " << r.word;
  }
}

TEST_F(MemoryTest, ContextMarksHashValuesAndSelf) {
  // context series: [context! hash values] [self object]
  Holder h(4);
  h.hold_block(0, memory::series_new_cells(2));
  // the word table is held as a hash! cell so its parts stay marked meanwhile
  h.cells[1] = Cell{T_HASH, 0, 0, hash::table_create(4, nullptr, hash::KIND_SYMBOLS, 0)};
  h.hold_block(2, memory::series_new_cells(1));
  h.hold_block(3, memory::series_new_cells(1));
  Node ctx = h.node(0);
  Cell* cells = memory::head_cells(node_buffer(ctx));
  cells[0] = Cell{T_CONTEXT, h.cells[1].w3, h.node(2), 0};
  cells[1] = Cell{T_OBJECT, ctx, 0, h.node(3)};
  node_buffer(ctx)->tail = 32;
  Cell word{T_WORD, ctx, 1, 0};
  gc::Root keep_word(&word);
  for (auto& c : h.cells) c = Cell{T_NONE, 0, 0, 0};  // only the word holds the context now
  gc::collect();
  EXPECT_TRUE(alive(word.w1));
  cells = memory::head_cells(node_buffer(word.w1));
  EXPECT_TRUE(alive(cells[0].w1));
  EXPECT_TRUE(alive(cells[0].w2));
  EXPECT_TRUE(alive(cells[1].w3));
}

TEST_F(MemoryTest, HandleMarksExternEntry) {
  static int released = 0;
  released = 0;
  uint32_t kind = extern_::register_kind("test", [](void*) { ++released; });
  int32_t idx = extern_::add_entry(reinterpret_cast<void*>(0x1234), kind);
  Cell h{T_HANDLE, 0, 0, uint32_t(idx)};
  {
    gc::Root keep(&h);
    gc::collect();
    EXPECT_EQ(released, 0);
  }
  gc::collect();
  EXPECT_EQ(released, 1);
  gc::collect();
  EXPECT_EQ(released, 1) << "released once";
}

int g_calls;
void count_call() { ++g_calls; }

TEST_F(MemoryTest, MarkCallbacks) {
  g_calls = 0;
  gc::add_root(count_call);
  gc::add_root(count_call);
  gc::collect();
  EXPECT_EQ(g_calls, 2);
  gc::remove_root(count_call);
  gc::collect();
  EXPECT_EQ(g_calls, 3);
  gc::remove_root(count_call);
}

// Every unit takes its callback out and puts it back when a runtime is made again: the
// table must not fill with the holes and silently drop a root.
TEST_F(MemoryTest, MarkCallbackSlotsAreTakenAgain) {
  g_calls = 0;
  for (uint32_t i = 0; i < 3 * gc::MAX_CALLBACKS; ++i) {
    gc::remove_root(count_call);
    gc::add_root(count_call);
  }
  gc::collect();
  EXPECT_EQ(g_calls, 1);
  gc::remove_root(count_call);
}

TEST_F(MemoryTest, AutomaticOffNeverCollects) {
  gc::set_automatic(false);
  uint32_t before = gc::state().collection_count;
  for (int i = 0; i < 200; ++i) memory::series_new_bytes(20000);  // past one arena
  EXPECT_EQ(gc::state().collection_count, before);
  gc::collect();
  EXPECT_EQ(gc::state().collection_count, before + 1);
}

TEST_F(MemoryTest, AutomaticCollectsWhenArenasFull) {
  NoStress ns;
  memory::state().collect_floor = 0;  // collect as soon as the carved bytes reach the live ones
  uint32_t before = gc::state().collection_count;
  for (int i = 0; i < 400; ++i) memory::series_new_bytes(20000);
  EXPECT_GT(gc::state().collection_count, before);
  EXPECT_EQ(memory::state().arena_head, memory::state().arena_tail) << "dead data reused";
}

// Pacing: with arenas full, a collection waits until the bytes carved since the last one
// reach what it left alive (or the floor); until then new arenas are taken at once.
TEST_F(MemoryTest, CollectionWaitsForCarvedBytes) {
  NoStress ns;
  memory::MemoryState& m = memory::state();
  m.collect_floor = 4u << 20;
  gc::collect();
  // Bytes of garbage carved until the next automatic collection.
  auto carve_until_collection = [] {
    uint32_t before = gc::state().collection_count;
    uint64_t carved = 0;
    while (gc::state().collection_count == before && carved < (64u << 20)) {
      memory::series_new_bytes(20000);
      carved += 20000 + memory::BUFFER_HEADER;
    }
    return carved;
  };
  uint64_t first = carve_until_collection();
  EXPECT_GE(first, 4u << 20) << "not before the floor";
  EXPECT_LT(first, 16u << 20) << "but once an arena fills past it";
  EXPECT_NE(m.arena_head, m.arena_tail) << "new arenas were taken meanwhile";
  // Live data raises the bar: 8 MB kept means the next collection waits for 8 MB more.
  Node list = memory::series_new_cells(400);
  gc::Root keep_list(&list);
  for (int i = 0; i < 400; ++i) {
    Node n = memory::series_new_bytes(20000);
    *runtime::series_append_cell_node(list) = Cell{T_BINARY, 0, n, 0};
  }
  gc::collect();
  EXPECT_GE(m.live_after_collection, 400u * 20000u);
  EXPECT_GE(carve_until_collection(), 400u * 20000u);
  for (uint32_t i = 0; i < 400; ++i) EXPECT_TRUE(alive(memory::head_cells(node_buffer(list))[i].w2));
}

// Cached addresses stay good while the move counter holds: it changes when a series takes
// a larger buffer and at every collection, never for a plain allocation.
TEST_F(MemoryTest, MoveCounterChangesOnlyWhenSomethingMoves) {
  NoStress ns;
  Node n = memory::series_new_bytes(16);
  gc::Root keep(&n);
  uint64_t moves = memory::state().moves;
  for (int i = 0; i < 100; ++i) memory::series_new_bytes(64);
  EXPECT_EQ(memory::state().moves, moves) << "allocation alone moves nothing";
  memory::series_grow_copy_node(n, 64);
  EXPECT_GT(memory::state().moves, moves) << "a larger buffer for the node";
  moves = memory::state().moves;
  gc::collect();
  EXPECT_GT(memory::state().moves, moves) << "a collection slides buffers";
}

// Arenas double past the large threshold up to their cap; large requests keep theirs.
TEST_F(MemoryTest, ArenasDoubleUpToTheCap) {
  NoStress ns;
  gc::set_automatic(false);
  memory::MemoryState& m = memory::state();
  uint32_t last = 0;
  for (int i = 0; i < 12; ++i) {
    memory::SeriesArena* a = memory::arena_new();
    uint32_t size = uint32_t(a->end - a->data);
    EXPECT_LE(size, memory::ARENA_SIZE_CAP);
    if (last && last < memory::ARENA_SIZE_CAP) {
      EXPECT_EQ(size, std::min(last * 2, memory::ARENA_SIZE_CAP));
    }
    last = size;
  }
  EXPECT_EQ(last, memory::ARENA_SIZE_CAP);
  Node big = memory::series_new_bytes(memory::LARGE_THRESHOLD);
  EXPECT_TRUE(node_buffer(big)->flags & sflag::LARGE);
  EXPECT_EQ(m.large_threshold, memory::LARGE_THRESHOLD);
}

TEST_F(MemoryTest, InteriorGuardFollowsMove) {
  NoStress ns;
  memory::series_new_bytes(200);  // dead: the block below slides down
  Node n = memory::series_new_cells(8);
  gc::Root keep(&n);
  for (int i = 0; i < 8; ++i) cell::set_integer(runtime::series_append_cell_node(n), i * 10);
  Cell* p = memory::head_cells(node_buffer(n)) + 5;
  Cell* before = p;
  gc::InteriorGuard g(&p, n);
  gc::collect();
  EXPECT_NE(p, before);
  EXPECT_EQ(p, memory::head_cells(node_buffer(n)) + 5);
  EXPECT_EQ(p->w2, 50u);
}

TEST_F(MemoryTest, RootRangeDynamicBounds) {
  Cell cells[4] = {};
  Cell* begin = cells;
  Cell* top = cells + 1;
  gc::RootRange r(&begin, &top);
  cells[0] = Cell{T_BLOCK, 0, memory::series_new_cells(1), 0};
  cells[1] = Cell{T_BLOCK, 0, memory::series_new_cells(1), 0};
  gc::collect();
  EXPECT_TRUE(alive(cells[0].w2));
  EXPECT_TRUE(memory::node_free_q(cells[1].w2)) << "above the top: not a root";
}

TEST_F(MemoryTest, StressCollectsAndMovesAtEveryAllocation) {
  uint32_t saved = gc::stress_period();
  gc::set_stress(1);
  Node n = memory::series_new_cells(4);
  gc::Root keep(&n);
  cell::set_integer(runtime::series_append_cell_node(n), 9);
  uint32_t count = gc::state().collection_count;
  uint32_t reloc = gc::state().relocation_count;
  SeriesBuffer* before = node_buffer(n);
  Node before_node = n;
  memory::series_new_bytes(8);
  EXPECT_EQ(gc::state().collection_count, count + 1);
  EXPECT_GT(gc::state().relocation_count, reloc);
  EXPECT_NE(node_buffer(n), before) << "moved to fresh memory";
  EXPECT_NE(n, before_node) << "its node was relocated";
  EXPECT_EQ(memory::head_cells(node_buffer(n))->w2, 9u);
  gc::set_stress(saved);
}

// A raw address kept over an allocation faults at once under stress.
TEST_F(MemoryTest, StressFaultsOnRawAddress) {
  EXPECT_DEATH(
      {
        gc::set_stress(1);
        Node n = memory::series_new_cells(4);
        gc::Root keep(&n);
        Cell* raw = runtime::series_append_cell_node(n);
        memory::series_new_bytes(8);
        volatile uint32_t v = raw->header;  // old memory is gone
        (void)v;
        std::exit(0);
      },
      "");
}

TEST_F(MemoryTest, StaleNodeFaultsUnderStress) {
  EXPECT_EXIT(
      {
        gc::set_stress(1);
        Node n = memory::series_new_cells(4);
        Node copy = n;  // unguarded copy
        gc::Root keep(&n);
        for (int i = 0; i < 3; ++i) memory::series_new_bytes(8);
        memory::node_buffer(copy);
        std::exit(0);
      },
      ::testing::ExitedWithCode(98), "");
}

TEST_F(MemoryTest, SlotTableIsARoot) {
  Cell v{T_BLOCK, 0, memory::series_new_cells(1), 0};
  uint32_t h = slot_table::store(&v);
  gc::collect();
  EXPECT_TRUE(alive(slot_table::get(h)->w2));
}

}  // namespace
}  // namespace kel::test
