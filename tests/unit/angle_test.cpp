// Angle reduction before sine, cosine and tangent: folded angles give exact and
// symmetric results; non-finite angles give NaN.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/angle.h"

using kel::runtime::normalize_angle;

namespace {
constexpr int TANGENT = 0, COSINE = 1, SINE = 2;
double sine(double d) { return std::sin(normalize_angle(d, SINE)); }
double cosine(double d) { return std::cos(normalize_angle(d, COSINE)); }
double tangent(double d) { return std::tan(normalize_angle(d, TANGENT)); }
}  // namespace

TEST(Angle, FoldedAnglesGiveExactResults) {
  EXPECT_EQ(sine(180), 0.0);
  EXPECT_EQ(sine(-180), 0.0);
  EXPECT_EQ(sine(360), 0.0);
  EXPECT_EQ(sine(90), 1.0);
  EXPECT_EQ(tangent(180), 0.0);
}

TEST(Angle, SymmetriesHoldBitForBit) {
  EXPECT_EQ(tangent(225), tangent(45));
  EXPECT_EQ(tangent(-135), tangent(45));
  EXPECT_EQ(sine(150), sine(30));
  EXPECT_EQ(sine(390), sine(30));
  EXPECT_EQ(sine(-30), -sine(30));
  EXPECT_EQ(sine(-150), sine(-30));
  EXPECT_EQ(cosine(-60), cosine(60));
}

TEST(Angle, CosineIsNotFoldedPastNinety) {
  // 270 becomes -90 by the half-turn rule and stays there for cosine.
  EXPECT_EQ(normalize_angle(270, COSINE), -90 * 3.141592653589793 / 180);
  EXPECT_EQ(normalize_angle(135, COSINE), 135 * 3.141592653589793 / 180);
  EXPECT_EQ(normalize_angle(135, SINE), 45 * 3.141592653589793 / 180);
  EXPECT_EQ(normalize_angle(135, TANGENT), -45 * 3.141592653589793 / 180);
}

TEST(Angle, NonFiniteAnglesGiveNaN) {
  for (double d : {INFINITY, -INFINITY, NAN}) {
    for (int mode : {TANGENT, COSINE, SINE}) EXPECT_TRUE(std::isnan(normalize_angle(d, mode)));
    EXPECT_TRUE(std::isnan(sine(d)));
  }
}
