// Tests of binary!'s byte API (growth, offsets, copies from collected memory, bytes of a
// value, parse tests), the base encoders and decoders against python3's texts and a plain
// base-58 model, and handle! cells of each kind.
#include "runtime/datatypes/binary.h"

#include <random>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/handle.h"
#include "runtime/gc.h"
#include "tests/unit/datatype_fixture.h"

namespace kel::test {
namespace {

#include "tests/unit/base_vectors.inc"

namespace act = datatype::action;

class BinaryTest : public DatatypeTest {
 protected:
  // A new empty binary on the stack (a root the collector updates).
  Cell* fresh(int32_t room) {
    Cell* b = stack::reserve_cell();
    *b = NONE();
    Cell made;
    binary::init_cell(&made, room);
    *b = made;
    return b;
  }
  static std::string bytes(const Cell* b) {
    return std::string(reinterpret_cast<const char*>(binary::head_byte_pointer(b)),
                       size_t(binary::byte_count(b)));
  }
  static Cell* val(const Cell& c) { return stack::push_copy(&c); }
  static int32_t capacity(const Cell* b) { return memory::node_buffer(b->w2)->capacity; }
};

std::string from_hex(const char* hex) {
  std::string out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
    out.push_back(char(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return out;
}

std::string encode(int32_t base, const std::string& in) {
  int64_t room = 0;
  EXPECT_TRUE(binary::encoded_capacity(base, int64_t(in.size()), &room));
  std::string out(size_t(room), '\0');
  int64_t n = binary::to_base_text(base, reinterpret_cast<const uint8_t*>(in.data()),
                                   int64_t(in.size()), reinterpret_cast<uint8_t*>(out.data()));
  EXPECT_LE(n, room);
  out.resize(size_t(n));
  return out;
}

bool decode(int32_t base, const std::string& text, std::string* out, uint32_t unit = 1) {
  std::vector<uint8_t> units(text.size() * unit, 0);
  for (size_t i = 0; i < text.size(); ++i) units[i * unit] = uint8_t(text[i]);
  return binary::from_base_text(base, units.data(), int64_t(text.size()), unit, out);
}

// The textbook base 58: repeated division of the whole byte string by 58.
std::string model58(const std::string& in) {
  static const char A[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
  size_t zeros = 0;
  while (zeros < in.size() && in[zeros] == 0) ++zeros;
  std::vector<uint8_t> n(in.begin() + long(zeros), in.end());
  std::string digits;
  while (!n.empty()) {
    uint32_t r = 0;
    std::vector<uint8_t> q;
    for (uint8_t b : n) {
      uint32_t cur = r * 256 + b;
      if (!q.empty() || cur / 58) q.push_back(uint8_t(cur / 58));
      r = cur % 58;
    }
    digits.insert(digits.begin(), A[r]);
    n = q;
  }
  return std::string(zeros, '1') + digits;
}

// ---- Byte API ----

TEST_F(BinaryTest, AppendAndInsertFollowAModelThroughGrowth) {
  open_frame();
  Cell* b = fresh(0);
  EXPECT_EQ(capacity(b), 16);
  std::string model;
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string chunk(size_t(rng() % 40), '\0');
    for (char& c : chunk) c = char(rng());
    const uint8_t* src = reinterpret_cast<const uint8_t*>(chunk.data());
    if (i % 3 == 0) {
      int32_t offset = int32_t(rng() % (model.size() + 1));
      int32_t at = binary::insert_bytes(b, offset, src, int32_t(chunk.size()));
      EXPECT_EQ(at, offset);
      model.insert(size_t(offset), chunk);
    } else {
      int32_t at = binary::append_bytes(b, src, int32_t(chunk.size()));
      EXPECT_EQ(at, int32_t(model.size()));
      model += chunk;
    }
    ASSERT_EQ(bytes(b), model) << i;
  }
}

TEST_F(BinaryTest, InsertGrowsToTheCountPlusTwiceTheCapacity) {
  gc::set_automatic(false);
  open_frame();
  Cell* b = fresh(16);
  std::string twenty(20, 'x');
  binary::insert_bytes(b, 0, reinterpret_cast<const uint8_t*>(twenty.data()), 20);
  EXPECT_GE(capacity(b), 20 + 2 * 16);
  EXPECT_LT(capacity(b), 20 + 2 * 16 + 16);
}

TEST_F(BinaryTest, BytesFromTheSameBufferAreCopiedBeforeGrowth) {
  open_frame();
  Cell* b = fresh(0);
  std::string model = "0123456789ABCDEF";
  binary::append_bytes(b, reinterpret_cast<const uint8_t*>(model.data()), 16);
  for (int i = 0; i < 6; ++i) {
    // The source lies in the buffer that grows under it.
    binary::append_bytes(b, binary::head_byte_pointer(b), binary::byte_count(b));
    model += model;
    binary::insert_bytes(b, 1, binary::head_byte_pointer(b) + 2, 3);
    model.insert(1, model.substr(2, 3));
  }
  EXPECT_EQ(bytes(b), model);
}

TEST_F(BinaryTest, Int32BigEndianIntoReservedRoom) {
  open_frame();
  Cell* b = fresh(8);
  binary::append_int32_be(0x01020304, b);
  binary::append_int32_be(-2, b);
  EXPECT_EQ(bytes(b), std::string("\x01\x02\x03\x04\xFF\xFF\xFF\xFE", 8));
  EXPECT_EQ(binary::byte_at_index(b, 4), 0xFF);
}

TEST_F(BinaryTest, NewFromBytesOnTheStackOrInABlock) {
  open_frame();
  Cell* s = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("abc"), 3);
  EXPECT_EQ(bytes(s), "abc");
  Cell* block = stack::reserve_cell();
  *block = Cell{T_BLOCK, 0, memory::series_new_cells(1), 0};
  for (int i = 0; i < 40; ++i) binary::new_from_bytes(reinterpret_cast<const uint8_t*>("xy"), 2, block);
  SeriesBuffer* bb = memory::node_buffer(block->w2);
  ASSERT_EQ(memory::units(bb), 40u);
  Cell last = memory::head_cells(bb)[39];
  EXPECT_EQ(cell::type(&last), T_BINARY);
  EXPECT_EQ(bytes(&last), "xy");
}

TEST_F(BinaryTest, TrimZeroBytesFromEitherEnd) {
  open_frame();
  using namespace std::string_literals;
  struct Row { bool head, tail; std::string out; } rows[] = {
      {true, true, "\x01\x00\x02"s}, {true, false, "\x01\x00\x02\x00"s},
      {false, true, "\x00\x01\x00\x02"s}, {false, false, "\x00\x01\x00\x02\x00"s}};
  for (const Row& r : rows) {
    Cell* b = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("\x00\x01\x00\x02\x00"), 5);
    binary::trim_zero_bytes(b, r.head, r.tail);
    EXPECT_EQ(bytes(b), r.out);
  }
  Cell* z = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("\x00\x00"), 2);
  binary::trim_zero_bytes(z, true, true);
  EXPECT_EQ(binary::byte_count(z), 0);
}

TEST_F(BinaryTest, MeasuringCountsWhatWritingWrites) {
  open_frame();
  Cell* s = push_text("h\xC3\xA9llo");
  Cell* values[] = {val(I(7)), val(C(0x20AC)), s, binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("ab"), 2)};
  for (Cell* v : values) {
    std::string out;
    int32_t measured = binary::value_to_bytes(nullptr, v, -1, false, binary::MODE_MEASURE);
    int32_t written = binary::value_to_bytes(&out, v, -1, false, binary::MODE_WRITE);
    EXPECT_EQ(measured, written);
    EXPECT_EQ(int32_t(out.size()), written);
  }
  // Measuring does not check the integer's range; writing does.
  Cell* big = val(I(300));
  EXPECT_EQ(binary::value_to_bytes(nullptr, big, -1, false, binary::MODE_MEASURE), 1);
}

