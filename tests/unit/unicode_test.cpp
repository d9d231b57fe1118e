// Unicode codecs: the DFA against Python's strict UTF-8, the checked decoder and its
// error, loading UTF-8/UTF-16LE into strings with widening, encoders and conversion buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/unwind.h"
#include "memory_fixture.h"

using namespace kel;
using namespace kel::unicode;

namespace {

#include "utf8_vectors.inc"

struct Crc32 {
  uint32_t table[256];
  uint32_t value = 0xFFFFFFFF;
  Crc32() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  void word(uint32_t w) {
    for (int k = 0; k < 4; ++k) value = table[(value ^ (w >> (8 * k))) & 0xFF] ^ (value >> 8);
  }
  uint32_t result() const { return value ^ 0xFFFFFFFF; }
};

// Hashes the DFA's verdicts the way the generator hashes Python's; returns valid inputs.
struct VerdictStream {
  Crc32 crc;
  uint32_t valid = 0;
  bool first = true;
  void add(const uint8_t* in, size_t n) {
    if (!first) crc.word(0xD800);
    first = false;
    int32_t cps[4];
    int k = 0;
    const uint8_t* p = in;
    const uint8_t* end = in + n;
    bool ok = true;
    while (p < end) {
      p = read_utf8_char(p, end, &cps[k]);
      if (cps[k++] < 0) ok = false;
    }
    if (!ok) {
      crc.word(0xDFFF);
      return;
    }
    ++valid;
    for (int i = 0; i < k; ++i) crc.word(uint32_t(cps[i]));
  }
};

class Unicode : public test::MemoryTest {
 protected:
  // A string cell of the given unit holding the codepoints.
  static Cell make_string(const std::vector<int32_t>& cps, uint32_t unit) {
    Node n = memory::series_new(uint32_t(std::max<size_t>(cps.size(), 1)), unit, 0);
    SeriesBuffer* b = memory::node_buffer(n);
    for (size_t i = 0; i < cps.size(); ++i) store_unit(memory::head(b) + i * unit, unit, cps[i]);
    b->tail = b->head + uint32_t(cps.size() * unit);
    return Cell{T_STRING, 0, n, 0};
  }
  static std::vector<int32_t> chars(Node n) {
    SeriesBuffer* b = memory::node_buffer(n);
    std::vector<int32_t> out;
    for (uint32_t i = 0; i < memory::units(b); ++i)
      out.push_back(load_unit(memory::head(b) + i * memory::unit(b), memory::unit(b)));
    return out;
  }
  static uint32_t unit_of(Node n) { return memory::unit(memory::node_buffer(n)); }
  static std::vector<uint8_t> bytes(std::initializer_list<int> l) { return {l.begin(), l.end()}; }

  // Runs f, expects the error at pos, returns the pending record.
  template <class F>
  static const error::Pending& expect_error(ErrorPos pos, F f) {
    try {
      f();
      ADD_FAILURE() << "no error raised";
    } catch (const Unwind& u) {
      EXPECT_EQ(u.code, unwind_code::ERROR);
    }
    const error::Pending& e = error::pending();
    EXPECT_EQ(e.category, pos.category);
    EXPECT_EQ(e.id, pos.id);
    return e;
  }
  static std::vector<uint8_t> binary_bytes(const Cell& c) {
    EXPECT_EQ(cell::type(&c), T_BINARY);
    SeriesBuffer* b = memory::node_buffer(c.w2);
    return {memory::head(b) + c.w1, memory::tail(b)};
  }
};

}  // namespace

