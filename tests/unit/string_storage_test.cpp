// String storage: widening thresholds of each writer, node identity, growth, head clamping,
// joining, deleting, loading external text, and a model-checked property test.
#include <gtest/gtest.h>

#include <random>

#include "tests/unit/string_test_util.h"

using namespace kel;
using kel::test::StringTest;

namespace {

class StringStorage : public StringTest {};

// Kel text of the rows below, for the case files once the lexer runs:
//   append "abc" #"^(E9)"            ; unit 2 (append widens from 128)
//   insert "abc" #"^(E9)"            ; unit 1 (insert widens from 256)
TEST_F(StringStorage, AddWidensFrom128InsertFrom256) {
  test::NoStress exact;  // node identity is the point here
  Cell a = make("abc");
  gc::Root ka(&a);
  Cell b = make("abc");
  gc::Root kb(&b);
  Node na = a.w2, nb = b.w2;
  string::add_codepoint(&a, 0xE9);
  string::insert_codepoint(&b, 0, 0xE9);
  EXPECT_EQ(unit(a), 2u);
  EXPECT_EQ(unit(b), 1u);
  EXPECT_EQ(all(a), U"abc\u00E9");
  EXPECT_EQ(all(b), U"\u00E9abc");
  EXPECT_EQ(a.w2, na);
  EXPECT_EQ(b.w2, nb);
}

TEST_F(StringStorage, WidthTable) {
  struct Row {
    const char* op;
    uint32_t from;
    int32_t c;
    uint32_t to;
  };
  const Row rows[] = {
      {"add", 1, 127, 1},     {"add", 1, 128, 2},       {"add", 1, 255, 2},
      {"add", 1, 0xFFFF, 2},  {"add", 1, 0x10000, 4},   {"add", 1, 0x1F600, 4},
      {"add", 2, 0xFFFF, 2},  {"add", 2, 0x10000, 4},   {"add", 4, 'a', 4},
      {"insert", 1, 255, 1},  {"insert", 1, 256, 2},    {"insert", 1, 0x1F600, 4},
      {"insert", 2, 0x10000, 4},
      {"store", 1, 255, 1},   {"store", 1, 256, 2},     {"store", 1, 0x10000, 4},
      {"store", 2, 0x10FFFF, 4},
      {"put", 1, 255, 1},     {"put", 1, 256, 2},       {"put", 2, 0x10000, 4},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.op) + " " + std::to_string(r.c) + " on unit " + std::to_string(r.from));
    Cell s = make(U"xyz", r.from);
    gc::Root keep(&s);
    std::u32string model = U"xyz";
    std::string op = r.op;
    if (op == "add") {
      string::add_codepoint(&s, r.c);
      model.push_back(char32_t(r.c));
    } else if (op == "insert") {
      string::insert_codepoint(&s, 1, r.c);
      model.insert(model.begin() + 1, char32_t(r.c));
    } else if (op == "store") {
      uint8_t* p = string::head_pointer(&s) + 2 * r.from;
      string::store_codepoint(&s, p, r.c);
      model[2] = char32_t(r.c);
    } else {
      string::put_codepoint_at(&s, 0, r.c);
      model[0] = char32_t(r.c);
    }
    EXPECT_EQ(unit(s), r.to);
    EXPECT_EQ(all(s), model);
  }
}

TEST_F(StringStorage, Utf8LoadingWidensStepByStep) {
  const uint8_t e9[] = {0xC3, 0xA9};
  const uint8_t euro[] = {0xC3, 0xA9, 0xE2, 0x82, 0xAC};
  const uint8_t smile[] = {0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80};
  Cell* a = string::load_push(e9, 2, 0);
  EXPECT_EQ(unit(*a), 1u);
  Cell* b = string::load_push(euro, 5, 0);
  EXPECT_EQ(unit(*b), 2u);
  Cell* c = string::load_push(smile, 9, 0);
  EXPECT_EQ(unit(*c), 4u);
  EXPECT_EQ(all(*c), U"\u00E9\u20AC\U0001F600");
}

