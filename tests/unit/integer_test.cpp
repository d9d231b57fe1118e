// Tests of integer!: overflow into float!, division and remainder, math errors, power,
// round, make/to, compare, random, text; text-to-integer and the random generator.
#include <cmath>

#include "runtime/datatypes/integer.h"
#include "runtime/evaluator/number_text.h"
#include "runtime/runtime_words.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using IntegerTest = DatatypeTest;
constexpr int32_t MIN = INT32_MIN;

struct MathRow {
  const char* kel;  // the row as Kel text
  uint32_t action;
  Cell a, b;
  const char* molded;
};

// Arithmetic results read back by molding.
TEST_F(IntegerTest, Arithmetic) {
  MathRow rows[] = {
      {"2147483647 + 1", act::ADD, I(2147483647), I(1), "2147483648.0"},
      {"-2147483648 - 1", act::SUBTRACT, I(MIN), I(1), "-2147483649.0"},
      {"65536 * 65536", act::MULTIPLY, I(65536), I(65536), "4294967296.0"},
      {"-2147483648 * -1", act::MULTIPLY, I(MIN), I(-1), "2147483648.0"},
      {"2 + 3", act::ADD, I(2), I(3), "5"},
      {"7 / 2", act::DIVIDE, I(7), I(2), "3.5"},
      {"-7 / 2", act::DIVIDE, I(-7), I(2), "-3.5"},
      {"6 / 3", act::DIVIDE, I(6), I(3), "2"},
      {"remainder -7 2", act::REMAINDER, I(-7), I(2), "-1"},
      {"remainder 7 -2", act::REMAINDER, I(7), I(-2), "1"},
      {"12 and~ 10", act::AND, I(12), I(10), "8"},
      {"12 or~ 10", act::OR, I(12), I(10), "14"},
      {"12 xor~ 10", act::XOR, I(12), I(10), "6"},
      {"65 + #\"A\"", act::ADD, I(65), C(65), "130"},
      {"absolute -5", act::ABSOLUTE, I(-5), NONE(), "5"},
      {"negate 5", act::NEGATE, I(5), NONE(), "-5"},
      {"complement 0", act::COMPLEMENT, I(0), NONE(), "-1"},
  };
  for (const MathRow& r : rows) EXPECT_EQ(mold_call(r.action, r.a, r.b), r.molded) << r.kel;
}

TEST_F(IntegerTest, OverflowReplacesTheWholeHeader) {
  Cell a = I(2147483647);
  a.header |= hdr::NEW_LINE;
  Cell r = call(act::ADD, a, I(1));
  EXPECT_EQ(r.header, uint32_t(T_FLOAT));  // new-line flag dropped with the type
  Cell b = I(1);
  b.header |= hdr::NEW_LINE;
  r = call(act::ADD, b, I(1));
  EXPECT_EQ(r.header, uint32_t(T_INTEGER) | hdr::NEW_LINE);  // a normal result keeps it
}

// 1 / 0                 => !! math/zero-divide
// 1 // 0                => !! math/zero-divide
// -2147483648 / -1      => !! math/overflow
// remainder -2147483648 -1 => !! math/overflow
// negate -2147483648    => !! math/overflow
// absolute -2147483648  => !! math/overflow
// 1 + "a"               => !! script/invalid-type
// 1 + 2x3               => 3x4 (the operands swap)
TEST_F(IntegerTest, MathErrors) {
  EXPECT_RAISES(call(act::DIVIDE, I(1), I(0)), err::math::zero_divide);
  EXPECT_RAISES(call(act::REMAINDER, I(1), I(0)), err::math::zero_divide);
  EXPECT_RAISES(call(act::DIVIDE, I(MIN), I(-1)), err::math::overflow);
  EXPECT_RAISES(call(act::REMAINDER, I(MIN), I(-1)), err::math::overflow);
  EXPECT_RAISES(call(act::NEGATE, I(MIN)), err::math::overflow);
  EXPECT_RAISES(call(act::ABSOLUTE, I(MIN)), err::math::overflow);
  EXPECT_RAISES(call(act::ADD, I(1), NONE()), err::script::invalid_type);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_NONE));
  // pair, point and tuple refuse subtract and divide, date all but add
  EXPECT_RAISES(call(act::DIVIDE, I(1), Cell{T_PAIR, 0, 1, 2}), err::script::not_related);
  EXPECT_RAISES(call(act::SUBTRACT, I(1), Cell{T_PAIR, 0, 1, 2}), err::script::not_related);
  EXPECT_RAISES(call(act::SUBTRACT, I(1), Cell{T_TUPLE, 0, 0, 0}), err::script::not_related);
  EXPECT_RAISES(call(act::MULTIPLY, I(1), Cell{T_DATE, 0, 0, 0}), err::script::not_related);
  Cell sum = call(act::ADD, I(1), Cell{T_PAIR, 0, 2, 3});
  EXPECT_EQ(cell::type(&sum), uint32_t(T_PAIR));
  EXPECT_EQ(sum.w2, 3u);
  EXPECT_EQ(sum.w3, 4u);
}

