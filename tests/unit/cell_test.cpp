// Cell basics: type changes keep flags, copies, doubles in w2/w3.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/cell.h"

using namespace kel;

TEST(Cell, SetTypeKeepsNewLineMarker) {
  Cell c{T_INTEGER | hdr::NEW_LINE, 5, 0, 0};
  cell::set_type(&c, T_CHAR);
  EXPECT_EQ(cell::type(&c), T_CHAR);
  EXPECT_TRUE(c.header & hdr::NEW_LINE);
}

TEST(Cell, CopyOntoItselfLeavesCell) {
  Cell c{T_INTEGER, 1, 2, 3};
  EXPECT_EQ(cell::copy(&c, &c), &c);
  EXPECT_EQ(c.w1, 1u);
  EXPECT_EQ(c.w3, 3u);
}

TEST(Cell, DoubleRoundTripsThroughPayload) {
  Cell c{T_FLOAT, 7, 0, 0};
  for (double d : {0.0, -0.0, 0.1, 1e308, -5e-324, double(INFINITY)}) {
    cell::put_double(&c, d);
    EXPECT_EQ(std::signbit(cell::get_double(&c)), std::signbit(d));
    EXPECT_EQ(cell::get_double(&c), d);
    EXPECT_EQ(c.w1, 7u);
  }
}