TEST(Utf8Dfa, MatchesPythonStrictDecoder) {
  uint8_t in[4];
  {
    VerdictStream s;
    for (int a = 0; a < 256; ++a) in[0] = uint8_t(a), s.add(in, 1);
    EXPECT_EQ(s.valid, kValid1);
    EXPECT_EQ(s.crc.result(), kCrc1);
  }
  {
    VerdictStream s;
    for (int a = 0; a < 65536; ++a) in[0] = uint8_t(a >> 8), in[1] = uint8_t(a), s.add(in, 2);
    EXPECT_EQ(s.valid, kValid2);
    EXPECT_EQ(s.crc.result(), kCrc2);
  }
  for (int a = 0; a < 256; ++a) {
    VerdictStream s;
    in[0] = uint8_t(a);
    for (int bc = 0; bc < 65536; ++bc) in[1] = uint8_t(bc >> 8), in[2] = uint8_t(bc), s.add(in, 3);
    EXPECT_EQ(s.valid, kCrc3[a][1]) << "first byte " << a;
    EXPECT_EQ(s.crc.result(), kCrc3[a][0]) << "first byte " << a;
  }
  {
    VerdictStream s;
    for (uint8_t a : kBoundary)
      for (uint8_t b : kBoundary)
        for (uint8_t c : kBoundary)
          for (uint8_t d : kBoundary) in[0] = a, in[1] = b, in[2] = c, in[3] = d, s.add(in, 4);
    EXPECT_EQ(s.valid, kValid4Boundary);
    EXPECT_EQ(s.crc.result(), kCrc4Boundary);
  }
  {
    VerdictStream s;
    uint32_t x = kRandomSeed;
    for (uint32_t i = 0; i < kRandomCount; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      in[0] = uint8_t(0xF0 + (x & 7)), in[1] = uint8_t(0x80 + ((x >> 3) & 0x3F));
      in[2] = uint8_t(0x80 + ((x >> 9) & 0x3F)), in[3] = uint8_t(0x80 + ((x >> 15) & 0x3F));
      s.add(in, 4);
    }
    EXPECT_EQ(s.valid, kValid4Random);
    EXPECT_EQ(s.crc.result(), kCrc4Random);
  }
}

TEST(Utf8Dfa, RoundTripsEveryScalarValue) {
  uint8_t buf[4];
  for (int32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    int32_t n = encode_utf8_char(cp, buf);
    ASSERT_EQ(n, utf8_length_of(cp));
    int32_t back;
    const uint8_t* after = read_utf8_char(buf, buf + n, &back);
    bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    ASSERT_EQ(back, surrogate ? -1 : cp) << std::hex << cp;
    ASSERT_EQ(after, surrogate ? buf + 2 : buf + n);  // the byte that rejects is consumed
  }
}

TEST(Utf8Dfa, CountAndAdvanceStepBySequence) {
  // a, é, a rejected lead, a cut 3-byte sequence at the end.
  const auto in = std::vector<uint8_t>{'a', 0xC3, 0xA9, 0x80, 'b', 0xE2, 0x82};
  const uint8_t* s = in.data();
  const uint8_t* e = s + in.size();
  EXPECT_EQ(utf8_char_count(s, e), 5);
  EXPECT_EQ(utf8_advance(s, e, 2), s + 3);
  EXPECT_EQ(utf8_advance(s, e, 4), s + 5);
  EXPECT_EQ(utf8_advance(s, e, 100), e);
  EXPECT_EQ(utf8_advance(s, e, 0), s);
  int32_t cp;
  EXPECT_EQ(read_utf8_char(s + 5, e, &cp), e);  // never reads past the end
  EXPECT_EQ(cp, -1);
}

