// Compaction tests: sliding in the first arena, moving into the previous arena, arena
// release, node-pool evacuation and the deferred node releases.
#include <algorithm>
#include <cstring>
#include <vector>

#include "memory_fixture.h"
#include "runtime/compact.h"

namespace kel::test {
namespace {

using memory::node_buffer;
using memory::SeriesArena;

class CompactTest : public MemoryTest {
 protected:
  NoStress ns;
  void SetUp() override {
    MemoryTest::SetUp();
    gc::set_stress(0);
    gc::set_automatic(false);  // placement is set up by hand; collections are explicit
  }
};

uint32_t arena_count() {
  uint32_t n = 0;
  for (SeriesArena* a = memory::state().arena_head; a; a = a->next) ++n;
  return n;
}

bool inside(SeriesArena* a, Node n) {
  auto* p = reinterpret_cast<uint8_t*>(node_buffer(n));
  return p >= a->data && p < a->end;
}

// Fills an arena with live byte buffers until exactly `room` bytes are free.
void fill_to_room(Holder& h, size_t& slot, SeriesArena* a, uint32_t room) {
  memory::state().arena_current = a;
  uint32_t remaining = uint32_t(a->end - a->bump) - room;
  // Chunks just below the large-block threshold, so arenas of any size take few slots.
  while (remaining > 2000000) {
    h.hold_bytes(slot++, memory::series_new_bytes(1900008 - 24));
    remaining -= 1900008;
  }
  if (remaining % 16 == 0 && remaining) {
    h.hold_block(slot++, memory::series_new_cells(0));  // footprint 24
    remaining -= 24;
  }
  if (remaining) h.hold_bytes(slot++, memory::series_new_bytes(remaining - 24));
  ASSERT_EQ(uint32_t(a->end - a->bump), room);
}

Node bytes_with(const char* text) {
  Node n = memory::series_new_bytes(uint32_t(std::strlen(text)));
  SeriesBuffer* b = node_buffer(n);
  std::memcpy(memory::data(b), text, std::strlen(text));
  b->tail = uint32_t(std::strlen(text));
  return n;
}

std::string text_of(Node n) {
  SeriesBuffer* b = node_buffer(n);
  return std::string(reinterpret_cast<char*>(memory::head(b)), memory::used_bytes(b));
}

TEST_F(CompactTest, FirstArenaLiveDeadLive) {
  Holder h(2);
  h.hold_bytes(0, bytes_with("first"));
  memory::series_new_bytes(100);
  h.hold_bytes(1, bytes_with("third"));
  SeriesBuffer* first = node_buffer(h.node(0));
  SeriesBuffer* third = node_buffer(h.node(1));
  gc::collect();
  EXPECT_EQ(node_buffer(h.node(0)), first) << "no dead buffer before it: stays put";
  EXPECT_LT(node_buffer(h.node(1)), third);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(node_buffer(h.node(1))),
            reinterpret_cast<uint8_t*>(first) + 24 + first->capacity);
  EXPECT_EQ(text_of(h.node(1)), "third");
  EXPECT_FALSE(node_buffer(h.node(1))->flags & sflag::MARK);
  SeriesArena* a = memory::state().arena_head;
  EXPECT_EQ(a->bump, reinterpret_cast<uint8_t*>(node_buffer(h.node(1))) + 24 + node_buffer(h.node(1))->capacity);
}

TEST_F(CompactTest, PreviousArenaRoom) {
  for (uint32_t room : {52424u, 52432u}) {
    fresh_heap();
    gc::set_stress(0);
    gc::set_automatic(false);
    memory::arena_new();
    memory::arena_new();
    SeriesArena* a = memory::state().arena_head;
    SeriesArena* b = a->next;
    Holder h(16);
    size_t slot = 0;
    fill_to_room(h, slot, a, room);
    memory::state().arena_current = b;
    memory::series_new_bytes(1000);  // dead
    Node s = bytes_with("mover");
    h.hold_bytes(slot++, s);
    gc::collect();
    s = h.node(slot - 1);
    EXPECT_EQ(text_of(s), "mover");
    if (room == 52424) {
      EXPECT_TRUE(inside(b, s)) << "52,424 free: nothing moves in";
      EXPECT_EQ(reinterpret_cast<uint8_t*>(node_buffer(s)), b->data) << "slid down instead";
    } else {
      EXPECT_TRUE(inside(a, s)) << "52,432 free: the run moves in";
      EXPECT_EQ(uint32_t(a->end - a->bump), room - 24 - 16);
      EXPECT_EQ(b->bump, b->data);
      EXPECT_EQ(arena_count(), 2u) << "the last arena stays, even empty";
    }
  }
}

TEST_F(CompactTest, RunLargerThanRoomSplits) {
  memory::arena_new();
  memory::arena_new();
  SeriesArena* a = memory::state().arena_head;
  SeriesArena* b = a->next;
  Holder h(16);
  size_t slot = 0;
  fill_to_room(h, slot, a, 60000);
  memory::state().arena_current = b;
  memory::series_new_bytes(100);  // dead: a gap
  size_t first = slot;
  for (int i = 0; i < 4; ++i) h.hold_bytes(slot++, memory::series_new_bytes(29968));
  gc::collect();
  EXPECT_TRUE(inside(a, h.node(first))) << "the part of the run that fits moves across";
  EXPECT_TRUE(inside(a, h.node(first + 1)));
  EXPECT_TRUE(inside(b, h.node(first + 2))) << "room left is below 52,428: the rest slides down";
  EXPECT_EQ(reinterpret_cast<uint8_t*>(node_buffer(h.node(first + 2))), b->data);
}

TEST_F(CompactTest, EmptiedMiddleArenaReleasedLastKept) {
  memory::arena_new();
  memory::arena_new();
  memory::arena_new();
  SeriesArena* a = memory::state().arena_head;
  SeriesArena* b = a->next;
  SeriesArena* c = b->next;
  Holder h(16);
  size_t slot = 0;
  fill_to_room(h, slot, a, 1000);
  memory::state().arena_current = b;
  for (int i = 0; i < 10; ++i) memory::series_new_bytes(500);  // all dead
  memory::state().arena_current = c;
  h.hold_bytes(slot, bytes_with("last"));
  gc::collect();
  EXPECT_EQ(arena_count(), 2u) << "the emptied middle arena is released";
  EXPECT_EQ(memory::state().arena_tail, c);
  EXPECT_EQ(text_of(h.node(slot)), "last");
  h.cells[slot] = Cell{T_NONE, 0, 0, 0};
  gc::collect();
  EXPECT_EQ(arena_count(), 2u) << "the last arena is kept when empty";
  EXPECT_EQ(c->bump, c->data);
}

// Builds pool 1 with `p1_used` live nodes and pool 2 with 4,999, then collects until
// the history says pool 2 has been stable for 6 collections.
void sparse_pool_case(uint32_t p1_used, bool expect_moved) {
  fresh_heap();
  gc::set_stress(0);
  gc::set_automatic(false);
  Holder h(1);
  Node holder = memory::series_new_cells(15000);  // node 1 of pool 1
  h.hold_block(0, holder);
  Cell* cells = reinterpret_cast<Cell*>(memory::data(node_buffer(holder)));
  for (int i = 0; i < 9999 + 4999; ++i) cells[i] = Cell{T_BINARY, 0, memory::series_new_bytes(0), 0};
  node_buffer(holder)->tail = (9999 + 4999) * 16;
  memory::NodePool* p2 = memory::state().pool_tail;
  ASSERT_EQ(memory::state().pool_count, 2u);
  ASSERT_EQ(p2->used, 4999u);
  for (uint32_t i = 0; i < 10000 - p1_used; ++i) cells[i] = Cell{T_NONE, 0, 0, 0};
  Node guarded = cells[9999 + 10].w2;  // one node of pool 2 in a guard
  ASSERT_EQ(memory::node_pool(guarded), p2);
  gc::Root keep(&guarded);
  uint32_t reloc = gc::state().relocation_count;
  for (int i = 0; i < 10; ++i) gc::collect();
  cells = reinterpret_cast<Cell*>(memory::data(node_buffer(h.node(0))));
  if (expect_moved) {
    EXPECT_EQ(gc::state().relocation_count, reloc + 1);
    EXPECT_EQ(memory::state().pool_count, 1u);
    EXPECT_EQ(memory::state().pool_head->used, p1_used + 4999);
    for (int i = 9999; i < 9999 + 4999; ++i) {
      ASSERT_TRUE(alive(cells[i].w2));
      ASSERT_EQ(node_buffer(cells[i].w2)->node, cells[i].w2);
    }
    EXPECT_EQ(guarded, cells[9999 + 10].w2) << "the guard sees the new node";
    EXPECT_TRUE(alive(guarded));
  } else {
    EXPECT_EQ(gc::state().relocation_count, reloc);
    EXPECT_EQ(memory::state().pool_count, 2u);
  }
}

TEST_F(CompactTest, SparsePoolEvacuation) {
  sparse_pool_case(5000, true);   // free total 10,001
  sparse_pool_case(5001, false);  // free total 10,000
}

// One collection moves nodes twice: the sparse pool 2 goes into pool 1, then stress mode
// relocates pool 1 (its round-robin pick). Old handles must reach their last handle.
TEST_F(CompactTest, NodesMovedTwiceInOneCollection) {
  gc::set_stress(0);
  Holder h(1);
  Node holder = memory::series_new_cells(15000);
  h.hold_block(0, holder);
  Cell* cells = reinterpret_cast<Cell*>(memory::data(node_buffer(holder)));
  for (int i = 0; i < 9999 + 4999; ++i) cells[i] = Cell{T_BINARY, 0, memory::series_new_bytes(0), 0};
  node_buffer(holder)->tail = (9999 + 4999) * 16;
  memory::NodePool* p1 = memory::state().pool_head;
  memory::NodePool* p2 = memory::state().pool_tail;
  ASSERT_EQ(p2->used, 4999u);
  for (uint32_t i = 0; i < 5000; ++i) cells[i] = Cell{T_NONE, 0, 0, 0};
  Node guarded = cells[9999 + 10].w2;
  gc::Root keep(&guarded);
  uint32_t mask = (1u << (gc::state().history_depth + 1)) - 1;
  for (int i = 0; i < 10 && (p2->history & mask) != mask; ++i) gc::collect();
  ASSERT_EQ(p2->history & mask, mask) << "pool 2 is due for evacuation";
  uint32_t reloc = gc::state().relocation_count;
  gc::set_stress(1);
  gc::state().stress_pool_cursor = p1->index;
  gc::collect();
  gc::set_stress(0);
  EXPECT_EQ(gc::state().relocation_count, reloc + 2) << "both moves ran in one collection";
  cells = reinterpret_cast<Cell*>(memory::data(node_buffer(h.node(0))));
  for (int i = 5000; i < 9999 + 4999; ++i) {
    ASSERT_TRUE(alive(cells[i].w2)) << i;
    ASSERT_EQ(node_buffer(cells[i].w2)->node, cells[i].w2) << i;
  }
  EXPECT_EQ(guarded, cells[9999 + 10].w2);
  EXPECT_TRUE(alive(guarded));
}

TEST_F(CompactTest, ManyDeadNodesAllReturned) {
  Holder h(1);
  h.hold_bytes(0, memory::series_new_bytes(4));
  for (int i = 0; i < 25000; ++i) memory::series_new_bytes(0);
  uint32_t used = 0;
  for (memory::NodePool* p = memory::state().pool_head; p; p = p->next) used += p->used;
  ASSERT_EQ(used, 25001u);
  gc::collect();
  used = 0;
  uint32_t free_slots = 0;
  for (memory::NodePool* p = memory::state().pool_head; p; p = p->next) {
    used += p->used;
    for (Node n = p->free; n; n = Node(*memory::node_slot(n) >> 1)) ++free_slots;
    EXPECT_EQ(free_slots, p->capacity - p->used);
    free_slots = 0;
  }
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(gc::deferred_count(), 0u);
  EXPECT_TRUE(alive(h.node(0)));
}

TEST(SortHandles, AscendingAsStdSort) {
  // Sizes on both sides of the short sort, handles spread over every digit or sharing some.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (uint32_t n : {1u, 2u, 255u, 256u, 20000u}) {
    for (uint32_t mask : {0xFFFFFFFFu, 0x0003FFFFu, 0xFFC00000u, 0x7FFu}) {
      std::vector<Node> a(n), scratch(n);
      for (Node& h : a) h = next() & mask;
      std::vector<Node> want = a;
      std::sort(want.begin(), want.end());
      gc::sort_handles(a.data(), scratch.data(), n);
      EXPECT_EQ(a, want) << n << " " << mask;
    }
  }
}

}  // namespace
}  // namespace kel::test