TEST_F(IntegerTest, DateRefusalNamesTheActionAsked) {
  using runtime::WordKind;
  size_t sub = runtime::runtime_word_index("subtract", WordKind::GLOBAL_WORD);
  size_t mul = runtime::runtime_word_index("multiply", WordKind::GLOBAL_WORD);
  size_t div = runtime::runtime_word_index("divide", WordKind::GLOBAL_WORD);
  uint32_t saved[3] = {runtime::runtime_word_ids[sub], runtime::runtime_word_ids[mul],
                       runtime::runtime_word_ids[div]};
  runtime::runtime_word_ids[sub] = 901;  // stand-in symbol ids
  runtime::runtime_word_ids[mul] = 902;
  runtime::runtime_word_ids[div] = 903;
  struct Row {
    uint32_t action;
    uint32_t symbol;
  } rows[] = {{act::SUBTRACT, 901}, {act::MULTIPLY, 902}, {act::DIVIDE, 903}};
  for (const Row& r : rows) {
    EXPECT_RAISES(call(r.action, I(1), Cell{T_DATE, 0, 0, 0}), err::script::not_related);
    EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_WORD));
    EXPECT_EQ(error::pending().args[0].w2, r.symbol);
  }
  runtime::runtime_word_ids[sub] = saved[0];
  runtime::runtime_word_ids[mul] = saved[1];
  runtime::runtime_word_ids[div] = saved[2];
}

TEST_F(IntegerTest, DoOpWithoutResultCell) {
  open_frame();
  EXPECT_EQ(integer::do_op(7, 2, integer::op::DIVIDE, nullptr), 3);
  EXPECT_EQ(integer::do_op(-7, 2, integer::op::DIVIDE, nullptr), -3);
  open_frame();
  EXPECT_RAISES(integer::do_op(2147483647, 1, integer::op::ADD, nullptr), err::math::overflow);
  open_frame();
  EXPECT_RAISES(integer::do_op(MIN, 1, integer::op::SUBTRACT, nullptr), err::math::overflow);
  open_frame();
  EXPECT_RAISES(integer::do_op(65536, 65536, integer::op::MULTIPLY, nullptr), err::math::overflow);
  Cell r = I(0);
  EXPECT_EQ(integer::do_op(40, 2, integer::op::ADD, &r), 42);
  EXPECT_EQ(integer::get(&r), 42);
}