TEST_F(StringStorage, Utf8EdgeCasesThroughTheLoader) {
  const uint8_t bom[] = {0xEF, 0xBB, 0xBF};
  Cell* s = string::load_push(bom, 3, 0);
  EXPECT_EQ(all(*s), U"");

  const uint8_t crlf[] = {0x61, 0x0D, 0x0A, 0x62, 0x0D, 0x63};
  Cell t;
  string::init_cell(&t, 8);
  gc::Root keep(&t);
  int32_t unread = -1;
  unicode::utf8_to_string(crlf, 6, t.w2, &unread, true);
  EXPECT_EQ(all(t), U"a\nb\nc");
  EXPECT_EQ(unread, 0);

  const uint8_t cut[] = {'a', 0xE2, 0x82};
  unicode::utf8_to_string(cut, 3, t.w2, &unread, false);
  EXPECT_EQ(unread, 2);
  EXPECT_EQ(all(t), U"a");
}

TEST_F(StringStorage, Utf16LoadingThroughLoadEncoded) {
  const uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE};
  Cell* s = string::load_push(pair, 2, -1);
  EXPECT_EQ(all(*s), U"\U0001F600");
  EXPECT_EQ(unit(*s), 4u);
  // An unpaired high surrogate is an error the console survives, not an exit.
  const uint8_t bad[] = {0x3D, 0xD8, 0x41, 0x00};
  EXPECT_TRUE(raises(err::script::invalid_char, [&] { string::load_push(bad, 2, -1); }));
}

// Kel: at "abc" 11  (head index 10) => count 0, head written back as 3
TEST_F(StringStorage, HeadPastTheTailIsClampedAndWrittenBack) {
  Cell s = make("abc");
  gc::Root keep(&s);
  s.w1 = 10;
  EXPECT_TRUE(string::head_at_tail(&s));
  EXPECT_EQ(string::count_from_head(&s), 0);
  EXPECT_EQ(s.w1, 3u);
  s.w1 = 10;
  EXPECT_EQ(string::head_pointer(&s), string::tail_pointer(&s));
  EXPECT_EQ(s.w1, 3u);
  EXPECT_EQ(string::count_from_start(&s), 3);
}

TEST_F(StringStorage, Readers) {
  Cell s = make(U"ab\u20ACc", 2);
  gc::Root keep(&s);
  s.w1 = 1;
  EXPECT_EQ(string::codepoint_at(&s, 2), 0x20AC);
  EXPECT_EQ(string::index_of_codepoint(&s, 0x20AC), 1);
  EXPECT_EQ(string::index_of_codepoint(&s, 'a'), -1);  // before the head
  EXPECT_EQ(string::index_of_codepoint(&s, 'z'), -1);
  EXPECT_EQ(string::codepoint_at(&s, 4), -1);  // past the tail
  EXPECT_EQ(string::codepoint_at(&s, -1), -1);
  const uint8_t four[] = {0x00, 0xF6, 0x01, 0x00};
  EXPECT_EQ(string::read_codepoint(four, 4), 0x1F600);
  EXPECT_EQ(string::read_codepoint(four + 1, 2), 0x1F6);
}

TEST_F(StringStorage, PutFarPastTheTailGrowsAndZeroFills) {
  Cell s = make("ab");
  gc::Root keep(&s);
  string::put_codepoint_at(&s, 200, 'z');  // far beyond two doublings of the capacity
  std::u32string want = U"ab";
  want.append(198, U'\0');
  want.push_back(U'z');
  EXPECT_EQ(all(s), want);
  string::put_codepoint_at(&s, 1, 0x100);
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(all(s)[1], U'\u0100');
  EXPECT_EQ(all(s).size(), 201u);
  EXPECT_TRUE(raises(err::script::out_of_range, [&] { string::put_codepoint_at(&s, -1, 'a'); }));
  EXPECT_EQ(all(s).size(), 201u);
}

TEST_F(StringStorage, DeleteShortenReset) {
  Cell s = make(U"abcdef\u20AC", 2);
  gc::Root keep(&s);
  string::delete_codepoint(&s, 0);
  EXPECT_EQ(all(s), U"bcdef\u20AC");
  string::delete_codepoint(&s, 99);  // past the tail: nothing
  string::delete_range(&s, 1, 2);
  EXPECT_EQ(all(s), U"bef\u20AC");
  string::delete_range(&s, 2, 50);
  EXPECT_EQ(all(s), U"be");
  string::shorten_to(&s, 5);  // above the tail: nothing
  EXPECT_EQ(all(s), U"be");
  string::shorten_to(&s, 1);
  EXPECT_EQ(all(s), U"b");
  EXPECT_EQ(unit(s), 2u);  // shortening never narrows
  s.w1 = 1;
  string::reset_empty(&s);
  EXPECT_EQ(unit(s), 1u);
  EXPECT_EQ(s.w1, 0u);
  EXPECT_EQ(all(s), U"");
}

