// Byte-buffer operation tests: words at 1-based positions, find, insert, remove, append
// with growth.
#include <cstring>

#include "memory_fixture.h"
#include "runtime/bytes.h"
#include "runtime/rt.h"

namespace kel::test {
namespace {

using namespace memory;

TEST_F(MemoryTest, BytesConstructors) {
  Holder h(3);
  h.hold_bytes(0, buffer_new(5, 4));
  EXPECT_EQ(unit(node_buffer(h.node(0))), 4u);
  EXPECT_EQ(node_buffer(h.node(0))->capacity, 32);
  h.hold_bytes(1, buffer_new_filled(10, 0xAA));
  SeriesBuffer* b = node_buffer(h.node(1));
  EXPECT_EQ(used_bytes(b), uint32_t(b->capacity));
  for (int i = 0; i < b->capacity; ++i) EXPECT_EQ(data(b)[i], 0xAA);
  h.hold_bytes(2, buffer_new_zeroed(3));
  EXPECT_EQ(buffer_byte_at(h.node(2), 1), 0);
  buffer_fill(h.node(2), 7);
  EXPECT_EQ(buffer_byte_at(h.node(2), 16), 7);
}

TEST_F(MemoryTest, BytesWords) {
  Holder h(1);
  h.hold_bytes(0, buffer_new(0, 1));
  EXPECT_EQ(buffer_find_int32(h.node(0), 5), -1) << "empty buffer";
  for (uint32_t w : {10u, 20u, 30u, 40u, 50u}) buffer_append_int32(h.node(0), w);
  EXPECT_EQ(buffer_unit_count(h.node(0)), 20u);
  EXPECT_EQ(buffer_find_int32(h.node(0), 10), 0) << "found at the head";
  EXPECT_EQ(buffer_find_pointer(h.node(0), 40), 12);
  EXPECT_EQ(buffer_int32_at(h.node(0), 2), 20u);
  buffer_set_int32_at(h.node(0), 2, 21);
  EXPECT_EQ(buffer_pointer_at(h.node(0), 2), 21u);
  buffer_insert_int32(h.node(0), 15, 1);
  EXPECT_EQ(buffer_int32_at(h.node(0), 2), 15u);
  EXPECT_EQ(buffer_int32_at(h.node(0), 3), 21u);
  buffer_remove_pointer(h.node(0), 99);
  EXPECT_EQ(buffer_unit_count(h.node(0)), 24u) << "absent word: unchanged";
  buffer_remove_pointer(h.node(0), 15);
  EXPECT_EQ(buffer_int32_at(h.node(0), 2), 21u);
  EXPECT_EQ(buffer_unit_count(h.node(0)), 20u);
  buffer_truncate(h.node(0), 1);
  EXPECT_EQ(buffer_unit_count(h.node(0)), 0u) << "truncate to 1 empties";
}

TEST_F(MemoryTest, BytesAppendGrowsAndClones) {
  Holder h(2);
  h.hold_bytes(0, buffer_new(4, 1));
  for (int i = 0; i < 100; ++i) buffer_append_byte(h.node(0), uint8_t(i));
  const char text[] = "appended";
  buffer_append_bytes(h.node(0), text, 8);
  EXPECT_EQ(buffer_unit_count(h.node(0)), 108u);
  EXPECT_EQ(buffer_byte_at(h.node(0), 100), 99);
  EXPECT_EQ(std::memcmp(buffer_head(h.node(0)) + 100, "appended", 8), 0);
  h.hold_bytes(1, buffer_clone(h.node(0)));
  EXPECT_EQ(buffer_unit_count(h.node(1)), 108u);
  EXPECT_EQ(buffer_byte_at(h.node(1), 50), 49);
  buffer_clear(h.node(0));
  EXPECT_EQ(buffer_unit_count(h.node(0)), 0u);
  buffer_remove_bytes(h.node(1), 0, 100);
  EXPECT_EQ(std::memcmp(buffer_head(h.node(1)), "appended", 8), 0);
  // appending bytes that live in another collected buffer
  buffer_append_bytes(h.node(0), buffer_head(h.node(1)), 8);
  EXPECT_EQ(std::memcmp(buffer_head(h.node(0)), "appended", 8), 0);
  void* p = heap_alloc_filled(9, 0xFF);
  EXPECT_EQ(static_cast<uint8_t*>(p)[8], 0xFF);
  rt::free(p);
}

}  // namespace
}  // namespace kel::test