// power 2 31    => 2147483648.0
// power -2 31   => -2147483648
// power 0 0     => 1
// power 2 30    => 1073741824
// power 2 -1    => 0.5
// power 2 0.5   => 1.4142135623730951
// power 2 "a"   => !! script/expect-arg
// power 3 40    => 1.2157665459056929e19
TEST_F(IntegerTest, Power) {
  EXPECT_EQ(mold_call(act::POWER, I(2), I(31)), "2147483648.0");
  EXPECT_EQ(mold_call(act::POWER, I(-2), I(31)), "-2147483648");
  EXPECT_EQ(mold_call(act::POWER, I(0), I(0)), "1");
  EXPECT_EQ(mold_call(act::POWER, I(2), I(30)), "1073741824");
  EXPECT_EQ(mold_call(act::POWER, I(2), I(-1)), "0.5");
  EXPECT_EQ(mold_call(act::POWER, I(2), F(0.5)), "1.4142135623730951");
  EXPECT_EQ(mold_call(act::POWER, I(3), I(40)), "1.2157665459056929e19");
  EXPECT_EQ(mold_call(act::POWER, I(-3), I(3)), "-27");
  EXPECT_RAISES(call(act::POWER, I(2), NONE()), err::script::expect_arg);
}

Cell round_to(DatatypeTest* t, Cell v, Cell scale, const char* flag) {
  (void)t;
  Cell* value = stack::push_copy(&v);
  Cell* s = stack::push_copy(&scale);
  auto fn = actions::resolve<act::ROUND>(value);
  std::string f = flag;
  return *fn(value, s, f == "even", f == "down", f == "half-down", f == "floor",
             f == "ceiling", f == "half-ceiling");
}

// round/to 17 5            => 15
// round/to 18 5            => 20
// round/to -17 5           => -15
// round/to 15 10           => 20
// round/to/even 25 10      => 20
// round/to/even 35 10      => 40
// round/to/floor -11 5     => -15
// round/to/ceiling -11 5   => -10
// round/to/down -19 5      => -15
// round/to/half-down 15 10 => 10
// round/to/half-ceiling -15 10 => -10
// round/to 2147483647 10   => !! math/overflow
// round/to/down 2147483647 10 => 2147483640
// round/to 7 0             => 7
// round/to -2147483648 3   => -2147483648
TEST_F(IntegerTest, Round) {
  struct Row {
    const char* kel;
    int32_t v, s;
    const char* flag;
    const char* molded;
  } rows[] = {
      {"round/to 17 5", 17, 5, "", "15"},
      {"round/to 18 5", 18, 5, "", "20"},
      {"round/to -17 5", -17, 5, "", "-15"},
      {"round/to 15 10", 15, 10, "", "20"},
      {"round/to -15 10", -15, 10, "", "-20"},
      {"round/to/even 25 10", 25, 10, "even", "20"},
      {"round/to/even 35 10", 35, 10, "even", "40"},
      {"round/to/floor -11 5", -11, 5, "floor", "-15"},
      {"round/to/ceiling -11 5", -11, 5, "ceiling", "-10"},
      {"round/to/ceiling 11 5", 11, 5, "ceiling", "15"},
      {"round/to/down -19 5", -19, 5, "down", "-15"},
      {"round/to/half-down 15 10", 15, 10, "half-down", "10"},
      {"round/to/half-ceiling -15 10", -15, 10, "half-ceiling", "-10"},
      {"round/to/half-ceiling 15 10", 15, 10, "half-ceiling", "20"},
      {"round/to/down 2147483647 10", 2147483647, 10, "down", "2147483640"},
      {"round/to 7 0", 7, 0, "", "7"},
      {"round/to 7 -5", 7, -5, "", "5"},
      {"round/to -2147483648 3", MIN, 3, "", "-2147483648"},
  };
  for (const auto& r : rows) {
    open_frame();
    EXPECT_EQ(mold(round_to(this, I(r.v), I(r.s), r.flag)), r.molded) << r.kel;
  }
  open_frame();
  EXPECT_RAISES(round_to(this, I(2147483647), I(10), ""), err::math::overflow);
  open_frame();
  EXPECT_RAISES(round_to(this, I(5), I(MIN), ""), err::math::overflow);
  open_frame();
  EXPECT_RAISES(round_to(this, I(5), Cell{T_MONEY, 0, 0, 0}, ""), err::script::not_related);
  // without /to the scale is 1: the value comes back
  open_frame();
  Cell v = I(9);
  Cell* c = stack::push_copy(&v);
  EXPECT_EQ(integer::get(actions::resolve<act::ROUND>(c)(c, nullptr, false, false, false, false,
                                                           false, false)),
            9);
}