TEST_F(StringStorage, ExplicitWidening) {
  test::NoStress exact;
  Cell s = make("h\xE9llo");
  gc::Root keep(&s);
  Node n = s.w2;
  string::widen_to(&s, 1, 2);
  EXPECT_EQ(unit(s), 2u);
  string::widen_to(&s, 2, 4);
  EXPECT_EQ(unit(s), 4u);
  EXPECT_EQ(all(s), U"h\u00E9llo");
  EXPECT_EQ(s.w2, n);
}

TEST_F(StringStorage, CopyWidening) {
  Cell src = make("abcdef");
  gc::Root keep(&src);
  Node t = string::copy_widening(src.w2, 0, 2, 1, 0, 4, false);
  Cell tc{T_STRING, 0, t, 0};
  gc::Root keep_t(&tc);
  EXPECT_EQ(unit(tc), 2u);
  EXPECT_EQ(all(tc), U"bcd");
  // Into an existing 4-unit target at an offset, keeping its tail.
  Cell dst = make(U"\U0001F600xyz", 4);
  gc::Root keep_d(&dst);
  string::copy_widening(src.w2, dst.w2, 4, 0, 1, 2, true);
  EXPECT_EQ(all(dst), U"\U0001F600abz");
  string::copy_widening(src.w2, dst.w2, 4, 0, 0, 0, false);  // end 0: to the tail
  EXPECT_EQ(all(dst), U"abcdef");
}

TEST_F(StringStorage, ConcatModes) {
  struct Row {
    std::u32string target;
    uint32_t tunit;
    std::u32string source;
    uint32_t sunit;
    int32_t limit, offset, mode;
    bool keep;
    std::u32string want;
    uint32_t want_tunit, want_sunit;
  };
  const Row rows[] = {
      {U"ab", 1, U"cd", 1, -1, 0, string::MODE_APPEND, false, U"abcd", 1, 1},
      {U"ab", 1, U"cdef", 1, 2, 0, string::MODE_APPEND, false, U"abcd", 1, 1},
      {U"ab", 1, U"cd", 1, 9, 0, string::MODE_APPEND, false, U"abcd", 1, 1},
      {U"ab", 1, U"cd", 1, 0, 0, string::MODE_APPEND, false, U"ab", 1, 1},
      {U"abcd", 1, U"XY", 1, -1, 1, string::MODE_INSERT, false, U"aXYbcd", 1, 1},
      {U"abcd", 1, U"XY", 1, -1, 3, string::MODE_OVERWRITE, false, U"abcXY", 1, 1},
      {U"abcd", 1, U"XY", 1, -1, 1, string::MODE_OVERWRITE, false, U"aXYd", 1, 1},
      // narrower target widens to the source's unit
      {U"ab", 1, U"\u20AC", 2, -1, 0, string::MODE_APPEND, false, U"ab\u20AC", 2, 2},
      // narrower source: widened itself without keep, converted per character with keep
      {U"\u20AC", 2, U"cd", 1, -1, 0, string::MODE_APPEND, false, U"\u20ACcd", 2, 2},
      {U"\u20AC", 2, U"cd", 1, -1, 0, string::MODE_APPEND, true, U"\u20ACcd", 2, 1},
      {U"\U0001F600", 4, U"\u20ACd", 2, -1, 0, string::MODE_INSERT, true, U"\u20ACd\U0001F600", 4, 2},
  };
  for (const Row& r : rows) {
    Cell t = make(r.target, r.tunit);
    gc::Root kt(&t);
    Cell s = make(r.source, r.sunit);
    gc::Root ks(&s);
    string::concat_part(&t, &s, r.limit, r.offset, r.keep, r.mode);
    EXPECT_EQ(all(t), r.want);
    EXPECT_EQ(unit(t), r.want_tunit);
    EXPECT_EQ(unit(s), r.want_sunit);
  }
}

