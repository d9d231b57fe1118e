// Display width of codepoints: the table shapes and the columns of representative
// characters (controls, combining marks, jamo, CJK, fullwidth, emoji, planes 2-3).
#include <gtest/gtest.h>

#include "runtime/charwidth.h"

using namespace kel::unicode;

TEST(CharWidth, TablesHaveTheirShape) {
  struct Table { const int32_t* r; int32_t words; int32_t ranges, first0, first1, last0, last1; };
  for (const Table& t : {Table{zero_width_ranges, zero_width_ranges_words, 334, 0x300, 0x36F, 0xE0100, 0xE01EF},
                         Table{wide_ranges, wide_ranges_words, 122, 0x1100, 0x115F, 0x30000, 0x3FFFD}}) {
    ASSERT_EQ(t.words, 2 * t.ranges);
    EXPECT_EQ(t.r[0], t.first0);
    EXPECT_EQ(t.r[1], t.first1);
    EXPECT_EQ(t.r[t.words - 2], t.last0);
    EXPECT_EQ(t.r[t.words - 1], t.last1);
    for (int32_t i = 0; i < t.words; i += 2) {
      EXPECT_LE(t.r[i], t.r[i + 1]);
      if (i) {
        EXPECT_GT(t.r[i], t.r[i - 1] + 1) << "ranges must be sorted and apart";
      }
    }
  }
}

TEST(CharWidth, Columns) {
  struct Row { int32_t cp, width; };
  const Row rows[] = {
      {0x41, 1},   {0, 0},      {9, 1},      {0x7F, 1},   {0x9B, 1},    {0x301, 0},
      {0x1160, 0}, {0x11FF, 0}, {0x115F, 2}, {0x200B, 1}, {0xAD, 1},    {0xFE0F, 0},
      {0x4E00, 2}, {0x3000, 2}, {0xFF01, 2}, {0x1F600, 2}, {0x303F, 1}, {0x302A, 0},
      {0x3FFFD, 2}, {0x3FFFE, 1}, {0x40000, 1}, {0x20000, 2}, {0xE01EF, 0}, {0x110000, 1},
      {-1, 1},     {0x2FFFE, 1},
  };
  for (const Row& r : rows) EXPECT_EQ(char_width(r.cp), r.width) << std::hex << r.cp;
}

TEST(CharWidth, InRangesBoundaries) {
  const int32_t t[] = {10, 20, 30, 30, 40, 50};
  for (int32_t cp : {10, 15, 20, 30, 40, 50}) EXPECT_EQ(in_ranges(cp, t, 6), 1) << cp;
  for (int32_t cp : {9, 21, 29, 31, 39, 51, -5}) EXPECT_EQ(in_ranges(cp, t, 6), 0) << cp;
  EXPECT_EQ(in_ranges(10, t, 0), 0);
}
