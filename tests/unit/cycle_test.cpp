// Cycle guard: depth limit and its error, scoped entries restored on unwinding,
// placeholders with their budgets, and identities kept across node moves.
#include <gtest/gtest.h>

#include <string>

#include "runtime/cycle.h"
#include "runtime/error.h"
#include "memory_fixture.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

using namespace kel;

namespace {

class Cycle : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fresh_heap();
    cycle::init();
  }
  void TearDown() override {
    cycle::clear();
    gc::set_automatic(false);
    memory::release_all();
  }
};

bool raised(ErrorPos e) {
  return error::pending().category == e.category && error::pending().id == e.id;
}

uint32_t g_bottom_depth = 0;

// Enters n nested scopes, then throws a plain unwind at the bottom.
void nest_then_throw(uint32_t n) {
  if (n == 0) {
    g_bottom_depth = cycle::depth();
    throw Unwind{unwind_code::ERROR};
  }
  cycle::Scope s{Node(n)};
  nest_then_throw(n - 1);
}

std::string text_of(Node out) {
  SeriesBuffer* b = memory::node_buffer(out);
  return std::string(reinterpret_cast<const char*>(memory::head(b)), memory::used_bytes(b));
}

}  // namespace

TEST_F(Cycle, NineHundredNinetyNineEntersFitTheThousandthRaisesTooDeepAndEmpties) {
  for (uint32_t i = 1; i <= 999; ++i) cycle::enter_series(i);
  EXPECT_EQ(cycle::depth(), 999u);
  EXPECT_TRUE(cycle::visiting_q(1));
  EXPECT_TRUE(cycle::visiting_q(999));
  bool thrown = false;
  try {
    cycle::enter_series(1000);
  } catch (const Unwind&) {
    thrown = true;
    EXPECT_TRUE(raised(err::internal::too_deep));
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(cycle::depth(), 0u);
  EXPECT_FALSE(cycle::visiting_q(1));
  // The next walk starts clean.
  cycle::enter_series(7);
  EXPECT_EQ(cycle::depth(), 1u);
}

TEST_F(Cycle, ScopesRestoreTheDepthOnReturnAndOnUnwinding) {
  cycle::enter_series(42);  // an outer walk, not ours
  {
    cycle::Scope a(1);
    {
      cycle::Scope b(2);
      EXPECT_EQ(cycle::depth(), 3u);
    }
    EXPECT_EQ(cycle::depth(), 2u);
    EXPECT_FALSE(cycle::visiting_q(2));
  }
  EXPECT_EQ(cycle::depth(), 1u);
  cycle::clear();

  // Another error at depth 500: every entry is gone once the unwinding is over.
  EXPECT_THROW(nest_then_throw(500), Unwind);
  EXPECT_EQ(g_bottom_depth, 500u);
  EXPECT_EQ(cycle::depth(), 0u);

  // Scopes unwinding through internal/too-deep leave the emptied stack alone.
  bool thrown = false;
  try {
    nest_then_throw(2000);
  } catch (const Unwind&) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(raised(err::internal::too_deep));
  EXPECT_EQ(cycle::depth(), 0u);
}

TEST_F(Cycle, LeaveOperationsNeverGoBelowEmpty) {
  cycle::leave_series();
  EXPECT_EQ(cycle::depth(), 0u);
  for (Node n : {1u, 2u, 3u, 4u}) cycle::enter_series(n);
  cycle::leave_many(2);
  EXPECT_EQ(cycle::depth(), 2u);
  EXPECT_TRUE(cycle::visiting_q(2));
  EXPECT_FALSE(cycle::visiting_q(3));
  cycle::leave_many(10);
  EXPECT_EQ(cycle::depth(), 0u);
}

TEST_F(Cycle, PlaceholdersAndTheirCostInMoldAndForm) {
  struct Case {
    uint32_t type;
    const char* mold;
    int32_t mold_cost;
  } cases[] = {
      {T_BLOCK, "[...]", 5},  {T_HASH, "[...]", 5},    {T_PAREN, "(...)", 5},
      {T_MAP, "#[...]", 6},   {T_OBJECT, "make object! [...]", 18},
      {T_PATH, "...", 3},     {T_LIT_PATH, "...", 3}, {T_SET_PATH, "...", 3},
      {T_GET_PATH, "...", 3},
  };
  Node walked = memory::series_new_cells(1);
  gc::Root keep_walked(&walked);
  Node out = memory::series_new_bytes(0);
  gc::Root keep_out(&out);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mold);
    for (bool mold : {true, false}) {
      // Objects are known by their context node (w1), the others by their series node (w2).
      // Made afresh each time: an allocation may have moved the node.
      Cell v = c.type == T_OBJECT ? Cell{c.type, walked, 0, 0} : Cell{c.type, 0, walked, 0};
      memory::node_buffer(out)->tail = memory::node_buffer(out)->head;
      int32_t budget = 100;
      EXPECT_FALSE(cycle::emit_placeholder(&v, out, budget, mold));  // not being walked
      EXPECT_EQ(budget, 100);
      EXPECT_EQ(text_of(out), "");
      cycle::Scope s(walked);
      EXPECT_TRUE(cycle::emit_placeholder(&v, out, budget, mold));
      EXPECT_EQ(text_of(out), mold ? c.mold : "...");
      EXPECT_EQ(budget, 100 - (mold ? c.mold_cost : 3));
    }
  }
}

TEST_F(Cycle, PlaceholdersGrowTheOutputAndAppendAfterItsText) {
  Node walked = memory::series_new_cells(1);
  gc::Root keep_walked(&walked);
  Node out = memory::series_new_bytes(0);
  gc::Root keep_out(&out);
  cycle::Scope s(walked);
  int32_t budget = 10;
  std::string expect;
  for (int i = 0; i < 50; ++i) {
    Cell v{T_OBJECT, walked, 0, 0};
    ASSERT_TRUE(cycle::emit_placeholder(&v, out, budget, true));
    expect += "make object! [...]";
  }
  EXPECT_EQ(text_of(out), expect);
  EXPECT_EQ(budget, 10 - 50 * 18);  // the budget may go negative; the caller stops
}

TEST_F(Cycle, EntriesFollowTheirNodesAcrossCollections) {
  Node a = memory::series_new_cells(4);
  gc::Root keep_a(&a);
  Node b = memory::series_new_cells(4);
  gc::Root keep_b(&b);
  cycle::Scope sa(a);
  cycle::Scope sb(b);
  for (int i = 0; i < 200; ++i) {
    memory::series_new_bytes(64);  // garbage; under stress each one collects and moves
    if (i % 50 == 0) gc::collect();
  }
  EXPECT_TRUE(cycle::visiting_q(a));
  EXPECT_TRUE(cycle::visiting_q(b));
  EXPECT_EQ(cycle::depth(), 2u);
}
