// hash! index upkeep checked with hash::verify_index after every inherited action, and map!
// entry operations checked against a std::unordered_map over many random steps.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>

#include "block_actions_fixture.h"
#include "runtime/datatypes/hash_block.h"
#include "runtime/datatypes/map.h"

namespace kel::test {
namespace {

class HashIndexTest : public BlockActionsTest {
 protected:
  // A hash! made by its own make slot.
  Cell* hash_of(const char* text) { return make(T_HASH, load(text)); }
  std::string fault(const Cell* h) {
    std::string why;
    return hash::verify_index(h, &why) ? "" : why;
  }
  Cell* remove_part(Cell* h, int32_t n) {
    Cell count = int_cell(n);
    Cell* c = arg(&count);
    return fn<42>(h)(h, c, nullptr);
  }
  int32_t index_of_found(const Cell* h, const Cell* v) {
    Cell* f = find(h, v);
    return cell::type(f) == T_NONE ? -1 : int32_t(f->w1);
  }
  Cell w(const char* name) { return word(name); }
};

#define EXPECT_INDEXED(h) EXPECT_EQ(fault(h), "")

// Rows of the hash case file, with the index checked after each action.
TEST_F(HashIndexTest, IndexHoldsAfterEachAction) {
  Cell x = w("x"), a = w("a"), b = w("b"), c = w("c"), z = w("z");
  Cell* h = hash_of("[a b c]");
  EXPECT_INDEXED(h);
  insert(h, &x);
  EXPECT_INDEXED(h);
  EXPECT_EQ(index_of_found(h, &c), 3);

  h = hash_of("[a b c]");
  fn<42>(h)(arg(h), nullptr, nullptr);  // remove
  EXPECT_INDEXED(h);
  fn<43>(h)(arg(h), nullptr, nullptr);  // reverse
  EXPECT_INDEXED(h);
  EXPECT_EQ(index_of_found(h, &b), 1);

  h = hash_of("[a b]");
  Cell one = int_cell(1);
  fn<40>(h)(arg(h), 1, arg(&c), arg(&one));  // poke
  EXPECT_INDEXED(h);
  fn<47>(h)(at(h, 1), load("[z]"));  // swap
  EXPECT_INDEXED(h);
  EXPECT_EQ(index_of_found(h, &a), -1);
  EXPECT_EQ(index_of_found(h, &z), 1);

  h = hash_of("[3 1 2 1]");
  sort(h);
  EXPECT_INDEXED(h);
  Cell* part = arg(&one);
  Cell two = int_cell(2);
  *part = two;
  Cell* cp = copy(at(hash_of("[a b c d]"), 1), part);
  EXPECT_EQ(cell::type(cp), T_HASH);
  EXPECT_INDEXED(cp);
  EXPECT_INDEXED(copy(h));

  h = hash_of("[a b c d a]");
  append(h, load("[b a]"));
  EXPECT_INDEXED(h);
  put(h, &c, &z);
  put(h, &x, &a);
  EXPECT_INDEXED(h);
  fn<50>(h)(arg(h), nullptr, false, true);  // take/last
  EXPECT_INDEXED(h);
  remove_part(at(h, 2), 3);
  EXPECT_INDEXED(h);
  fn<37>(h)(arg(h), at(h, 3), nullptr);  // move
  EXPECT_INDEXED(h);
  change(at(h, 1), load("[q r s t u]"));
  EXPECT_INDEXED(h);
  fn<51>(h)(arg(h), false, false, false, false, false, nullptr);  // trim
  EXPECT_INDEXED(h);
  fn<29>(h)(at(h, 2));  // clear
  EXPECT_INDEXED(h);
}

// Shifts beyond 30,000 cells decline and the callers rebuild; duplicates share lists.
TEST_F(HashIndexTest, LongHashesAndDuplicates) {
  Cell* h = hash_of("[]");
  for (int32_t i = 0; i < 100000; ++i) {
    StackRestore restore;
    Cell v = int_cell(i % 1000);
    append(h, &v);
  }
  EXPECT_EQ(block::count_from_head(h), 100000);
  EXPECT_INDEXED(h);
  Cell front = int_cell(-1);
  insert(h, &front);  // a shift of 100,000 positions
  EXPECT_INDEXED(h);
  remove_part(at(h, 10), 5);
  EXPECT_INDEXED(h);
  Cell v = int_cell(999);
  FindArgs last{.last = true};
  EXPECT_EQ(int32_t(find(h, &v, last)->w1), 99995);
  remove_part(at(h, 50000), 40000);
  EXPECT_INDEXED(h);
}

// Blocks hash by node: after collections moved nodes the index is rebuilt on next use.
TEST_F(HashIndexTest, HashOfBlocksSurvivesMoves) {
  Cell* h = hash_of("[]");
  for (int32_t i = 0; i < 300; ++i) {
    StackRestore restore;
    Cell* blk = block::push_empty(1);
    Cell v = int_cell(i);
    block::append_copy(blk, &v);
    append(h, blk, -1, true);
  }
  EXPECT_INDEXED(h);
  for (int32_t k = 0; k < 3; ++k) gc::collect();
  for (int32_t i = 0; i < 300; i += 7) {
    StackRestore restore;
    Cell inner = *block::cell_at_index(h, i);
    FindArgs same{.only = true, .same = true};
    Cell* f = find(h, &inner, same);
    ASSERT_EQ(cell::type(f), T_HASH) << i;
    EXPECT_EQ(int32_t(f->w1), i);
    EXPECT_INDEXED(h);
  }
}

// Random puts, removes and selects agree with a std::unordered_map.
TEST_F(HashIndexTest, MapAgreesWithUnorderedMap) {
  Cell* m = stack::reserve_cell();
  cell::set_none(m);
  map::init_cell(m, nullptr, 0);
  std::unordered_map<int32_t, int32_t> ref;
  std::mt19937 rng(12345);
  for (int32_t step = 0; step < 200000; ++step) {
    StackRestore restore;
    int32_t k = int32_t(rng() % 3000);
    Cell key = int_cell(k);
    switch (rng() % 3) {
      case 0: {
        int32_t v = int32_t(rng() % 100000);
        Cell val = int_cell(v);
        map::put(m, arg(&key), arg(&val), false);
        ref[k] = v;
        break;
      }
      case 1:
        map::remove(m, nullptr, arg(&key));
        ref.erase(k);
        break;
      default: {
        Cell* r = map::select(m, arg(&key), nullptr, false, false, false, false, nullptr,
                              nullptr, false, false);
        auto it = ref.find(k);
        if (it == ref.end()) {
          ASSERT_EQ(cell::type(r), T_NONE) << step;
        } else {
          ASSERT_EQ(cell::type(r), T_INTEGER) << step;
          ASSERT_EQ(cell::get_int(r), it->second) << step;
        }
      }
    }
    ASSERT_EQ(map::length_q(m), int32_t(ref.size())) << step;
  }
}

}  // namespace
}  // namespace kel::test