TEST_F(StringStorage, ConcatFromTheSameBuffer) {
  Cell t = make("abcd");
  gc::Root kt(&t);
  Cell s = t;
  s.w1 = 1;
  gc::Root ks(&s);
  string::concat(&t, &s, string::MODE_APPEND);  // grows while reading its own buffer
  EXPECT_EQ(all(t), U"abcdbcd");
  Cell u = make("abcd");
  gc::Root ku(&u);
  Cell v = u;
  v.w1 = 2;
  gc::Root kv(&v);
  string::concat_part(&u, &v, -1, 0, false, string::MODE_INSERT);
  EXPECT_EQ(all(u), U"cdabcd");
}

TEST_F(StringStorage, ConcatGrowsToTwiceTheNeed) {
  test::NoStress exact;
  Cell t = make("");
  gc::Root kt(&t);
  Cell s = make(std::u32string(100, U'x'), 1);
  gc::Root ks(&s);
  string::concat(&t, &s, string::MODE_APPEND);
  EXPECT_GE(memory::node_buffer(t.w2)->capacity, 200);
}

TEST_F(StringStorage, AddCText) {
  Cell s;
  string::init_cell(&s, 0);
  gc::Root keep(&s);
  EXPECT_EQ(s.w1, 0u);
  EXPECT_EQ(cell::type(&s), uint32_t(T_STRING));
  string::add_c_text(&s, "hello");
  EXPECT_EQ(all(s), U"hello");
  EXPECT_EQ(unit(s), 1u);
  string::add_c_text(&s, "\xE9");  // a Latin-1 byte above 127 widens like any append
  EXPECT_EQ(unit(s), 2u);
  const uint8_t raw[] = {0, 'z'};
  string::add_c_bytes(&s, raw, 2);
  EXPECT_EQ(all(s), std::u32string(U"hello\u00E9") + char32_t(0) + U"z");
}

TEST_F(StringStorage, AppendManyAmortises) {
  Cell s;
  string::init_cell(&s, 0);
  gc::Root keep(&s);
  for (int i = 0; i < 3000; ++i) string::add_codepoint(&s, 'a' + i % 26);
  string::add_codepoint(&s, 0x20AC);
  std::u32string all_chars = all(s);
  ASSERT_EQ(all_chars.size(), 3001u);
  EXPECT_EQ(all_chars[2999], char32_t('a' + 2999 % 26));
  EXPECT_EQ(all_chars[3000], U'\u20AC');
  EXPECT_EQ(unit(s), 2u);
}

TEST_F(StringStorage, MoveCodepoints) {
  Cell a = make("abcdef");
  gc::Root ka(&a);
  Cell b = make(U"XY\u20AC", 2);
  gc::Root kb(&b);
  a.w1 = 1;
  string::move_codepoints(&a, &b, 1, 2);  // two 1-byte characters
  EXPECT_EQ(all(a), U"adef");
  EXPECT_EQ(all(b), U"XbcY\u20AC");
  // Within one buffer: "ab" moves behind "e".
  Cell c = make("abcdef");
  gc::Root kc(&c);
  Cell d = c;
  gc::Root kd(&d);
  string::move_codepoints(&d, &c, 5, 2);
  EXPECT_EQ(all(c), U"cdeabf");
}

TEST_F(StringStorage, RotateBytes) {
  struct Row {
    std::string text;
    int32_t a, gap, b;
    std::string want;
  };
  const Row rows[] = {
      {"AAbbb", 2, 0, 3, "bbbAA"},
      {"AAAbb", 3, 0, 2, "bbAAA"},
      {"AA--bbb", 2, 2, 3, "bbb--AA"},
      {"AAAA-b", 4, 1, 1, "b-AAAA"},
  };
  for (const Row& r : rows) {
    std::string s = r.text;
    auto* p = reinterpret_cast<uint8_t*>(s.data());
    string::rotate_bytes(p, r.a, p + r.a + r.gap, r.b, r.gap);
    EXPECT_EQ(s, r.want);
  }
  // Larger than the scratch block: it is enlarged for the exchange.
  std::string big(70000, 'a');
  big += std::string(70001, 'b');
  auto* p = reinterpret_cast<uint8_t*>(big.data());
  string::rotate_bytes(p, 70000, p + 70000, 70001, 0);
  EXPECT_EQ(big, std::string(70001, 'b') + std::string(70000, 'a'));
}

