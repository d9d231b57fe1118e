// Tests of the block API: counting and clamping, insertion with its growth rule, key
// lookup, matching, deep clones, typed copies, block construction and the frame forms.
#include "block_fixture.h"

#include "runtime/hash.h"

namespace kel::test {
namespace {

class BlockApiTest : public BlockTest {
 protected:
  Cell* at_index(const Cell* s, int32_t head) {
    Cell* c = push(*s);
    c->w1 = uint32_t(head);
    return c;
  }
};

TEST_F(BlockApiTest, CountingSteppingAndClamping) {
  Cell* b = load("[1 2 3]");
  EXPECT_EQ(block::count_from_head(b), 3);
  Cell* c = at_index(b, 5);
  EXPECT_EQ(block::count_from_head(c), -2);  // the raw count may be negative
  EXPECT_EQ(block::head_cell(c), block::tail_cell(c));
  EXPECT_EQ(c->w1, 3u);  // written back
  EXPECT_TRUE(block::head_at_tail(c));
  Cell* d = at_index(b, 1);
  EXPECT_FALSE(block::step_head(d));
  EXPECT_TRUE(block::step_head(d));
  EXPECT_TRUE(block::step_head(d));
  EXPECT_EQ(d->w1, 3u);
  EXPECT_EQ(cell::get_int(block::cell_at_index(d, 0)), 1);
  block::truncate_at(b, 2);
  EXPECT_EQ(mold(b), "[1 2]");
  Cell* e = at_index(b, 1);
  block::truncate_at_head(e);
  EXPECT_EQ(mold(b), "[1]");
}

// Inserting into a full block grows it to twice the size needed.
TEST_F(BlockApiTest, InsertCellGrowsToTwiceTheNeed) {
  Cell* b = block::push_empty(4);
  for (int32_t i = 1; i <= 4; ++i) {
    Cell v = integer(i);
    block::append_copy(b, &v);
  }
  ASSERT_EQ(memory::node_buffer(b->w2)->capacity, 64);
  Cell* h = at_index(b, 2);
  Cell nine = integer(9);
  Cell* c = block::insert_cell(h, &nine, true, false);
  EXPECT_EQ(cell::get_int(c), 9);
  EXPECT_EQ(memory::node_buffer(b->w2)->capacity, 160);
  EXPECT_EQ(h->w1, 3u);
  EXPECT_EQ(mold(b), "[1 2 9 3 4]");
  Cell zero = integer(0);
  block::insert_cell(h, &zero, false, true);
  EXPECT_EQ(mold(b), "[0 1 2 9 3 4]");
  EXPECT_EQ(h->w1, 3u);
  // insert-range keeps the order and leaves the head after the range
  Cell* t = load("[a b]");
  Cell* src = load("[x y z]");
  block::insert_range(t, src);
  EXPECT_EQ(t->w1, 3u);
  t->w1 = 0;
  EXPECT_EQ(mold(t), "[x y z a b]");
  block::append_range(t, at_index(src, 1));
  t->w1 = 0;
  EXPECT_EQ(mold(t), "[x y z a b y z]");
}

// A block's own cell inserted into itself while it grows is copied before the move.
TEST_F(BlockApiTest, InsertAndAppendOwnCells) {
  Cell* b = load("[[1] 2]");
  block::insert_cell(b, block::head_cell(b), false, false);
  block::append_copy(b, block::head_cell(b));
  EXPECT_EQ(mold(b), "[[1] [1] 2 [1]]");
}

// block/value-after-word on [a 1 B 2] with b: 2, exact: none; on [a] with a: none.
TEST_F(BlockApiTest, ValueAfterWord) {
  Cell* b = load("[a 1 B 2]");
  Cell* w = load("[b]");
  Cell word = *block::head_cell(w);
  EXPECT_EQ(text(block::value_after_word(b, &word, false)), "2");
  EXPECT_EQ(cell::type(block::value_after_word(b, &word, true)), uint32_t(T_NONE));
  Cell* a = load("[a]");
  Cell aw = *block::head_cell(a);
  EXPECT_EQ(cell::type(block::value_after_word(a, &aw, true)), uint32_t(T_NONE));
  Cell* kv = load("[x: 1 y: 2]");
  Cell* y = load("[y]");
  EXPECT_EQ(text(block::value_after_word(kv, block::head_cell(y), true)), "2");
}

TEST_F(BlockApiTest, MatchingByValue) {
  Cell* b = load("[a b c]");
  Cell* k = load("[b c z]");
  Cell bw = block::head_cell(k)[0], cw = block::head_cell(k)[1], zw = block::head_cell(k)[2];
  EXPECT_EQ(text(block::value_after_match(b, &bw)), "c");
  EXPECT_EQ(cell::type(block::value_after_match(b, &cw)), uint32_t(T_NONE));
  EXPECT_FALSE(block::remove_first_match(b, &zw, false));
  EXPECT_EQ(mold(b), "[a b c]");
  EXPECT_FALSE(block::remove_first_match(b, &bw, false));  // index 1 lies past the head
  EXPECT_EQ(mold(b), "[a c]");
  Cell* t = at_index(b, 1);
  Cell aw = *block::head_cell(b);
  EXPECT_TRUE(block::remove_first_match(t, &aw, true));
  EXPECT_EQ(mold(b), "[c]");
}

// Deep clone of a block holding a block and a paren copies the block and shares the paren;
// paths-too copies both; an inner mark survives; the result has no flags.
TEST_F(BlockApiTest, Clone) {
  Cell* src = load("[1\n[2] (3)]");
  src->header |= hdr::NEW_LINE;
  Cell* shallow = block::clone(src, false, false);
  EXPECT_EQ(shallow->header, uint32_t(T_BLOCK));
  EXPECT_NE(shallow->w2, src->w2);
  EXPECT_EQ(block::head_cell(shallow)[1].w2, block::head_cell(src)[1].w2);

  Cell* deep = block::clone(src, true, false);
  Cell* cells = block::head_cell(deep);
  EXPECT_NE(cells[1].w2, block::head_cell(src)[1].w2);
  EXPECT_TRUE(cells[1].header & hdr::NEW_LINE);
  EXPECT_EQ(cell::type(&cells[1]), uint32_t(T_BLOCK));
  EXPECT_EQ(cells[2].w2, block::head_cell(src)[2].w2);
  EXPECT_EQ(deep->header, uint32_t(T_BLOCK));
  EXPECT_EQ(mold(deep), "[1\n[2] (3)]");

  Cell* all = block::clone(src, true, true);
  EXPECT_NE(block::head_cell(all)[2].w2, block::head_cell(src)[2].w2);
  EXPECT_EQ(cell::type(&block::head_cell(all)[2]), uint32_t(T_PAREN));
  EXPECT_EQ(mold(all), "[1\n[2] (3)]");

  // An empty block clones to room for one cell; a head past the tail clones empty.
  Cell* empty = block::clone(load("[]"), true, true);
  EXPECT_EQ(block::count_from_head(empty), 0);
  EXPECT_GE(memory::node_buffer(empty->w2)->capacity, 16);
  Cell* past = at_index(src, 9);
  Cell* none_left = block::clone(past, false, false);
  EXPECT_EQ(mold(none_left), "[]");
  EXPECT_EQ(past->w1, 3u);
  // The datatype is the source's; only its id is kept.
  Cell* p = push(block::head_cell(src)[2]);
  p->header |= hdr::NEW_LINE;
  EXPECT_EQ(block::clone(p, false, false)->header, uint32_t(T_PAREN));
  // The argument stack holds only the results.
  uint32_t top = stack::index_of(stack::state().top);
  block::clone(src, true, true);
  EXPECT_EQ(stack::index_of(stack::state().top), top + 1);
}

// A block that contains itself cannot be cloned deep: the cycle stack stops it.
TEST_F(BlockApiTest, DeepCloneOfACycleIsTooDeep) {
  Cell* b = load("[1]");
  block::append_copy(b, b);
  EXPECT_ERROR(block::clone(b, true, false), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
}

// copy/types: the selected series are replaced by copies, others left shared.
TEST_F(BlockApiTest, CopyTypedValues) {
  NoStress calm;  // the checks compare nodes, which stress mode renumbers
  Cell* b = load("[[1] \"a\" [2] 3]");
  Cell before[4];
  for (int i = 0; i < 4; ++i) before[i] = block::head_cell(b)[i];
  Cell kind{T_DATATYPE, T_BLOCK, 0, 0};
  block::copy_typed_values(b, 0, 4, 1, false, &kind);
  Cell* after = block::head_cell(b);
  EXPECT_NE(after[0].w2, before[0].w2);
  EXPECT_EQ(after[1].w2, before[1].w2);
  EXPECT_NE(after[2].w2, before[2].w2);
  EXPECT_EQ(mold(b), "[[1] \"a\" [2] 3]");
  // A typeset selects by bits; the step skips cells.
  Cell set{T_TYPESET, 0, 0, 0};
  reinterpret_cast<uint8_t*>(&set.w1)[T_STRING / 8] |= uint8_t(0x80u >> (T_STRING % 8));
  reinterpret_cast<uint8_t*>(&set.w1)[T_BLOCK / 8] |= uint8_t(0x80u >> (T_BLOCK % 8));
  Cell mid[4];
  for (int i = 0; i < 4; ++i) mid[i] = block::head_cell(b)[i];
  block::copy_typed_values(b, 1, 4, 2, false, &set);
  after = block::head_cell(b);
  EXPECT_EQ(after[0].w2, mid[0].w2);
  EXPECT_NE(after[1].w2, mid[1].w2);
  EXPECT_EQ(after[2].w2, mid[2].w2);
}

TEST_F(BlockApiTest, MakingBlocks) {
  Cell* c = stack::reserve_cell();
  *c = Cell{T_NONE | hdr::NEW_LINE, 0, 0, 0};
  block::init_cell(c, -5);
  EXPECT_EQ(c->header, uint32_t(T_BLOCK) | hdr::NEW_LINE);  // flags stay
  EXPECT_GE(memory::node_buffer(c->w2)->capacity, 16);

  Cell* h = stack::reserve_cell();
  *h = Cell{T_NONE | hdr::NEW_LINE, 0, 0, 0};
  block::init_cell_alloc(h, 3, true);
  EXPECT_EQ(h->header, uint32_t(T_BLOCK));  // the whole header is rewritten
  SeriesBuffer* fixed = memory::node_buffer(h->w2);
  EXPECT_TRUE(fixed->flags & sflag::IN_HEAP);
  gc::collect();
  EXPECT_EQ(memory::node_buffer(h->w2), fixed);  // never moves

  Cell* u = stack::reserve_cell();
  block::init_cell_alloc(u, 2, false);
  SeriesBuffer* ub = memory::node_buffer(u->w2);
  EXPECT_EQ(cell::type(reinterpret_cast<Cell*>(memory::data(ub))), uint32_t(T_UNSET));

  Cell* parent = load("[1]");
  Cell* child = block::new_in(parent, 2);
  EXPECT_EQ(cell::type(child), uint32_t(T_BLOCK));
  Cell two = integer(2);
  block::append_copy(child, &two);
  EXPECT_EQ(mold(parent), "[1 [2]]");
  Cell* heap_child = block::new_in_alloc(parent, 2);
  EXPECT_TRUE(memory::node_buffer(heap_child->w2)->flags & sflag::IN_HEAP);
  EXPECT_EQ(mold(parent), "[1 [2] []]");
  Cell* lone = block::new_in(nullptr, 1);
  EXPECT_EQ(lone, block::fixed_cell());
  block::append_copy(lone, &two);
  gc::collect();
  EXPECT_EQ(mold(lone), "[2]");

  Cell* copy = block::push_copy(parent);
  EXPECT_EQ(copy->w2, parent->w2);
  Cell* e = block::push_empty(0);
  EXPECT_EQ(block::count_from_head(e), 0);
}

// Frame forms: insert-result and append-result use the cell below the frame's first
// argument; append-second-arg appends cell 1 to the block in cell 0.
TEST_F(BlockApiTest, FrameForms) {
  Cell* target = load("[a]");
  StackRestore restore;
  stack::State& st = stack::state();
  st.base = st.top;
  Cell one = integer(1);
  push(one);
  block::append_result();
  block::insert_result();
  EXPECT_EQ(target->w1, 1u);
  target->w1 = 0;
  EXPECT_EQ(mold(target), "[1 a 1]");
  st.base = target;
  st.top = target + 1;
  Cell two = integer(2);
  push(two);
  block::append_second_arg();
  target->w1 = 0;
  EXPECT_EQ(mold(target), "[1 a 1 2]");
}

}  // namespace
}  // namespace kel::test

namespace kel::test {
namespace {

// hash! index upkeep: after each change every cell is found through the index at its own
// position (keys are distinct integers).
TEST_F(BlockApiTest, HashIndexFollowsChanges) {
  Cell* h = load("[1 2 3 4 5 6]");
  cell::set_type(h, T_HASH);
  h->w3 = hash::table_create(6, h, hash::KIND_HASH, 0);
  auto check = [&](const char* step) {
    int32_t n = int32_t(memory::units(memory::node_buffer(h->w2)));
    for (int32_t i = 0; i < n; ++i) {
      Cell key = memory::head_cells(memory::node_buffer(h->w2))[i];
      Cell* found = hash::table_search(h->w3, &key, 0, 1, 0, false, false);
      ASSERT_NE(found, nullptr) << step << " key " << cell::get_int(&key);
      EXPECT_EQ(found - memory::head_cells(memory::node_buffer(h->w2)), i) << step;
    }
  };
  check("made");
  Cell* at2 = at_index(h, 2);
  Cell nine = integer(9);
  block::insert_cell(at2, &nine, false, false);  // 1 2 9 3 4 5 6
  check("insert");
  Cell two = integer(2);
  series::remove(at_index(h, 1), &two, nullptr);  // 1 3 4 5 6
  check("remove");
  series::reverse(h, nullptr, nullptr);  // 6 5 4 3 1
  check("reverse");
  Cell seven = integer(7);
  series::poke(h, 2, &seven, nullptr);  // 6 7 4 3 1
  check("poke");
  Cell* taken = series::take_units(at_index(h, 1), &two, false);  // 6 3 1
  EXPECT_EQ(cell::type(taken), uint32_t(T_HASH));
  EXPECT_NE(taken->w3, 0u);
  check("take");
  Cell* other = load("[10 11]");
  series::move(at_index(h, 1), other, nullptr);  // 6 1 / 3 10 11
  check("move");
  series::clear(at_index(h, 1));  // 6
  check("clear");
  Cell* six = load("[6]");
  EXPECT_NE(hash::table_search(h->w3, block::head_cell(six), 0, 1, 0, false, false), nullptr);
}

}  // namespace
}  // namespace kel::test