TEST_F(BinaryTest, MatchAtHeadAndBitsetLookup) {
  open_frame();
  Cell* b = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("\x41\x42\xFF"), 3);
  EXPECT_TRUE(binary::match_at_head_q(b, push_text("AB"), 0));
  EXPECT_FALSE(binary::match_at_head_q(b, push_text("AC"), 0));
  EXPECT_TRUE(binary::match_at_head_q(b, push_text(""), 0));
  EXPECT_TRUE(binary::match_at_head_q(b, val(C('A')), 0));
  EXPECT_FALSE(binary::match_at_head_q(b, val(I(65)), 0));
  // A codepoint above 255 never matches a byte.
  Cell* wide = push_text("A");
  string::store_codepoint(wide, memory::head(memory::node_buffer(wide->w2)), 0x141);
  EXPECT_FALSE(binary::match_at_head_q(b, wide, 0));
  // Bit 0x80 >> (b mod 8) of byte b / 8; beyond the bits, the complemented flag.
  Cell* bits = stack::reserve_cell();
  *bits = Cell{T_BITSET, 0, memory::series_new_filled(9, 0), 0};
  memory::node_buffer(bits->w2)->tail = memory::node_buffer(bits->w2)->head + 9;
  memory::head(memory::node_buffer(bits->w2))[8] = 0x40;  // 65
  EXPECT_TRUE(binary::head_byte_in_bitset_q(b, bits));
  Cell* ff = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>("\xFF"), 1);
  EXPECT_FALSE(binary::head_byte_in_bitset_q(ff, bits));
  memory::node_buffer(bits->w2)->flags |= sflag::COMPLEMENT;
  EXPECT_TRUE(binary::head_byte_in_bitset_q(ff, bits));
}

