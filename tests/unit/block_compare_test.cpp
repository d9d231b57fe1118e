// Tests of block comparison, sort and the set-operation engine, through the action table
// and a prepared native frame. Each test lists its cases as Kel text in the comment above.
#include <random>
#include <utility>
#include <vector>

#include "block_actions_fixture.h"

namespace kel::test {
namespace {

// [1 2] = [1 2]                    => true
// [1 2] < [1 3]                    => true
// [1] < [1 2]                      => true
// [] < [1]                         => true
// [a] < [1]                        => false
// equal? [a] [A]                   => true
// strict-equal? [a] [A]            => false
// [1 2] = [1 2 3]                  => false, no element compared
// [a 1] = [a: 1]                   => true (the word family compares across its types)
// same? b b                        => true; same? b copy b => false
// [1] = (1)                        => false (different datatypes)
// [[k1 wordq] 1] < [[k1 wordr] 1]  => true
// [[k2 zeta]] > [[k2 Alpha]]       => true
TEST_F(BlockActionsTest, CompareBlocks) {
  EXPECT_EQ(compare(load("[1 2]"), load("[1 2]"), 0), 0);
  EXPECT_LT(compare(load("[1 2]"), load("[1 3]"), 3), 0);
  EXPECT_LT(compare(load("[1]"), load("[1 2]"), 3), 0);
  EXPECT_LT(compare(load("[]"), load("[1]"), 3), 0);
  EXPECT_GT(compare(load("[a]"), load("[1]"), 3), 0);
  EXPECT_EQ(compare(load("[a]"), load("[A]"), 0), 0);
  EXPECT_NE(compare(load("[a]"), load("[A]"), 2), 0);

  Cell* x = load("[1 2]");
  Cell* y = load("[1 2 3]");
  compare_calls() = 0;
  EXPECT_NE(compare(x, y, 0), 0);
  EXPECT_EQ(compare_calls(), 0);

  EXPECT_EQ(compare(load("[a 1]"), load("[a: 1]"), 0), 0);
  Cell* b = load("[1]");
  EXPECT_EQ(compare(b, b, 9), 0);
  EXPECT_NE(compare(b, copy(b), 9), 0);
  EXPECT_EQ(compare(b, copy(b), 0), 0);
  Cell* p = load("[1]");
  cell::set_type(p, T_PAREN);
  EXPECT_EQ(compare(b, p, 0), -2);
  // Words order by their spellings, which are made on first use (an allocation).
  EXPECT_LT(compare(load("[[k1 wordq] 1]"), load("[[k1 wordr] 1]"), 3), 0);
  EXPECT_GT(compare(load("[[k2 zeta]]"), load("[[k2 Alpha]]"), 5), 0);
}

// path! against lit-path! compares only under the word-equality operators 10 and 11.
TEST_F(BlockActionsTest, PathAgainstLitPath) {
  Cell* p = load("[a b]");
  cell::set_type(p, T_PATH);
  Cell* l = load("[a b]");
  cell::set_type(l, T_LIT_PATH);
  EXPECT_EQ(compare(p, l, 0), -2);
  EXPECT_EQ(compare(p, l, 10), 0);
  EXPECT_EQ(compare(l, p, 11), 0);
}

// a: [1] append/only a a  b: [1] append/only b b  a = b   => true, and it terminates
// a = [1 [1]]                       => false
TEST_F(BlockActionsTest, SelfContainingBlocksCompareWithoutEnd) {
  Cell* a = load("[1]");
  append(a, a, -1, true);
  Cell* b = load("[1]");
  append(b, b, -1, true);
  EXPECT_EQ(compare(a, b, 0), 0);
  EXPECT_EQ(cycle::depth(), 0u);
  EXPECT_NE(compare(a, load("[1 [1]]"), 0), 0);
  EXPECT_EQ(cycle::depth(), 0u);
}

// sort [3 1 2]                     => [1 2 3]
// sort/reverse [3 1 2]             => [3 2 1]
// sort [c "b" 1]                   => ["b" 1 c]
// sort ["b" "A" "a"]               => ["A" "a" "b"] or ["a" "A" "b"] (equal keys)
// sort/case ["b" "a" "A"]          => ["A" "a" "b"]
// sort/skip [b 2 a 1] 2            => [a 1 b 2]
// sort/skip/compare [b 1 a 2] 2 2  => [b 1 a 2]
// sort/skip/all [a 2 a 1] 2        => [a 1 a 2]
// sort/part [3 2 1] 2              => [2 3 1]
// sort/part tail [3 2 1 0] -2      => [0 1], block [3 2 0 1]
// sort/part tail [2 1] -5          => index 1, nothing sorted
// sort next [3 2 1]                => [1 2], block [3 1 2]
TEST_F(BlockActionsTest, Sort) {
  EXPECT_EQ(mold(sort(load("[3 1 2]"))), "[1 2 3]");
  EXPECT_EQ(mold(sort(load("[3 1 2]"), {.reverse = true})), "[3 2 1]");
  EXPECT_EQ(mold(sort(load("[c \"b\" 1]"))), "[\"b\" 1 c]");
  EXPECT_EQ(mold(sort(load("[\"b\" \"a\" \"A\"]"), {.case_ = true})), "[\"A\" \"a\" \"b\"]");
  Cell two = int_cell(2);
  EXPECT_EQ(mold(sort(load("[b 2 a 1]"), {.skip = &two})), "[a 1 b 2]");
  EXPECT_EQ(mold(sort(load("[b 1 a 2]"), {.skip = &two, .compare = &two})), "[b 1 a 2]");
  EXPECT_EQ(mold(sort(load("[a 2 a 1]"), {.skip = &two, .all = true})), "[a 1 a 2]");
  EXPECT_EQ(mold(sort(load("[3 2 1]"), {.part = &two})), "[2 3 1]");
  Cell* b = load("[3 2 1 0]");
  Cell minus2 = int_cell(-2);
  EXPECT_EQ(mold(sort(at(b, 4), {.part = &minus2})), "[0 1]");
  EXPECT_EQ(mold(b), "[3 2 0 1]");
  Cell minus5 = int_cell(-5);
  Cell* c = load("[2 1]");
  Cell* r = sort(at(c, 1), {.part = &minus5});
  EXPECT_EQ(int32_t(r->w1), 0);
  EXPECT_EQ(mold(c), "[2 1]");
  Cell* d = load("[3 2 1]");
  EXPECT_EQ(mold(sort(at(d, 1))), "[1 2]");
  EXPECT_EQ(mold(d), "[3 1 2]");
}

// sort/all [1]                     => !! script/bad-refines
// sort/compare [3 1 2] 1           => !! script/bad-refines
// sort/skip/compare/all [a 1] 2 1  => !! script/bad-refines
// sort/skip/compare [b 1 a 2] 2 3  => !! script/out-of-range
// sort/skip/compare [b 1 a 2] 2 0  => !! script/out-of-range
// sort/skip [1 2 3] 2              => !! script/invalid-refine-arg, nothing notified or changed
// sort/skip [1 2] 0                => !! script/invalid-refine-arg
// sort/compare [1 2] "x"           => !! script/invalid-refine-arg
// sort/part [1 2] "x"              => !! script/invalid-refine-arg
TEST_F(BlockActionsTest, SortErrorsChangeNothing) {
  Cell one = int_cell(1), two = int_cell(2), three = int_cell(3), zero = int_cell(0);
  Cell* b = load("[1 2 3]");
  uint32_t before = notices();
  EXPECT_ERROR(sort(load("[1]"), {.all = true}), err::script::bad_refines);
  EXPECT_ERROR(sort(load("[3 1 2]"), {.compare = &one}), err::script::bad_refines);
  EXPECT_ERROR(sort(load("[a 1]"), {.skip = &two, .compare = &one, .all = true}),
               err::script::bad_refines);
  EXPECT_ERROR(sort(load("[b 1 a 2]"), {.skip = &two, .compare = &three}),
               err::script::out_of_range);
  EXPECT_ERROR(sort(load("[b 1 a 2]"), {.skip = &two, .compare = &zero}),
               err::script::out_of_range);
  EXPECT_ERROR(sort(load("[3 2 1]"), {.skip = &two}), err::script::invalid_refine_arg);
  EXPECT_ERROR(sort(load("[2 1]"), {.skip = &zero}), err::script::invalid_refine_arg);
  Cell* text = push_string("x");
  EXPECT_ERROR(sort(load("[2 1]"), {.compare = text}), err::script::invalid_refine_arg);
  EXPECT_ERROR(sort(load("[2 1]"), {.part = text}), err::script::invalid_refine_arg);
  EXPECT_EQ(notices(), before);
  EXPECT_EQ(mold(b), "[1 2 3]");
}

// sort/stable/skip on records with equal keys keeps their order, as std::stable_sort does;
// the default comparator allocates nothing while the engines hold raw addresses.
TEST_F(BlockActionsTest, StableSortAgreesWithStdStableSort) {
  std::mt19937 rng(7);
  std::vector<std::pair<int32_t, int32_t>> records;
  Cell* b = block::push_empty(2000);
  for (int32_t i = 0; i < 1000; ++i) {
    int32_t key = int32_t(rng() % 17);
    records.push_back({key, i});
    Cell k = int_cell(key), tag = int_cell(i);
    block::append_copy(b, &k);
    block::append_copy(b, &tag);
  }
  std::stable_sort(records.begin(), records.end(),
                   [](auto& x, auto& y) { return x.first < y.first; });
  Cell two = int_cell(2);
  uint64_t allocations = memory::state().allocations;
  sort(b, {.skip = &two, .stable = true});
  EXPECT_EQ(memory::state().allocations, allocations);
  for (int32_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(cell::get_int(block::cell_at_index(b, 2 * i)), records[size_t(i)].first);
    ASSERT_EQ(cell::get_int(block::cell_at_index(b, 2 * i + 1)), records[size_t(i)].second);
  }
  // The same with /reverse: equal keys still keep their order.
  sort(b, {.skip = &two, .reverse = true, .stable = true});
  std::stable_sort(records.begin(), records.end(),
                   [](auto& x, auto& y) { return x.first > y.first; });
  for (int32_t i = 0; i < 1000; ++i)
    ASSERT_EQ(cell::get_int(block::cell_at_index(b, 2 * i + 1)), records[size_t(i)].second);
}

// The comparator of a function's result, as strings map it: true 1, false -1, integer n
// -n, float above 0 -1 and below 0 1, none -1, anything else 1.
TEST_F(BlockActionsTest, FunctionResultOrder) {
  Cell t{T_LOGIC, 1, 0, 0}, f{T_LOGIC, 0, 0, 0}, none{T_NONE, 0, 0, 0};
  Cell five = int_cell(5), minus = int_cell(-3), zero = int_cell(0);
  Cell up{T_FLOAT, 0, 0, 0}, down{T_FLOAT, 0, 0, 0}, nan{T_FLOAT, 0, 0, 0};
  cell::put_double(&up, 0.5);
  cell::put_double(&down, -2.0);
  cell::put_double(&nan, std::nan(""));
  EXPECT_EQ(block::order_from_result(&t), 1);
  EXPECT_EQ(block::order_from_result(&f), -1);
  EXPECT_EQ(block::order_from_result(&five), -5);
  EXPECT_EQ(block::order_from_result(&minus), 3);
  EXPECT_EQ(block::order_from_result(&zero), 0);
  EXPECT_EQ(block::order_from_result(&up), -1);
  EXPECT_EQ(block::order_from_result(&down), 1);
  EXPECT_EQ(block::order_from_result(&nan), 0);
  EXPECT_EQ(block::order_from_result(&none), -1);
  Cell* s = push_string("x");
  EXPECT_EQ(block::order_from_result(s), 1);
}

// unique [1 2 1 3 2]               => [1 2 3]
// union [1 2] [2 3]                => [1 2 3]
// intersect [1 2 3] [2 3 4]        => [2 3]
// exclude [1 2 3] [2]              => [1 3]
// difference [1 2] [2 3]           => [1 3]
// unique ["a" "A"]                 => ["a"]
// unique/case ["a" "A"]            => ["a" "A"]
// unique/skip [a 1 a 2 b 3] 2      => [a 1 b 3]
// unique [a A b]                   => [a b]; with /case => [a A b]
// unique [[1] [1] [2]]             => [[1] [2]]
// intersect [[1] 2] [[1]]          => [[1]]
// unique next [1 1 2]              => [1 2]
// unique []                        => []
TEST_F(BlockActionsTest, SetOperations) {
  using namespace block::set_op;
  EXPECT_EQ(mold(set_op(UNIQUE, load("[1 2 1 3 2]"), nullptr)), "[1 2 3]");
  EXPECT_EQ(mold(set_op(UNION, load("[1 2]"), load("[2 3]"))), "[1 2 3]");
  EXPECT_EQ(mold(set_op(INTERSECT, load("[1 2 3]"), load("[2 3 4]"))), "[2 3]");
  EXPECT_EQ(mold(set_op(EXCLUDE, load("[1 2 3]"), load("[2]"))), "[1 3]");
  EXPECT_EQ(mold(set_op(DIFFERENCE, load("[1 2]"), load("[2 3]"))), "[1 3]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[\"a\" \"A\"]"), nullptr)), "[\"a\"]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[\"a\" \"A\"]"), nullptr, true)), "[\"a\" \"A\"]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[a A b]"), nullptr)), "[a b]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[a A b]"), nullptr, true)), "[a A b]");
  Cell two = int_cell(2);
  EXPECT_EQ(mold(set_op(UNIQUE, load("[a 1 a 2 b 3]"), nullptr, false, &two)), "[a 1 b 3]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[[1] [1] [2]]"), nullptr)), "[[1] [2]]");
  EXPECT_EQ(mold(set_op(INTERSECT, load("[[1] 2]"), load("[[1]]"))), "[[1]]");
  EXPECT_EQ(mold(set_op(UNIQUE, at(load("[1 1 2]"), 1), nullptr)), "[1 2]");
  Cell* empty = set_op(UNIQUE, load("[]"), nullptr);
  EXPECT_EQ(mold(empty), "[]");
  EXPECT_EQ(cell::type(empty), T_BLOCK);
}

