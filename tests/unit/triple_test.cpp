// Tests of triple!: its one text form for both form and mold, and its empty slots.
#include "runtime/datatypes/triple.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using TripleTest = DatatypeTest;

TEST_F(TripleTest, FormAndMold) {
  struct Row {
    int32_t a, b, c;
    const char* text;
  } rows[] = {{1, -2, 3, "make triple! [1 -2 3]"},
              {INT32_MIN, 0, 0, "make triple! [-2147483648 0 0]"},
              {0, 2147483647, -1, "make triple! [0 2147483647 -1]"}};
  for (const auto& r : rows) {
    Cell t = triple::value_of(r.a, r.b, r.c);
    EXPECT_EQ(form(t), r.text);
    EXPECT_EQ(mold(t), r.text);
    EXPECT_EQ(mold(t, true), r.text);
  }
}

TEST_F(TripleTest, BudgetCountsEveryCharacter) {
  open_frame();
  Cell t = triple::value_of(1, -2, 3);
  Cell* c = stack::push_copy(&t);
  Cell* buf = push_text("");
  EXPECT_EQ(actions::direct_mold(c, buf, false, false, false, nullptr, 100, 0), 100 - 21);
  // the part limit is not applied inside; the entry rule cuts afterwards
  Cell five = I(5);
  EXPECT_EQ(form(t, &five), "make ");
}

TEST_F(TripleTest, NoOtherSlot) {
  for (uint32_t k = 1; k <= datatype::SLOT_COUNT; ++k) {
    if (k == act::FORM || k == act::MOLD) continue;
    EXPECT_EQ(datatype::any_slot(T_TRIPLE, k), nullptr) << k;
  }
}

}  // namespace
