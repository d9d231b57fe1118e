// Tests of float! beyond its text and compare: the mixed-operand dispatcher and its result
// types, remainder rules, round with every refinement, make/to, parity, negate, random.
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

Cell P(double d) {
  Cell c{T_PERCENT, 0, 0, 0};
  cell::put_double(&c, d);
  return c;
}

class FloatTest : public DatatypeTest {
 protected:
  // round through the slot of the value's type; scale may be null.
  Cell rnd(Cell v, const Cell* scale, const char* refs = "") {
    open_frame();
    Cell* value = stack::push_copy(&v);
    Cell* s = scale ? stack::push_copy(scale) : nullptr;
    auto has = [&](char c) { return std::strchr(refs, c) != nullptr; };
    auto fn = datatype::slot<act::ROUND>(cell::type(value));
    return *fn(value, s, has('e'), has('d'), has('h'), has('f'), has('c'), has('C'));
  }
  std::string mold_rnd(Cell v, const Cell* scale, const char* refs = "") {
    return mold(rnd(v, scale, refs));
  }
  bool parity(uint32_t action, Cell v) {
    auto fn = reinterpret_cast<datatype::PredicateFn>(actions::resolve_for_cell(&v, action));
    return fn(&v);
  }
};

// 0.1 + 0.2 => 0.3 ; 2 * 50% => 1.0 ; 50% * 2 => 100% ; 1.5 + 50% => 2.0 ; 1.0 / 0 => 1.#INF
// 0.0 / 0 => 1.#NaN ; 50% + #"a" => !! script/invalid-type ; 7 % 2.0 => 1.0
TEST_F(FloatTest, ArithmeticAndResultTypes) {
  struct Row {
    uint32_t action;
    Cell a, b;
    const char* molded;
  } rows[] = {
      {act::ADD, F(0.1), F(0.2), "0.30000000000000004"},
      {act::MULTIPLY, I(2), P(0.5), "1.0"},
      {act::MULTIPLY, P(0.5), I(2), "100%"},
      {act::ADD, F(1.5), P(0.5), "2.0"},
      {act::ADD, P(0.5), P(0.25), "75%"},
      {act::DIVIDE, F(1.0), I(0), "1.#INF"},
      {act::DIVIDE, F(-1.0), I(0), "-1.#INF"},
      {act::DIVIDE, F(0.0), I(0), "1.#NaN"},
      {act::SUBTRACT, I(1), F(0.5), "0.5"},
      {act::ADD, F(1.0), C('a'), "98.0"},
      {act::REMAINDER, I(7), F(2.0), "1.0"},
      {act::REMAINDER, F(-7.0), F(2.0), "-1.0"},
      {act::REMAINDER, F(7.0), F(0.0), "1.#NaN"},
      {act::REMAINDER, F(7.0), F(INFINITY), "7.0"},
      {act::REMAINDER, F(INFINITY), F(INFINITY), "1.#NaN"},
      {act::REMAINDER, F(7.0), F(NAN), "1.#NaN"},
  };
  for (auto& r : rows) EXPECT_EQ(mold_call(r.action, r.a, r.b), r.molded) << r.molded;
  EXPECT_RAISES(call(act::ADD, P(0.5), C('a')), err::script::invalid_type);
  EXPECT_RAISES(call(act::ADD, F(0.5), NONE()), err::script::invalid_type);
  EXPECT_RAISES(call(act::ADD, I(1), NONE()), err::script::invalid_type);
  EXPECT_RAISES(call(act::OR, I(1), F(1.0)), err::script::invalid_type);
}

// 4.35 * 100 => 435.0 (form) ; 1e16 => 1.0e16 (form)
TEST_F(FloatTest, ProductFormsWithoutNoise) {
  EXPECT_EQ(form(call(act::MULTIPLY, F(4.35), I(100))), "435.0");
  EXPECT_EQ(form(F(1e16)), "1.0e16");
}

// negate 0.0 => 0.0 ; negate 2.5 => -2.5 ; absolute -0.0 => 0.0 ; absolute -2.5 => 2.5
TEST_F(FloatTest, NegateAndAbsolute) {
  EXPECT_EQ(mold_call(act::NEGATE, F(0.0)), "0.0");
  EXPECT_EQ(mold_call(act::NEGATE, F(2.5)), "-2.5");
  EXPECT_EQ(mold_call(act::ABSOLUTE, F(-0.0)), "0.0");
  EXPECT_EQ(mold_call(act::ABSOLUTE, F(-2.5)), "2.5");
  EXPECT_EQ(mold_call(act::NEGATE, P(0.5)), "-50%");
}