TEST(Utf8Dfa, LeadLength) {
  const std::pair<int, int> rows[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2},
                                      {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
  for (auto [b, n] : rows) EXPECT_EQ(utf8_lead_length(uint8_t(b)), n) << b;
}

TEST_F(Unicode, CheckedDecoderAcceptsAndCounts) {
  struct Row { std::vector<uint8_t> in; int32_t cp, used; };
  const Row rows[] = {
      {{0x41}, 0x41, 1},
      {{0xC3, 0xA9}, 0xE9, 2},
      {{0xC0, 0x80}, 0, 2},                      // overlong 2-byte forms are accepted
      {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
      {{0xED, 0xA0, 0x80}, 0xD800, 3},           // only 0xDC00-0xDCFF is refused
      {{0xED, 0xB4, 0x80}, 0xDD00, 3},
      {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
      {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
      {{0xE2, 0x82}, -1, 0},                     // fewer bytes than announced
      {{0xF0, 0x9F, 0x98}, -1, 0},
  };
  for (const Row& r : rows) {
    int32_t count = int32_t(r.in.size());
    EXPECT_EQ(read_utf8_char_checked(r.in.data(), &count), r.cp);
    if (r.cp >= 0) {
      EXPECT_EQ(count, r.used);
    }
  }
}

TEST_F(Unicode, CheckedDecoderReportsAtMostFourPresentBytes) {
  struct Row { std::vector<uint8_t> in; std::vector<uint8_t> shown; };
  const Row rows[] = {
      {{0xED, 0xB0, 0x80}, {0xED, 0xB0, 0x80}},
      {{0xED, 0xB0, 0x80, 'a', 'b'}, {0xED, 0xB0, 0x80, 'a'}},
      {{0x80}, {0x80}},
      {{0xF8, 0x80, 0x80, 0x80, 0x80}, {0xF8, 0x80, 0x80, 0x80}},
      {{0xC3, 0x41}, {0xC3, 0x41}},
      {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},
  };
  for (const Row& r : rows) {
    int32_t count = int32_t(r.in.size());
    const auto& e = expect_error(err::access::invalid_utf8, [&] { read_utf8_char_checked(r.in.data(), &count); });
    EXPECT_EQ(binary_bytes(e.args[0]), r.shown);
  }
}

TEST_F(Unicode, Utf8LoadWidensAsWiderCharactersArrive) {
  auto in = bytes({0xC3, 0xA9});
  Node n = utf8_to_new_string(in.data(), int32_t(in.size()));
  gc::Root keep(&n);
  EXPECT_EQ(unit_of(n), 1u);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{0xE9}));

  in = bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC});
  n = utf8_to_new_string(in.data(), int32_t(in.size()));
  EXPECT_EQ(unit_of(n), 2u);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{0xE9, 0x20AC}));

  in = bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 'z'});
  n = utf8_to_new_string(in.data(), int32_t(in.size()));
  EXPECT_EQ(unit_of(n), 4u);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{0xE9, 0x20AC, 0x1F600, 'z'}));

  // Straight from 1 to 4 bytes, after a long narrow run.
  std::vector<uint8_t> long_in(1000, 'x');
  for (uint8_t b : {0xF0, 0x9F, 0x98, 0x80}) long_in.push_back(b);
  n = utf8_to_new_string(long_in.data(), int32_t(long_in.size()));
  std::vector<int32_t> expect(1000, 'x');
  expect.push_back(0x1F600);
  EXPECT_EQ(unit_of(n), 4u);
  EXPECT_EQ(chars(n), expect);
}

TEST_F(Unicode, Utf8LoadEdges) {
  int32_t unread = 99;
  auto bom = bytes({0xEF, 0xBB, 0xBF});
  Node n = utf8_to_string(bom.data(), 3, 0, &unread, false);
  gc::Root keep(&n);
  EXPECT_TRUE(chars(n).empty());
  EXPECT_EQ(unread, 0);

  auto crlf = bytes({0x61, 0x0D, 0x0A, 0x62, 0x0D, 0x63});
  n = utf8_to_string(crlf.data(), 6, 0, &unread, true);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{0x61, 0x0A, 0x62, 0x0A, 0x63}));
  n = utf8_to_string(crlf.data(), 6, 0, &unread, false);
  EXPECT_EQ(chars(n).size(), 6u);

  auto cut = bytes({'a', 'b', 0xE2, 0x82});
  n = utf8_to_string(cut.data(), 4, 0, &unread, false);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{'a', 'b'}));
  EXPECT_EQ(unread, 2);

  n = utf8_to_string(nullptr, 0, 0, &unread, false);
  EXPECT_TRUE(chars(n).empty());
  EXPECT_EQ(unread, 0);
}

