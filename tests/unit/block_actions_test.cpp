// Tests of the block actions through the action table (paren!, path! and hash! rows
// inherit them): append/insert, change, find, select, put, path steps, make/to, take,
// swap, trim and copy. Each test lists its cases as Kel text in the comment above it.
#include "block_actions_fixture.h"

namespace kel::test {
namespace {

// append [1] [2 3]                 => [1 2 3]
// append/only [1] [2 3]            => [1 [2 3]]
// append/part [] [1 2 3] 2         => [1 2]
// append/dup [] 0 3                => [0 0 0]
// append [1] []                    => [1]
// index? append next [1 2] 3       => 1
// b: [1 2] append b b              => [1 2 1 2]
// b: [3 4] insert b [1 2]          => [3 4], then b => [1 2 3 4]
// insert/dup [1] [a b] 2           => [1], the block [a b a b 1]
TEST_F(BlockActionsTest, AppendAndInsert) {
  Cell* one = load("[1]");
  Cell* two_three = load("[2 3]");
  EXPECT_EQ(mold(append(one, two_three)), "[1 2 3]");
  Cell* one_b = load("[1]");
  EXPECT_EQ(mold(append(one_b, two_three, -1, true)), "[1 [2 3]]");
  Cell* empty = load("[]");
  Cell* three = load("[1 2 3]");
  EXPECT_EQ(mold(append(empty, three, 2)), "[1 2]");
  Cell zero = int_cell(0);
  Cell* empty2 = load("[]");
  EXPECT_EQ(mold(append(empty2, &zero, -1, false, 3)), "[0 0 0]");
  Cell* one_c = load("[1]");
  EXPECT_EQ(mold(append(one_c, load("[]"))), "[1]");

  Cell* b = load("[1 2]");
  Cell three_v = int_cell(3);
  Cell* r = append(at(b, 1), &three_v);
  EXPECT_EQ(int32_t(r->w1), 0);
  EXPECT_EQ(mold(b), "[1 2 3]");

  Cell* self = load("[1 2]");
  EXPECT_EQ(mold(append(self, self)), "[1 2 1 2]");

  Cell* c = load("[3 4]");
  Cell* ins = insert(c, load("[1 2]"));
  EXPECT_EQ(mold(ins), "[3 4]");
  EXPECT_EQ(mold(c), "[1 2 3 4]");

  Cell* d = load("[1]");
  EXPECT_EQ(mold(insert(d, load("[a b]"), -1, false, 2)), "[1]");
  EXPECT_EQ(mold(d), "[a b a b 1]");
}

// Self-append and self-insert read the range before the buffer grows or cells move.
// b: [1 2 3] insert next b b       => b is [1 1 2 3 2 3]
// b: [1 2 3] insert b next b       => b is [2 3 1 2 3]
TEST_F(BlockActionsTest, RangeFromTheSameBufferIsReadBeforeItMoves) {
  for (int round = 0; round < 2; ++round) {
    // A buffer filled to its capacity, so the insertion must grow it.
    Cell* b = block::push_empty(3);
    for (int32_t i = 1; i <= 3; ++i) {
      Cell v = int_cell(i);
      block::append_copy(b, &v);
    }
    if (round == 0) {
      insert(at(b, 1), b);
      EXPECT_EQ(mold(b), "[1 1 2 3 2 3]");
    } else {
      insert(b, at(b, 1));
      EXPECT_EQ(mold(b), "[2 3 1 2 3]");
    }
  }
}

// Growth: a full buffer grows to twice the need with /dup below 5, to the need otherwise.
// append/dup [] 0 2147483647       => !! internal/no-memory
// append/dup [] [1 2] 1073741824   => !! internal/no-memory
TEST_F(BlockActionsTest, AppendGrowthAndOverflow) {
  NoStress exact;
  Cell zero = int_cell(0);
  Cell* a = block::push_empty(1);
  append(a, &zero, -1, false, 4);
  EXPECT_EQ(memory::node_buffer(a->w2)->capacity, int32_t(8 * sizeof(Cell)));
  Cell* b = block::push_empty(1);
  append(b, &zero, -1, false, 5);
  EXPECT_EQ(memory::node_buffer(b->w2)->capacity, int32_t(5 * sizeof(Cell)));

  Cell* e = load("[]");
  uint32_t before = notices();
  EXPECT_ERROR(append(e, &zero, -1, false, 2147483647), err::internal::no_memory);
  EXPECT_ERROR(append(e, load("[1 2]"), -1, false, 1073741824), err::internal::no_memory);
  EXPECT_EQ(notices(), before);
  EXPECT_EQ(mold(e), "[]");
}

// b: [1 2 3] change b [a b c d]    => [], then b => [a b c d]
// b: [1 2 3] change/part b 'x 2    => [3], then b => [x 3]
// b: [1 2 3] change next b [x]     => [3], then b => [1 x 3]
// b: [1 2 3] change/dup b 0 2      => [3], then b => [0 0 3]
// b: [1 2 3] change/part b [] 2    => [3], then b => [3]
// b: [1 2 3 4] change b next b     => [4], then b => [2 3 4 4]
TEST_F(BlockActionsTest, Change) {
  Cell* b = load("[1 2 3]");
  EXPECT_EQ(mold(change(b, load("[a b c d]"))), "[]");
  EXPECT_EQ(mold(b), "[a b c d]");

  Cell* c = load("[1 2 3]");
  Cell x = word("x");
  EXPECT_EQ(mold(change(c, &x, 2)), "[3]");
  EXPECT_EQ(mold(c), "[x 3]");

  Cell* d = load("[1 2 3]");
  EXPECT_EQ(mold(change(at(d, 1), load("[x]"))), "[3]");
  EXPECT_EQ(mold(d), "[1 x 3]");

  Cell* e = load("[1 2 3]");
  Cell zero = int_cell(0);
  EXPECT_EQ(mold(change(e, &zero, -1, false, 2)), "[3]");
  EXPECT_EQ(mold(e), "[0 0 3]");

  Cell* f = load("[1 2 3]");
  EXPECT_EQ(mold(change(f, load("[]"), 2)), "[3]");
  EXPECT_EQ(mold(f), "[3]");

  Cell* g = load("[1 2 3 4]");
  EXPECT_EQ(mold(change(g, at(g, 1))), "[4]");
  EXPECT_EQ(mold(g), "[2 3 4 4]");
}

// find [1 2 3 2] 2                 => [2 3 2]
// find/last [1 2 3 2] 2            => [2]
// find/tail [1 2 3 2] 2            => [3 2]
// find/reverse tail [1 2 3 2] 2    => [2]
// find/reverse next [1 2 3] 1      => [1 2 3]
// find [1 2 3] 4                   => none
// find tail [1 2] 1                => none
// find/match [1 2] 2               => none
// find/match [1 2] 1               => [1 2]
// find/match/tail [1 2] 1          => [2]
// find [a b c] [b c]               => [b c]
// find/tail [a b c] [b c]          => []
// find [a b c] [c d]               => none
// find/only [a [b c]] [b c]        => [[b c]]
// find [1 "a" 2] string!           => ["a" 2]
// find/only [1 string! 2] string!  => [string! 2]
// find/skip [a 1 b 2] 'b 2         => [b 2]
// find/skip [a b c] 'b 2           => none
// find/part [1 2 3] 3 2            => none
// find/part [1 2 3] 2 2            => [2 3]
// find/case [a A] 'A               => [A]
// find [a A] 'A                    => [a A]
// find/skip [1 2] 1 "x"            => !! script/invalid-refine-arg
// find/skip [1 2] 1 0              => !! script/out-of-range
// find/part [1 2] 1 "x"            => !! script/invalid-refine-arg
TEST_F(BlockActionsTest, Find) {
  Cell* b = load("[1 2 3 2]");
  Cell two = int_cell(2);
  EXPECT_EQ(mold(find(b, &two)), "[2 3 2]");
  EXPECT_EQ(mold(find(b, &two, {.last = true})), "[2]");
  EXPECT_EQ(mold(find(b, &two, {.tail = true})), "[3 2]");
  EXPECT_EQ(mold(find(at(b, 4), &two, {.reverse = true})), "[2]");
  Cell one = int_cell(1), four = int_cell(4);
  EXPECT_EQ(mold(find(at(load("[1 2 3]"), 1), &one, {.reverse = true})), "[1 2 3]");
  EXPECT_EQ(cell::type(find(b, &four)), T_NONE);
  EXPECT_EQ(cell::type(find(at(load("[1 2]"), 2), &one)), T_NONE);

  Cell* m = load("[1 2]");
  EXPECT_EQ(cell::type(find(m, &two, {.match = true})), T_NONE);
  EXPECT_EQ(mold(find(m, &one, {.match = true})), "[1 2]");
  EXPECT_EQ(mold(find(m, &one, {.tail = true, .match = true})), "[2]");

  Cell* abc = load("[a b c]");
  EXPECT_EQ(mold(find(abc, load("[b c]"))), "[b c]");
  EXPECT_EQ(mold(find(abc, load("[b c]"), {.tail = true})), "[]");
  EXPECT_EQ(cell::type(find(abc, load("[c d]"))), T_NONE);
  EXPECT_EQ(mold(find(load("[a [b c]]"), load("[b c]"), {.only = true})), "[[b c]]");

  Cell string_type = type_cell(T_STRING);
  EXPECT_EQ(mold(find(load("[1 \"a\" 2]"), &string_type)), "[\"a\" 2]");
  Cell* with_type = load("[1 x 2]");
  block::cell_at_index(with_type, 1)[0] = string_type;
  EXPECT_EQ(mold(find(with_type, &string_type, {.only = true})), "[string! 2]");

  Cell bw = word("b"), sz = int_cell(2);
  EXPECT_EQ(mold(find(load("[a 1 b 2]"), &bw, {.skip = &sz})), "[b 2]");
  EXPECT_EQ(cell::type(find(load("[a b c]"), &bw, {.skip = &sz})), T_NONE);

  Cell three = int_cell(3);
  EXPECT_EQ(cell::type(find(load("[1 2 3]"), &three, {.part = &sz})), T_NONE);
  EXPECT_EQ(mold(find(load("[1 2 3]"), &two, {.part = &sz})), "[2 3]");

  Cell big_a = word("A");
  EXPECT_EQ(mold(find(load("[a A]"), &big_a, {.case_ = true})), "[A]");
  EXPECT_EQ(mold(find(load("[a A]"), &big_a)), "[a A]");

  Cell* text = push_string("x");
  Cell zero = int_cell(0);
  EXPECT_ERROR(find(m, &one, {.skip = text}), err::script::invalid_refine_arg);
  EXPECT_ERROR(find(m, &one, {.skip = &zero}), err::script::out_of_range);
  EXPECT_ERROR(find(m, &one, {.part = text}), err::script::invalid_refine_arg);
}

// A hash! answers single values from its index; blocks and /match search linearly.
// find make hash! [a 1 b 2] 'b     => [b 2]
// find/last make hash! [1 2 1] 1   => [1]
// find make hash! [a b c] [b c]    => [b c]
// find/part make hash! [1 2 3] 3 2 => none
TEST_F(BlockActionsTest, FindOnHash) {
  Cell* h = load_hash("[a 1 b 2]");
  Cell bw = word("b");
  Cell* r = find(h, &bw);
  EXPECT_EQ(cell::type(r), T_HASH);
  EXPECT_EQ(int32_t(r->w1), 2);
  Cell one = int_cell(1);
  Cell* l = find(load_hash("[1 2 1]"), &one, {.last = true});
  EXPECT_EQ(int32_t(l->w1), 2);
  Cell* s = find(load_hash("[a b c]"), load("[b c]"));
  EXPECT_EQ(int32_t(s->w1), 1);
  Cell three = int_cell(3), two = int_cell(2);
  EXPECT_EQ(cell::type(find(load_hash("[1 2 3]"), &three, {.part = &two})), T_NONE);
}

// select [a 1 b 2] 'b              => 2
// select [a 1 b] 'b                => none
// select [a b c d] [a b]           => c
// select/only [[a b] c] [a b]      => c
// select/skip [a b b c] 'b 2       => c
TEST_F(BlockActionsTest, Select) {
  Cell bw = word("b");
  EXPECT_EQ(mold(select(load("[a 1 b 2]"), &bw)), "2");
  EXPECT_EQ(cell::type(select(load("[a 1 b]"), &bw)), T_NONE);
  EXPECT_EQ(mold(select(load("[a b c d]"), load("[a b]"))), "c");
  EXPECT_EQ(mold(select(load("[[a b] c]"), load("[a b]"), {.only = true})), "c");
  Cell two = int_cell(2);
  EXPECT_EQ(mold(select(load("[a b b c]"), &bw, {.skip = &two})), "c");
}

// b: [a 1] put b 'b 2 put b 'a 5 b => [a 5 b 2]
// put [a 1] 'a 1                    => 1, block unchanged
// An owned block is told put, put, put-ed by a put of a new key.
TEST_F(BlockActionsTest, Put) {
  Cell* b = load("[a 1]");
  Cell bw = word("b"), aw = word("a"), two = int_cell(2), five = int_cell(5);
  uint32_t before = notices();
  EXPECT_EQ(mold(put(b, &bw, &two)), "2");
  EXPECT_EQ(notices() - before, 3u);
  EXPECT_EQ(last_notice(), "put-ed");
  // A key found: put, then put-ed.
  before = notices();
  put(b, &aw, &five);
  EXPECT_EQ(notices() - before, 2u);
  EXPECT_EQ(mold(b), "[a 5 b 2]");

  // On a hash! the index follows: the new key and value are found through it.
  Cell* h = load_hash("[a 1]");
  put(h, &bw, &two);
  put(h, &aw, &five);
  EXPECT_EQ(mold(select(h, &bw)), "2");
  EXPECT_EQ(mold(select(h, &aw)), "5");
  Cell one = int_cell(1);
  EXPECT_EQ(cell::type(find(h, &one)), T_NONE);
  EXPECT_EQ(int32_t(find(h, &five)->w1), 1);
}

// b: [a 1 b 2] b/b                 => 2
// b/b: 3 b                         => [a 1 b 3]
// b/c: 1                           => !! script/bad-path-set
// b/2                              => 1
// b/2: 9 b                         => [a 9 b 3]
// b/9: 1                           => !! script/out-of-range
// [a 1 B 2]/b with the case flag   => none; without it => 2
// [a 1 [x] 2]/[x]                  => 2
TEST_F(BlockActionsTest, PathSteps) {
  Cell* b = load("[a 1 b 2]");
  auto step = [&](Cell* parent, const Cell* element, const Cell* value, bool case_ = false) {
    Cell* p = arg(parent);
    Cell* e = arg(element);
    Cell* v = value ? arg(value) : nullptr;
    Cell path = word("path");
    return fn<7>(p)(p, e, v, &path, nullptr, nullptr, -1, false, case_, true, false);
  };
  Cell bw = word("b"), cw = word("c"), three = int_cell(3), one = int_cell(1);
  EXPECT_EQ(mold(step(b, &bw, nullptr)), "2");
  step(b, &bw, &three);
  EXPECT_EQ(mold(b), "[a 1 b 3]");
  EXPECT_ERROR(step(b, &cw, &one), err::script::bad_path_set);
  Cell two = int_cell(2), nine = int_cell(9);
  EXPECT_EQ(mold(step(b, &two, nullptr)), "1");
  step(b, &two, &nine);
  EXPECT_EQ(mold(b), "[a 9 b 3]");
  EXPECT_ERROR(step(b, &nine, &one), err::script::out_of_range);
  Cell* upper = load("[a 1 B 2]");
  EXPECT_EQ(cell::type(step(upper, &bw, nullptr, true)), T_NONE);
  EXPECT_EQ(mold(step(upper, &bw, nullptr)), "2");
  EXPECT_EQ(mold(step(load("[a 1 [x] 2]"), load("[x]"), nullptr)), "2");
  // The last key with nothing after it: the poke's range error.
  Cell* last = load("[a 1 b]");
  EXPECT_ERROR(step(last, &bw, &one), err::script::out_of_range);
}

// make block! 10                   => [] with room for 10 cells
// make block! [1 [2]]              => [1 [2]], the inner block shared
// make paren! [1]                  => (1)
// make block! "a"                  => !! script/bad-make-arg
// to block! 1                      => [1]
// to block! [1 2]                  => [1 2], a copy
// to paren! [1 2]                  => (1 2)
// to block! "a [b 1] 2"           => [a [b 1] 2]
// to paren! "a [b 1] 2"           => (a [b 1] 2)
// to block! "[1"                   => !! syntax/missing
TEST_F(BlockActionsTest, MakeAndTo) {
  Cell ten = int_cell(10);
  Cell* m = make(T_BLOCK, &ten);
  EXPECT_EQ(mold(m), "[]");
  EXPECT_GE(memory::node_buffer(m->w2)->capacity, int32_t(10 * sizeof(Cell)));
  Cell* src = load("[1 [2]]");
  Cell* c = make(T_BLOCK, src);
  EXPECT_EQ(mold(c), "[1 [2]]");
  EXPECT_NE(c->w2, src->w2);
  EXPECT_EQ(block::cell_at_index(c, 1)->w2, block::cell_at_index(src, 1)->w2);
  EXPECT_EQ(mold(make(T_PAREN, load("[1]"))), "(1)");
  Cell* text = push_string("a");
  EXPECT_ERROR(make(T_BLOCK, text), err::script::bad_make_arg);

  Cell one = int_cell(1);
  EXPECT_EQ(mold(to(T_BLOCK, &one)), "[1]");
  Cell* t = to(T_BLOCK, src);
  EXPECT_EQ(mold(t), "[1 [2]]");
  EXPECT_NE(t->w2, src->w2);
  EXPECT_EQ(mold(to(T_PAREN, load("[1 2]"))), "(1 2)");
  Cell* code = push_string("a [b 1] 2");
  EXPECT_EQ(mold(to(T_BLOCK, code)), "[a [b 1] 2]");
  EXPECT_EQ(mold(to(T_PAREN, code)), "(a [b 1] 2)");
  Cell* bad = push_string("[1");
  EXPECT_ERROR(to(T_BLOCK, bad), err::syntax::missing);
}

// take [1 2 3]                     => 1, block [2 3]
// take/last [1 2 3]                => 3
// take/part [1 2 3] 2              => [1 2]
// take []                          => none
// take/deep [[1] 2]                => [1], a copy of the inner block
TEST_F(BlockActionsTest, Take) {
  auto take = [&](const Cell* s, Cell* part = nullptr, bool deep = false, bool last = false) {
    Cell* c = arg(s);
    return fn<50>(c)(c, part, deep, last);
  };
  Cell* b = load("[1 2 3]");
  EXPECT_EQ(mold(take(b)), "1");
  EXPECT_EQ(mold(b), "[2 3]");
  Cell* c = load("[1 2 3]");
  EXPECT_EQ(mold(take(c, nullptr, false, true)), "3");
  Cell two = int_cell(2);
  EXPECT_EQ(mold(take(load("[1 2 3]"), &two)), "[1 2]");
  EXPECT_EQ(cell::type(take(load("[]"))), T_NONE);
  Cell* d = load("[[1] 2]");
  Node inner = block::head_cell(d)->w2;
  Cell* taken = take(d, nullptr, true);
  EXPECT_EQ(mold(taken), "[1]");
  EXPECT_NE(taken->w2, inner);
  Cell* e = load("[[1] 2]");
  Cell one = int_cell(1);
  Cell* part = take(e, &one, true);
  EXPECT_EQ(mold(part), "[[1]]");
}

// a: [1 2] b: [3 4] swap a b reduce [a b] => [[3 2] [1 4]]
// swap [1] "ab"                    => !! script/invalid-arg
// swap [] [1]                      => [], nothing changes
TEST_F(BlockActionsTest, Swap) {
  auto swap = [&](const Cell* a, const Cell* b) {
    Cell* x = arg(a);
    Cell* y = arg(b);
    return fn<47>(x)(x, y);
  };
  Cell* a = load("[1 2]");
  Cell* b = load("[3 4]");
  EXPECT_EQ(mold(swap(a, b)), "[3 2]");
  EXPECT_EQ(mold(a), "[3 2]");
  EXPECT_EQ(mold(b), "[1 4]");
  Cell* text = push_string("ab");
  EXPECT_ERROR(swap(a, text), err::script::invalid_arg);
  Cell* e = load("[]");
  Cell* f = load("[1]");
  swap(e, f);
  EXPECT_EQ(mold(f), "[1]");
  // A hash! side is re-indexed.
  Cell* h = load_hash("[x 1]");
  swap(h, load("[y]"));
  Cell y = word("y"), x = word("x");
  EXPECT_EQ(int32_t(find(h, &y)->w1), 0);
  EXPECT_EQ(cell::type(find(h, &x)), T_NONE);
}

// trim reduce [1 none 2]           => [1 2]
// trim next [none 1 none]          => [none 1]
TEST_F(BlockActionsTest, Trim) {
  auto trim = [&](const Cell* s) {
    Cell* c = arg(s);
    return fn<51>(c)(c, false, false, false, false, false, nullptr);
  };
  EXPECT_EQ(mold(trim(load("[1 none 2]"))), "[1 2]");
  Cell* b = load("[none 1 none]");
  trim(at(b, 1));
  EXPECT_EQ(mold(b), "[none 1]");
}

// copy [1 [2]]                     => [1 [2]], inner shared
// copy/deep [1 [2] "s"]            => inner block and string copied
// b: [1] append/only b b copy/deep b => !! internal/no-cycle
// copy/types [1 [2] "s"] block!    => inner block copied, string shared
// copy of a hash!                  => a hash! (its own slot)
TEST_F(BlockActionsTest, Copy) {
  Cell* src = load("[1 [2] \"s\"]");
  Cell* shallow = copy(src);
  EXPECT_EQ(mold(shallow), "[1 [2] \"s\"]");
  EXPECT_EQ(block::cell_at_index(shallow, 1)->w2, block::cell_at_index(src, 1)->w2);
  Cell* deep = copy(src, nullptr, true);
  EXPECT_EQ(mold(deep), "[1 [2] \"s\"]");
  EXPECT_NE(block::cell_at_index(deep, 1)->w2, block::cell_at_index(src, 1)->w2);
  EXPECT_NE(block::cell_at_index(deep, 2)->w2, block::cell_at_index(src, 2)->w2);

  Cell block_type = type_cell(T_BLOCK);
  Cell* typed = copy(src, nullptr, false, &block_type);
  EXPECT_NE(block::cell_at_index(typed, 1)->w2, block::cell_at_index(src, 1)->w2);
  EXPECT_EQ(block::cell_at_index(typed, 2)->w2, block::cell_at_index(src, 2)->w2);

  Cell* self = load("[1]");
  append(self, self, -1, true);
  EXPECT_ERROR(copy(self, nullptr, true), err::internal::no_cycle);
  EXPECT_EQ(cycle::depth(), 0u);

  EXPECT_EQ(cell::type(copy(load_hash("[1 2]"))), T_HASH);
}

}  // namespace
}  // namespace kel::test

