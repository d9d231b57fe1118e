// Tests of char!: arithmetic kept to codepoints, make/to, form, mold with caret escapes,
// comparison, and the inherited integer! actions.
#include <cmath>

#include "runtime/datatypes/char.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using CharTest = DatatypeTest;

// Kel text                 => expected
// #"a" + 1                 => #"b"
// #"z" / 2                 => #"="
// #"a" + 1.9               => #"b"
// #"a" - 97                => #"^@"
// #"a" * 2                 => #"Â"
// #"a" // 10               => #"^G"
// #"a" and~ #"_"           => #"A"
// #"A" or~ 32              => #"a"
// #"a" xor~ 32             => #"A"
TEST_F(CharTest, Arithmetic) {
  struct Row {
    const char* kel;
    uint32_t action;
    Cell b;
    int32_t a, expected;
  } rows[] = {
      {"#\"a\" + 1", act::ADD, I(1), 'a', 'b'},
      {"#\"z\" / 2", act::DIVIDE, I(2), 'z', '='},
      {"#\"a\" + 1.9", act::ADD, F(1.9), 'a', 'b'},
      {"#\"a\" - 97", act::SUBTRACT, I(97), 'a', 0},
      {"#\"a\" * 2", act::MULTIPLY, I(2), 'a', 0xC2},
      {"#\"a\" // 10", act::REMAINDER, I(10), 'a', 7},
      {"#\"a\" and~ #\"_\"", act::AND, C('_'), 'a', 'A'},
      {"#\"A\" or~ 32", act::OR, I(32), 'A', 'a'},
      {"#\"a\" xor~ 32", act::XOR, I(32), 'a', 'A'},
      {"#\"^(10FFFE)\" + 1", act::ADD, I(1), 0x10FFFE, 0x10FFFF},
  };
  for (const auto& r : rows) {
    Cell out = call(r.action, C(r.a), r.b);
    EXPECT_EQ(out.header, uint32_t(T_CHAR)) << r.kel;
    EXPECT_EQ(cell::get_int(&out), r.expected) << r.kel;
  }
}

// #"a" - 98               => !! math/overflow
// #"^(10FFFF)" + 1        => !! math/overflow
// #"a" / 0                => !! math/zero-divide
// #"a" // 0               => !! math/zero-divide
// #"a" / 0.5              => !! math/zero-divide  (0.5 truncates to 0)
// #"a" * 65536 * 65536    => !! math/overflow
// #"a" + 1e20             => !! math/overflow
// #"a" + "b"              => !! script/invalid-type
TEST_F(CharTest, Errors) {
  EXPECT_RAISES(call(act::SUBTRACT, C('a'), I(98)), err::math::overflow);
  EXPECT_RAISES(call(act::ADD, C(0x10FFFF), I(1)), err::math::overflow);
  EXPECT_RAISES(call(act::DIVIDE, C('a'), I(0)), err::math::zero_divide);
  EXPECT_RAISES(call(act::REMAINDER, C('a'), I(0)), err::math::zero_divide);
  EXPECT_RAISES(call(act::DIVIDE, C('a'), F(0.5)), err::math::zero_divide);
  EXPECT_RAISES(call(act::MULTIPLY, C(65536), I(65536)), err::math::overflow);
  EXPECT_RAISES(call(act::ADD, C('a'), F(1e20)), err::math::overflow);
  EXPECT_RAISES(call(act::ADD, C('a'), F(NAN)), err::math::overflow);
  EXPECT_RAISES(call(act::ADD, C('a'), NONE()), err::script::invalid_type);
  EXPECT_RAISES(call(act::NEGATE, C('a')), err::script::expect_arg);  // not supported
}

// to char! 65       => #"A"
// to char! 1114112  => !! script/out-of-range
// to char! -1       => !! script/out-of-range
// to char! ""       => !! script/bad-to-arg
// to char! "abc"    => #"a"
// make char! 97.9   => #"a"
// to char! #"x"     => #"x"
// to char! none     => !! script/bad-to-arg
TEST_F(CharTest, MakeAndTo) {
  EXPECT_EQ(mold(make_to(act::TO, DT(T_CHAR), I(65))), "#\"A\"");
  EXPECT_RAISES(make_to(act::TO, DT(T_CHAR), I(1114112)), err::script::out_of_range);
  EXPECT_EQ(error::pending().args[0].w2, 1114112u);
  EXPECT_RAISES(make_to(act::TO, DT(T_CHAR), I(-1)), err::script::out_of_range);
  EXPECT_RAISES(make_to_text(act::TO, DT(T_CHAR), ""), err::script::bad_to_arg);
  EXPECT_EQ(mold(make_to_text(act::TO, DT(T_CHAR), "abc")), "#\"a\"");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_CHAR), F(97.9))), "#\"a\"");
  EXPECT_RAISES(make_to(act::MAKE, DT(T_CHAR), F(1e10)), err::script::out_of_range);
  EXPECT_RAISES(make_to(act::MAKE, DT(T_CHAR), F(-2.0)), err::script::out_of_range);
  EXPECT_EQ(mold(make_to(act::TO, DT(T_CHAR), C('x'))), "#\"x\"");
  EXPECT_RAISES(make_to(act::TO, DT(T_CHAR), NONE()), err::script::bad_to_arg);
  // the result is a whole char! cell
  Cell r = make_to(act::TO, DT(T_CHAR), I(66));
  EXPECT_EQ(r.header, uint32_t(T_CHAR));
}

