// Test fixture for the memory manager and collector: a fresh heap per test, automatic
// collection on, stress mode as the environment asks.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/error.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/init.h"
#include "runtime/memory.h"
#include "runtime/slots.h"
#include "runtime/unwind.h"

namespace kel::test {

inline void fresh_heap() {
  memory::release_all();
  gc::state().roots = gc::Roots{};
  runtime::forget_last_runtime();  // its node handles name the released heap
  slot_table::state() = slot_table::State{0, -1, 0};
  memory::init();
  gc::init();
  extern_::init();
  gc::set_automatic(true);
}

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh_heap(); }
  void TearDown() override {
    gc::set_automatic(false);
    memory::release_all();
  }
};

// Turns stress mode off for a test whose checks depend on exact placement.
struct NoStress {
  uint32_t saved = gc::stress_period();
  NoStress() { gc::set_stress(0); }
  ~NoStress() { gc::set_stress(saved); }
};

// Holds cells outside the collected heap as roots.
struct Holder {
  std::vector<Cell> cells;
  gc::RootRange range;
  explicit Holder(size_t n)
      : cells(n, Cell{T_NONE, 0, 0, 0}), range(cells.data(), cells.data() + n) {}
  void hold_block(size_t i, Node n) { cells.at(i) = Cell{T_BLOCK, 0, n, 0}; }
  void hold_bytes(size_t i, Node n) { cells.at(i) = Cell{T_BINARY, 0, n, 0}; }
  Node node(size_t i) const { return cells[i].w2; }
};

inline bool alive(Node n) { return n && !memory::node_free_q(n); }

// Expects an error raised by position.
#define EXPECT_RAISES(stmt, pos)                                              \
  do {                                                                        \
    bool raised_ = false;                                                     \
    try {                                                                     \
      stmt;                                                                   \
    } catch (const ::kel::Unwind& u_) {                                       \
      raised_ = u_.code == ::kel::unwind_code::ERROR;                         \
    }                                                                         \
    EXPECT_TRUE(raised_);                                                     \
    EXPECT_EQ(::kel::error::pending().category, (pos).category);              \
    EXPECT_EQ(::kel::error::pending().id, (pos).id);                          \
  } while (0)

}  // namespace kel::test
