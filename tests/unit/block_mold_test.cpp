// Tests of block! and paren! mold and form: separators, line layout and indentation, the
// character budget, cycle placeholders, the depth limit, and molding under the collector.
#include "block_fixture.h"

namespace kel::test {
namespace {

using BlockMoldTest = BlockTest;

// Rows: Kel text => result.
// mold [1 2]                        => "[1 2]"
// mold/only [1 2]                   => "1 2"
// form [1 [2 3]]                    => "1 2 3"
// form ["a^/" "b"]                  => "a^/b"
// mold []                           => "[]"
// mold [a: "x" #"y" none [] ()]     => {[a "x" #"y" none [] ()]}
// form []                           => ""
TEST_F(BlockMoldTest, SeparatorsAndBrackets) {
  EXPECT_EQ(mold(load("[1 2]")), "[1 2]");
  EXPECT_EQ(mold(load("[1 2]"), {.only = true}), "1 2");
  EXPECT_EQ(form(load("[1 [2 3]]")), "1 2 3");
  EXPECT_EQ(form(load("[\"a^/\" \"b\"]")), "a\nb");
  EXPECT_EQ(mold(load("[]")), "[]");
  EXPECT_EQ(mold(load("[a \"x\" #\"y\" none [] ()]")), "[a \"x\" #\"y\" none [] ()]");
  EXPECT_EQ(form(load("[]")), "");
}

// mold new-line/all [1 2] true          => "[^/    1^/    2^/]"
// mold/flat new-line/all [1 2] true     => "[1 2]"
// b: [1 2] new-line next b true mold b  => "[1^/2]"
// a marked block of 1 and a marked block of 2 => "[^/    1^/    [^/        2^/    ]^/]"
// mold/only new-line/all [1 2] true     => "1^/2"
TEST_F(BlockMoldTest, LineLayout) {
  EXPECT_EQ(mold(load("[\n1\n2]")), "[\n    1\n    2\n]");
  EXPECT_EQ(mold(load("[\n1\n2]"), {.flat = true}), "[1 2]");
  EXPECT_EQ(mold(load("[1\n2]")), "[1\n2]");
  EXPECT_EQ(mold(load("[\n1\n[\n2]]")), "[\n    1\n    [\n        2\n    ]\n]");
  EXPECT_EQ(mold(load("[\n1\n2]"), {.only = true}), "1\n2");
  // A later mark in a nested block breaks the line at the current indentation only.
  EXPECT_EQ(mold(load("[\n1\n[2\n3]]")), "[\n    1\n    [2\n    3]\n]");
}

// Every character costs one unit of budget: brackets, spaces, line feeds and indentation.
TEST_F(BlockMoldTest, BudgetCountsEveryCharacter) {
  auto spent = [&](const char* text, bool flat) {
    Cell* v = load(text);
    Cell* buffer = stack::reserve_cell();
    cell::set_none(buffer);  // a reserved cell holds stale bits until written
    string::init_cell(buffer, 16);
    int32_t left = actions::direct_mold(v, buffer, false, false, flat, nullptr, 1000, 0);
    EXPECT_EQ(1000 - left, int32_t(memory::units(memory::node_buffer(buffer->w2)))) << text;
    return 1000 - left;
  };
  EXPECT_EQ(spent("[1 2]", false), 5);
  EXPECT_EQ(spent("[\n1\n[\n2]]", false), 31);
  EXPECT_EQ(spent("[\n1\n[\n2]]", true), 7);
  Cell* f = load("[1 [2 3] \"ab\"]");
  Cell* buffer = stack::reserve_cell();
  cell::set_none(buffer);  // a reserved cell holds stale bits until written
  string::init_cell(buffer, 16);
  EXPECT_EQ(actions::direct_form(f, buffer, nullptr, 100), 100 - 8);
}

// mold/part of a block of 1 ... 1000, limit 5 => "[1 2 " and the walk stops early.
TEST_F(BlockMoldTest, PartStopsTheWalk) {
  Cell* b = block::push_empty(1000);
  for (int32_t i = 1; i <= 1000; ++i) {
    Cell v = integer(i);
    block::append_copy(b, &v);
  }
  EXPECT_EQ(mold(b, {.part = 5}), "[1 2 ");
  EXPECT_LT(last_units_, 12);  // "[1 2 3]": the element being written may run past
  EXPECT_EQ(form(b, {.part = 3}), "1 2");
  EXPECT_LT(last_units_, 8);
  // Without /part the budget never stops a walk, even when it runs out.
  Cell* buffer = stack::reserve_cell();
  cell::set_none(buffer);  // a reserved cell holds stale bits until written
  string::init_cell(buffer, 16);
  actions::direct_mold(b, buffer, false, false, false, nullptr, 3, 0);
  EXPECT_EQ(memory::units(memory::node_buffer(buffer->w2)), 3894u);
}

// b: [1] append/only b b, then mold b  => "[1 [...]]" and form b => "1 ..."
// p: to paren! [1] append/only p p mold p => "(1 (...))"  (placeholder, not too-deep)
// mold to paren! [1 2]                  => "(1 2)"
// a paren inside a block that contains the block => "[(x [...])]"
TEST_F(BlockMoldTest, CyclesPrintPlaceholders) {
  Cell* b = load("[1]");
  block::append_copy(b, b);
  EXPECT_EQ(mold(b), "[1 [...]]");
  EXPECT_EQ(form(b), "1 ...");
  Cell* p = load("[1]");
  cell::set_type(p, T_PAREN);
  EXPECT_EQ(mold(p), "(1)");
  block::append_copy(p, p);
  EXPECT_EQ(mold(p), "(1 (...))");
  EXPECT_EQ(cycle::depth(), 0u);
  Cell* q = load("[1 2]");
  cell::set_type(q, T_PAREN);
  EXPECT_EQ(mold(q), "(1 2)");
  Cell* outer = load("[(x)]");
  Cell inner = *block::head_cell(outer);
  Cell* held = push(inner);
  block::append_copy(held, outer);
  EXPECT_EQ(mold(outer), "[(x [...])]");
}

// 999 nested blocks mold; 1,000 raise internal/too-deep, and the next mold works.
TEST_F(BlockMoldTest, DepthLimit) {
  auto nested = [&](int levels) {
    Cell* top = block::push_empty(1);
    Cell* inner = top;
    Cell one = integer(1);
    block::append_copy(inner, &one);
    for (int i = 1; i < levels; ++i) {
      Cell* outer = block::push_empty(1);
      block::append_copy(outer, inner);
      inner = outer;
    }
    return inner;
  };
  Cell* ok = nested(999);
  std::string text = mold(ok);
  EXPECT_EQ(text, std::string(999, '[') + "1" + std::string(999, ']'));
  Cell* deep = nested(1000);
  EXPECT_ERROR(mold(deep), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
  EXPECT_EQ(mold(load("[1 [2]]")), "[1 [2]]");
  EXPECT_ERROR(form(deep), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
}

// Appends of nested blocks mold as without the collector stress: `count` of them, made under
// the stress period the run has, made sparser by `spread` (a full collection at every
// allocation costs in proportion to the heap, which the appends grow).
struct NestedAppendsTest : BlockTest {
  void mold_the_same(int32_t count, uint32_t spread) {
    uint32_t saved = gc::stress_period();
    if (saved) gc::set_stress(saved * spread);
    Cell* b = block::push_empty(1);
    std::string expected = "[";
    for (int32_t i = 0; i < count; ++i) {
      Cell* inner = block::push_empty(1);
      Cell v = integer(i);
      block::append_copy(inner, &v);
      Cell* s = push_string("s");
      block::append_copy(inner, s);
      stack::drop_cells(1);
      block::append_copy(b, inner);
      stack::drop_cells(1);
      if (i) expected += ' ';
      expected += "[" + std::to_string(i) + " \"s\"]";
    }
    expected += "]";
    EXPECT_EQ(mold(b), expected);
    gc::set_stress(saved);
  }
};

// Every allocation of 1,000 appends under the stress, then 10,000 with the stress at every
// 61st allocation (of a period of 1).
TEST_F(NestedAppendsTest, ManyNestedAppendsMoldTheSame) { mold_the_same(1000, 1); }
TEST_F(NestedAppendsTest, TenThousandNestedAppendsMoldTheSame) { mold_the_same(10000, 61); }

}  // namespace
}  // namespace kel::test
