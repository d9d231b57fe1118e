// Tests of unset!, none! and logic!: text, comparison, none's series answers, make/to,
// the logic operators, random, and the truth helpers of the cell API.
#include <cmath>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using LogicTest = DatatypeTest;

// Kel text                => expected
// form unset (C++)        => prints:
// mold unset (C++)        => prints: unset
// mold/all unset (C++)    => prints: #(unset)
// mold none               => prints: none
// mold/all none           => prints: #(none)
// mold true               => prints: true
// mold/all false          => prints: #(false)
TEST_F(LogicTest, Text) {
  EXPECT_EQ(form(UNSET()), "");
  EXPECT_EQ(mold(UNSET()), "unset");
  EXPECT_EQ(mold(UNSET(), true), "#(unset)");
  EXPECT_EQ(form(NONE()), "none");
  EXPECT_EQ(mold(NONE()), "none");
  EXPECT_EQ(mold(NONE(), true), "#(none)");
  EXPECT_EQ(form(L(true)), "true");
  EXPECT_EQ(form(L(false)), "false");
  EXPECT_EQ(mold(L(true), true), "#(true)");
  EXPECT_EQ(mold(L(false), true), "#(false)");
}

TEST_F(LogicTest, TextBudgets) {
  struct Row {
    Cell v;
    bool all;
    int32_t mold_cost;
    int32_t form_cost;
  } rows[] = {{UNSET(), false, 5, 0}, {UNSET(), true, 8, 0},  {NONE(), false, 4, 4},
              {NONE(), true, 7, 4},   {L(true), true, 7, 4},  {L(false), true, 8, 5},
              {L(false), false, 5, 5}};
  for (Row& r : rows) {
    open_frame();
    Cell* v = stack::push_copy(&r.v);
    Cell* buf = push_text("");
    EXPECT_EQ(actions::direct_mold(v, buf, false, r.all, false, nullptr, 50, 0), 50 - r.mold_cost);
    EXPECT_EQ(actions::direct_form(v, buf, nullptr, 50), 50 - r.form_cost);
  }
}

// none = none                 => true
// none < none                 => !! script/invalid-compare
// true < false                => !! script/invalid-compare
// true = true                 => true
// true = 1                    => false
// strict-equal? false false   => true
TEST_F(LogicTest, Compare) {
  EXPECT_TRUE(compare(NONE(), NONE(), 0));
  EXPECT_TRUE(compare(UNSET(), UNSET(), 0));
  EXPECT_FALSE(compare(NONE(), UNSET(), 0));
  EXPECT_RAISES(compare(NONE(), NONE(), 3), err::script::invalid_compare);
  EXPECT_RAISES(compare(L(true), L(false), 3), err::script::invalid_compare);
  EXPECT_RAISES(compare(L(false), L(true), 6), err::script::invalid_compare);
  EXPECT_TRUE(compare(L(true), L(true), 0));
  EXPECT_FALSE(compare(L(true), I(1), 0));
  EXPECT_TRUE(compare(L(false), L(false), 2));
  EXPECT_TRUE(compare(L(true), L(false), 1));
  // sorting order: false before true
  open_frame();
  Cell t = L(true), f = L(false);
  EXPECT_LT(actions::direct_compare(&f, &t, 7), 0);
  EXPECT_GT(actions::direct_compare(&t, &f, 8), 0);
}

// length? none          => none (the slot gives -1)
// find none 1           => none
// select none 1 / take none / clear none / remove none => none
TEST_F(LogicTest, NoneAnswersSeriesActions) {
  open_frame();
  Cell n = NONE();
  Cell* v = stack::push_copy(&n);
  EXPECT_EQ(actions::resolve<act::LENGTH_Q>(v)(v), -1);
  Cell one = I(1);
  Cell* x = stack::push_copy(&one);
  Cell* r = actions::resolve<act::FIND>(v)(v, x, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false, false, false);
  EXPECT_EQ(r, stack::state().base);
  EXPECT_EQ(cell::type(r), uint32_t(T_NONE));
  r = actions::resolve<act::SELECT>(v)(v, x, nullptr, false, false, false, false, nullptr,
                                        nullptr, false, false);
  EXPECT_EQ(cell::type(r), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(actions::resolve<act::TAKE>(v)(v, nullptr, false, false)), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(actions::resolve<act::CLEAR>(v)(v)), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(actions::resolve<act::REMOVE>(v)(v, nullptr, nullptr)), uint32_t(T_NONE));
  // other series actions are not answered
  EXPECT_EQ(datatype::slot<act::APPEND>(T_NONE), nullptr);
  EXPECT_EQ(datatype::slot<act::NEXT>(T_NONE), nullptr);
}

// make unset! 1 => unset ; make none! [] => none ; to none! "x" => none
TEST_F(LogicTest, MakeUnsetAndNone) {
  EXPECT_EQ(cell::type(&(const Cell&)make_to(act::MAKE, DT(T_UNSET), I(1))), uint32_t(T_UNSET));
  EXPECT_EQ(cell::type(&(const Cell&)make_to_text(act::TO, DT(T_UNSET), "x")), uint32_t(T_UNSET));
  EXPECT_EQ(cell::type(&(const Cell&)make_to(act::MAKE, DT(T_NONE), I(1))), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(&(const Cell&)make_to_text(act::TO, DT(T_NONE), "x")), uint32_t(T_NONE));
}