TEST_F(StringStorage, FromUtf8Binary) {
  const uint8_t ok[] = {'a', 0xC3, 0xA9};
  Cell* s = string::from_utf8_binary(ok, 3);
  EXPECT_EQ(all(*s), U"a\u00E9");
  // Kel: to string! #{61C3} => !! access/invalid-utf8 (argument #{C3})
  const uint8_t cut[] = {0x61, 0xC3};
  EXPECT_TRUE(raises(err::access::invalid_utf8, [&] { string::from_utf8_binary(cut, 2); }));
  const Cell& arg = error::pending().args[0];
  ASSERT_EQ(cell::type(&arg), uint32_t(T_BINARY));
  SeriesBuffer* b = memory::node_buffer(arg.w2);
  ASSERT_EQ(memory::used_bytes(b), 1u);
  EXPECT_EQ(*memory::head(b), 0xC3);
}

TEST_F(StringStorage, TextToFloat) {
  const char* t = "12.5e1";
  bool bad = true;
  EXPECT_EQ(string::text_to_float(reinterpret_cast<const uint8_t*>(t), 6, &bad), 125.0);
  EXPECT_FALSE(bad);
  const char* u = "1.5x";
  string::text_to_float(reinterpret_cast<const uint8_t*>(u), 4, &bad);
  EXPECT_TRUE(bad);
}

TEST_F(StringStorage, LoadIntoABlock) {
  Cell block{T_BLOCK, 0, memory::series_new_cells(2), 0};
  gc::Root keep(&block);
  const uint8_t hi[] = {'h', 'i'};
  string::load_into_block(&block, hi, 2, 0);
  SeriesBuffer* b = memory::node_buffer(block.w2);
  ASSERT_EQ(memory::units(b), 1u);
  Cell s = *memory::head_cells(b);
  EXPECT_EQ(all(s), U"hi");
}

// Random codepoints through add, insert and store against a std::u32string model: the
// characters agree and the unit is the least the rules allow (127 for add, 255 otherwise;
// a unit never narrows).
TEST_F(StringStorage, PropertyRandomWritesAgainstAModel) {
  std::mt19937 rng(20261209);
  auto pick = [&]() -> int32_t {
    switch (rng() % 6) {
      case 0: return int32_t(rng() % 128);
      case 1: return 128 + int32_t(rng() % 128);
      case 2: return 256 + int32_t(rng() % (0xFFFF - 255));
      case 3: return 0x10000 + int32_t(rng() % 0x100000);
      default: return 'a' + int32_t(rng() % 26);
    }
  };
  for (int round = 0; round < 60; ++round) {
    Cell s;
    string::init_cell(&s, 0);
    gc::Root keep(&s);
    std::u32string model;
    uint32_t least = 1;
    int steps = 1 + int(rng() % 40);
    for (int k = 0; k < steps; ++k) {
      int32_t c = pick();
      int kind = int(rng() % 3);
      if (kind == 2 && model.empty()) kind = 0;
      uint32_t need = c > 0xFFFF ? 4 : c > (kind == 0 ? 127 : 255) ? 2 : 1;
      least = std::max(least, need);
      if (kind == 0) {
        string::add_codepoint(&s, c);
        model.push_back(char32_t(c));
      } else if (kind == 1) {
        size_t at = rng() % (model.size() + 1);
        string::insert_codepoint(&s, int32_t(at), c);
        model.insert(model.begin() + ptrdiff_t(at), char32_t(c));
      } else {
        size_t at = rng() % model.size();
        uint8_t* p = string::head_pointer(&s) + at * unit(s);
        string::store_codepoint(&s, p, c);
        model[at] = char32_t(c);
      }
      ASSERT_EQ(all(s), model) << "round " << round << " step " << k;
      ASSERT_EQ(unit(s), least) << "round " << round << " step " << k;
    }
  }
}

}  // namespace

namespace {

// An encoding other than UTF-8 (0) and UTF-16LE (-1) is a fault of the caller: the fatal
// reporter with a non-zero status, never a quiet exit 0.
TEST_F(StringStorage, UnknownEncodingIsAnInternalFault) {
  const uint8_t text[] = {'a'};
  EXPECT_EXIT(string::load_encoded(text, 1, nullptr, 7), ::testing::ExitedWithCode(98), "");
}

// A unit other than 1, 2 or 4 is an impossible state.
TEST_F(StringStorage, UnknownUnitIsAnInternalFault) {
  const uint8_t bytes[] = {1, 2, 3};
  EXPECT_EXIT(string::read_codepoint(bytes, 3), ::testing::ExitedWithCode(98), "");
}

}  // namespace
