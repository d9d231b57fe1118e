// Text-to-number conversion: text-to-float and text-to-money from text of every unit, the
// lexer's number readers, and the float syntax table.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/evaluator/number_scan.h"

namespace kel::test {
namespace {

// The text stored at the given unit.
std::vector<uint8_t> units(const std::string& text, uint32_t unit) {
  std::vector<uint8_t> out;
  for (unsigned char c : text)
    for (uint32_t i = 0; i < unit; ++i) out.push_back(i == 0 ? c : 0);
  return out;
}

double to_float(const std::string& text, uint32_t unit, int32_t* error) {
  auto u = units(text, unit);
  return text_to_float(u.data(), int32_t(text.size()), unit, error);
}

TEST(LexerNumberTest, TextToFloatInEveryUnit) {
  struct {
    const char* text;
    double value;
  } good[] = {{"1.5", 1.5}, {"1,5", 1.5}, {"-0.25", -0.25}, {"1e3", 1000}, {"1'000.5", 1000.5},
              {".5", 0.5}, {"1.", 1}, {"+2E-2", 0.02}, {"0.1", 0.1}, {"123456789012345678", 123456789012345678.0}};
  for (uint32_t unit : {1u, 2u, 4u}) {
    for (auto& g : good) {
      int32_t error = 99;
      EXPECT_EQ(to_float(g.text, unit, &error), g.value) << g.text << " unit " << unit;
      EXPECT_EQ(error, 0) << g.text;
    }
    for (const char* bad : {"", "1.5.5", "e5", "1e", "1.e5", "abc", "1''0", "1 2"}) {
      int32_t error = 0;
      EXPECT_TRUE(std::isnan(to_float(bad, unit, &error))) << bad;
      EXPECT_EQ(error, -1) << bad;
    }
  }
  int32_t error = 0;
  std::string long_text(312, '1');
  EXPECT_FALSE(std::isnan(to_float(long_text, 1, &error)));
  EXPECT_TRUE(std::isnan(to_float(long_text + "1", 1, &error)));
  EXPECT_EQ(error, -1);
  // Correctly rounded, independent of the locale.
  EXPECT_EQ(to_float("2.2250738585072011e-308", 1, &error), 2.2250738585072011e-308);
  EXPECT_EQ(to_float("9007199254740993", 1, &error), 9007199254740992.0);
}

TEST(LexerNumberTest, FloatSyntaxTable) {
  auto ok = [](const char* t) {
    return lexer::number::float_syntax_q(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)));
  };
  for (const char* t : {"1", "-1", "1.5", "1.", ".5", "1e5", "1E+5", "1.5e-5", "1'000", "1.5'5"})
    EXPECT_TRUE(ok(t)) << t;
  for (const char* t : {"", "e", "1e", "1.e5", "1''0", "'1", "1.5.5", "1e5.5", "1x", "1e+"})
    EXPECT_FALSE(ok(t)) << t;
}

TEST(LexerNumberTest, MoneySyntax) {
  auto ok = [](const std::string& t, uint32_t unit = 1) {
    auto u = units(t, unit);
    return lexer::number::money_syntax_q(u.data(), int32_t(t.size()), unit);
  };
  for (const char* t : {"$1", "$1.50", "-$2", "USD$1'000.25", "+EUR$0,5", "1.5", "$0001",
                        "$12345678901234567.12345", "$00012345678901234567"})
    EXPECT_TRUE(ok(t) && ok(t, 2) && ok(t, 4)) << t;
  for (const char* t : {"", "$", "$.5", "$'1", "$1'", "$1''0", "$1.", "US$1", "USD1", "$1.5'0",
                        "$1.123456", "$1x", "$123456789012345678"})
    EXPECT_FALSE(ok(t)) << t;
}