// Keys are record starts only: a value equal to a key elsewhere in a record is no key.
// unique/skip [a b b a] 2          => [a b b a]
// intersect/skip [a 1 b 2] [1 a] 2 => []
// A short last record is judged by its key and copied only up to the tail:
// unique/skip [a 1 b] 2            => [a 1 b]
// union/skip [a 1 b] [b 2 c 3] 2   => [a 1 b c 3]
// union/skip [a 1 b] [c 3 c 4] 2   => [a 1 b c 3]
// difference/skip [a 1 b] [a 2] 2  => [b]
// unique/skip [1 2] 0              => !! script/invalid-refine-arg
TEST_F(BlockActionsTest, SetOperationsWithRecords) {
  using namespace block::set_op;
  Cell two = int_cell(2), zero = int_cell(0);
  EXPECT_EQ(mold(set_op(UNIQUE, load("[a b b a]"), nullptr, false, &two)), "[a b b a]");
  EXPECT_EQ(mold(set_op(INTERSECT, load("[a 1 b 2]"), load("[1 a]"), false, &two)), "[]");
  EXPECT_EQ(mold(set_op(UNIQUE, load("[a 1 b]"), nullptr, false, &two)), "[a 1 b]");
  EXPECT_EQ(mold(set_op(UNION, load("[a 1 b]"), load("[b 2 c 3]"), false, &two)),
            "[a 1 b c 3]");
  EXPECT_EQ(mold(set_op(UNION, load("[a 1 b]"), load("[c 3 c 4]"), false, &two)),
            "[a 1 b c 3]");
  EXPECT_EQ(mold(set_op(DIFFERENCE, load("[a 1 b]"), load("[a 2]"), false, &two)), "[b]");
  EXPECT_ERROR(set_op(UNIQUE, load("[1 2]"), nullptr, false, &zero),
               err::script::invalid_refine_arg);
}