// even? 2.5 => true ; odd? 3.9 => true ; odd? 1e10 + 1 => true ; odd? 1.#NaN => false
TEST_F(FloatTest, ParityOfTheTruncatedValue) {
  EXPECT_TRUE(parity(act::EVEN_Q, F(2.5)));
  EXPECT_TRUE(parity(act::ODD_Q, F(3.9)));
  EXPECT_TRUE(parity(act::ODD_Q, F(-3.9)));
  EXPECT_TRUE(parity(act::ODD_Q, F(1e10 + 1)));
  EXPECT_FALSE(parity(act::EVEN_Q, F(1e10 + 1)));
  EXPECT_TRUE(parity(act::EVEN_Q, F(1e300)));
  for (double d : {double(NAN), double(INFINITY), -double(INFINITY)}) {
    EXPECT_FALSE(parity(act::EVEN_Q, F(d)));
    EXPECT_FALSE(parity(act::ODD_Q, F(d)));
  }
}

// round 2.5 => 3.0 ; round -2.5 => -3.0 ; round/even 2.5 => 2.0 ; round/half-down 2.5 => 2.0
// round/half-ceiling -2.5 => -2.0 ; round/down -2.7 => -2.0 ; round/floor -2.2 => -3.0
// round/ceiling -2.7 => -2.0 ; round/to 1.2345 0.01 => 1.23 ; round/to 7.0 2 => 8
// round 12.5% => 13% ; round/to 0.0 0 => 0.0 ; round/to 3e9 1 => !! math/overflow
TEST_F(FloatTest, Round) {
  struct Row {
    double x;
    const char* refs;
    const char* molded;
  } rows[] = {{2.5, "", "3.0"},           {-2.5, "", "-3.0"},   {2.4, "", "2.0"},
              {2.5, "e", "2.0"},          {3.5, "e", "4.0"},    {-3.5, "e", "-4.0"},
              {2.5, "h", "2.0"},          {-2.5, "h", "-2.0"},  {2.5, "C", "3.0"},
              {-2.5, "C", "-2.0"},        {-2.7, "d", "-2.0"},  {-2.2, "f", "-3.0"},
              {-2.7, "c", "-2.0"},        {2.2, "c", "3.0"},    {1e300, "", "1.0e300"},
              {INFINITY, "", "1.#INF"}};
  for (auto& r : rows) EXPECT_EQ(mold_rnd(F(r.x), nullptr, r.refs), r.molded) << r.x << r.refs;
  Cell hundredth = F(0.01), two = I(2), one = I(1), zero = I(0), fzero = F(0.0);
  EXPECT_EQ(mold_rnd(F(1.2345), &hundredth), "1.23");
  EXPECT_EQ(mold_rnd(F(7.0), &two), "8");
  EXPECT_EQ(mold_rnd(F(-7.0), &two), "-8");
  EXPECT_EQ(mold_rnd(F(2.5), &one), "3");
  EXPECT_EQ(mold_rnd(F(0.0), &zero), "0.0");
  EXPECT_EQ(mold_rnd(F(7.25), &zero), "7.25");
  EXPECT_EQ(mold_rnd(F(7.25), &fzero), "7.25");
  EXPECT_EQ(mold_rnd(P(0.125), nullptr), "13%");
  Cell pct = P(0.01);  // a percent value reads its scale in hundredths
  EXPECT_EQ(mold_rnd(P(0.5), &pct), "50%");
  EXPECT_EQ(mold_rnd(P(0.123456), &pct), "12.35%");
  EXPECT_RAISES(rnd(F(3e9), &one), err::math::overflow);
  EXPECT_RAISES(rnd(F(NAN), &one), err::math::overflow);
  Cell big = F(1e308);
  EXPECT_RAISES(rnd(F(1.7e308), &big), err::math::overflow);
  // tiny scales whose reciprocal overflows are renormalised first
  Cell tiny = F(std::ldexp(1.0, -1070));
  EXPECT_EQ(mold_rnd(F(std::ldexp(3.0, -1070)), &tiny), mold(F(std::ldexp(3.0, -1070))));
  // an integer value with a float scale rounds as a float of that scale's type
  EXPECT_EQ(mold_rnd(I(7), &hundredth), "7.0");
  Cell money{T_MONEY, 0, 0, 0};
  EXPECT_RAISES(rnd(F(1.0), &money), err::script::not_related);
}

