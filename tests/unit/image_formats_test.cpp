// Image file formats at the byte level: BMP variants built by hand, round trips of every
// encoder, and refusals of corrupt and hostile input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/io/image_formats.h"

namespace kel::test {
namespace {

using namespace image_format;
using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A BMP with a 40-byte header (or a 12-byte core header), the palette and the pixel bytes.
Bytes bmp(int32_t w, int32_t h, uint32_t bpp, uint32_t compression, const Bytes& palette,
          const Bytes& pixels, bool core = false, const Bytes& masks = {}) {
  size_t header = core ? 12 : 40;
  size_t offset = 14 + header + masks.size() + palette.size();
  Bytes b(offset, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, uint32_t(offset + pixels.size()));
  put32(b, 10, uint32_t(offset));
  put32(b, 14, uint32_t(header));
  if (core) {
    put16(b, 18, uint32_t(w));
    put16(b, 20, uint32_t(h));
    put16(b, 22, 1);
    put16(b, 24, bpp);
  } else {
    put32(b, 18, uint32_t(w));
    put32(b, 22, uint32_t(h));
    put16(b, 26, 1);
    put16(b, 28, bpp);
    put32(b, 30, compression);
  }
  std::copy(masks.begin(), masks.end(), b.begin() + 14 + long(header));
  std::copy(palette.begin(), palette.end(), b.begin() + 14 + long(header + masks.size()));
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

struct Decoded {
  bool ok;
  int32_t w, h;
  std::vector<uint32_t> px;
};
Decoded decode(const Bytes& b) {
  Pixels p;
  int32_t status = decode_any(b.data(), b.size(), &p);
  Decoded d{status == 0, p.width, p.height, {}};
  if (status == 0) d.px.assign(p.data, p.data + size_t(p.width) * size_t(p.height));
  std::free(p.data);
  return d;
}

TEST(ImageFormats, BmpVariants) {
  Bytes pal2 = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};  // black, white
  struct Row {
    const char* what;
    Bytes file;
    std::vector<uint32_t> want;
  } rows[] = {
      // 24-bit bottom-up with padded rows: the second file row is the top.
      {"24-bit bottom-up", bmp(1, 2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}),
       {0xFF060504u, 0xFF030201u}},
      {"24-bit top-down", bmp(1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}),
       {0xFF030201u, 0xFF060504u}},
      {"1-bit palette", bmp(3, 1, 1, 0, pal2, {0xA0, 0, 0, 0}),
       {0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu}},
      {"4-bit palette", bmp(2, 1, 4, 0, pal2, {0x10, 0, 0, 0}), {0xFFFFFFFFu, 0xFF000000u}},
      {"8-bit core header", bmp(2, 1, 8, 0, {9, 8, 7, 1, 2, 3}, {1, 0, 0, 0}, true),
       {0xFF030201u, 0xFF070809u}},
      {"16-bit 5-5-5", bmp(1, 1, 16, 0, {}, {0x1F, 0x7C, 0, 0}), {0xFFFF00FFu}},
      {"32-bit BI_RGB, fourth byte 0: opaque", bmp(1, 1, 32, 0, {}, {1, 2, 3, 0}), {0xFF030201u}},
      {"32-bit BI_RGB with alpha in use", bmp(2, 1, 32, 0, {}, {1, 2, 3, 0x80, 4, 5, 6, 0}),
       {0x80030201u, 0x00060504u}},
      {"32-bit bitfields after a 40-byte header (no alpha mask: opaque)",
       bmp(1, 1, 32, 3, {}, {0x11, 0x22, 0x33, 0x44}, false,
           {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0}),
       {0xFF332211u}},
      {"RLE8 runs, an absolute run and end of bitmap",
       bmp(5, 1, 8, 1, {1, 1, 1, 0, 2, 2, 2, 0}, {2, 1, 0, 3, 0, 1, 1, 0, 0, 1}),
       {0xFF020202u, 0xFF020202u, 0xFF010101u, 0xFF020202u, 0xFF020202u}},
      {"RLE8 delta leaves skipped pixels transparent",
       bmp(3, 2, 8, 1, {1, 1, 1, 0}, {1, 0, 0, 2, 1, 1, 1, 0, 0, 1}),
       {0u, 0u, 0xFF010101u, 0xFF010101u, 0u, 0u}},
      {"RLE4 run of alternating indexes", bmp(3, 1, 4, 2, pal2, {3, 0x01, 0, 1}),
       {0xFF000000u, 0xFFFFFFFFu, 0xFF000000u}},
  };
  for (auto& r : rows) {
    Decoded d = decode(r.file);
    ASSERT_TRUE(d.ok) << r.what;
    EXPECT_EQ(d.px, r.want) << r.what;
  }
}