// A hash! argument makes a hash! result whose index finds its values; otherwise the
// result takes the first argument's block type.
// union make hash! [1 2] [3]       => hash! [1 2 3]
// intersect (1 2) [2]              => (2)
// exclude [1 2 3] make hash! [2]   => hash! [1 3]
TEST_F(BlockActionsTest, SetOperationResultTypes) {
  using namespace block::set_op;
  Cell* h = set_op(UNION, load_hash("[1 2]"), load("[3]"));
  EXPECT_EQ(cell::type(h), T_HASH);
  EXPECT_EQ(int32_t(h->w1), 0);
  Cell three = int_cell(3);
  EXPECT_EQ(int32_t(find(h, &three)->w1), 2);
  Cell* p = load("[1 2]");
  cell::set_type(p, T_PAREN);
  EXPECT_EQ(mold(set_op(INTERSECT, p, load("[2]"))), "(2)");
  Cell* e = set_op(EXCLUDE, load("[1 2 3]"), load_hash("[2]"));
  EXPECT_EQ(cell::type(e), T_HASH);
  Cell two = int_cell(2);
  EXPECT_EQ(cell::type(find(e, &two)), T_NONE);
}

// Set operations stay linear and right on many values (and under the stress mode).
TEST_F(BlockActionsTest, SetOperationsOnManyValues) {
  using namespace block::set_op;
  Cell* a = block::push_empty(3000);
  Cell* b = block::push_empty(3000);
  for (int32_t i = 0; i < 3000; ++i) {
    Cell x = int_cell(i % 1000), y = int_cell(500 + i % 1000);
    block::append_copy(a, &x);
    block::append_copy(b, &y);
  }
  EXPECT_EQ(block::count_from_head(set_op(UNIQUE, a, nullptr)), 1000);
  EXPECT_EQ(block::count_from_head(set_op(UNION, a, b)), 1500);
  EXPECT_EQ(block::count_from_head(set_op(INTERSECT, a, b)), 500);
  EXPECT_EQ(block::count_from_head(set_op(DIFFERENCE, a, b)), 1000);
}

}  // namespace
}  // namespace kel::test