// to integer! 2147483647.9  => 2147483647
// to integer! 2147483648.0  => !! script/type-limit
// to integer! -1.9          => -1
// to integer! -2147483648.5 => -2147483648
// to integer! 1.#NaN        => !! script/type-limit
// to integer! "12"          => 12
// to integer! "1.5"         => !! script/bad-to-arg
// to integer! "-2147483648" => -2147483648
// to integer! "12'345"      => 12345
// to integer! ""            => !! script/bad-to-arg
// to integer! #"A"          => 65
// make integer! true        => 1
// to integer! none          => !! script/bad-to-arg
TEST_F(IntegerTest, MakeAndTo) {
  EXPECT_EQ(mold(make_to(act::TO, DT(T_INTEGER), F(2147483647.9))), "2147483647");
  EXPECT_RAISES(make_to(act::TO, DT(T_INTEGER), F(2147483648.0)), err::script::type_limit);
  EXPECT_EQ(mold(make_to(act::TO, DT(T_INTEGER), F(-1.9))), "-1");
  EXPECT_EQ(mold(make_to(act::TO, DT(T_INTEGER), F(-2147483648.5))), "-2147483648");
  EXPECT_RAISES(make_to(act::TO, DT(T_INTEGER), F(NAN)), err::script::type_limit);
  EXPECT_RAISES(make_to(act::TO, DT(T_INTEGER), F(-INFINITY)), err::script::type_limit);
  EXPECT_EQ(mold(make_to_text(act::TO, DT(T_INTEGER), "12")), "12");
  EXPECT_RAISES(make_to_text(act::TO, DT(T_INTEGER), "1.5"), err::script::bad_to_arg);
  EXPECT_EQ(cell::type(&error::pending().args[1]), uint32_t(T_STRING));
  EXPECT_EQ(mold(make_to_text(act::TO, DT(T_INTEGER), "-2147483648")), "-2147483648");
  EXPECT_EQ(mold(make_to_text(act::TO, DT(T_INTEGER), "12'345")), "12345");
  EXPECT_RAISES(make_to_text(act::TO, DT(T_INTEGER), ""), err::script::bad_to_arg);
  EXPECT_RAISES(make_to_text(act::TO, DT(T_INTEGER), "2147483648"), err::script::bad_to_arg);
  EXPECT_EQ(mold(make_to(act::TO, DT(T_INTEGER), C(65))), "65");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_INTEGER), L(true))), "1");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_INTEGER), L(false))), "0");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_INTEGER), I(-4))), "-4");
  EXPECT_RAISES(make_to(act::TO, DT(T_INTEGER), NONE()), err::script::bad_to_arg);
  // to integer! 1:30 => 5400 (a time holds its seconds as a double)
  Cell t = F(5400.0);
  t.header = T_TIME;
  EXPECT_EQ(mold(make_to(act::TO, DT(T_INTEGER), t)), "5400");
}

TEST_F(IntegerTest, FromBinary) {
  struct Row {
    std::vector<uint8_t> bytes;
    int32_t head;
    const char* molded;
  } rows[] = {{{0x01, 0x02}, 0, "258"},
              {{}, 0, "0"},
              {{0x01, 0x02, 0x03, 0x04, 0x05}, 0, "16909060"},
              {{0xFF, 0xFF, 0xFF, 0xFF}, 0, "-1"},
              {{0x00, 0x01, 0x02}, 1, "258"},
              {{0x01}, 5, "0"}};  // a head past the tail reads as empty
  for (const auto& r : rows) {
    open_frame();
    Cell type = DT(T_INTEGER);
    Cell* proto = stack::push_copy(&type);
    Cell* bin = stack::reserve_cell();
    *bin = NONE();
    Node n = memory::series_new_bytes(uint32_t(r.bytes.size()));
    *bin = Cell{T_BINARY, uint32_t(r.head), n, 0};
    SeriesBuffer* b = memory::node_buffer(bin->w2);
    for (uint8_t x : r.bytes) *memory::tail(b) = x, b->tail++;
    Cell out = *datatype::slot<act::TO>(T_INTEGER)(proto, bin, T_INTEGER);
    EXPECT_EQ(mold(out), r.molded);
  }
}