TEST_F(Unicode, Utf8LoadIntoAStringKeepsItsNodeAndUnit) {
  Cell s = make_string({0x100, 0x101}, 2);
  gc::Root keep(&s);
  auto in = bytes({'h', 'i'});
  int32_t unread = -1;
  Node n = utf8_into_string(in.data(), 2, &s, &unread);
  EXPECT_EQ(n, s.w2);
  EXPECT_EQ(unit_of(s.w2), 2u);  // loading never narrows
  EXPECT_EQ(chars(s.w2), (std::vector<int32_t>{'h', 'i'}));
  EXPECT_EQ(unread, 0);

  std::vector<uint8_t> big(500, 'q');
  utf8_into_string(big.data(), int32_t(big.size()), &s, &unread);
  EXPECT_EQ(chars(s.w2), std::vector<int32_t>(500, 'q'));
}

TEST_F(Unicode, Utf8LoadRaisesOnMalformedInput) {
  auto in = bytes({'a', 'b', 0xED, 0xB0, 0x80, 'c'});
  const auto& e = expect_error(err::access::invalid_utf8, [&] { utf8_to_new_string(in.data(), int32_t(in.size())); });
  EXPECT_EQ(binary_bytes(e.args[0]), bytes({0xED, 0xB0, 0x80, 'c'}));
  auto lone = bytes({'a', 0xBF});
  const auto& e2 = expect_error(err::access::invalid_utf8, [&] { utf8_to_new_string(lone.data(), 2); });
  EXPECT_EQ(binary_bytes(e2.args[0]), bytes({0xBF}));
}

TEST_F(Unicode, Utf8LoadFromCollectedMemory) {
  // The input bytes live in a series that the load's own allocations may move.
  Node src = memory::series_new_bytes(8);
  gc::Root keep_src(&src);
  const uint8_t text[] = {'a', 0xF0, 0x9F, 0x98, 0x80, 'b'};
  SeriesBuffer* b = memory::node_buffer(src);
  std::memcpy(memory::head(b), text, sizeof text);
  Node n = utf8_to_new_string(memory::head(b), sizeof text);
  gc::Root keep(&n);
  EXPECT_EQ(chars(n), (std::vector<int32_t>{'a', 0x1F600, 'b'}));
}