// make logic! 0    => false
// make logic! 2    => true
// make logic! 0.0  => false
// make logic! 1.#NaN => true
// to logic! 0      => true
// to logic! none   => false
// to logic! ""     => true
// make logic! none => false
// to logic! true   => true
TEST_F(LogicTest, MakeAndTo) {
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_LOGIC), I(0))), "false");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_LOGIC), I(2))), "true");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_LOGIC), F(0.0))), "false");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_LOGIC), F(NAN))), "true");
  EXPECT_EQ(mold(make_to(act::TO, DT(T_LOGIC), I(0))), "true");
  EXPECT_EQ(mold(make_to(act::TO, DT(T_LOGIC), NONE())), "false");
  EXPECT_EQ(mold(make_to_text(act::TO, DT(T_LOGIC), "")), "true");
  EXPECT_EQ(mold(make_to(act::MAKE, DT(T_LOGIC), NONE())), "false");
  EXPECT_EQ(mold(make_to(act::TO, DT(T_LOGIC), L(true))), "true");
  // a logic! value as the prototype dispatches on its own type
  EXPECT_EQ(mold(make_to(act::MAKE, L(true), I(0))), "false");
}

// true and~ 1        => !! script/expect-arg
// complement true    => false
// true xor~ true     => false
// true and~ false    => false
// false or~ true     => true
TEST_F(LogicTest, Operators) {
  EXPECT_RAISES(call(act::AND, L(true), I(1)), err::script::expect_arg);
  EXPECT_EQ(error::pending().args[1].w1, uint32_t(T_INTEGER));
  EXPECT_EQ(mold_call(act::COMPLEMENT, L(true)), "false");
  EXPECT_EQ(mold_call(act::COMPLEMENT, L(false)), "true");
  EXPECT_EQ(mold_call(act::XOR, L(true), L(true)), "false");
  EXPECT_EQ(mold_call(act::XOR, L(true), L(false)), "true");
  EXPECT_EQ(mold_call(act::AND, L(true), L(false)), "false");
  EXPECT_EQ(mold_call(act::AND, L(true), L(true)), "true");
  EXPECT_EQ(mold_call(act::OR, L(false), L(true)), "true");
  EXPECT_EQ(mold_call(act::OR, L(false), L(false)), "false");
}

TEST_F(LogicTest, Random) {
  open_frame();
  Cell v = L(true);
  Cell* c = stack::push_copy(&v);
  auto rnd = actions::resolve<act::RANDOM>(c);
  int trues = 0;
  for (int i = 0; i < 200; ++i) {
    *c = L(true);
    Cell* r = rnd(c, false, i % 2 == 1, false);
    ASSERT_EQ(cell::type(r), uint32_t(T_LOGIC));
    trues += r->w1 == 1;
  }
  EXPECT_GT(trues, 40);
  EXPECT_LT(trues, 160);
  *c = L(true);
  EXPECT_EQ(cell::type(rnd(c, true, false, false)), uint32_t(T_UNSET));  // /seed
}

TEST_F(LogicTest, TruthRule) {
  struct Row {
    Cell v;
    bool truth;
  } rows[] = {{NONE(), false},   {L(false), false}, {Cell{T_LOGIC, 2, 0, 0}, false},
              {L(true), true},   {I(0), true},      {UNSET(), true},
              {F(0.0), true},    {DT(T_NONE), true}};
  for (const Row& r : rows) EXPECT_EQ(logic::true_q(&r.v), r.truth) << cell::type(&r.v);

  open_frame();
  Cell u = UNSET();
  Cell w{T_WORD, 0, 7, 0xFFFFFFFF};
  EXPECT_TRUE(logic::truth_of(&u, false, &w));
  EXPECT_RAISES(logic::truth_of(&u, true, &w), err::script::no_value);
  EXPECT_EQ(error::pending().args[0].w2, 7u);
}

TEST_F(LogicTest, FrameHelpers) {
  open_frame();
  Cell* base = stack::state().base;
  EXPECT_EQ(logic::set_result(true), base);
  EXPECT_TRUE(logic::result_truth());
  EXPECT_TRUE(logic::top_is_true());  // nothing pushed: the first cell
  logic::push_new(false);
  EXPECT_TRUE(logic::top_is_false());
  none::set_result();
  EXPECT_FALSE(logic::result_truth_checked());
  unset::set_result();
  EXPECT_TRUE(logic::result_truth());
  EXPECT_RAISES(logic::result_truth_checked(), err::script::no_return);

  open_frame();
  Node n = memory::series_new_cells(1);
  Cell* blk = stack::reserve_cell();
  cell::set_block(blk, n);
  logic::add_to_block(blk, true);
  none::add_to_block(blk);
  unset::add_to_block(blk);
  SeriesBuffer* b = memory::node_buffer(blk->w2);
  ASSERT_EQ(memory::units(b), 3u);
  Cell* c = memory::head_cells(b);
  EXPECT_EQ(logic::get_flag(&c[0]), 1);
  EXPECT_EQ(cell::type(&c[1]), uint32_t(T_NONE));
  EXPECT_EQ(cell::type(&c[2]), uint32_t(T_UNSET));
  EXPECT_EQ(logic::true_value()->w1, 1u);
  EXPECT_EQ(logic::false_value()->w1, 0u);
}

}  // namespace
