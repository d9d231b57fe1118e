// Image geometry: the quadrilateral warp, rectangle copies, resizing and YCbCr conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "runtime/io/image_geometry.h"

namespace kel::test {
namespace {

using image_codec::Quad;

std::vector<uint32_t> gradient(int32_t w, int32_t h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      px[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | uint32_t(x * 40) << 16 | uint32_t(y * 50) << 8 | uint32_t(x + y);
  return px;
}

TEST(ImageGeometry, YcbcrOfMidGreyIsOpaqueGrey) {
  uint8_t in[4] = {128, 128, 128, 128};
  uint32_t out[2] = {};
  image_codec::ycbcr_to_rgb(1, 1, in, out);
  EXPECT_EQ(out[0], 0xFF808080u);
  EXPECT_EQ(out[1], 0xFF808080u);
}

TEST(ImageGeometry, YcbcrClampsAndPutsRedInTheLowByte) {
  uint8_t in[4] = {255, 128, 0, 255};  // Y0 255 and Y1 0 with a strong red difference
  uint32_t out[2] = {};
  image_codec::ycbcr_to_rgb(1, 1, in, out);
  EXPECT_EQ(out[0] & 0xFF, 255u);
  EXPECT_EQ(out[1] >> 24, 255u);
  EXPECT_EQ((out[1] >> 8) & 0xFF, 0u);  // green clamped at 0
}

TEST(ImageGeometry, WarpIntoItsOwnRectangleGivesTheSource) {
  const int32_t w = 6, h = 4;
  auto src = gradient(w, h);
  Quad q{{{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}}};
  int32_t x, y, bw, bh;
  uint32_t* out = image_codec::warp_to_quad(src.data(), w, h, q, &x, &y, &bw, &bh);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(bw, w);
  EXPECT_EQ(bh, h);
  for (size_t i = 0; i < src.size(); ++i)
    for (int s = 0; s < 32; s += 8)  // truncated interpolation may lose one step
      EXPECT_NEAR(double((out[i] >> s) & 255), double((src[i] >> s) & 255), 1.0) << i;
  std::free(out);
}

TEST(ImageGeometry, ReversedCornersLeaveEveryPixelZero) {
  auto src = gradient(4, 4);
  Quad q{{{0, 0}, {0, 4}, {4, 4}, {4, 0}}};
  int32_t x, y, bw, bh;
  uint32_t* out = image_codec::warp_to_quad(src.data(), 4, 4, q, &x, &y, &bw, &bh);
  ASSERT_NE(out, nullptr);
  for (int32_t i = 0; i < bw * bh; ++i) EXPECT_EQ(out[i], 0u);
  std::free(out);
}

TEST(ImageGeometry, DegenerateQuadLeavesPixelsZeroAndEmptySourceGivesNull) {
  auto src = gradient(3, 3);
  Quad line{{{0, 0}, {3, 3}, {3, 3}, {0, 0}}};  // zero-length edges: NaN directions
  int32_t x, y, bw, bh;
  uint32_t* out = image_codec::warp_to_quad(src.data(), 3, 3, line, &x, &y, &bw, &bh);
  ASSERT_NE(out, nullptr);
  for (int32_t i = 0; i < bw * bh; ++i) EXPECT_EQ(out[i], 0u);
  std::free(out);
  Quad q{{{0, 0}, {2, 0}, {2, 2}, {0, 2}}};
  EXPECT_EQ(image_codec::warp_to_quad(src.data(), 0, 3, q, &x, &y, &bw, &bh), nullptr);
}

TEST(ImageGeometry, WarpIntoAShiftedSkewedQuadStaysInItsBox) {
  auto src = gradient(4, 4);
  Quad q{{{10, 20}, {18, 22}, {16, 30}, {9, 28}}};
  int32_t x, y, bw, bh;
  uint32_t* out = image_codec::warp_to_quad(src.data(), 4, 4, q, &x, &y, &bw, &bh);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(x, 9);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(bw, 9);
  EXPECT_EQ(bh, 10);
  EXPECT_EQ(out[0], 0u);  // the box corner (9, 20) lies outside the shape
  int inside = 0;
  for (int32_t i = 0; i < bw * bh; ++i) inside += out[i] != 0;
  EXPECT_GT(inside, 40);
  std::free(out);
}

TEST(ImageGeometry, CopyPixelRectCutsAtTheEdgesAndRefusesOutsideStarts) {
  auto src = gradient(4, 3);
  std::vector<uint32_t> out(12, 7);
  EXPECT_FALSE(image_codec::copy_pixel_rect(src.data(), 4, 3, -1, 0, 2, 2, out.data()));
  EXPECT_FALSE(image_codec::copy_pixel_rect(src.data(), 4, 3, 4, 0, 1, 1, out.data()));
  EXPECT_EQ(out[0], 7u) << "nothing copied";
  ASSERT_TRUE(image_codec::copy_pixel_rect(src.data(), 4, 3, 2, 1, 5, 5, out.data()));
  // Cut to 2 x 2, packed.
  EXPECT_EQ(out[0], src[1 * 4 + 2]);
  EXPECT_EQ(out[1], src[1 * 4 + 3]);
  EXPECT_EQ(out[2], src[2 * 4 + 2]);
  EXPECT_EQ(out[3], src[2 * 4 + 3]);
}

TEST(ImageGeometry, ResizeKeepsOnlyAnExactBox) {
  auto src = gradient(2, 2);
  uint32_t* out = image_codec::resize_buffer(src.data(), 2, 2, 4, 4);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[0], src[0]);
  std::free(out);
  EXPECT_EQ(image_codec::resize_buffer(src.data(), 2, 2, 0, 4), nullptr);
}

TEST(ImageGeometry, VectorsAndTheInsideTest) {
  image_codec::Vec v{3, 4};
  EXPECT_DOUBLE_EQ(image_codec::vector_length(v), 5.0);
  image_codec::normalize(&v);
  EXPECT_DOUBLE_EQ(v.x, 0.6);
  EXPECT_DOUBLE_EQ(image_codec::cross({1, 0}, {0, 1}), 1.0);
  Quad q{{{0, 0}, {4, 0}, {4, 4}, {0, 4}}};
  EXPECT_TRUE(image_codec::inside_quad_q(q, {2, 2}));
  EXPECT_TRUE(image_codec::inside_quad_q(q, {4, 4})) << "edges count as inside";
  EXPECT_FALSE(image_codec::inside_quad_q(q, {5, 2}));
  image_codec::mirror_corners_x(&q, 10);
  EXPECT_FLOAT_EQ(q.p[1].x, 16.0f);
  image_codec::mirror_corners_y(&q, 1);
  EXPECT_FLOAT_EQ(q.p[2].y, -2.0f);
}

}  // namespace
}  // namespace kel::test
