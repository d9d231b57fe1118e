// Tests of routine! values: building from a spec, the argument count, form, mold, compare,
// reflect through function!, and make being unsupported.
#include "function_fixture.h"

namespace kel::test {
namespace {

using RoutineTest = FunctionTest;

// routine of [a b /ref c] without body: arg count, mold => 3, "routine [a b /ref c] none"
// make routine! []                                      => !! script/expect-arg
TEST_F(RoutineTest, BuildCountMold) {
  Cell none = Cell{T_NONE, 0, 0, 0};
  Cell* r = routine::build(load("a b /ref c"), &none, 0, -1, false);
  EXPECT_EQ(cell::type(r), uint32_t(T_ROUTINE));
  EXPECT_EQ(routine::arg_count(r), 3);
  EXPECT_EQ(mold(r), "routine [a b /ref c] none");
  EXPECT_EQ(form(r), "?routine?");
  EXPECT_EQ(r->header & routine::FLAG, 0u);
  EXPECT_EQ(cell::get_int(function::extras_cell(r, function::extras::CODE)), 0);
  EXPECT_EQ(cell::get_int(function::extras_cell(r, function::extras::CODE_REF)), -1);
  EXPECT_EQ(cell::type(function::extras_cell(r, function::extras::ARG_CACHE)), uint32_t(T_UNSET));
  // Unlike a function's, the context's self-cell is not written.
  EXPECT_EQ(cell::type(context::self_cell(r->w1)), uint32_t(T_UNSET));
  EXPECT_EQ(context::word_count(r->w1), 4);

  // The body is kept as given, not copied or bound.
  Cell* body = load("a + 1");
  Cell* r2 = routine::build(load(":x 'y z"), body, 3, 4, true);
  EXPECT_EQ(routine::arg_count(r2), 1);
  EXPECT_NE(r2->header & routine::FLAG, 0u);
  EXPECT_EQ(function::extras_cell(r2, function::extras::BODY)->w2, body->w2);
  EXPECT_EQ(mold(r2), "routine [:x 'y z][a + 1]");
  EXPECT_EQ(mold(reflect(r2, "spec")), "[:x 'y z]");
  EXPECT_EQ(mold(reflect(r2, "body")), "[a + 1]");
}

TEST_F(RoutineTest, MakeIsUnsupported) {
  Cell none = Cell{T_NONE, 0, 0, 0};
  Cell* r = routine::build(load("a"), &none, 0, -1, false);
  EXPECT_EQ(datatype::slot<datatype::action::MAKE>(T_ROUTINE), nullptr);
  EXPECT_ERROR(actions::resolve_for_cell(r, datatype::action::MAKE), err::script::expect_arg);
}

// Two routine values compare equal only when they share their extras series.
TEST_F(RoutineTest, CompareAndCache) {
  Cell none = Cell{T_NONE, 0, 0, 0};
  Cell* spec = load("a b /ref c");
  Cell* r = routine::build(spec, &none, 0, -1, false);
  Cell* s = routine::build(spec, &none, 0, -1, false);
  Cell copy = *r;
  EXPECT_EQ(compare(r, &copy), 0);
  EXPECT_NE(compare(r, s), 0);
  EXPECT_EQ(compare(r, s, 4), -2);
  Cell* f = func("a", "");
  EXPECT_EQ(compare(r, f), -2);
  // A routine's cache ends with no count (no /local); op! wrapping keeps a copy in extras.
  Node cache = interp::build_argument_cache(r);
  EXPECT_EQ(memory::units(memory::node_buffer(cache)), 4u);
  Cell* two = routine::build(load("a b"), &none, 0, -1, false);
  Cell* o = make(T_OP, two);
  EXPECT_EQ(o->header, T_OP | (T_ROUTINE << 16));
  EXPECT_EQ(function::extras_cell(two, function::extras::OP_SELF)->header & 0xFF, uint32_t(T_ROUTINE));
  EXPECT_EQ(mold(o), "make op! [[a b]]");
}

void registry_probe() {}

TEST_F(RoutineTest, RegistryLookup) {
  // A registered entry is found at the index registering answered, and only there.
  static const routine::Entry probe{nullptr, "a", &registry_probe, int32_t(T_INTEGER)};
  int32_t before = routine::registry_count();
  int32_t at = routine::register_routine(probe);
  EXPECT_EQ(at, before);
  EXPECT_EQ(routine::registry_count(), before + 1);
  ASSERT_NE(routine::registry_entry(at), nullptr);
  EXPECT_EQ(routine::registry_entry(at)->fn, &registry_probe);
  EXPECT_EQ(routine::registry_entry(-1), nullptr);
  EXPECT_EQ(routine::registry_entry(routine::registry_count()), nullptr);
}

}  // namespace
}  // namespace kel::test
