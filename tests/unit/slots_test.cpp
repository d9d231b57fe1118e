// Slot table tests: free list, growth past 100 cells, release and reuse.
#include "memory_fixture.h"

namespace kel::test {
namespace {

TEST_F(MemoryTest, SlotTableGrowsKeepingHandles) {
  slot_table::init();
  std::vector<uint32_t> handles;
  for (int i = 0; i < 101; ++i) {
    Cell v;
    cell::set_integer(&v, i * 3);
    handles.push_back(slot_table::store(&v));
  }
  EXPECT_EQ(slot_table::state().capacity, 200u);
  EXPECT_EQ(memory::node_buffer(slot_table::state().block)->capacity, 200 * 16);
  for (int i = 0; i < 101; ++i) {
    EXPECT_EQ(handles[i], uint32_t(i + 1));
    EXPECT_EQ(cell::get_int(slot_table::get(handles[i])), i * 3);
  }
}

TEST_F(MemoryTest, SlotTableReleaseReuses) {
  slot_table::init();
  Cell v;
  cell::set_integer(&v, 1);
  uint32_t a = slot_table::store(&v);
  uint32_t b = slot_table::store(&v);
  slot_table::release(0);
  slot_table::release(a);
  EXPECT_EQ(cell::type(slot_table::get(a)), uint32_t(T_INTEGER));
  EXPECT_EQ(slot_table::store(&v), a);
  EXPECT_EQ(slot_table::store(&v), b + 1);
  // storing a value that lives in the table itself, across growth
  for (int i = 0; i < 200; ++i) slot_table::store(slot_table::get(a));
  EXPECT_EQ(cell::get_int(slot_table::get(a)), 1);
}

}  // namespace
}  // namespace kel::test
