// Tests of the datatype registry (rows, snapshot inheritance, dispatch errors), datatype!,
// the form/mold entry rules and the generic compare.
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "tests/unit/datatype_fixture.h"

using namespace kel;
using namespace kel::test;
namespace act = kel::datatype::action;

namespace {

using RegistryTest = DatatypeTest;

constexpr uint32_t TEST_PARENT = 55;  // ids the system leaves unregistered
constexpr uint32_t TEST_CHILD = 56;

int g_form_calls = 0;
int32_t counting_form(Cell*, Cell* buffer, Cell*, int32_t limit) {
  ++g_form_calls;
  string::add_c_text(buffer, "counted");
  return limit - 7;
}
int32_t other_form(Cell*, Cell*, Cell*, int32_t limit) { return limit; }

TEST_F(RegistryTest, CharRowTakesIntegersFunctionsAndKeepsItsZeros) {
  using datatype::slot;
  EXPECT_EQ(slot<act::RANDOM>(T_CHAR), slot<act::RANDOM>(T_INTEGER));
  EXPECT_EQ(slot<act::ABSOLUTE>(T_CHAR), slot<act::ABSOLUTE>(T_INTEGER));
  EXPECT_EQ(slot<act::EVEN_Q>(T_CHAR), slot<act::EVEN_Q>(T_INTEGER));
  EXPECT_EQ(slot<act::ODD_Q>(T_CHAR), slot<act::ODD_Q>(T_INTEGER));
  EXPECT_NE(slot<act::RANDOM>(T_CHAR), nullptr);
  // integer! has these; the child left them empty and they stay empty
  EXPECT_NE(slot<act::NEGATE>(T_INTEGER), nullptr);
  EXPECT_EQ(slot<act::NEGATE>(T_CHAR), nullptr);
  EXPECT_EQ(slot<act::COMPLEMENT>(T_CHAR), nullptr);
  EXPECT_EQ(slot<act::POWER>(T_CHAR), nullptr);
  EXPECT_EQ(slot<act::ROUND>(T_CHAR), nullptr);
  // own functions, not the parent's
  EXPECT_NE(slot<act::ADD>(T_CHAR), slot<act::ADD>(T_INTEGER));
  EXPECT_NE(slot<act::MOLD>(T_CHAR), slot<act::MOLD>(T_INTEGER));
}

TEST_F(RegistryTest, InheritanceIsASnapshotAtRegistration) {
  datatype::register_type({.id = TEST_PARENT, .parent = 0, .name = "parent!",
                           .slots = {.form = counting_form, .add = integer::add}});
  datatype::register_type({.id = TEST_CHILD, .parent = TEST_PARENT, .name = "child!",
                           .slots = {.form = datatype::inherit, .mold = datatype::inherit}});
  EXPECT_EQ(datatype::slot<act::FORM>(TEST_CHILD), &counting_form);
  EXPECT_EQ(datatype::slot<act::MOLD>(TEST_CHILD), nullptr);  // the parent had none
  EXPECT_EQ(datatype::slot<act::ADD>(TEST_CHILD), nullptr);   // 0 is not filled from the parent
  // the parent's row changes afterwards; the child keeps what it copied
  datatype::register_type({.id = TEST_PARENT, .parent = 0, .name = "parent!",
                           .slots = {.form = other_form}});
  EXPECT_EQ(datatype::slot<act::FORM>(TEST_PARENT), &other_form);
  EXPECT_EQ(datatype::slot<act::FORM>(TEST_CHILD), &counting_form);
  EXPECT_EQ(datatype::highest_registered, TEST_CHILD);
  EXPECT_EQ(datatype::type_table[TEST_CHILD].name_length, 5u);
}

TEST_F(RegistryTest, IdOutsideTheTableIsAFatalFault) {
  // a wrong row length cannot compile; an id beyond the tables stops the process, non-zero
  EXPECT_EXIT(datatype::register_type({.id = 57, .parent = 0, .name = "bad!", .slots = {}}),
              ::testing::ExitedWithCode(98), "");
  EXPECT_EXIT(datatype::register_type({.id = 0, .parent = 0, .name = "bad!", .slots = {}}),
              ::testing::ExitedWithCode(98), "");
}

TEST_F(RegistryTest, TypeTableNamesAndHighestId) {
  EXPECT_STREQ(datatype::type_table[T_INTEGER].name, "integer!");
  EXPECT_EQ(datatype::type_table[T_INTEGER].name_length, 7u);
  EXPECT_STREQ(datatype::type_table[T_TRIPLE].name, "triple!");
  EXPECT_GE(datatype::highest_registered, uint32_t(T_TRIPLE));  // grows as datatypes land
}

TEST_F(RegistryTest, EmptySlotRaisesExpectArg) {
  // add 1x2 ... on a type without add; triple! has nothing but form and mold
  Cell t{T_TRIPLE, 1, 2, 3};
  open_frame();
  EXPECT_RAISES(actions::resolve_for_cell(&t, act::ADD), err::script::expect_arg);
  EXPECT_EQ(cell::type(&error::pending().args[1]), uint32_t(T_DATATYPE));
  EXPECT_EQ(error::pending().args[1].w1, uint32_t(T_TRIPLE));
  // a type byte beyond the table is refused the same way
  Cell odd{200, 0, 0, 0};
  open_frame();
  EXPECT_RAISES(actions::resolve_for_cell(&odd, act::FORM), err::script::expect_arg);
  // make triple! and to triple! are not supported either
  EXPECT_EQ(datatype::slot<act::MAKE>(T_TRIPLE), nullptr);
  EXPECT_EQ(datatype::slot<act::TO>(T_TRIPLE), nullptr);
  // compare of a type with an empty compare slot
  open_frame();
  EXPECT_RAISES(actions::compare(&t, &t, 0), err::script::expect_arg);
}

// Kel text                      => expected
// form integer!                 => prints: integer
// mold integer!                 => prints: integer!
// mold/all integer!             => prints: #(integer!)
// mold/all none!                => prints: #(none!)
TEST_F(RegistryTest, DatatypeText) {
  EXPECT_EQ(form(DT(T_INTEGER)), "integer");
  EXPECT_EQ(mold(DT(T_INTEGER)), "integer!");
  EXPECT_EQ(mold(DT(T_INTEGER), true), "#(integer!)");
  EXPECT_EQ(mold(DT(T_NONE), true), "#(none!)");
  EXPECT_EQ(form(DT(T_DATATYPE)), "datatype");
}

TEST_F(RegistryTest, DatatypeBudget) {
  open_frame();
  Cell v = DT(T_INTEGER);
  Cell* value = stack::push_copy(&v);
  Cell* buf = push_text("");
  EXPECT_EQ(actions::direct_form(value, buf, nullptr, 100), 100 - 7);
  EXPECT_EQ(actions::direct_mold(value, buf, false, false, false, nullptr, 100, 0), 100 - 8);
  EXPECT_EQ(actions::direct_mold(value, buf, false, true, false, nullptr, 100, 0), 100 - 11);
  EXPECT_EQ(utf8(buf), "integerinteger!#(integer!)");
}

// integer! = integer!   => true
// integer! = 1          => false
// integer! < float!     => !! script/invalid-compare
// integer! <> float!    => true
TEST_F(RegistryTest, DatatypeCompare) {
  EXPECT_TRUE(compare(DT(T_INTEGER), DT(T_INTEGER), 0));
  EXPECT_FALSE(compare(DT(T_INTEGER), I(1), 0));
  EXPECT_TRUE(compare(DT(T_INTEGER), DT(T_FLOAT), 1));
  EXPECT_TRUE(compare(DT(T_INTEGER), DT(T_INTEGER), 9));
  EXPECT_TRUE(compare(DT(T_INTEGER), DT(T_INTEGER), 12));
  EXPECT_RAISES(compare(DT(T_INTEGER), DT(T_FLOAT), 3), err::script::invalid_compare);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_INTEGER));
  EXPECT_EQ(error::pending().args[1].w1, uint32_t(T_FLOAT));
  open_frame();
  Cell a = DT(T_INTEGER), b = DT(T_INTEGER);
  EXPECT_EQ(actions::direct_compare(&a, &b, 7), -2);  // datatypes have no order
}

