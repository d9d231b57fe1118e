// External resource table tests: growth, reuse, marking and sweeping.
#include <gtest/gtest.h>

#include "runtime/extern.h"

namespace kel::test {
namespace {

int g_released;
void count_release(void*) { ++g_released; }

class ExternTest : public ::testing::Test {
 protected:
  void SetUp() override {
    extern_::init();
    g_released = 0;
    kind = extern_::register_kind("image", count_release);
  }
  void TearDown() override { extern_::shutdown(); }
  uint32_t kind = 0;
};

TEST_F(ExternTest, ThousandthAddGrowsTable) {
  std::vector<int32_t> idx;
  for (int i = 0; i < 999; ++i) idx.push_back(extern_::add_entry(reinterpret_cast<void*>(uintptr_t(i + 1)), kind));
  EXPECT_EQ(extern_::table().capacity, 1000u);
  idx.push_back(extern_::add_entry(reinterpret_cast<void*>(uintptr_t(1000)), kind));
  EXPECT_EQ(extern_::table().capacity, 2000u);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(idx[i], i);
    EXPECT_EQ(extern_::table().entries[idx[i]].resource, reinterpret_cast<void*>(uintptr_t(i + 1)));
  }
  int32_t next = extern_::add_entry(nullptr, kind);
  EXPECT_EQ(next, 1000);
}

TEST_F(ExternTest, ReleaseThenAddReusesSlot) {
  int32_t a = extern_::add_entry(reinterpret_cast<void*>(1), kind);
  extern_::add_entry(reinterpret_cast<void*>(2), kind);
  extern_::release_entry(a, true);
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(extern_::table().entries[a].flags, extern_::ENTRY_FREE);
  EXPECT_EQ(extern_::add_entry(reinterpret_cast<void*>(3), kind), a);
  extern_::release_entry(a, false);
  EXPECT_EQ(g_released, 1);
}

TEST_F(ExternTest, SweepReleasesUnmarkedOnce) {
  int32_t a = extern_::add_entry(reinterpret_cast<void*>(1), kind);
  int32_t b = extern_::add_entry(reinterpret_cast<void*>(2), kind);
  int32_t c = extern_::add_entry(reinterpret_cast<void*>(3), 0);  // no kind: nothing to release
  EXPECT_EQ(extern_::set_mark(a, nullptr), 1u);
  EXPECT_EQ(extern_::set_mark(a, reinterpret_cast<void*>(11)), 0u);
  EXPECT_EQ(extern_::table().entries[a].resource, reinterpret_cast<void*>(11));
  extern_::sweep();
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(extern_::table().entries[b].flags, extern_::ENTRY_FREE);
  EXPECT_EQ(extern_::table().entries[c].flags, extern_::ENTRY_FREE);
  EXPECT_NE(extern_::table().entries[a].flags, extern_::ENTRY_FREE);
  EXPECT_FALSE(extern_::table().entries[a].flags & extern_::ENTRY_MARK);
  extern_::sweep();
  EXPECT_EQ(g_released, 2) << "a, now unmarked";
  extern_::sweep();
  EXPECT_EQ(g_released, 2);
}

}  // namespace
}  // namespace kel::test
