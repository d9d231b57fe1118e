// Unit tests of the LZ block codec: the packer's limits, exact bit streams of the small
// cases, round trips over several blocks, and the unpacker's refusals.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/io/lz.h"

using namespace kel;

namespace {

std::vector<uint8_t> container(std::vector<uint8_t> blocks, uint32_t unpacked) {
  std::vector<uint8_t> c;
  uint32_t p = uint32_t(blocks.size());
  for (int i = 0; i < 4; ++i) c.push_back(uint8_t(p >> (8 * i)));
  for (int i = 0; i < 4; ++i) c.push_back(uint8_t(unpacked >> (8 * i)));
  c.insert(c.end(), blocks.begin(), blocks.end());
  return c;
}

std::vector<uint8_t> round_trip(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> packed(in.size());
  int64_t n = lz::pack(in.data(), in.size(), packed.data());
  EXPECT_GT(n, 0);
  std::vector<uint8_t> out;
  EXPECT_TRUE(lz::unpack(packed.data(), size_t(n), &out));
  return out;
}

}  // namespace

TEST(Lz, ShortInputsAreNotPacked) {
  std::vector<uint8_t> in(127, 'a'), out(127);
  EXPECT_EQ(lz::pack(in.data(), in.size(), out.data()), -1);
  in.resize(128, 'a');
  out.resize(128);
  EXPECT_GT(lz::pack(in.data(), in.size(), out.data()), 0);
}

TEST(Lz, IncompressibleInputDoesNotFit) {
  std::mt19937 rng(7);
  std::vector<uint8_t> in(4096), out(4096);
  for (auto& b : in) b = uint8_t(rng());
  EXPECT_EQ(lz::pack(in.data(), in.size(), out.data()), -1);
}

TEST(Lz, MixedDataOverSeveralBlocksComesBackExactly) {
  std::mt19937 rng(11);
  std::vector<uint8_t> in(3 * 1024 * 1024 + 123);
  for (size_t i = 0; i < in.size(); ++i) {
    size_t region = (i / 50000) % 4;
    in[i] = region == 0 ? uint8_t(rng() % 4)              // few symbols
            : region == 1 ? uint8_t(i % 251)              // long period
            : region == 2 ? uint8_t("kel kelbin lz "[i % 14])  // short text repeats
                          : uint8_t(rng() >> 24 & 0x0F);  // noise with structure
  }
  EXPECT_EQ(round_trip(in), in);
}

TEST(Lz, LongRunsAndFarMatches) {
  std::vector<uint8_t> in(300000, 0x55);
  for (size_t i = 0; i < 1000; ++i) in[i] = uint8_t(i * 7);
  for (size_t i = 0; i < 1000; ++i) in[200000 + i] = uint8_t(i * 7);  // 200,000 bytes back
  EXPECT_EQ(round_trip(in), in);
}

TEST(Lz, SmallStreams) {
  std::vector<uint8_t> out;
  // One literal 'A': bit 0, then the byte's 8 bits, padded.
  ASSERT_TRUE(lz::unpack(container({1, 0, 0, 0, 0x82, 0x00}, 1).data(), 14, &out));
  EXPECT_EQ(out, std::vector<uint8_t>{0x41});
  // A literal, then a match of 3 at distance 1: 1, 1 00, 0000, 000.
  ASSERT_TRUE(lz::unpack(container({4, 0, 0, 0, 0x82, 0x06, 0x00}, 4).data(), 15, &out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x41, 0x41, 0x41, 0x41}));
}

TEST(Lz, Refusals) {
  std::vector<uint8_t> out;
  struct Case {
    std::vector<uint8_t> bytes;
    const char* why;
  } cases[] = {
      {container({0, 0, 0, 0}, 0), "block length 0"},
      {container({1, 0, 0x10, 0, 0x82, 0}, 1), "block length over 1 MB"},
      {container({2, 0, 0, 0, 0x82, 0}, 1), "block longer than the declared total"},
      {container({4, 0, 0, 0, 0x03, 0x00}, 4), "match before the block start"},
      {container({2, 0, 0, 0, 0x82, 0x06, 0}, 2), "match past the block end"},
      {container({4, 0, 0, 0, 0x82}, 4), "stream ends inside the block"},
      {container({1, 0, 0}, 1), "truncated length word"},
      {{1, 0, 0, 0}, "no header"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(lz::unpack(c.bytes.data(), c.bytes.size(), &out)) << c.why;
    EXPECT_TRUE(out.empty()) << c.why;
  }
  // A declared size in gigabytes allocates nothing until blocks deliver it.
  std::vector<uint8_t> huge = container({1, 0, 0, 0, 0x82, 0x00}, 0xFFFFFFF0u);
  ASSERT_TRUE(lz::unpack(huge.data(), huge.size(), &out));
  EXPECT_LT(out.capacity(), 1024u);
}
