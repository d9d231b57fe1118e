// String comparison, the compare slot across any-string types, matching at the head, hex
// digits, one-character escapes and the case mapping strings fold with.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/unit/string_test_util.h"

using namespace kel;
using kel::test::StringTest;

namespace {

class StringCompare : public StringTest {
 protected:
  int32_t cmp(const std::u32string& a, uint32_t ta, const std::u32string& b, uint32_t tb, int32_t op,
              uint32_t ua = 1, uint32_t ub = 1) {
    Cell x = make(a, ua);
    gc::Root kx(&x);
    Cell y = make(b, ub);
    gc::Root ky(&y);
    cell::set_type(&x, ta);
    cell::set_type(&y, tb);
    return string::compare(&x, &y, op);
  }
  std::string molded_char(int32_t c, bool all) {
    Cell s;
    string::init_cell(&s, 0);
    gc::Root keep(&s);
    string::mold_char(&s, c, all);
    std::string out;
    for (char32_t x : test::StringTest::all(s)) out.push_back(x < 128 ? char(x) : '?');
    if (all_of_one(s, c)) return "<itself>";
    return out;
  }
  static bool all_of_one(const Cell& s, int32_t c) {
    std::u32string t = test::StringTest::all(s);
    return t.size() == 1 && int32_t(t[0]) == c && c > 127;
  }
};

TEST_F(StringCompare, CompareSlot) {
  struct Row {
    const char* kel;
    std::u32string a;
    uint32_t ta;
    std::u32string b;
    uint32_t tb;
    int32_t op;
    int32_t want;
  };
  const Row rows[] = {
      {"\"abc\" = \"ABC\"", U"abc", T_STRING, U"ABC", T_STRING, 0, 0},
      {"strict-equal? \"abc\" \"ABC\"", U"abc", T_STRING, U"ABC", T_STRING, 2, 1},
      {"\"abc\" < \"abcd\"", U"abc", T_STRING, U"abcd", T_STRING, 3, -1},
      {"\"abcd\" > \"abc\"", U"abcd", T_STRING, U"abc", T_STRING, 5, 1},
      {"\"abd\" > \"abcz\"", U"abd", T_STRING, U"abcz", T_STRING, 5, 1},
      {"\"abc\" = %abc", U"abc", T_STRING, U"abc", T_FILE, 0, 0},
      {"\"abc\" <> %abd", U"abc", T_STRING, U"abd", T_FILE, 1, -1},  // non-zero: not equal
      {"\"abc\" < %abd", U"abc", T_STRING, U"abd", T_FILE, 3, -2},  // !! script/invalid-compare
      {"\"é\" = \"É\"", U"\u00E9", T_STRING, U"\u00C9", T_STRING, 0, 0},
      {"\"ß\" = \"S\"", U"\u00DF", T_STRING, U"S", T_STRING, 0, 0},
      {"\"\" = \"\"", U"", T_STRING, U"", T_STRING, 0, 0},
      {"\"a\" > \"\"", U"a", T_STRING, U"", T_STRING, 5, 1},
      {"\"\" < \"a\"", U"", T_STRING, U"a", T_STRING, 3, -1},
      {"sort/case [\"a\" \"B\"]", U"a", T_STRING, U"B", T_STRING, 8, 1},
      {"sort [\"a\" \"B\"]", U"a", T_STRING, U"B", T_STRING, 7, -1},
      {"<a> = \"a\"", U"a", T_TAG, U"a", T_STRING, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.kel);
    EXPECT_EQ(cmp(r.a, r.ta, r.b, r.tb, r.op), r.want);
  }
  // Units do not matter, only characters.
  EXPECT_EQ(cmp(U"h\u00E9", T_STRING, U"H\u00C9", T_STRING, 0, 1, 4), 0);
  // Above the BMP, folded through the same mapping.
  EXPECT_EQ(cmp(U"\U0001E922", T_STRING, U"\U0001E900", T_STRING, 0, 4, 4), 0);
}

TEST_F(StringCompare, IdentityAndSameHead) {
  Cell a = make("abc");
  gc::Root ka(&a);
  Cell b = a;
  EXPECT_EQ(string::compare_strings(&a, &b, 9, false), 0);
  b.w1 = 1;
  EXPECT_EQ(string::compare_strings(&a, &b, 9, false), -1);
  Cell c = make("abc");
  gc::Root kc(&c);
  EXPECT_EQ(string::compare_strings(&a, &c, 9, false), -1);  // same? needs the same series
  EXPECT_EQ(string::compare_strings(&a, &c, 12, false), 0);
}

TEST_F(StringCompare, PrefixMode) {
  Cell in = make("Hello world");
  gc::Root ki(&in);
  Cell he = make("hello");
  gc::Root kh(&he);
  Cell empty = make("");
  gc::Root ke(&empty);
  Cell longer = make("Hello world!");
  gc::Root kl(&longer);
  EXPECT_EQ(string::compare_strings(&in, &he, 0, true), 0);
  EXPECT_EQ(string::compare_strings(&in, &he, 2, true), -1);  // "H" orders before "h"
  EXPECT_EQ(string::compare_strings(&in, &empty, 0, true), 0);
  EXPECT_EQ(string::compare_strings(&in, &empty, 12, true), 1);
  EXPECT_EQ(string::compare_strings(&in, &longer, 0, true), 1);
}

TEST_F(StringCompare, MatchAtTheHead) {
  Cell in = make("<b>Bold");
  gc::Root ki(&in);
  Cell tag = make("b");
  gc::Root kt(&tag);
  cell::set_type(&tag, T_TAG);
  EXPECT_TRUE(string::tag_brackets_at(&in, &tag));
  EXPECT_TRUE(string::match_value(&in, &tag, 0));
  Cell tag2 = make("bo");
  gc::Root kt2(&tag2);
  cell::set_type(&tag2, T_TAG);
  EXPECT_FALSE(string::tag_brackets_at(&in, &tag2));
  EXPECT_FALSE(string::match_value(&in, &tag2, 0));

  Cell t = make("<B>");
  gc::Root ktt(&t);
  cell::set_type(&t, T_STRING);
  EXPECT_TRUE(string::match_value(&in, &t, 0));
  EXPECT_FALSE(string::match_value(&in, &t, 2));
  cell::set_type(&t, T_URL);
  EXPECT_TRUE(string::match_value(&in, &t, 0));

  Cell lt{T_CHAR, 0, '<', 0};
  EXPECT_TRUE(string::match_value(&in, &lt, 0));
  in.w1 = 1;
  Cell upper_b{T_CHAR, 0, 'B', 0};
  EXPECT_TRUE(string::match_value(&in, &upper_b, 0));
  EXPECT_FALSE(string::match_value(&in, &upper_b, 2));
  Cell number{T_INTEGER, 0, 1, 0};
  EXPECT_FALSE(string::match_value(&in, &number, 0));
  in.w1 = 99;  // past the tail: nothing to match
  EXPECT_FALSE(string::match_value(&in, &upper_b, 0));
}

// parse "b" [charset "ab"] ; parse "z" [complement charset "ab"]
TEST_F(StringCompare, HeadCharInBitset) {
  Cell bits{T_BITSET, 0, memory::series_new_bytes(13), 0};
  gc::Root kb(&bits);
  SeriesBuffer* b = memory::node_buffer(bits.w2);
  std::memset(memory::head(b), 0, 13);
  memory::head(b)['a' >> 3] |= uint8_t(0x80 >> ('a' & 7));
  memory::head(b)['b' >> 3] |= uint8_t(0x80 >> ('b' & 7));
  b->tail = b->head + 13;  // 104 bits: up to "g"
  Cell in = make(U"bz\u20AC", 2);
  gc::Root ki(&in);
  EXPECT_TRUE(string::head_char_in_bitset(&in, &bits));
  in.w1 = 1;
  EXPECT_FALSE(string::head_char_in_bitset(&in, &bits));  // "z" lies beyond the stored bits
  in.w1 = 2;
  EXPECT_FALSE(string::head_char_in_bitset(&in, &bits));
  memory::node_buffer(bits.w2)->flags |= sflag::COMPLEMENT;
  EXPECT_TRUE(string::head_char_in_bitset(&in, &bits));  // beyond: the complemented flag
  in.w1 = 3;
  EXPECT_FALSE(string::head_char_in_bitset(&in, &bits));  // no head character
}

TEST_F(StringCompare, SearchHelpers) {
  Cell s = make("aXbYcZ");
  gc::Root ks(&s);
  EXPECT_TRUE(string::find_codepoint_stepped(&s, 'c', 2, true));
  EXPECT_FALSE(string::find_codepoint_stepped(&s, 'Y', 2, true));
  EXPECT_TRUE(string::find_codepoint_stepped(&s, 'C', 2, false));
  EXPECT_FALSE(string::find_codepoint_stepped(&s, 'C', 2, true));
  EXPECT_TRUE(string::starts_with_c_text(&s, "aXb"));
  EXPECT_FALSE(string::starts_with_c_text(&s, "aXbYcZ!"));
  EXPECT_FALSE(string::starts_with_c_text(&s, "ax"));
  Cell w = make(U"\u0100a", 2);
  gc::Root kw(&w);
  EXPECT_FALSE(string::starts_with_c_text(&w, "\xC4"));  // above 255 never matches a byte
}

TEST_F(StringCompare, HexDigits) {
  EXPECT_STREQ(string::int_hex(0, true), "00");
  EXPECT_STREQ(string::int_hex(0x1E, true), "1E");
  EXPECT_STREQ(string::int_hex(0x3B1, true), "3B1");
  EXPECT_STREQ(string::int_hex(-1, false), "FFFFFFFF");
  EXPECT_STREQ(string::int_hex(0x1E, false), "0000001E");
  EXPECT_STREQ(string::int_hex(-2, true), "FFFFFFFE");
  EXPECT_STREQ(string::byte_hex(0xAB), "AB");
  EXPECT_STREQ(string::byte_hex(0x105), "05");
}

TEST_F(StringCompare, MoldChar) {
  struct Row {
    int32_t c;
    bool all;
    const char* want;
  };
  const Row rows[] = {
      {0, false, "^@"},    {9, false, "^-"},      {10, false, "^/"},     {27, false, "^["},
      {31, false, "^_"},   {127, false, "^~"},    {'"', false, "^\""},   {'^', false, "^^"},
      {30, false, "^(1E)"}, {128, false, "^(80)"}, {159, false, "^(9F)"}, {1, false, "^A"},
      {26, false, "^Z"},   {28, false, "^\\"},    {29, false, "^]"},     {'a', false, "a"},
      {'{', false, "{"},   {0xE9, false, "<itself>"}, {0xE9, true, "^(E9)"},
      {0x1F600, true, "^(1F600)"}, {160, false, "<itself>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.c);
    EXPECT_EQ(molded_char(r.c, r.all), r.want);
  }
}

TEST_F(StringCompare, CaseMappingStringsFoldWith) {
  struct Row {
    int32_t c;
    int dir;
    int32_t want;
  };
  const Row rows[] = {
      {0xDF, 1, 0x53},    {0x131, 1, 0x49}, {0xFF, 1, 0x178}, {0x1E943, 1, 0x1E921},
      {0x130, 0, 0x69},   {0x212A, 0, 0x6B}, {'a', 1, 'A'},   {0x110000, 1, 0x110000},
  };
  for (const Row& r : rows) EXPECT_EQ(case_::map_char(r.c, r.dir), r.want) << std::hex << r.c;
}

TEST_F(StringCompare, BraceCloses) {
  Cell s = make("{a{b}c}{");
  gc::Root ks(&s);
  EXPECT_TRUE(string::brace_closes(&s, 0, 8));
  EXPECT_TRUE(string::brace_closes(&s, 2, 8));
  EXPECT_FALSE(string::brace_closes(&s, 7, 8));
  EXPECT_FALSE(string::brace_closes(&s, 0, 6));  // the range ends before the close
}

}  // namespace
