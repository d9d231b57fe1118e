// Tests of the float! row basics: form (16 digits, noise trimmed), mold (shortest round
// trip), tolerant compare and power.
#include <cmath>
#include <limits>

#include "runtime/datatypes/float.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using FloatRowTest = DatatypeTest;

// form 1e20        => prints: 1.0e20
// form 1.5e-7      => prints: 1.5e-7
// form 3.0         => prints: 3.0
// form 1e-20       => prints: 0.0
// form 4.35 * 100  => prints: 435.0
// form 0.1 + 0.2   => prints: 0.3
// mold 0.1 + 0.2   => 0.30000000000000004
// mold 0.1         => 0.1
// mold 1e16        => 10000000000000000.0
// mold 1e17        => 1.0e17
// mold -0.0        => -0.0
TEST_F(FloatRowTest, Text) {
  struct Row {
    double d;
    const char* formed;
    const char* molded;
  } rows[] = {{1e20, "1.0e20", "1.0e20"},
              {1.5e-7, "1.5e-7", "0.00000015"},
              {3.0, "3.0", "3.0"},
              {1e-20, "0.0", "1.0e-20"},
              {4.35 * 100, "435.0", "434.99999999999994"},
              {0.1 + 0.2, "0.3", "0.30000000000000004"},
              {0.1, "0.1", "0.1"},
              {1e16, "1.0e16", "10000000000000000.0"},
              {1e17, "1.0e17", "1.0e17"},
              {-2.5, "-2.5", "-2.5"},
              {2147483648.0, "2147483648.0", "2147483648.0"},
              {-0.0, "0.0", "-0.0"},
              {1.0 / 3, "0.3333333333333333", "0.3333333333333333"},
              {INFINITY, "1.#INF", "1.#INF"},
              {-INFINITY, "-1.#INF", "-1.#INF"},
              {NAN, "1.#NaN", "1.#NaN"},
              {std::numeric_limits<double>::denorm_min(), "0.0", "5.0e-324"}};
  for (const auto& r : rows) {
    EXPECT_EQ(form(F(r.d)), r.formed) << r.molded;
    EXPECT_EQ(mold(F(r.d)), r.molded) << r.formed;
  }
}

TEST_F(FloatRowTest, NumberTextKinds) {
  EXPECT_EQ(float_::number_to_text(0.5, float_::kind::PERCENT), "0.5%");
  EXPECT_EQ(float_::number_to_text(1.25, float_::kind::SINGLE), "1.25");
  EXPECT_EQ(float_::number_to_text(3.0, float_::kind::POINT), "3");
  EXPECT_EQ(float_::number_to_text(0.0, float_::kind::PERCENT), "0%");
  EXPECT_EQ(float_::number_to_text(1e-17, float_::kind::POINT), "0");
  EXPECT_EQ(float_::number_to_text(1e-20, float_::kind::FLOAT), "0.0");
  EXPECT_EQ(float_::number_to_text(3e-20, float_::kind::FLOAT), "0.0");
  float_::pretty = false;
  // 16 digits of 1e-20 end in 99; only the pretty rule trims them
  EXPECT_EQ(float_::number_to_text(1e-20, float_::kind::FLOAT), "9.999999999999999e-21");
  EXPECT_EQ(float_::number_to_text(4.35 * 100, float_::kind::FLOAT), "434.9999999999999");
  float_::pretty = true;
}

// 0.1 + 0.2 = 0.3                 => true
// strict-equal? 0.1 + 0.2 0.3     => false
// 1.#NaN = 1.#NaN                 => false
// 1.#NaN < 1.0 / 1.#NaN > 1.0     => false / false
// 1.0 = 1                         => true
// strict-equal? 1.0 1             => false
// 2.5 < 3                         => true
// 1.0 < none                      => !! script/invalid-compare
TEST_F(FloatRowTest, Compare) {
  EXPECT_TRUE(compare(F(0.1 + 0.2), F(0.3), 0));
  EXPECT_FALSE(compare(F(0.1 + 0.2), F(0.3), 2));
  EXPECT_FALSE(compare(F(0.1 + 0.2), F(0.3), 9));
  EXPECT_TRUE(compare(F(0.3), F(0.3), 9));
  EXPECT_FALSE(compare(F(NAN), F(NAN), 0));
  EXPECT_TRUE(compare(F(NAN), F(NAN), 1));
  EXPECT_FALSE(compare(F(NAN), F(1.0), 3));
  EXPECT_FALSE(compare(F(NAN), F(1.0), 5));
  EXPECT_FALSE(compare(F(NAN), F(1.0), 4));
  EXPECT_FALSE(compare(F(NAN), F(1.0), 6));
  EXPECT_TRUE(compare(F(1.0), I(1), 0));
  EXPECT_FALSE(compare(F(1.0), I(1), 2));
  EXPECT_TRUE(compare(F(2.5), I(3), 3));
  EXPECT_TRUE(compare(F(-0.0), F(0.0), 0));
  EXPECT_FALSE(compare(F(-0.0), F(0.0), 9));
  EXPECT_TRUE(compare(F(1e300), F(1e300 * (1 + 4 * 2.220446049250313e-16)), 0));  // ordered steps
  EXPECT_FALSE(compare(F(1.0), F(1.0001), 0));
  EXPECT_RAISES(compare(F(1.0), NONE(), 3), err::script::invalid_compare);
  EXPECT_TRUE(float_::equal_double_q(1.0, 1.0 + 1e-17));
  EXPECT_FALSE(float_::equal_double_q(NAN, NAN));
}

// power 2.0 3 => 8.0 ; power 4.0 0.5 => 2.0 ; power 2.0 none => !! script/expect-arg
TEST_F(FloatRowTest, Power) {
  EXPECT_EQ(mold_call(act::POWER, F(2.0), I(3)), "8.0");
  EXPECT_EQ(mold_call(act::POWER, F(4.0), F(0.5)), "2.0");
  EXPECT_RAISES(call(act::POWER, F(2.0), NONE()), err::script::expect_arg);
}

}  // namespace