TEST_F(RegistryTest, DatatypeCellConstructors) {
  open_frame();
  Cell* c = datatype::push_new(T_CHAR);
  EXPECT_EQ(cell::type(c), uint32_t(T_DATATYPE));
  EXPECT_EQ(c->w1, uint32_t(T_CHAR));
  Node n = memory::series_new_cells(1);
  Cell* blk = stack::reserve_cell();
  cell::set_block(blk, n);
  datatype::add_to_block(blk, T_LOGIC);
  datatype::add_to_block(blk, T_NONE);
  SeriesBuffer* b = memory::node_buffer(blk->w2);
  ASSERT_EQ(memory::units(b), 2u);
  EXPECT_EQ(memory::head_cells(b)[1].w1, uint32_t(T_NONE));
}

// mold/part 123456 3    => prints: 123
// form/part 5 0         => prints:          (the slot is not called)
// form/part 5 -1        => prints:
// mold/part true 10     => prints: true
TEST_F(RegistryTest, PartRules) {
  Cell three = I(3), zero = I(0), minus = I(-1), ten = I(10);
  EXPECT_EQ(mold(I(123456), false, &three), "123");
  EXPECT_EQ(form(I(5), &zero), "");
  EXPECT_EQ(form(I(5), &minus), "");
  EXPECT_EQ(mold(L(true), false, &ten), "true");
  Cell part_float = F(2.9);
  EXPECT_EQ(form(I(98765), &part_float), "98");

  datatype::register_type({.id = TEST_PARENT, .parent = 0, .name = "counter!",
                           .slots = {.form = counting_form}});
  Cell v{TEST_PARENT, 0, 0, 0};
  g_form_calls = 0;
  EXPECT_EQ(form(v, &zero), "");
  EXPECT_EQ(g_form_calls, 0);
  EXPECT_EQ(form(v), "counted");
  EXPECT_EQ(g_form_calls, 1);
  Cell two = I(2);
  EXPECT_EQ(form(v, &two), "co");
}