// to integer! #FFFFFFFF   => -1
// to integer! #FF         => 255
// to integer! #123456789  => !! script/invalid-data
// to integer! #12G        => !! script/invalid-data
TEST_F(IntegerTest, HexOfAnIssue) {
  open_frame();
  Cell issue{T_ISSUE, 0, 5, 0};
  auto hex = [&](const char* t) {
    return integer::from_hex_text(&issue, reinterpret_cast<const uint8_t*>(t),
                                  int32_t(std::strlen(t)));
  };
  EXPECT_EQ(hex("FFFFFFFF"), -1);
  EXPECT_EQ(hex("FF"), 255);
  EXPECT_EQ(hex("ff"), 255);
  EXPECT_EQ(hex("7fffffff"), 2147483647);
  open_frame();
  EXPECT_RAISES(hex("123456789"), err::script::invalid_data);
  EXPECT_EQ(error::pending().args[0].header, uint32_t(T_ISSUE));
  open_frame();
  EXPECT_RAISES(hex("12G"), err::script::invalid_data);
  open_frame();
  EXPECT_RAISES(hex(""), err::script::invalid_data);
  open_frame();
  EXPECT_RAISES(hex("1\x01"), err::script::invalid_data);
  EXPECT_EQ(hex("\xC1"), 10);  // each character is taken modulo 128
}

// 1 = 1.0               => true
// strict-equal? 1 1.0   => false
// 65 = #"A"             => true
// 1 < 2                 => true
// 3 > 2.5               => true
// 1 = "1"               => false
// 1 < "1"               => !! script/invalid-compare
TEST_F(IntegerTest, Compare) {
  EXPECT_TRUE(compare(I(1), F(1.0), 0));
  EXPECT_FALSE(compare(I(1), F(1.0), 2));
  EXPECT_TRUE(compare(I(65), C(65), 0));
  EXPECT_FALSE(compare(I(65), C(65), 2));
  EXPECT_FALSE(compare(I(65), C(65), 12));
  EXPECT_TRUE(compare(I(1), I(2), 3));
  EXPECT_TRUE(compare(I(3), F(2.5), 5));
  EXPECT_TRUE(compare(I(MIN), I(2147483647), 3));
  EXPECT_FALSE(compare(I(1), NONE(), 0));
  EXPECT_RAISES(compare(I(1), NONE(), 3), err::script::invalid_compare);
}

// form -2147483648 => prints: -2147483648 ; form 0 => prints: 0
TEST_F(IntegerTest, Text) {
  EXPECT_EQ(form(I(MIN)), "-2147483648");
  EXPECT_EQ(form(I(0)), "0");
  EXPECT_EQ(mold(I(2147483647)), "2147483647");
  EXPECT_EQ(mold(I(-45), true), "-45");
  open_frame();
  Cell v = I(-123);
  Cell* c = stack::push_copy(&v);
  Cell* buf = push_text("");
  EXPECT_EQ(actions::direct_form(c, buf, nullptr, 10), 6);
}

// random 0 => 0 ; random 1 => 1 ; random -3 => -1, -2 or -3 ; even? -4 ; odd? -3
TEST_F(IntegerTest, RandomAndParity) {
  open_frame();
  Cell v = I(0);
  Cell* c = stack::push_copy(&v);
  auto rnd = actions::resolve<act::RANDOM>(c);
  EXPECT_EQ(integer::get(rnd(c, false, false, false)), 0);
  for (int i = 0; i < 50; ++i) {
    *c = I(1);
    EXPECT_EQ(integer::get(rnd(c, false, false, false)), 1);
    *c = I(-3);
    int32_t r = integer::get(rnd(c, false, i % 2 == 0, false));
    EXPECT_TRUE(r >= -3 && r <= -1) << r;
    *c = I(MIN);
    EXPECT_LT(integer::get(rnd(c, false, false, false)), 0);
  }
  *c = I(5);
  EXPECT_EQ(cell::type(rnd(c, true, false, false)), uint32_t(T_UNSET));  // /seed
  Cell e = I(-4), o = I(-3);
  EXPECT_TRUE(actions::resolve<act::EVEN_Q>(&e)(&e));
  EXPECT_FALSE(actions::resolve<act::ODD_Q>(&e)(&e));
  EXPECT_TRUE(actions::resolve<act::ODD_Q>(&o)(&o));
}