// make float! 3 => 3.0 ; make float! [1.5 3] => 1500.0 ; to float! "1,5" => 1.5
// make float! #{3FF0000000000000} => 1.0 ; make float! [1 1e10] => !! script/bad-to-arg
TEST_F(FloatTest, MakeAndTo) {
  Cell t = DT(T_FLOAT);
  EXPECT_EQ(mold(make_to(act::MAKE, t, I(3))), "3.0");
  EXPECT_EQ(mold(make_to(act::TO, t, C('a'))), "97.0");
  EXPECT_EQ(mold(make_to(act::TO, t, P(0.5))), "0.5");
  EXPECT_EQ(mold(make_to(act::TO, DT(T_PERCENT), F(0.5))), "50%");
  EXPECT_EQ(mold(make_to_text(act::TO, t, "1,5")), "1.5");
  EXPECT_EQ(mold(make_to_text(act::TO, t, "-2.5e3")), "-2500.0");
  EXPECT_RAISES(make_to_text(act::TO, t, ""), err::script::bad_to_arg);
  EXPECT_RAISES(make_to_text(act::TO, t, "1.5x"), err::script::bad_to_arg);
  EXPECT_RAISES(make_to(act::TO, t, NONE()), err::script::bad_to_arg);

  auto block_of = [&](std::initializer_list<Cell> cells) {
    open_frame();
    Cell* b = block::push_empty(4);
    for (const Cell& c : cells) block::append_copy(b, &c);
    return *b;
  };
  auto make_from = [&](Cell spec) {
    Cell* proto = stack::push_copy(&t);
    Cell* s = stack::push_copy(&spec);
    return *float_::make(proto, s, T_FLOAT);
  };
  EXPECT_EQ(mold(make_from(block_of({F(1.5), I(3)}))), "1500.0");
  EXPECT_EQ(mold(make_from(block_of({I(5), F(-1.9)}))), "0.5");
  EXPECT_RAISES(make_from(block_of({I(1), F(1e10)})), err::script::bad_to_arg);
  EXPECT_RAISES(make_from(block_of({I(1), F(NAN)})), err::script::bad_to_arg);
  EXPECT_RAISES(make_from(block_of({I(1)})), err::script::bad_to_arg);
  EXPECT_RAISES(make_from(block_of({I(1), NONE()})), err::script::bad_to_arg);
  EXPECT_RAISES(make_from(block_of({I(1), I(2), I(3)})), err::script::bad_to_arg);
}

TEST_F(FloatTest, RandomStaysWithinTheValue) {
  for (int i = 0; i < 50; ++i) {
    Cell v = F(10.0);
    open_frame();
    Cell* c = stack::push_copy(&v);
    double d = float_::value_of(float_::random(c, false, false, false));
    EXPECT_GE(d, 0.0);
    EXPECT_LE(d, 10.0);
  }
  open_frame();
  Cell v = F(1.5);
  Cell* c = stack::push_copy(&v);
  EXPECT_EQ(cell::type(float_::random(c, true, false, false)), T_UNSET);
}

TEST_F(FloatTest, EqualSingle) {
  EXPECT_TRUE(float_::equal_single_q(1.0f, 1.0f));
  EXPECT_TRUE(float_::equal_single_q(0.0f, -0.0f));
  EXPECT_TRUE(float_::equal_single_q(1.0f, std::nextafter(1.0f, 2.0f)));
  EXPECT_FALSE(float_::equal_single_q(1.0f, 1.001f));
  EXPECT_FALSE(float_::equal_single_q(NAN, NAN));
  EXPECT_TRUE(float_::equal_single_q(INFINITY, INFINITY));
  EXPECT_FALSE(float_::equal_single_q(INFINITY, -INFINITY));
}

// 50% => 50% ; 0% => 0% ; 12.5% => 12.5% ; 1e-20% => 0% ; 50% = 0.5 => true
TEST_F(FloatTest, PercentText) {
  EXPECT_EQ(form(P(0.5)), "50%");
  EXPECT_EQ(mold(P(0.0)), "0%");
  EXPECT_EQ(mold(P(0.125)), "12.5%");
  EXPECT_EQ(form(P(0.125)), "12.5%");
  EXPECT_EQ(mold(P(1e-20)), "0%");
  EXPECT_EQ(mold(P(NAN)), "1.#NaN");
  EXPECT_TRUE(compare(P(0.5), F(0.5), 0));
  EXPECT_FALSE(compare(P(0.5), F(0.5), 2));
  EXPECT_EQ(datatype::slot<act::REFLECT>(T_PERCENT), nullptr);
  EXPECT_EQ(datatype::slot<act::EVAL_PATH>(T_PERCENT), nullptr);
}

}  // namespace