TEST_F(Unicode, Utf16Load) {
  auto u16 = [](std::initializer_list<int> units) {
    std::vector<uint8_t> out;
    for (int u : units) out.push_back(uint8_t(u)), out.push_back(uint8_t(u >> 8));
    return out;
  };
  struct Row { std::vector<uint8_t> in; bool cr; uint32_t unit; std::vector<int32_t> chars; };
  const Row rows[] = {
      {u16({0xD83D, 0xDE00}), false, 4, {0x1F600}},
      {u16({'a', 0xD83D, 0xDE00, 'b'}), false, 4, {'a', 0x1F600, 'b'}},
      {u16({'a', 0xE9}), false, 1, {'a', 0xE9}},
      {u16({'a', 0x20AC}), false, 2, {'a', 0x20AC}},
      {u16({'a', 0x0D, 0x0A, 'b'}), true, 1, {'a', 0x0A, 'b'}},
      {u16({'a', 0x0D, 0x0A, 'b'}), false, 1, {'a', 0x0D, 0x0A, 'b'}},
      {u16({0xDC00, 'x'}), false, 4, {0xDC00, 'x'}},  // a lone low surrogate is kept
      {{}, false, 1, {}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(utf16_unit_size(r.in.data(), int32_t(r.in.size() / 2)), r.unit);
    Node n = utf16le_to_string(r.in.data(), int32_t(r.in.size() / 2), nullptr, r.cr);
    gc::Root keep(&n);
    EXPECT_EQ(unit_of(n), r.unit);
    EXPECT_EQ(chars(n), r.chars);
    EXPECT_TRUE(memory::node_buffer(n)->flags & sflag::UTF16_LOADER);
  }
  for (const auto& bad : {u16({0xD83D, 0x0041}), u16({'a', 0xD83D}), u16({0xDBFF, 0xD800, 0xDC00})}) {
    const error::Pending& e = expect_error(err::script::invalid_char, [&] {
      utf16le_to_string(bad.data(), int32_t(bad.size() / 2), nullptr, false);
    });
    EXPECT_EQ(cell::type(&e.args[0]), uint32_t(T_INTEGER));
    EXPECT_GE(e.args[0].w2, 0xD800u);  // the unpaired high surrogate
    EXPECT_LE(e.args[0].w2, 0xDBFFu);
  }
}

TEST_F(Unicode, Utf16LoadIntoATargetAndFromItsConversionBuffer) {
  Cell s = make_string({0x1F600, 0x1F601}, 4);
  gc::Root keep(&s);
  const uint8_t in[] = {'o', 0, 'k', 0};
  Node n = utf16le_to_string(in, 2, &s, false);
  EXPECT_EQ(n, s.w2);
  EXPECT_EQ(unit_of(s.w2), 1u);  // the whole content is replaced: it takes the unit it needs
  EXPECT_EQ(chars(s.w2), (std::vector<int32_t>{'o', 'k'}));

  // With no bytes the source is the target's own conversion buffer.
  uint8_t* conv = conversion_buffer(&s, 8);
  const uint8_t units[] = {0x3D, 0xD8, 0x00, 0xDE, 'z', 0};
  std::memcpy(conv, units, sizeof units);
  utf16le_to_string(nullptr, 3, &s, false);
  EXPECT_EQ(chars(s.w2), (std::vector<int32_t>{0x1F600, 'z'}));
}

TEST_F(Unicode, CodepointEncoders) {
  struct Row { int32_t cp; std::vector<uint8_t> utf8; std::vector<uint16_t> utf16; };
  const Row rows[] = {
      {0, {0}, {0}},
      {0x7F, {0x7F}, {0x7F}},
      {0x80, {0xC2, 0x80}, {0x80}},
      {0x7FF, {0xDF, 0xBF}, {0x7FF}},
      {0x800, {0xE0, 0xA0, 0x80}, {0x800}},
      {0xD800, {0xED, 0xA0, 0x80}, {0xD800}},  // surrogates are encoded like any other
      {0xFFFF, {0xEF, 0xBF, 0xBF}, {0xFFFF}},
      {0x10000, {0xF0, 0x90, 0x80, 0x80}, {0xD800, 0xDC00}},
      {0x1F600, {0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}},
      {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},
  };
  for (const Row& r : rows) {
    uint8_t b[4];
    uint16_t w[2];
    ASSERT_EQ(encode_utf8_char(r.cp, b), int32_t(r.utf8.size()));
    EXPECT_EQ(std::vector<uint8_t>(b, b + r.utf8.size()), r.utf8);
    EXPECT_EQ(utf8_length_of(r.cp), int32_t(r.utf8.size()));
    ASSERT_EQ(encode_utf16_char(r.cp, w), int32_t(r.utf16.size()));
    EXPECT_EQ(std::vector<uint16_t>(w, w + r.utf16.size()), r.utf16);
    uint8_t lim[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(encode_utf8_char_limited(r.cp, lim, 2), std::min<int32_t>(2, int32_t(r.utf8.size())));
    EXPECT_EQ(encode_utf8_char_limited(r.cp, lim, 0), 0);
  }
  uint16_t w[2] = {7, 7};
  EXPECT_EQ(encode_utf16_char(0x110000, w), 0);
  EXPECT_EQ(w[0], 7);
  uint8_t b[4];
  for (int32_t bad : {0x110000, -1}) {
    const auto& e = expect_error(err::script::invalid_char, [&] { encode_utf8_char(bad, b); });
    EXPECT_EQ(cell::type(&e.args[0]), T_INTEGER);
    EXPECT_EQ(cell::get_int(&e.args[0]), bad);
    expect_error(err::script::invalid_char, [&] { utf8_length_of(bad); });
  }
}

TEST_F(Unicode, RangeSizes) {
  const uint8_t u1[] = {'a', 0xE9, '\n'};
  EXPECT_EQ(utf8_size_of_range(u1, u1 + 3, 1), 4);
  EXPECT_EQ(utf16_extra_bytes(u1, u1 + 3, 1), 2);
  const uint32_t u4[] = {'a', 0x20AC, 0x1F600, '\n'};
  auto p = reinterpret_cast<const uint8_t*>(u4);
  EXPECT_EQ(utf8_size_of_range(p, p + 16, 4), 1 + 3 + 4 + 1);
  EXPECT_EQ(utf16_extra_bytes(p, p + 16, 4), 4);
  const uint32_t bad[] = {0x110000};
  p = reinterpret_cast<const uint8_t*>(bad);
  expect_error(err::script::invalid_char, [&] { utf8_size_of_range(p, p + 4, 4); });
}

TEST_F(Unicode, StringToUtf8ThroughTheConversionBuffer) {
  struct Row { std::vector<int32_t> cps; uint32_t unit; int32_t count; bool crlf; std::string out; };
  const Row rows[] = {
      {{'a', 0xE9, '\n'}, 1, -1, false, "a\xC3\xA9\n"},
      {{'a', 0xE9, '\n'}, 1, -1, true, "a\xC3\xA9\r\n"},
      {{'a', 0xE9, '\n'}, 1, 2, false, "a\xC3\xA9"},
      {{'a', 0xE9, '\n'}, 1, 50, false, "a\xC3\xA9\n"},
      {{0x20AC, '\n', 0x20AC}, 2, -1, true, "\xE2\x82\xAC\r\n\xE2\x82\xAC"},
      {{0x1F600, '\n'}, 4, -1, true, "\xF0\x9F\x98\x80\r\n"},
      {{'\n', '\n', '\n'}, 4, -1, true, "\r\n\r\n\r\n"},
      {{}, 1, -1, false, ""},
  };
  for (const Row& r : rows) {
    Cell s = make_string(r.cps, r.unit);
    gc::Root keep(&s);
    int32_t count = r.count;
    uint8_t* out = string_as_utf8_crlf(&s, &count, r.crlf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size_t(count)), r.out);
    EXPECT_EQ(out[count], 0);
  }
}

TEST_F(Unicode, StringToUtf8RefusesCodepointsBeyondUnicode) {
  for (int32_t bad : {0x110000, -1}) {
    Cell s = make_string({'a', bad}, 4);
    gc::Root keep(&s);
    int32_t count = -1;
    expect_error(err::script::invalid_char, [&] { string_as_utf8(&s, &count); });
    uint8_t buf[16];
    expect_error(err::script::invalid_char, [&] { encode_string_utf8(&s, buf, -1, true); });
  }
}

TEST_F(Unicode, ConversionBufferIsReusedAndGrown) {
  Cell s = make_string({'a', 'b', 'c'}, 1);
  gc::Root keep(&s);
  int32_t count = -1;
  string_as_utf8(&s, &count);
  Node conv = s.w3;
  gc::Root keep_conv(&conv);
  ASSERT_NE(conv, 0u);
  string_as_utf8(&s, &count);
  EXPECT_EQ(s.w3, conv);
  std::vector<int32_t> many(3000, 0x20AC);
  Cell t = make_string(many, 2);
  gc::Root keep_t(&t);
  t.w3 = s.w3;  // a small buffer already there must grow
  count = -1;
  uint8_t* out = string_as_utf8(&t, &count);
  EXPECT_EQ(count, 9000);
  EXPECT_EQ(out[8999], 0xAC);
  EXPECT_EQ(t.w3, conv);
  EXPECT_GE(memory::node_buffer(conv)->capacity, 9001);
}

TEST_F(Unicode, StringToUtf16) {
  Cell s = make_string({'a', '\n', 0x1F600, 0xE9}, 4);
  gc::Root keep(&s);
  uint16_t* out = string_as_utf16(&s);
  const uint16_t expect[] = {'a', '\r', '\n', 0xD83D, 0xDE00, 0xE9, 0};
  EXPECT_EQ(std::vector<uint16_t>(out, out + 7), std::vector<uint16_t>(expect, expect + 7));
  int32_t count = 2;
  out = string_as_utf16_buffer(&s, &count, false);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(out[1], '\n');
  EXPECT_EQ(out[2], 0);
  Cell lf = make_string({'\n'}, 1);
  gc::Root keep_lf(&lf);
  out = string_as_utf16(&lf);
  EXPECT_EQ(out[0], '\r');
  EXPECT_EQ(out[1], '\n');
  EXPECT_EQ(out[2], 0);
}

TEST_F(Unicode, EncodeStringIntoCallerBuffers) {
  Cell s = make_string({'a', 0xE9, 0x20AC, 0x1F600}, 4);
  gc::Root keep(&s);
  uint8_t buf[32];
  EXPECT_EQ(encode_string_utf8(&s, buf, -1, true), 10);
  EXPECT_EQ(buf[10], 0);
  EXPECT_EQ(encode_string_utf8(&s, buf, 2, false), 3);

  // Bounded: whole characters only, the NUL inside the room.
  struct Row { int32_t room, max; bool nul; int32_t written; };
  const Row rows[] = {
      {32, 0, true, 10}, {11, 0, true, 10}, {10, 0, true, 6}, {10, 0, false, 10},
      {6, 0, true, 3},   {5, 0, false, 3},  {1, 0, true, 0},  {0, 0, true, 0},
      {32, 2, true, 3},  {32, -1, false, 10},
  };
  for (const Row& r : rows) {
    std::memset(buf, 0xEE, sizeof buf);
    int32_t n = encode_string_utf8_bounded(&s, buf, r.room, r.max, r.nul);
    EXPECT_EQ(n, r.written) << r.room;
    if (r.nul && r.room > 0) {
      EXPECT_EQ(buf[n], 0);
    }
    for (int32_t i = n + (r.nul ? 1 : 0); i < 32; ++i) ASSERT_EQ(buf[i], 0xEE) << "wrote past the room";
    int32_t cp;
    for (const uint8_t* p = buf; p < buf + n;) {
      p = read_utf8_char(p, buf + n, &cp);
      EXPECT_GE(cp, 0) << "a cut character";
    }
  }
}

TEST_F(Unicode, WideningKeepsCharactersAndNode) {
  struct Row { uint32_t from, to; std::vector<int32_t> cps; };
  const Row rows[] = {
      {1, 2, {'a', 0xE9, 0xFF, 0}},
      {1, 4, {'a', 0xE9, 0xFF}},
      {2, 4, {0x20AC, 'b', 0xFFFF}},
      {1, 2, {}},
  };
  for (const Row& r : rows) {
    std::vector<int32_t> cps = r.cps;
    for (int k = 0; k < 40; ++k) cps.push_back('0' + k % 10);  // past the first capacity
    Cell s = make_string(cps, r.from);
    gc::Root keep(&s);
    SeriesBuffer* b = memory::node_buffer(s.w2);
    if (r.from == 1 && r.to == 2) b = widen_1_to_2(b);
    else if (r.from == 1) b = widen_1_to_4(b);
    else b = widen_2_to_4(b);
    EXPECT_EQ(b, memory::node_buffer(s.w2));
    EXPECT_EQ(memory::unit(b), r.to);
    EXPECT_EQ(chars(s.w2), cps);
  }
}

TEST_F(Unicode, WideningAMidHeadBuffer) {
  Node n = memory::series_new(64, 1, -1);
  gc::Root keep(&n);
  SeriesBuffer* b = memory::node_buffer(n);
  ASSERT_GT(b->head, 0u);
  const char* text = "middle";
  std::memcpy(memory::head(b), text, 6);
  b->tail = b->head + 6;
  b = widen_to(b, 4, 0);
  std::vector<int32_t> expect(text, text + 6);
  EXPECT_EQ(chars(n), expect);
  EXPECT_EQ(memory::unit(memory::node_buffer(n)), 4u);
}