TEST(RandomGenerator, SeedAndPick) {
  // after seeding with s the first output is the tempered value of s itself
  auto temper = [](int32_t y) {
    y ^= y >> 11;
    y ^= int32_t((uint32_t(y) << 7) & 0x9D2C5680u);
    y ^= int32_t((uint32_t(y) << 15) & 0xEFC60000u);
    y ^= y >> 18;
    return y;
  };
  for (int32_t s : {5, -7, 19650218}) {
    random::seed(s);
    EXPECT_EQ(random::next_word(), temper(s));
  }
  random::seed(1);
  int32_t first[3] = {random::next_word(), random::next_word(), random::next_word()};
  random::seed(1);
  for (int32_t f : first) EXPECT_EQ(random::next_word(), f);
  for (int i = 0; i < 2000; ++i) {  // past one regeneration: outputs stay 31-bit
    int32_t w = random::next_word();
    ASSERT_GE(w, 0);
  }
  EXPECT_EQ(random::pick_1_to_n(false, 0), 0);
  EXPECT_EQ(random::pick_1_to_n(true, 1), 1);
  for (int i = 0; i < 100; ++i) {
    int32_t r = random::pick_1_to_n(true, 6);
    EXPECT_TRUE(r >= 1 && r <= 6);
    EXPECT_GE(random::secure_31(), 0);
  }
}

TEST(TextToInteger, Rows) {
  struct Row {
    const char* text;
    int32_t value;
    int32_t error;
  } rows[] = {{"0", 0, 0},
              {"+17", 17, 0},
              {"-2147483648", MIN, 0},
              {"2147483647", 2147483647, 0},
              {"2147483648", 0, TEXT_OVERFLOW},
              {"-21474836480", 0, TEXT_OVERFLOW},
              {"-2147483649", 0, TEXT_OVERFLOW},
              {"12'345", 12345, 0},
              {"12a", 0, TEXT_BAD_CHAR},
              {"1.5", 0, TEXT_BAD_CHAR},
              {"", 0, TEXT_BAD_CHAR},
              {"-", 0, TEXT_BAD_CHAR},
              {"99999999999999999999", 0, TEXT_OVERFLOW}};
  for (const Row& r : rows) {
    int32_t error = 7;
    int32_t v = text_to_integer(reinterpret_cast<const uint8_t*>(r.text),
                                int32_t(std::strlen(r.text)), 1, &error);
    EXPECT_EQ(error, r.error) << r.text;
    EXPECT_EQ(v, r.value) << r.text;
  }
  // wider units
  const uint16_t wide[] = {'-', '4', '2'};
  int32_t error = 0;
  EXPECT_EQ(text_to_integer(reinterpret_cast<const uint8_t*>(wide), 3, 2, &error), -42);
  const uint32_t widest[] = {'7', 0x663};  // an Arabic-Indic digit is no digit here
  EXPECT_EQ(text_to_integer(reinterpret_cast<const uint8_t*>(widest), 2, 4, &error), 0);
  EXPECT_EQ(error, TEXT_BAD_CHAR);
  EXPECT_EQ(lexer::hex_digit['a'], 10);
  EXPECT_EQ(lexer::hex_digit['F'], 15);
  EXPECT_EQ(lexer::hex_digit['9'], 9);
  EXPECT_EQ(lexer::hex_digit['g'], -1);
  EXPECT_EQ(lexer::hex_digit['@'], -1);
}

}  // namespace