TEST_F(RegistryTest, EntryBufferIsAFreshStringOnTheStack) {
  open_frame();
  Cell v = I(42);
  Cell* value = stack::push_copy(&v);
  Cell* s = actions::form(value, nullptr);
  EXPECT_EQ(cell::type(s), uint32_t(T_STRING));
  EXPECT_EQ(s, stack::state().top - 1);
  EXPECT_GE(memory::node_buffer(s->w2)->capacity, 16);
  EXPECT_EQ(utf8(s), "42");
}

// The truth of each op code against one ordered pair, one equal pair and -2.
TEST_F(RegistryTest, CompareTruthByOp) {
  struct Row {
    int32_t op;
    bool less;   // 1 op 2
    bool equal;  // 2 op 2
  } rows[] = {{0, false, true},  {1, true, false},  {2, false, true},  {3, true, false},
              {4, true, true},   {5, false, false}, {6, false, true},  {9, false, true},
              {10, false, true}, {11, false, true}, {12, false, true}};
  for (const Row& r : rows) {
    EXPECT_EQ(compare(I(1), I(2), r.op), r.less) << "op " << r.op;
    EXPECT_EQ(compare(I(2), I(2), r.op), r.equal) << "op " << r.op;
  }
  // not comparable: unequal under equality codes, an error under orderings
  EXPECT_FALSE(compare(I(1), NONE(), 0));
  EXPECT_TRUE(compare(I(1), NONE(), 1));
  EXPECT_FALSE(compare(I(1), NONE(), 10));
  for (int32_t op : {3, 4, 5, 6}) {
    EXPECT_RAISES(compare(I(1), NONE(), op), err::script::invalid_compare);
  }
}

}  // namespace
