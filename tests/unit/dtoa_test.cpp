// Float/text conversion: special texts, layout rules, reader syntax, python3-made reference
// vectors and a round trip over random bit patterns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "runtime/dtoa.h"

namespace {
#include "dtoa_vectors.inc"

double from_bits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}
uint64_t to_bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}
double read(const std::string& s, int bias = 0, size_t* rest = nullptr) {
  return kel::dtoa::text_to_float(s.data(), s.data() + s.size(), bias, rest);
}
}  // namespace

using kel::dtoa::float_to_text;

TEST(Dtoa, MoldLayout) {
  struct { double v; const char* text; } cases[] = {
      {0.1, "0.1"}, {1.0, "1.0"}, {100.0, "100.0"}, {123.45, "123.45"},
      {1e16, "10000000000000000.0"}, {1e17, "1.0e17"}, {1.23e-8, "1.23e-8"},
      {1.23e-7, "0.000000123"}, {1.5e-7, "0.00000015"}, {0.001, "0.001"},
      {5e-324, "5.0e-324"}, {-0.0, "-0.0"}, {0.0, "0.0"}, {-2.5, "-2.5"},
      {1.2345e300, "1.2345e300"}, {1.5e-8, "1.5e-8"}, {1.7976931348623157e308, "1.7976931348623157e308"},
      {HUGE_VAL, "1.#INF"}, {-HUGE_VAL, "-1.#INF"}, {NAN, "1.#NaN"}, {-NAN, "1.#NaN"},
  };
  for (auto& c : cases) EXPECT_EQ(float_to_text(c.v, 0, true), c.text) << c.text;
}

TEST(Dtoa, WithoutDotZero) {
  EXPECT_EQ(float_to_text(1e20, 0, false), "1e20");
  EXPECT_EQ(float_to_text(1234567.0, 6, false), "1234570");
  EXPECT_EQ(float_to_text(HUGE_VAL, 6, false), "1.#INF");
  EXPECT_EQ(float_to_text(NAN, 6, false), "1.#NaN");
  EXPECT_EQ(float_to_text(0.0, 0, false), "0");
  EXPECT_EQ(float_to_text(-0.0, 0, false), "-0");
  EXPECT_EQ(float_to_text(100.0, 0, false), "100");
}

TEST(Dtoa, DigitsOutputs) {
  int p, s, n;
  EXPECT_EQ(kel::dtoa::digits(1234567.0, 6, &p, &s, &n, false), "123457");
  EXPECT_EQ(p, 7);
  EXPECT_EQ(n, 6);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(kel::dtoa::digits(-0.0, 0, &p, &s, &n, true), "-0.0");
  EXPECT_EQ(p, kel::dtoa::POINT_ZERO);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(kel::dtoa::digits(-HUGE_VAL, 0, &p, &s, &n, true), "-1.#INF");
  EXPECT_EQ(p, kel::dtoa::POINT_INF_NAN);
  // A carry through nines: 9.96 at 2 digits is 10, one digit with the point moved.
  EXPECT_EQ(kel::dtoa::digits(9.96, 2, &p, &s, &n, true), "1");
  EXPECT_EQ(p, 2);
  // Huge precisions are exact and still drop trailing zeros.
  EXPECT_EQ(kel::dtoa::digits(0.5, 2000, &p, &s, &n, true), "5");
  EXPECT_EQ(kel::dtoa::digits(0.1, 60, &p, &s, &n, true),
            "1000000000000000055511151231257827021181583404541015625");
}

TEST(Dtoa, ReaderSyntax) {
  EXPECT_TRUE(std::isinf(read("1e309")) && read("1e309") > 0);
  EXPECT_TRUE(std::isinf(read("-1e309")) && read("-1e309") < 0);
  EXPECT_EQ(to_bits(read("1e-400")), to_bits(0.0));
  EXPECT_EQ(to_bits(read("-1e-400")), to_bits(-0.0));
  EXPECT_EQ(to_bits(read("-0")), to_bits(-0.0));
  EXPECT_EQ(to_bits(read("-000")), to_bits(-0.0));
  EXPECT_EQ(read("50", -2), 0.5);
  EXPECT_EQ(read("+1.5"), 1.5);
  EXPECT_EQ(read("1.5E2"), 150.0);
  EXPECT_EQ(read("0.001"), 0.001);
  EXPECT_EQ(read("000123.4500"), 123.45);
  EXPECT_EQ(read("1.0e+0"), 1.0);
  EXPECT_EQ(read("1e99999999999999999999"), HUGE_VAL);
  EXPECT_EQ(read("1e-99999999999999999999"), 0.0);
  EXPECT_EQ(read("1.#INF"), HUGE_VAL);
  EXPECT_EQ(read("-1.#INF"), -HUGE_VAL);
  EXPECT_EQ(read("1.#inf"), HUGE_VAL);
  EXPECT_TRUE(std::isnan(read("1.#NaN")));
  EXPECT_EQ(read("5.0e-324"), 5e-324);
  // Many digits all take part in rounding: just above the halfway point rounds up.
  std::string halfway = "9007199254740993" + std::string(400, '0') + "1";
  EXPECT_EQ(read(halfway + "e-401"), 9007199254740994.0);
  EXPECT_EQ(read("9007199254740993"), 9007199254740992.0);  // ties to even
}

TEST(Dtoa, ReaderStopsAndCountsRest) {
  size_t rest = 99;
  EXPECT_EQ(read("12.5%", 0, &rest), 12.5);
  EXPECT_EQ(rest, 1u);
  EXPECT_EQ(read("3e", 0, &rest), 3.0);  // a lone "e" is not an exponent
  EXPECT_EQ(rest, 1u);
  EXPECT_EQ(read("1.#INF", 0, &rest), HUGE_VAL);
  EXPECT_EQ(rest, 0u);
  EXPECT_EQ(read("7e+x", 0, &rest), 7.0);
  EXPECT_EQ(rest, 3u);
}

TEST(Dtoa, ShortestDigitsMatchPython) {
  for (auto& v : kShortest) {
    int p, s, n;
    std::string d = kel::dtoa::digits(from_bits(v.bits), 0, &p, &s, &n, true);
    ASSERT_EQ(d, v.digits) << std::hex << v.bits;
    ASSERT_EQ(p, v.point) << std::hex << v.bits;
    ASSERT_EQ(s, int(v.bits >> 63));
    ASSERT_EQ(n, int(std::strlen(v.digits)));
  }
}

TEST(Dtoa, RoundedDigitsMatchPython) {
  for (auto& v : kPrecision) {
    int p, s, n;
    std::string d = kel::dtoa::digits(from_bits(v.bits), v.precision, &p, &s, &n, true);
    ASSERT_EQ(d, v.digits) << std::hex << v.bits << " precision " << std::dec << v.precision;
    ASSERT_EQ(p, v.point) << std::hex << v.bits;
  }
}

TEST(Dtoa, ReadingMatchesPython) {
  for (auto& v : kRead) ASSERT_EQ(to_bits(read(v.text)), v.bits) << v.text;
}

TEST(Dtoa, RandomBitPatternsRoundTrip) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 1'000'000; ++i) {
    uint64_t b = rng();
    double x = from_bits(b);
    if (std::isnan(x)) continue;
    std::string t = float_to_text(x, 0, true);
    double back = read(t);
    ASSERT_EQ(to_bits(back), b) << t;
    ASSERT_EQ(float_to_text(back, 0, true), t);
  }
}