namespace kel::test {
namespace {

// A hash! keeps its index in step with every block action that moves cells.
// h: make hash! [1 2 3]  insert next h [a b]  find h 3   => [3]
// h: make hash! [1 2 3]  change next h [x]    find h 3   => [3], find h 2 => none
// h: make hash! [3 1 2]  sort h               find h 3   => [3]
// h: make hash! [1 none 2]  trim h            find h 2   => [2]
// h: make hash! [1]  append h [2 3]           find h 3   => [3]
TEST_F(BlockActionsTest, HashIndexFollowsTheActions) {
  Cell three = int_cell(3), two = int_cell(2), x = word("x");
  Cell* h = load_hash("[1 2 3]");
  insert(at(h, 1), load("[a b]"));
  EXPECT_EQ(int32_t(find(h, &three)->w1), 4);
  Cell aw = word("a");
  EXPECT_EQ(int32_t(find(h, &aw)->w1), 1);
  Cell* c = load_hash("[1 2 3]");
  change(at(c, 1), load("[x]"));
  EXPECT_EQ(int32_t(find(c, &three)->w1), 2);
  EXPECT_EQ(cell::type(find(c, &two)), T_NONE);
  EXPECT_EQ(int32_t(find(c, &x)->w1), 1);
  Cell* s = load_hash("[3 1 2]");
  sort(s);
  EXPECT_EQ(int32_t(find(s, &three)->w1), 2);
  Cell* t = load_hash("[1 none 2]");
  Cell* tr = arg(t);
  fn<51>(tr)(tr, false, false, false, false, false, nullptr);
  EXPECT_EQ(int32_t(find(t, &two)->w1), 1);
  Cell* a = load_hash("[1]");
  append(a, load("[2 3]"));
  EXPECT_EQ(int32_t(find(a, &three)->w1), 2);
}

// Walks deeper than the cycle stack raise internal/too-deep and leave the stack empty.
// a: [] b: [] loop 1100 [a: reduce [a] b: reduce [b]]  a = b   => !! internal/too-deep
// copy/deep a                                                 => !! internal/too-deep
TEST_F(BlockActionsTest, DeepNestingEndsCleanly) {
  Cell* a = load("[]");
  Cell* b = load("[]");
  for (int i = 0; i < 1100; ++i) {
    Cell* na = block::push_empty(1);
    block::append_copy(na, a);
    a = na;
    Cell* nb = block::push_empty(1);
    block::append_copy(nb, b);
    b = nb;
  }
  EXPECT_ERROR(compare(a, b, 0), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
  EXPECT_ERROR(copy(a, nullptr, true), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
}

}  // namespace
}  // namespace kel::test

namespace kel::test {
namespace {

// Start positions of the backward searches and the inclusive /part limit.
// find/last [a b c b c] [b c]             => [b c] at index 4
// find/reverse tail [a b c b c] [b c]     => [b c] at index 4
// find/reverse at [a b c b c] 4 [b c]     => [b c b c] at index 2
// find/last [b c a] [c a b]               => none (the run would pass the tail)
// find/part [1 2 3] 3 at [1 2 3] 3        => [3] (the limit cell is included)
// find/part [1 2 3] 3 next [1 2 3]        => none
// find/part [1 2 3] 2 "x"                 => !! script/invalid-refine-arg (another buffer)
// find/same [[1] [1]] second b            => the second block only
// find/tail/skip [a 1 b 2] 'a 2           => [b 2]
// find/last/tail [1 2 1 3] 1              => [3]
TEST_F(BlockActionsTest, FindPositions) {
  Cell* b = load("[a b c b c]");
  Cell* seq = load("[b c]");
  EXPECT_EQ(int32_t(find(b, seq, {.last = true})->w1), 3);
  EXPECT_EQ(int32_t(find(at(b, 5), seq, {.reverse = true})->w1), 3);
  EXPECT_EQ(int32_t(find(at(b, 3), seq, {.reverse = true})->w1), 1);
  EXPECT_EQ(cell::type(find(load("[b c a]"), load("[c a b]"), {.last = true})), T_NONE);

  Cell* n = load("[1 2 3]");
  Cell three = int_cell(3);
  EXPECT_EQ(int32_t(find(n, &three, {.part = at(n, 2)})->w1), 2);
  EXPECT_EQ(cell::type(find(n, &three, {.part = at(n, 1)})), T_NONE);
  Cell* other = load("[1 2 3]");
  EXPECT_ERROR(find(n, &three, {.part = at(other, 2)}), err::script::invalid_refine_arg);

  Cell* blocks = load("[[1] [1]]");
  Cell second = *block::cell_at_index(blocks, 1);
  Cell* second_on_stack = arg(&second);
  EXPECT_EQ(int32_t(find(blocks, second_on_stack, {.only = true, .same = true})->w1), 1);
  EXPECT_EQ(int32_t(find(blocks, second_on_stack, {.only = true})->w1), 0);

  Cell aw = word("a"), two = int_cell(2), one = int_cell(1);
  EXPECT_EQ(mold(find(load("[a 1 b 2]"), &aw, {.skip = &two, .tail = true})), "[b 2]");
  EXPECT_EQ(mold(find(load("[1 2 1 3]"), &one, {.last = true, .tail = true})), "[3]");
}

}  // namespace
}  // namespace kel::test

namespace kel::test {
namespace {

// A datatype without a make branch is refused (the vector! and typeset! branches are case
// rows).
// make block! #"a"                 => !! script/bad-make-arg
TEST_F(BlockActionsTest, MakeBlockRefusesOtherTypes) {
  Cell ch{T_CHAR, 0, 'a', 0};
  EXPECT_ERROR(make(T_BLOCK, &ch), err::script::bad_make_arg);
}

}  // namespace
}  // namespace kel::test