// ---- Base encodings ----

TEST_F(BinaryTest, EncodersAndDecodersAgreeWithPython) {
  for (const BaseVector& v : kBaseVectors) {
    std::string data = from_hex(v.hex);
    EXPECT_EQ(encode(64, data), v.b64) << v.hex;
    EXPECT_EQ(encode(16, data), v.b16) << v.hex;
    EXPECT_EQ(encode(2, data), v.b2) << v.hex;
    EXPECT_EQ(encode(58, data), v.b58) << v.hex;
    const std::pair<int32_t, const char*> texts[] = {{64, v.b64}, {16, v.b16}, {2, v.b2}, {58, v.b58}};
    for (auto [base, text] : texts)
      for (uint32_t unit : {1u, 2u, 4u}) {
        std::string out;
        ASSERT_TRUE(decode(base, text, &out, unit)) << base << " " << text;
        EXPECT_EQ(out, data) << base << " " << text;
      }
  }
}

TEST_F(BinaryTest, Base58MatchesThePlainModelOnLongInputs) {
  std::mt19937 rng(58);
  for (int i = 0; i < 60; ++i) {
    std::string data(size_t(rng() % 400), '\0');
    for (char& c : data) c = char(rng() % 7 == 0 ? 0 : rng());
    std::string text = model58(data);
    EXPECT_EQ(encode(58, data), text);
    std::string back;
    ASSERT_TRUE(decode(58, text, &back));
    EXPECT_EQ(back, data);
  }
}

TEST_F(BinaryTest, CapacityOverflowIsRefused) {
  int64_t room = 0;
  EXPECT_TRUE(binary::encoded_capacity(64, 1000, &room));
  EXPECT_EQ(room, (1000 / 3) * 4 + (1000 % 3) * 4 / 3 + (1000 / 32) * 2 + 5);
  EXPECT_FALSE(binary::encoded_capacity(2, int64_t(1) << 28, &room));
  EXPECT_FALSE(binary::encoded_capacity(16, int64_t(1) << 30, &room));
  EXPECT_TRUE(binary::encoded_capacity(58, 1000000, &room));
}

// ---- handle! ----

TEST_F(BinaryTest, HandlesOfEachKind) {
  open_frame();
  Cell w, f;
  handle::init_cell(&w, 255, handle::KIND_WINDOW);
  handle::init_cell(&f, 255, handle::KIND_FONT);
  EXPECT_EQ(w.w3, 0xFFFFFFFFu);
  EXPECT_EQ(form(w), "000000FFh");
  EXPECT_EQ(mold(w), "handle!");
  EXPECT_EQ(mold(w, true), "#[handle! 000000FFh window]");
  EXPECT_EQ(mold(f, true), "#[handle! 000000FFh font]");
  EXPECT_TRUE(compare(w, f, 0));
  const char* names[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
  for (uint32_t k = 0; k < 6; ++k) {
    Cell h;
    handle::init_cell(&h, -1, k);
    EXPECT_STREQ(handle::kind_name(k), names[k]);
    std::string expected = k == 0 ? "#[handle! FFFFFFFFh]" : std::string("#[handle! FFFFFFFFh ") + names[k] + "]";
    EXPECT_EQ(mold(h, true), expected);
  }
  Cell a, b;
  handle::init_cell(&a, -5, handle::KIND_FD);
  handle::init_cell(&b, 3, handle::KIND_FD);
  EXPECT_TRUE(compare(a, b, 3));  // signed: -5 < 3
  EXPECT_FALSE(compare(a, I(-5), 0));
  open_frame();
  Cell* pushed = handle::push_new(9, handle::KIND_MONITOR);
  EXPECT_EQ(pushed->w1, handle::KIND_MONITOR);
  EXPECT_EQ(pushed->w2, 9u);
  Cell* null = handle::push_null();
  EXPECT_EQ(null->w1, 0u);
  EXPECT_EQ(null->w2, 0u);
}

}  // namespace
}  // namespace kel::test
