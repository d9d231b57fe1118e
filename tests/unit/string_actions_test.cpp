// String actions: the unit each of append, insert, change and swap leaves, which Kel text
// cannot see (a char from 128 widens a 1-byte string; a text keeps its own unit).
#include <gtest/gtest.h>

#include "runtime/datatypes/string_actions.h"
#include "tests/unit/string_test_util.h"

using namespace kel;
using kel::test::StringTest;

namespace {

class StringEditUnits : public StringTest {};

Cell ch(int32_t c) { return Cell{T_CHAR, 0, uint32_t(c), 0}; }

TEST_F(StringEditUnits, UnitsLeftByAppendInsertChange) {
  enum Op { APPEND, INSERT, CHANGE };
  struct Row {
    Op op;
    std::u32string target;
    uint32_t target_unit;
    bool is_char;
    std::u32string value;  // the char, or the text
    uint32_t value_unit;
    std::u32string expected;
    uint32_t expected_unit;
  };
  const Row rows[] = {
      {APPEND, U"ab", 1, true, U"\u00E9", 0, U"ab\u00E9", 2},
      {APPEND, U"ab", 1, true, U"\u007F", 0, U"ab\u007F", 1},
      {APPEND, U"ab", 1, true, U"\U0001F600", 0, U"ab\U0001F600", 4},
      {APPEND, U"ab", 1, false, U"\u00E9", 1, U"ab\u00E9", 1},
      {APPEND, U"ab", 1, false, U"c", 2, U"abc", 2},
      {APPEND, U"\u0100", 2, false, U"cd", 1, U"\u0100cd", 2},
      {INSERT, U"ab", 1, true, U"\u00E9", 0, U"\u00E9ab", 2},
      {INSERT, U"ab", 1, false, U"\u00E9", 1, U"\u00E9ab", 1},
      {INSERT, U"ab", 2, true, U"\U0001F600", 0, U"\U0001F600ab", 4},
      {CHANGE, U"ab", 1, true, U"\u00E9", 0, U"\u00E9b", 2},
      {CHANGE, U"ab", 1, false, U"\u00E9", 1, U"\u00E9b", 1},
      {CHANGE, U"ab", 1, false, U"\u0100", 2, U"\u0100b", 2},
  };
  for (const Row& r : rows) {
    Cell s = make(r.target, r.target_unit);
    gc::Root ks(&s);
    Cell v = r.is_char ? ch(int32_t(r.value[0])) : make(r.value, r.value_unit);
    gc::Root kv(&v);
    switch (r.op) {
      case APPEND: string::append(&s, &v, -1, false, 1, true); break;
      case INSERT: string::insert(&s, &v, -1, false, 1, false); break;
      case CHANGE: string::change(&s, &v, -1, false, 1); break;
    }
    EXPECT_EQ(all(s), r.expected) << int(r.op) << " row of " << r.expected.size();
    EXPECT_EQ(unit(s), r.expected_unit) << int(r.op) << " row of " << r.expected.size();
    if (!r.is_char) {
      EXPECT_EQ(unit(v), r.value_unit);  // the value's own buffer is kept
    }
  }
}

TEST_F(StringEditUnits, DupAndSizesCheckedBeforeAnyChange) {
  Cell s = make("x");
  gc::Root ks(&s);
  Cell v = make("ab");
  gc::Root kv(&v);
  string::append(&s, &v, -1, false, 3, true);
  EXPECT_EQ(ascii(s), "xababab");
  EXPECT_TRUE(raises(err::internal::no_memory,
                     [&] { string::append(&s, &v, -1, false, 2000000000, true); }));
  EXPECT_TRUE(raises(err::internal::no_memory,
                     [&] { string::insert(&s, &v, -1, false, 2000000000, false); }));
  EXPECT_EQ(ascii(s), "xababab");
  EXPECT_EQ(unit(s), 1u);
}

TEST_F(StringEditUnits, SwapWidensTheSideThatNeedsIt) {
  Cell a = make("ab");
  gc::Root ka(&a);
  Cell b = make(U"\u0100x", 2);
  gc::Root kb(&b);
  string::swap(&a, &b);
  EXPECT_EQ(all(a), U"\u0100b");
  EXPECT_EQ(unit(a), 2u);
  EXPECT_EQ(all(b), U"ax");
  EXPECT_EQ(unit(b), 2u);
}

}  // namespace