TEST(ImageFormats, BmpBitfieldsMasksFollowAFortyByteHeader) {
  Bytes masks(12);
  put32(masks, 0, 0xF800);
  put32(masks, 4, 0x07E0);
  put32(masks, 8, 0x001F);
  Bytes file = bmp(1, 1, 16, 3, {}, {0xE0, 0x07, 0, 0}, false, masks);  // pure green 5-6-5
  Decoded d = decode(file);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.px[0], 0xFF00FF00u);
}

TEST(ImageFormats, EveryEncoderRoundTrips) {
  std::vector<uint32_t> px = {0xFFFF0000u, 0x7F00FF00u, 0xFF0000FFu, 0x00FFFFFFu};
  for (int32_t code : {BMP, PNG, TIFF}) {
    Sink s{nullptr, 0, 0, false};
    ASSERT_TRUE(encode_any(code, px.data(), 2, 2, &s)) << code;
    Decoded d = decode(Bytes(s.data, s.data + s.size));
    sink_free(&s);
    ASSERT_TRUE(d.ok) << code;
    EXPECT_EQ(d.w, 2);
    EXPECT_EQ(d.px, px) << code;
  }
  Sink s{nullptr, 0, 0, false};
  ASSERT_TRUE(encode_any(GIF, px.data(), 2, 2, &s));
  Decoded g = decode(Bytes(s.data, s.data + s.size));
  sink_free(&s);
  ASSERT_TRUE(g.ok);
  // Alpha below 128 is transparent (all zero); the others opaque.
  EXPECT_EQ(g.px, (std::vector<uint32_t>{0xFFFF0000u, 0u, 0xFF0000FFu, 0u}));
  std::vector<uint32_t> flat(64, 0xFF336699u);
  ASSERT_TRUE(encode_any(JPEG, flat.data(), 8, 8, &s));
  Decoded j = decode(Bytes(s.data, s.data + s.size));
  sink_free(&s);
  ASSERT_TRUE(j.ok);
  for (uint32_t p : j.px)
    for (int k = 0; k < 24; k += 8)
      EXPECT_NEAR(double((p >> k) & 255), double((0xFF336699u >> k) & 255), 3.0);
  EXPECT_FALSE(encode_any(7, px.data(), 2, 2, &s));
}

TEST(ImageFormats, CorruptAndHostileInputIsRefused) {
  Bytes huge = bmp(1, 1, 24, 0, {}, {0, 0, 0, 0});
  put32(huge, 18, 65535);
  put32(huge, 22, 65535);
  Bytes wide = bmp(1, 1, 24, 0, {}, {0, 0, 0, 0});
  put32(wide, 18, 70000);
  Bytes short_rows = bmp(4, 4, 24, 0, {}, {1, 2, 3});
  Bytes png_head = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
  Bytes gif_screen = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, ';'};
  Bytes jpeg_head = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0};
  Bytes tiff_head = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  for (const Bytes* b : {&huge, &wide, &short_rows, &png_head, &gif_screen, &jpeg_head, &tiff_head}) {
    Pixels p;
    EXPECT_EQ(decode_any(b->data(), b->size(), &p), 2);
    EXPECT_EQ(p.data, nullptr);
  }
  Bytes unknown = {0, 1, 2, 3};
  Pixels p;
  EXPECT_EQ(decode_any(unknown.data(), unknown.size(), &p), 1);
}

TEST(ImageFormats, SniffingByMagicBytes) {
  struct Row {
    Bytes bytes;
    int32_t code;
  } rows[] = {
      {{0x89, 0x50, 0x4E, 0x47}, PNG},           {{0xFF, 0xD8, 0xFF}, JPEG},
      {{0x42, 0x4D}, BMP},                       {{'G', 'I', 'F', '8', '7', 'a'}, GIF},
      {{'G', 'I', 'F', '8', '9', 'a'}, GIF},     {{'G', 'I', 'F', '8', '8', 'a'}, -1},
      {{0x49, 0x49, 0x2A, 0x00}, TIFF},          {{0x4D, 0x4D, 0x00, 0x2A}, TIFF},
      {{0x4D, 0x4D, 0x2A, 0x00}, -1},            {{0x42}, -1},
  };
  for (auto& r : rows) EXPECT_EQ(sniff(r.bytes.data(), r.bytes.size()), r.code);
}

}  // namespace
}  // namespace kel::test