TEST_F(CharTest, FromBinary) {
  struct Row {
    std::vector<uint8_t> bytes;
    int32_t expected;  // -1: bad-to-arg
  } rows[] = {{{'A', 'B'}, 'A'},
              {{0xC3, 0xA9}, 0xE9},
              {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600},
              {{0xC3, 0x28}, 0xFFFE},  // malformed
              {{}, -1},                // empty
              {{0xE2, 0x82}, -1}};     // ends inside a sequence
  for (const auto& r : rows) {
    open_frame();
    Cell type = DT(T_CHAR);
    Cell* proto = stack::push_copy(&type);
    Cell* bin = stack::reserve_cell();
    *bin = NONE();
    Node n = memory::series_new_bytes(uint32_t(r.bytes.size()));
    *bin = Cell{T_BINARY, 0, n, 0};
    SeriesBuffer* b = memory::node_buffer(bin->w2);
    for (uint8_t x : r.bytes) *memory::tail(b) = x, b->tail++;
    auto fn = datatype::slot<act::TO>(T_CHAR);
    if (r.expected < 0) {
      EXPECT_RAISES(fn(proto, bin, T_CHAR), err::script::bad_to_arg);
    } else {
      EXPECT_EQ(cell::get_int(fn(proto, bin, T_CHAR)), r.expected);
    }
  }
}

// form #"a" => prints: a ; mold #"a" => prints: #"a"
// mold of the chars 0, 10, 30, 34, 94, 127, 128
//   => #"^@" #"^/" #"^(1E)" #"^"" #"^^" #"^~" #"^(80)"
// mold #"é" => #"é" ; mold/all #"é" => #"^(E9)"
TEST_F(CharTest, Text) {
  EXPECT_EQ(form(C('a')), "a");
  EXPECT_EQ(form(C(0xE9)), "\xC3\xA9");
  EXPECT_EQ(form(C(0x1F600)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(mold(C('a')), "#\"a\"");
  struct Row {
    int32_t cp;
    const char* molded;
  } rows[] = {{0, "#\"^@\""},     {9, "#\"^-\""},    {10, "#\"^/\""},   {27, "#\"^[\""},
              {30, "#\"^(1E)\""}, {31, "#\"^_\""},   {34, "#\"^\"\""},  {94, "#\"^^\""},
              {127, "#\"^~\""},   {128, "#\"^(80)\""}, {159, "#\"^(9F)\""}, {160, "#\"\xC2\xA0\""},
              {1, "#\"^A\""},     {26, "#\"^Z\""},   {' ', "#\" \""}};
  for (const auto& r : rows) EXPECT_EQ(mold(C(r.cp)), r.molded) << r.cp;
  EXPECT_EQ(mold(C(0xE9)), "#\"\xC3\xA9\"");
  EXPECT_EQ(mold(C(0xE9), true), "#\"^(E9)\"");
  EXPECT_EQ(mold(C(0x10FFFF), true), "#\"^(10FFFF)\"");
  EXPECT_EQ(mold(C('a'), true), "#\"a\"");
}

TEST_F(CharTest, MoldCostsFourWhateverTheEscape) {
  for (int32_t cp : {int32_t('a'), 31, 0x1E}) {
    open_frame();
    Cell v = C(cp);
    Cell* c = stack::push_copy(&v);
    Cell* buf = push_text("");
    EXPECT_EQ(actions::direct_mold(c, buf, false, false, false, nullptr, 100, 0), 96);
    EXPECT_EQ(actions::direct_form(c, buf, nullptr, 100), 99);
  }
}

// #"a" = #"A"               => false
// #"a" > #"A"               => true
// #"A" = 65                 => true
// strict-equal? #"A" 65     => false
// #"A" < 1.0                => !! script/invalid-compare
TEST_F(CharTest, Compare) {
  EXPECT_FALSE(compare(C('a'), C('A'), 0));
  EXPECT_TRUE(compare(C('a'), C('A'), 5));
  EXPECT_TRUE(compare(C('A'), I(65), 0));
  EXPECT_FALSE(compare(C('A'), I(65), 2));
  EXPECT_TRUE(compare(C('A'), C('A'), 2));
  EXPECT_FALSE(compare(C('A'), F(65.0), 0));
  EXPECT_RAISES(compare(C('A'), F(1.0), 3), err::script::invalid_compare);
}

// absolute #"a" => #"a" ; even? #"b" => true ; odd? #"a" => true ; random #"z" => a char 1..122
TEST_F(CharTest, InheritedActions) {
  Cell r = call(act::ABSOLUTE, C('a'));
  EXPECT_EQ(r.header, uint32_t(T_CHAR));
  EXPECT_EQ(cell::get_int(&r), 'a');
  Cell b = C('b'), a = C('a');
  EXPECT_TRUE(actions::resolve<act::EVEN_Q>(&b)(&b));
  EXPECT_TRUE(actions::resolve<act::ODD_Q>(&a)(&a));
  open_frame();
  Cell z = C('z');
  Cell* c = stack::push_copy(&z);
  for (int i = 0; i < 50; ++i) {
    *c = C('z');
    Cell* out = actions::resolve<act::RANDOM>(c)(c, false, false, false);
    ASSERT_EQ(out->header, uint32_t(T_CHAR));
    EXPECT_TRUE(cell::get_int(out) >= 1 && cell::get_int(out) <= 122);
  }
  open_frame();
  c = char_::push_new('q');
  EXPECT_EQ(c->header, uint32_t(T_CHAR));
}

}  // namespace