TEST(LexerNumberTest, Readers) {
  auto p = [](const char* t) { return reinterpret_cast<const uint8_t*>(t); };
  int32_t v = 0, e = 0;
  const char* t = "-2147483648";
  EXPECT_EQ(lexer::read_int(p(t), p(t) + 11, true, &v, &e), p(t) + 11);
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_EQ(e, 0);
  t = "2147483648";
  lexer::read_int(p(t), p(t) + 10, true, &v, &e);
  EXPECT_EQ(e, -5);
  t = "-21474836480";
  lexer::read_int(p(t), p(t) + 12, true, &v, &e);
  EXPECT_EQ(e, -5);
  t = "1'000:";
  EXPECT_EQ(lexer::read_int(p(t), p(t) + 6, true, &v, &e), p(t) + 5);
  EXPECT_EQ(v, 1000);
  t = "20240229";
  EXPECT_EQ(lexer::read_digits(p(t), p(t) + 8, 4, 4, &v, &e), p(t) + 4);
  EXPECT_EQ(v, 2024);
  EXPECT_EQ(e, 0);
  lexer::read_digits(p(t), p(t) + 8, 3, 2, &v, &e);
  EXPECT_EQ(e, -1);
  lexer::read_digits(p(t), p(t), 0, 2, &v, &e);
  EXPECT_EQ(e, -2);
  t = "x";
  lexer::read_digits(p(t), p(t) + 1, 0, 2, &v, &e);
  EXPECT_EQ(e, -1);
  double d = 0;
  t = "30.25Z";
  EXPECT_EQ(lexer::read_float_digits(p(t), p(t) + 6, &d, &e), p(t) + 5);
  EXPECT_EQ(d, 30.25);
  EXPECT_EQ(e, 0);
}

TEST(LexerNumberTest, TimeAndDateTexts) {
  auto time = [](const char* t, double* s) {
    return lexer::number::time_text(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)), s);
  };
  double s = 0;
  EXPECT_TRUE(time("1:30", &s));
  EXPECT_EQ(s, 5400);
  EXPECT_TRUE(time("1:30:15.5", &s));
  EXPECT_EQ(s, 5415.5);
  EXPECT_TRUE(time("1:30.5", &s));  // minutes:seconds.fraction
  EXPECT_EQ(s, 90.5);
  EXPECT_TRUE(time("-0:01", &s));
  EXPECT_EQ(s, -60);
  EXPECT_TRUE(time("+1'000:00", &s));
  EXPECT_EQ(s, 3600000);
  for (const char* bad : {"1:", "1:30:", "1:3e", "1::2", "99999999999:00", ":30"})
    EXPECT_FALSE(time(bad, &s)) << bad;
  auto date = [](const char* t) {
    return lexer::number::date_text_q(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)));
  };
  for (const char* good : {"29-Feb-2024", "1-Jan-2000", "2024-02-29", "2024/2/29", "1/Sept/99",
                           "31-december-1999", "2024-02-29T10:00", "1-Jan-2000/10:00:00.5+5:30",
                           "1-Jan-2000/10:00Z", "20240229T1030", "20240229T103015-0500",
                           "2024-W05", "2024-W52-7", "2024-366", "15-Mar--44", "-0100-3-15"})
    EXPECT_TRUE(date(good)) << good;
  for (const char* bad : {"29-Feb-2023", "2023-366", "32-Jan-2000", "1-Jan-2000/24:00", "1-Ja-2000",
                          "1-Jan/2000", "2024-W54", "2024-W05-8", "2024-000", "1-Jan-2000/10:00+16",
                          "0-Jan-2000", "1-Foo-2000", "1-13-2000"})
    EXPECT_FALSE(date(bad)) << bad;
}

TEST(LexerNumberTest, BinaryTexts) {
  auto bin = [](const char* t, std::string* out) {
    return lexer::number::binary_text(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)), out);
  };
  std::string b;
  EXPECT_TRUE(bin("#{0A ff ; comment\n 10}", &b));
  EXPECT_EQ(b, std::string("\x0A\xFF\x10", 3));
  EXPECT_TRUE(bin("16#{}", &b));
  EXPECT_EQ(b, "");
  EXPECT_TRUE(bin("2#{00000001 11111111}", &b));
  EXPECT_EQ(b, std::string("\x01\xFF", 2));
  EXPECT_TRUE(bin("64#{SGVsbG8=}", &b));
  EXPECT_EQ(b, "Hello");
  EXPECT_TRUE(bin("64#{SGVs bG8h}", &b));
  EXPECT_EQ(b, "Hello!");
  for (const char* bad : {"#{0}", "#{0G}", "2#{0101}", "2#{2}", "3#{00}", "64#{S===}", "64#{S}",
                          "64#{SG=V}"})
    EXPECT_FALSE(bin(bad, &b)) << bad;
}

}  // namespace
}  // namespace kel::test
