// Node address map tests: sizing, growth, replacement, deletion and iteration.
#include <gtest/gtest.h>

#include <map>

#include "runtime/nodemap.h"

namespace kel::test {
namespace {

TEST(NodeMap, MadeForZeroGrowsOnSeventhPut) {
  addr_map::Map* m = addr_map::create(0);
  EXPECT_EQ(m->buckets, 8u);
  for (uint32_t k = 1; k <= 6; ++k) EXPECT_EQ(addr_map::put(m, k * 7919, k), 0u);
  EXPECT_EQ(m->buckets, 8u);
  addr_map::put(m, 99, 99);
  EXPECT_EQ(m->buckets, 16u);
  EXPECT_EQ(addr_map::size(m), 7u);
  for (uint32_t k = 1; k <= 6; ++k) EXPECT_EQ(*addr_map::get(m, k * 7919), k);
  addr_map::free(m);
}

TEST(NodeMap, ExistingKeyReplaces) {
  addr_map::Map* m = addr_map::create(10);
  EXPECT_EQ(addr_map::put(m, 5, 50), 0u);
  EXPECT_EQ(addr_map::put(m, 5, 51), 1u);
  EXPECT_EQ(addr_map::size(m), 1u);
  EXPECT_EQ(*addr_map::get(m, 5), 51u);
  EXPECT_EQ(addr_map::get(m, 6), nullptr);
  EXPECT_EQ(addr_map::find(m, 6), -1);
  addr_map::free(m);
  addr_map::free(nullptr);
}

TEST(NodeMap, DeleteReuseAndIterate) {
  addr_map::Map* m = addr_map::create(4);
  std::map<uint32_t, uint32_t> ref;
  for (uint32_t i = 1; i <= 1000; ++i) {
    addr_map::put(m, i, i * 2);
    ref[i] = i * 2;
  }
  for (uint32_t i = 1; i <= 1000; i += 3) {
    addr_map::delete_(m, i);
    ref.erase(i);
  }
  for (uint32_t i = 2000; i < 2300; ++i) {
    addr_map::put(m, i, i);
    ref[i] = i;
  }
  EXPECT_EQ(addr_map::size(m), ref.size());
  std::map<uint32_t, uint32_t> seen;
  for (uint32_t* e = addr_map::next_live(m, nullptr); e; e = addr_map::next_live(m, e)) seen[e[0]] = e[1];
  EXPECT_EQ(seen, ref);
  addr_map::clear(m);
  EXPECT_EQ(addr_map::size(m), 0u);
  EXPECT_EQ(addr_map::next_live(m, nullptr), nullptr);
  addr_map::free(m);
}

TEST(NodeMap, DeletedBucketsCleanedAtSameSize) {
  addr_map::Map* m = addr_map::create(0);  // 8 buckets, bound 6
  for (uint32_t k = 1; k <= 6; ++k) addr_map::put(m, k, k);
  for (uint32_t k = 1; k <= 5; ++k) addr_map::delete_(m, k);
  addr_map::put(m, 100, 1);  // occupied 6 >= bound: buckets 8 > 2 x size 1: resize to 7 -> 8
  EXPECT_EQ(m->buckets, 8u);
  EXPECT_EQ(m->occupied, 2u);
  EXPECT_EQ(*addr_map::get(m, 6), 6u);
  addr_map::free(m);
}

TEST(NodeMap, MixIsFmix32) {
  EXPECT_EQ(hash::mix_int32(0), 0u);
  EXPECT_EQ(hash::mix_int32(1), 0x514E28B7u);
}

}  // namespace
}  // namespace kel::test
