// The C++ cell API of tuple!, pair! and the points that Kel text cannot reach: the packed and
// byte constructors, the pixel form, the zero test, the pair-to-point cell and a binary spec.
#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/memory.h"
#include "tests/unit/datatype_fixture.h"

namespace kel::test {
namespace {

class TuplePairPointTest : public DatatypeTest {};

TEST_F(TuplePairPointTest, TupleHeaderHoldsTheLength) {
  open_frame();
  Cell* t = tuple::push_new_packed(3, 0x030201u, 0, 0);
  EXPECT_EQ(t->header, 0x180027u);
  EXPECT_EQ(mold(*t), "1.2.3");
  t = tuple::push_new_packed(4, 0x04030201u, 0, 0);
  EXPECT_EQ(t->header, 0x200027u);
  EXPECT_EQ(mold(*t), "1.2.3.4");
}

TEST_F(TuplePairPointTest, BytesPastTheLengthAreZero) {
  open_frame();
  const uint8_t bytes[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 1, 1, 1};
  Cell* t = tuple::push_new_from_bytes(2, bytes);  // padded to 3
  EXPECT_EQ(mold(*t), "9.8.0");
  EXPECT_EQ(t->w1, 0x0809u);
  EXPECT_EQ(t->w2 | t->w3, 0u);
  Cell c;
  tuple::init_cell_rgba(&c, 1, 2, 3, -1);
  EXPECT_EQ(mold(c), "1.2.3");
  tuple::init_cell_rgba(&c, 1, 2, 3, 255);
  EXPECT_EQ(mold(c), "1.2.3.255");
  Cell z;
  tuple::init_cell(&z, 5, bytes + 12 - 5);
  EXPECT_FALSE(tuple::all_zero_q(&z));
  uint8_t none[3] = {0, 0, 0};
  tuple::init_cell(&z, 3, none);
  EXPECT_TRUE(tuple::all_zero_q(&z));
}

TEST_F(TuplePairPointTest, TupleFromBinaryTakesTwelveBytesPadded) {
  const uint8_t src[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  auto binary = [&](uint32_t n, uint32_t head) {
    Node node = memory::series_new_bytes(n ? n : 1);
    SeriesBuffer* b = memory::node_buffer(node);
    std::memcpy(memory::data(b), src, n);
    memory::set_tail(b, memory::data(b) + n);
    return Cell{T_BINARY, head, node, 0};
  };
  EXPECT_EQ(mold(make_to(datatype::action::TO, DT(T_TUPLE), binary(14, 0))),
            "1.2.3.4.5.6.7.8.9.10.11.12");
  EXPECT_EQ(mold(make_to(datatype::action::TO, DT(T_TUPLE), binary(2, 0))), "1.2.0");
  EXPECT_EQ(mold(make_to(datatype::action::TO, DT(T_TUPLE), binary(5, 3))), "4.5.0");
  EXPECT_EQ(mold(make_to(datatype::action::TO, DT(T_TUPLE), binary(0, 0))), "0.0.0");
}

TEST_F(TuplePairPointTest, PairAndPointConstructors) {
  open_frame();
  Cell c = *pair::push_new(3, -4);
  EXPECT_EQ(c.w1, 0u);  // a pair's payload starts at w2
  EXPECT_EQ(mold(c), "3x-4");
  pair::as_point2D_cell(&c);
  EXPECT_EQ(cell::type(&c), uint32_t(T_POINT2D));
  EXPECT_EQ(mold(c), "(3, -4)");
  EXPECT_EQ(mold(*point2D::push_new(0.5f, 2.0f)), "(0.5, 2)");
  EXPECT_EQ(mold(*point3D::push_new(1.0f, 2.0f, -3.25f)), "(1, 2, -3.25)");
  Cell q;
  point2D::init_cell(&q, 1.0f, 2.0f);
  EXPECT_EQ(point::coordinate(&q, 0), 1.0f);  // a point's payload starts at w1
  EXPECT_EQ(q.w3, 0u);
}

}  // namespace
}  // namespace kel::test
