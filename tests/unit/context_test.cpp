// Tests of contexts: from-spec, global case variants, assign and value-slot with their errors,
// binding (self rule, self-containing blocks), add-set-words, clone and growth.
#include "words_fixture.h"

#include "runtime/cycle.h"

namespace kel::test {
namespace {

class ContextTest : public WordsTest {
 protected:
  static Cell w(const char* text, uint32_t type = T_WORD) {
    return Cell{type, 0, uint32_t(sym(text)), context::NO_INDEX};
  }
  static std::vector<std::string> names(Node ctx) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < context::word_count(ctx); ++i)
      out.push_back(symbol::text(int32_t(context::word_at(ctx, i)->w2)));
    return out;
  }
  // Keeps a context node across allocations (rewritten when it moves).
  struct HeldCtx {
    Cell cell;
    gc::Root root;
    explicit HeldCtx(Node n) : cell{T_OBJECT, n, 0, 0}, root(&cell) {}
    Node operator()() const { return cell.w1; }
  };
};

// Kel rows (later): `f: func [x] ['x] w: f 5 get w` => !! script/not-in-context;
// `set w 1` => !! script/not-defined; `foo: 1 Foo: 2 foo` => 2.

TEST_F(ContextTest, FromSpecTakesWordsInOrderOnceEach) {
  Cell* spec = block_of({w("a"), w("b"), w("c", T_REFINEMENT), w("d", T_GET_WORD), integer(5), w("e", T_SET_WORD)});
  HeldCtx ctx(context::from_spec(spec, false, false, context::KIND_OBJECT));
  EXPECT_EQ(names(ctx()), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(memory::units(memory::node_buffer(context::values_node(ctx()))), 4u) << "values parallel the words";
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(int32_t(context::word_at(ctx(), i)->w3), i);

  Cell* spec2 = block_of({w("a"), w("A"), w("a", T_LIT_WORD)});
  HeldCtx one(context::from_spec(spec2, false, false, context::KIND_OBJECT));
  EXPECT_EQ(names(one()), (std::vector<std::string>{"a"}));
  EXPECT_EQ(memory::units(memory::node_buffer(context::values_node(one()))), 1u);

  HeldCtx fn(context::from_spec(spec, true, false, context::KIND_FUNCTION));
  EXPECT_TRUE(context::stack_held_q(fn()));
  EXPECT_EQ(context::values_node(fn()), 0u);
  EXPECT_EQ(context::cell_of(fn())->w2, 0u) << "not running";
}

TEST_F(ContextTest, GlobalCaseVariantSharesTheFirstSlot) {
  Cell& foo = keep(global_word("foo"));
  int32_t before = context::word_count(context::global);
  Cell& Foo = keep(context::add_global_word(sym("Foo")));  // exact lookup: an entry of its own
  EXPECT_EQ(context::word_count(context::global), before + 1);
  EXPECT_EQ(Foo.w3, foo.w3) << "the second entry carries foo's index";
  EXPECT_EQ(symbol::text(int32_t(Foo.w2)), "Foo");
  // foo: 1 Foo: 2 foo => 2
  set_value(foo, integer(1));
  set_value(Foo, integer(2));
  EXPECT_EQ(cell::get_int(value_of(foo)), 2);
  // Canonical lookup with keep-case: the spelling asked for, on foo's slot, nothing added.
  int32_t n = context::word_count(context::global);
  int32_t FOO_id = sym("FOO");
  Cell FOO = context::add_word(FOO_id, true, true);
  EXPECT_EQ(context::word_count(context::global), n);
  EXPECT_EQ(symbol::text(int32_t(FOO.w2)), "FOO");
  EXPECT_EQ(FOO.w3, foo.w3);
  // Without keep-case: the entry's own spelling.
  Cell plain = context::add_word(FOO_id, true, false);
  EXPECT_EQ(symbol::text(int32_t(plain.w2)), "foo");
}

TEST_F(ContextTest, AssignResolvesUnboundIndexAndAddsMissingWords) {
  Cell& g = keep(w("fresh-word"));
  g.w1 = context::global;
  int32_t n = context::word_count(context::global);
  Cell v = integer(7);
  context::assign(&g, &v, context::global, true);
  EXPECT_NE(g.w3, context::NO_INDEX);
  EXPECT_EQ(context::word_count(context::global), n + 1);
  EXPECT_EQ(cell::get_int(value_of(g)), 7);
  Cell& again = keep(w("FRESH-WORD"));
  again.w1 = context::global;
  context::assign(&again, &v, context::global, true);
  EXPECT_EQ(again.w3, g.w3) << "a case variant reaches the same slot";
  EXPECT_EQ(cell::get_int(context::value_of_symbol(sym("fresh-word"), context::global)), 7);
}

TEST_F(ContextTest, UnresolvedAndNotRunningWordsRaise) {
  Cell unresolved = w("zz-never-set");
  unresolved.w1 = context::global;
  EXPECT_RAISES(context::value_slot(&unresolved, context::global), err::script::no_value);

  Cell* spec = block_of({w("x")});
  HeldCtx fn(context::from_spec(spec, true, false, context::KIND_FUNCTION));
  Cell& x = keep(*context::word_at(fn(), 0));
  EXPECT_RAISES(context::value_slot(&x, fn()), err::script::not_in_context);
  Cell one = integer(1);
  EXPECT_RAISES(context::assign(&x, &one, fn(), true), err::script::not_defined);
  EXPECT_RAISES(word::push_value_at(fn(), 0), err::script::not_defined);

  // Running: the argument cells on the stack are the values.
  Cell* arg = stack::push_copy(&one);
  context::cell_of(fn())->w2 = stack::index_of(arg) + 1;
  Cell five = integer(5);
  context::assign(&x, &five, fn(), true);
  EXPECT_EQ(cell::get_int(arg), 5);
  EXPECT_EQ(context::value_slot(&x, fn()), arg);
  context::cell_of(fn())->w2 = 0;
}

TEST_F(ContextTest, BindingASelfContainingBlockReturns) {
  Cell* blk = block_of({w("a")});
  Cell inner = *blk;
  *runtime::series_append_cell_node(blk->w2) = inner;  // [a [...]] holding itself
  Cell a = global_word("a");
  EXPECT_EQ(context::bind_block(blk, context::global, false), blk);
  EXPECT_EQ(at(blk, 0)->w1, context::global);
  EXPECT_EQ(at(blk, 0)->w3, a.w3);
  EXPECT_EQ(cycle::depth(), 0u);
}

TEST_F(ContextTest, BindingNestsUpToTheCycleGuardsDepth) {
  // A chain of blocks, each holding a word and the next block.
  auto chain = [&](int depth) {
    Cell* outer = block_of({w("a")});
    Cell* last = outer;
    for (int i = 1; i < depth; ++i) {
      Cell* inner = block_of({w("a")});
      *runtime::series_append_cell_node(last->w2) = *inner;
      last = inner;
    }
    return std::make_pair(outer, last);
  };
  global_word("a");
  auto [outer, last] = chain(999);
  context::bind_block(outer, context::global, false);
  EXPECT_EQ(at(last, 0)->w1, context::global) << "999 levels bind";
  stack::reset();
  auto [deep, deepest] = chain(1000);
  EXPECT_RAISES(context::bind_block(deep, context::global, false), err::internal::too_deep);
  EXPECT_EQ(cycle::depth(), 0u);
  (void)deepest;
  stack::reset();
}

TEST_F(ContextTest, ObjectBindingGivesTheSelfWordIndexMinusOne) {
  // [self self: 'self] bound with the self flag; the object's spec holds `self` as a field.
  Cell* spec = block_of({w("self", T_SET_WORD), w("other", T_SET_WORD)});
  HeldCtx obj(context::create(4, false, true, 0, context::KIND_OBJECT));
  context::add_set_words(obj(), spec);
  *context::self_cell(obj()) = Cell{T_OBJECT, obj(), 0, 0};
  Cell* body = block_of({w("self"), w("self", T_SET_WORD), w("self", T_LIT_WORD), w("other")});
  uint32_t other = uint32_t(sym("other"));
  Cell* issue = runtime::series_append_cell_node(body->w2);
  *issue = Cell{T_ISSUE, context::global, other, context::NO_INDEX};
  Cell paren{T_PAREN, 0, memory::series_new_cells(2), 0};
  Cell* p = stack::push_copy(&paren);
  *runtime::series_append_cell_node(p->w2) = w("other");
  *runtime::series_append_cell_node(body->w2) = *p;
  context::bind_block(body, obj(), true);
  int32_t self_index = context::find_symbol(obj(), sym("self"), true);
  EXPECT_EQ(at(body, 0)->w1, obj());
  EXPECT_EQ(at(body, 0)->w3, context::NO_INDEX) << "word! self under the self flag";
  EXPECT_EQ(context::value_slot(at(body, 0), obj()), context::self_cell(obj())) << "reads the self-cell";
  for (uint32_t i : {1u, 2u}) {
    EXPECT_EQ(at(body, i)->w1, obj());
    EXPECT_EQ(int32_t(at(body, i)->w3), self_index) << "bound like any other word";
  }
  EXPECT_EQ(int32_t(at(body, 3)->w3), context::find_symbol(obj(), sym("other"), true));
  EXPECT_EQ(at(body, 4)->w1, context::global) << "issues are left alone";
  Cell* nested = memory::head_cells(memory::node_buffer(at(body, 5)->w2));
  EXPECT_EQ(nested->w1, obj()) << "parens are walked";

  // Without the self flag the word! self is bound like the rest.
  Cell* again = block_of({w("self")});
  context::bind_block(again, obj(), false);
  EXPECT_EQ(int32_t(at(again, 0)->w3), self_index);
}

TEST_F(ContextTest, AddSetWordsReportsGrowth) {
  HeldCtx ctx(context::create(2, false, false, 0, context::KIND_OBJECT));
  Cell* words_only = block_of({w("a"), w("b")});
  EXPECT_FALSE(context::add_set_words(ctx(), words_only));
  Cell* with_set = block_of({w("a", T_SET_WORD), w("b")});
  EXPECT_TRUE(context::add_set_words(ctx(), with_set));
  EXPECT_FALSE(context::add_set_words(ctx(), with_set)) << "already there";
  Cell past = *with_set;
  past.w1 = 9;  // an index past the tail is clamped
  EXPECT_FALSE(context::add_set_words(ctx(), &past));
  EXPECT_EQ(names(ctx()), (std::vector<std::string>{"a"}));
}

TEST_F(ContextTest, ObjectFieldAssignmentMarksTheEntry) {
  Cell* spec = block_of({w("a", T_SET_WORD), w("b", T_SET_WORD)});
  HeldCtx obj(context::create(2, false, true, 0, context::KIND_OBJECT));
  context::add_set_words(obj(), spec);
  Cell& b = keep(*context::word_at(obj(), 1));
  EXPECT_EQ(context::word_at(obj(), 1)->header & hdr::WORD_ASSIGNED, 0u);
  Cell v = integer(3);
  context::assign(&b, &v, obj(), true);  // no change record: nothing fires
  EXPECT_NE(context::word_at(obj(), 1)->header & hdr::WORD_ASSIGNED, 0u);
  EXPECT_EQ(context::word_at(obj(), 0)->header & hdr::WORD_ASSIGNED, 0u);
  EXPECT_EQ(cell::get_int(value_of(b)), 3);
  // With a change record the old value is handed on (objects are not built yet).
  context::self_cell(obj())->w3 = memory::series_new_cells(1);
  Cell* top = stack::state().top;
  EXPECT_RAISES(context::assign(&b, &v, obj(), true), err::internal::not_done);
  EXPECT_EQ(stack::state().top, top) << "the stack top is restored";
  context::assign(&b, &v, obj(), false);  // notification off: no call
}

TEST_F(ContextTest, SetOrAddAndAddMissing) {
  HeldCtx ctx(context::create(1, false, false, 0, context::KIND_OBJECT));
  Cell a = w("a"), b = w("B");
  Cell one = integer(1), two = integer(2);
  context::set_or_add(ctx(), &a, &one);
  context::set_or_add(ctx(), &a, &two);
  context::add_missing_with_value(ctx(), &a, &one);
  context::add_missing_with_value(ctx(), &b, &one);
  EXPECT_EQ(names(ctx()), (std::vector<std::string>{"a", "B"}));
  EXPECT_EQ(cell::get_int(context::value_of_symbol(sym("A"), ctx())), 2);
  EXPECT_EQ(cell::get_int(context::value_of_symbol(sym("b"), ctx())), 1);
  EXPECT_EQ(context::value_of_symbol(sym("nothing-here"), ctx()), nullptr);
}

TEST_F(ContextTest, CloneRepointsWordsAndKeepsFlags) {
  Cell* spec = block_of({w("p"), w("q")});
  Cell fn{T_FUNCTION, context::from_spec(spec, true, true, context::KIND_FUNCTION), 0, 0};
  Cell* original = stack::push_copy(&fn);
  Cell* held = stack::push_copy(&fn);
  Node fresh = context::clone(held, context::KIND_OBJECT);
  EXPECT_EQ(held->w1, fresh);
  EXPECT_NE(fresh, original->w1);
  EXPECT_EQ(names(fresh), (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(context::word_at(fresh, 1)->w1, fresh);
  EXPECT_TRUE(context::stack_held_q(fresh));
  EXPECT_TRUE(context::has_self_q(fresh));
  EXPECT_EQ(context::kind_of(fresh), context::KIND_OBJECT);
  int32_t added = -1;
  context::find_or_add_symbol(fresh, sym("r"), true, &added);
  EXPECT_EQ(context::word_count(held->w1), 3);
  EXPECT_EQ(context::word_count(original->w1), 2) << "the old context is untouched";
}

TEST_F(ContextTest, WordListsGrowAndBindingFollows) {
  HeldCtx ctx(context::create(4, false, false, 0, context::KIND_OBJECT));
  std::vector<Cell> items;
  for (int i = 0; i < 3000; ++i) {
    Cell s = w(("f" + std::to_string(i)).c_str(), T_SET_WORD);
    int32_t idx = context::find_or_add_word_index(ctx(), &s);
    ASSERT_EQ(idx, i);
  }
  EXPECT_EQ(context::word_count(ctx()), 3000);
  EXPECT_EQ(memory::units(memory::node_buffer(context::values_node(ctx()))), 3000u);
  Cell* blk = block_of({w("F2999"), w("f17"), w("unknown")});
  context::bind_block(blk, ctx(), false);
  EXPECT_EQ(at(blk, 0)->w3, 2999u);
  EXPECT_EQ(at(blk, 1)->w3, 17u);
  EXPECT_EQ(at(blk, 2)->w1, 0u) << "left as it was";
}

}  // namespace
}  // namespace kel::test
