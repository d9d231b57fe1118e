// date! and money! below the interpreter: their loaders under random literal-like text, and
// the raw constructors the serialiser uses refusing what no value can hold.
#include <random>

#include "lexer_fixture.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/locale.h"
#include "runtime/datatypes/money.h"

namespace kel::test {
namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Every loaded date keeps its local time within the day; every money digit is a decimal.
void check_loaded(const Cell* v) {
  if (cell::type(v) == T_DATE) {
    double secs = date::seconds_of(v);
    EXPECT_TRUE(date::valid_q(v->w1, secs)) << std::hex << v->w1 << " " << secs;
  } else if (cell::type(v) == T_MONEY) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(v) + 5;
    for (int i = 0; i < 11; ++i) EXPECT_TRUE((p[i] >> 4) < 10 && (p[i] & 15) < 10);
  }
}

TEST_F(LexerTest, DateAndMoneyLoadersTakeRandomLiteralsSafely) {
  std::mt19937 rng(2024);
  const char* date_parts[] = {"1", "29", "31", "2024", "-", "/", "T", "W", "Feb", "sept",
                              ":", "+", "Z", "0", "99", "12", ".5", "00", "366", "15:45"};
  const char* money_parts[] = {"$", "USD", "eur", "-", "+", "1", "'", "0", ".", ",",
                               "99999", "12345678", "x", "5"};
  int iterations = gc::stress_period() ? 200 : 4000;
  for (int i = 0; i < iterations; ++i) {
    std::string text;
    bool money = rng() % 2;
    size_t n = 1 + rng() % 8;
    for (size_t k = 0; k < n; ++k)
      text += money ? money_parts[rng() % 14] : date_parts[rng() % 20];
    Cell& r = keep(Cell{T_NONE, 0, 0, 0});
    bool failed = raised([&] {
      lexer_scan(&r, bytes(text), int32_t(text.size()), false, true, true, false, nullptr,
                 nullptr, nullptr, nullptr);
    });
    ASSERT_EQ(lexer::chain_head(), nullptr) << text;
    if (!failed && block::any_block_q(cell::type(&r))) {
      int32_t count = block::count_from_head(&r);
      for (int32_t k = 0; k < count; ++k) check_loaded(block::cell_at_index(&r, int32_t(r.w1) + k));
    }
    kept_end = kept;
  }
}

TEST_F(LexerTest, RawConstructorsRefuseWhatNoValueHolds) {
  uint8_t bcd[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x50};
  Cell m{T_NONE, 0, 0, 0};
  EXPECT_TRUE(money::init_cell_from_bcd(&m, true, 144, bcd));
  EXPECT_EQ(money::currency_index(&m), 144);
  EXPECT_EQ(money::sign_of(&m), -1);
  bcd[3] = 0x0A;
  EXPECT_FALSE(money::init_cell_from_bcd(&m, false, 0, bcd));
  bcd[3] = 0xA0;
  EXPECT_FALSE(money::init_cell_from_bcd(&m, false, 0, bcd));
  bcd[3] = 0;
  EXPECT_FALSE(money::init_cell_from_bcd(&m, false, 171, bcd));
  EXPECT_FALSE(money::init_cell_from_bcd(&m, false, 300, bcd));
  auto raw = [](const char* t) { return reinterpret_cast<const uint8_t*>(t); };
  const char* text = "12";
  EXPECT_FALSE(money::init_cell_from_text(&m, false, raw("XYZ"), 3, raw(text), raw(text) + 2,
                                          nullptr, nullptr));
  const char* wide = "123456789012345678";
  EXPECT_FALSE(money::init_cell_from_text(&m, false, nullptr, 0, raw(wide), raw(wide) + 18,
                                          nullptr, nullptr));
  EXPECT_TRUE(money::init_cell_from_text(&m, false, raw("usd"), 3, raw(wide) + 1, raw(wide) + 18,
                                         raw(wide), raw(wide) + 7));
  EXPECT_EQ(money::currency_index(&m), 144);

  auto packed = [](int32_t y, uint32_t m, uint32_t d, uint32_t zone, bool time) {
    return uint32_t(y) << 17 | (time ? date::TIME_FLAG : 0) | m << 12 | d << 7 | zone;
  };
  EXPECT_TRUE(date::valid_q(packed(2000, 2, 29, 0, false), 0));
  EXPECT_FALSE(date::valid_q(packed(2001, 2, 29, 0, false), 0));
  EXPECT_FALSE(date::valid_q(packed(2000, 13, 1, 0, false), 0));
  EXPECT_FALSE(date::valid_q(packed(2000, 4, 31, 0, false), 0));
  EXPECT_FALSE(date::valid_q(packed(2000, 1, 0, 0, false), 0));
  EXPECT_FALSE(date::valid_q(packed(2000, 1, 1, 4, false), 0));     // a zone without time
  EXPECT_TRUE(date::valid_q(packed(2000, 1, 1, 4, true), -3600));   // 0:00 at +01:00
  EXPECT_FALSE(date::valid_q(packed(2000, 1, 1, 4, true), 86400));  // beyond the local day
  EXPECT_EQ(date::push_new(packed(2000, 0, 1, 0, false), 0), nullptr);
}

// Before `system` exists the list generated from boot/locale.kel stands for
// system/locale: its positions must be the ones the start-up list gets.
TEST_F(LexerTest, BootLocaleStandsInBeforeSystemExists) {
  EXPECT_EQ(locale::currency_code(1), "AED");
  EXPECT_EQ(locale::currency_code(144), "USD");
  EXPECT_EQ(locale::currency_code(170), "ZWL");
  EXPECT_EQ(locale::currency_code(0), "");
  EXPECT_EQ(locale::currency_code(171), "");
  auto index = [](const char* code) {
    return locale::currency_index(reinterpret_cast<const uint8_t*>(code), 3);
  };
  EXPECT_EQ(index("aed"), 1);
  EXPECT_EQ(index("Usd"), 144);
  EXPECT_EQ(index("ZWL"), 170);
  EXPECT_EQ(index("ZZZ"), -1);
  EXPECT_EQ(locale::currency_index(reinterpret_cast<const uint8_t*>("USDX"), 4), -1);
  int32_t out[3] = {0, 0, 0};
  EXPECT_EQ(locale::month_abbreviation(9, out), 3);
  EXPECT_EQ(std::string({char(out[0]), char(out[1]), char(out[2])}), "Sep");
}

TEST_F(LexerTest, DayNumbersRoundTripAcrossYearZero) {
  for (int64_t g = -800000; g <= 800000; g += 997) {
    uint32_t p = date::from_day_number(g, 0, false);
    EXPECT_EQ(date::day_number_of(p), g) << g;
  }
  EXPECT_EQ(date::to_day_number(0, 3, 1), 0);
  EXPECT_EQ(date::day_number_of(date::from_day_number(-1, 0, false)),
            date::to_day_number(0, 2, 29));
}

}  // namespace
}  // namespace kel::test
