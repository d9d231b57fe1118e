// Tests of the word family: molds and forms, compare codes, make/to, index?, the cell
// operations on frames and slots, and form-to-string keeping the symbol's text intact.
#include "runtime/evaluator/lexer.h"
#include "words_fixture.h"

// Kel rows of symbols, contexts, words and issues, for the case files once the lexer and the
// evaluator run (input => expected; the C++ tests in this file and in symbol_test.cpp,
// context_test.cpp and issue_test.cpp build the same values today):
//   f: func [x] ['x] w: f 5 get w     => !! script/not-in-context
//   f: func [x] ['x] w: f 5 set w 1   => !! script/not-defined
//   foo: 1 Foo: 2 foo                 => 2
//   'abc = 'ABC                       => true
//   strict-equal? 'abc 'ABC           => false
//   'a = to set-word! 'a              => true
//   'abc = #abc                       => false
//   #abc = 'abc                       => false
//   mold 'Foo                         => "Foo"
//   mold to set-word! 'a              => "a:"
//   mold to get-word! 'a              => ":a"
//   mold to lit-word! 'a              => "'a"
//   mold to refinement! 'a            => "/a"
//   to word! "a"                      => a
//   to word! "1"                      => !! script/invalid-chars
//   to word! /a                       => a
//   to word! #12                      => !! script/bad-to-arg
//   type? to word! integer!           => word!
//   type? to word! true               => word!
//   index? /a                         => !! script/expect-arg
//   x: ()                             => !! script/need-value
//   zz-never-set                      => !! script/no-value
//   to issue! "abc"                   => #abc
//   to issue! #"A"                    => #A
//   form #abc                         => "abc"
//   mold to issue! "a b"              => "#a b"
//   to issue! 'abc                    => #abc

namespace kel::test {
namespace {

using WordTest = WordsTest;

Cell as(Cell w, uint32_t t) {
  cell::set_type(&w, t);
  return w;
}

// Kel rows (later, as case lines):
//   mold 'Foo => "Foo"            mold to set-word! 'a => "a:"
//   mold to get-word! 'a => ":a"  mold to lit-word! 'a => "'a"
//   mold to refinement! 'a => "/a"
TEST_F(WordTest, MoldsKeepSpellingAndAddTheirMark) {
  Cell& foo = keep(global_word("Foo"));
  Cell& a = keep(global_word("a"));
  struct Row {
    const Cell* word;
    uint32_t type;
    const char* mold;
    const char* form;
  } rows[] = {
      {&foo, T_WORD, "Foo", "Foo"},
      {&a, T_SET_WORD, "a:", "a"},
      {&a, T_GET_WORD, ":a", "a"},
      {&a, T_LIT_WORD, "'a", "a"},
      {&a, T_REFINEMENT, "/a", "a"},
  };
  for (const Row& r : rows) {
    int32_t left = 0;
    EXPECT_EQ(molded(as(*r.word, r.type), &left), r.mold);
    EXPECT_EQ(left, 1000 - int32_t(std::strlen(r.mold))) << r.mold;
    EXPECT_EQ(formed(as(*r.word, r.type)), r.form);
  }
  Cell& wide = keep(global_word("\xCE\xB1\xCE\xB2"));  // alpha beta
  EXPECT_EQ(molded(as(wide, T_SET_WORD)), "\xCE\xB1\xCE\xB2:");
}

// 'abc = 'ABC => true; strict-equal? 'abc 'ABC => false; 'a = to set-word! 'a => true
// 'abc = #abc => false; #abc = 'abc => false
TEST_F(WordTest, CompareCodes) {
  Cell abc = global_word("abc"), ABC = global_word("ABC"), a = global_word("a");
  for (const Cell* c : {&abc, &ABC, &a}) symbol::ensure_string(int32_t(c->w2));  // no allocation below
  abc = global_word("abc"), ABC = global_word("ABC"), a = global_word("a");
  Cell issue_abc{T_ISSUE, context::global, abc.w2, context::NO_INDEX};
  Cell other_ctx = abc;
  other_ctx.w1 = 0;
  struct Row {
    Cell x, y;
    int32_t op, result;
  } rows[] = {
      {abc, ABC, 0, 0},
      {abc, ABC, 1, 1 - 1},  // not-equal? reads r != 0: equal here
      {abc, ABC, 12, 0},
      {abc, ABC, 2, 1},
      {abc, abc, 2, 0},
      {as(abc, T_LIT_WORD), abc, 2, 1},
      {a, as(a, T_SET_WORD), 0, 0},
      {abc, issue_abc, 0, -2},
      {issue_abc, abc, 0, -2},
      {abc, integer(1), 0, -2},
      {abc, abc, 9, 0},
      {abc, other_ctx, 9, 1},
      {abc, as(abc, T_LIT_WORD), 9, 1},
      {abc, as(abc, T_LIT_WORD), 10, 0},
      {abc, as(ABC, T_LIT_WORD), 10, 1},
      {abc, as(ABC, T_LIT_WORD), 11, 0},
      {abc, as(abc, T_SET_WORD), 10, 1},
      {abc, as(ABC, T_SET_WORD), 11, 1},
      {as(abc, T_SET_WORD), as(ABC, T_SET_WORD), 11, 0},
      {a, abc, 3, -1},
      {abc, a, 5, 1},
      {ABC, abc, 3, 0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(compared(r.x, r.y, r.op), r.result)
        << symbol::text(int32_t(r.x.w2)) << " " << symbol::text(int32_t(r.y.w2)) << " op " << r.op;
}

// type? to word! integer! => word!; type? to word! true => word!
// to word! "a" => a; to word! "1" => !! script/invalid-chars; to word! /a => a;
// to word! #12 => !! script/bad-to-arg (all four once the lexer's scan is there)
TEST_F(WordTest, MakeAndTo) {
  Cell& t = keep(made(T_WORD, Cell{T_DATATYPE, T_INTEGER, 0, 0}));
  EXPECT_EQ(cell::type(&t), uint32_t(T_WORD));
  EXPECT_EQ(molded(t), "integer!");
  EXPECT_EQ(t.w3, datatype::type_table[T_INTEGER].word.w3) << "the type word itself";
  EXPECT_EQ(t.w1, context::global);

  EXPECT_EQ(molded(made(T_WORD, Cell{T_LOGIC, 1, 0, 0})), "true");
  EXPECT_EQ(molded(made(T_WORD, Cell{T_LOGIC, 0, 0, 0})), "false");

  // A word spec keeps its binding; the header becomes the target type alone.
  Cell& lit = keep(global_word("a"));
  lit.header = T_LIT_WORD | hdr::NEW_LINE;
  Cell& sw = keep(made(T_SET_WORD, lit));
  EXPECT_EQ(sw.header, uint32_t(T_SET_WORD));
  EXPECT_EQ(sw.w1, lit.w1);
  EXPECT_EQ(sw.w3, lit.w3);
  EXPECT_EQ(molded(sw), "a:");

  Cell target{T_DATATYPE, T_WORD, 0, 0};
  EXPECT_RAISES(made(T_WORD, integer(1)), err::script::bad_to_arg);
  EXPECT_EQ(error::pending().args[0].w1, target.w1);
  EXPECT_EQ(cell::get_int(&error::pending().args[1]), 1);
  EXPECT_RAISES(made(T_WORD, Cell{T_NONE, 0, 0, 0}), err::script::bad_to_arg);

  // Text and scanned specs go through the lexer: a text's first value must be a word, a
  // refinement's or issue's name must scan as one.
  lexer::init();
  Cell s{};
  gc::Root keep_s(&s);
  string::init_cell(&s, 1);
  string::add_codepoint(&s, 'a');
  Cell& from_text = keep(made(T_WORD, s));
  EXPECT_EQ(from_text.header, uint32_t(T_WORD));
  EXPECT_EQ(molded(from_text), "a");
  string::add_codepoint(&s, ' ');
  string::add_codepoint(&s, 'b');
  EXPECT_RAISES(made(T_WORD, s), err::script::invalid_chars);  // text after the first value
  Cell one{};
  gc::Root keep_one(&one);
  string::init_cell(&one, 1);
  string::add_codepoint(&one, '1');
  EXPECT_RAISES(made(T_WORD, one), err::script::invalid_chars);
  Cell& from_ref = keep(made(T_WORD, as(lit, T_REFINEMENT)));
  EXPECT_EQ(from_ref.header, uint32_t(T_WORD));
  EXPECT_EQ(molded(from_ref), "a");
  Cell number;
  issue::init_from_text(&number, "12");
  EXPECT_RAISES(made(T_WORD, number), err::script::bad_to_arg);
  lexer::shutdown();
}

// index? /a => !! script/expect-arg (refinement! has no index? slot)
TEST_F(WordTest, IndexOf) {
  EXPECT_EQ(datatype::any_slot(T_REFINEMENT, datatype::action::INDEX_Q), nullptr);
  EXPECT_NE(datatype::any_slot(T_SET_WORD, datatype::action::INDEX_Q), nullptr);
  EXPECT_EQ(datatype::any_slot(T_ISSUE, datatype::action::INDEX_Q), nullptr);
  Cell g = global_word("indexed");
  stack::state().base = stack::push_copy(&g);
  Cell* r = word::index_q();
  EXPECT_EQ(cell::type(r), uint32_t(T_INTEGER));
  EXPECT_EQ(cell::get_int(r), int32_t(g.w3) + 1);
  Cell loose = g;
  loose.w3 = context::NO_INDEX;
  *stack::state().base = loose;
  EXPECT_EQ(cell::type(word::index_q()), uint32_t(T_NONE));
  stack::reset();
}

// x: () => !! script/need-value; zz-never-set => !! script/no-value
TEST_F(WordTest, FrameAssignAndCheckedPush) {
  Cell& x = keep(global_word("x"));
  Cell u = unset();
  auto unset_value = [&] {
    Cell* b = stack::push_copy(&x);  // inside the try: the frame's cells come after it
    stack::state().base = b;
    stack::push_copy(&u);
    word::assign_frame_value();
  };
  EXPECT_RAISES(unset_value(), err::script::need_value);
  Cell loose{T_WORD, 0, x.w2, 0};  // bound to no context
  EXPECT_RAISES(word::assign_value(&loose, &u), err::script::not_defined);
  EXPECT_RAISES(word::value_slot(&loose), err::script::not_defined);

  stack::reset();
  Cell* base = stack::push_copy(&x);
  stack::state().base = base;
  Cell four = integer(4);
  stack::push_copy(&four);
  Cell* r = word::assign_frame_value();
  EXPECT_EQ(r, base);
  EXPECT_EQ(cell::get_int(r), 4);
  EXPECT_EQ(cell::get_int(value_of(x)), 4);

  Cell& never = keep(global_word("zz-never-set"));  // in the global context, value unset
  EXPECT_RAISES(word::push_value_checked(&never), err::script::no_value);
  Cell* pushed = word::push_value_checked(&x);
  EXPECT_EQ(cell::get_int(pushed), 4);
  EXPECT_EQ(get_word::push_value(&never)->header, uint32_t(T_UNSET)) << "get-word takes unset as it is";
  stack::reset();
}

TEST_F(WordTest, SlotOperationsOnTheStackTop) {
  Cell* spec = block_of({Cell{T_SET_WORD, 0, uint32_t(sym("f")), context::NO_INDEX}});
  Cell obj{T_OBJECT, context::create(1, false, true, 0, context::KIND_OBJECT), 0, 0};
  Cell* held = stack::push_copy(&obj);
  context::add_set_words(held->w1, spec);
  Cell one = integer(1), two = integer(2);
  stack::push_copy(&one);
  word::set_slot_from_top(held->w1, 0);
  EXPECT_EQ(cell::get_int(word::slot_at_node(held->w1, 0)), 1);
  EXPECT_NE(context::word_at(held->w1, 0)->header & hdr::WORD_ASSIGNED, 0u);
  stack::push_copy(&two);
  word::swap_slot_with_top(held->w1, 0);
  EXPECT_EQ(cell::get_int(stack::last_pushed()), 1) << "the old value is pushed";
  EXPECT_EQ(cell::get_int(word::slot_at_node(held->w1, 0)), 2);
  EXPECT_EQ(cell::get_int(word::push_value_at(held->w1, 0)), 2);
  Cell* bw = set_word::push_bound_word(held->w1, 0);
  EXPECT_EQ(cell::type(bw), uint32_t(T_SET_WORD));
  EXPECT_EQ(bw->w1, held->w1);
  // lookup-or-add: exact id in the context, else the global word.
  EXPECT_EQ(word::lookup_or_add(held->w1, sym("f")).w1, held->w1);
  Cell g = word::lookup_or_add(held->w1, sym("F"));
  EXPECT_EQ(g.w1, context::global);
  EXPECT_EQ(symbol::text(int32_t(g.w2)), "F");
  stack::reset();
}

TEST_F(WordTest, CellMakersBindToTheGlobalContext) {
  Cell* blk = block_of({});
  Cell* c = word::add_text_to_block("made-here", blk);
  EXPECT_EQ(c->w1, context::global);
  EXPECT_EQ(int32_t(c->w3), context::find_symbol(context::global, sym("made-here"), true));
  EXPECT_EQ(cell::type(lit_word::add_text_to_block("q", blk)), uint32_t(T_LIT_WORD));
  EXPECT_EQ(cell::type(refinement::add_text_to_block("r", blk)), uint32_t(T_REFINEMENT));
  EXPECT_EQ(memory::units(memory::node_buffer(blk->w2)), 3u);
  Cell r = refinement::add_global("only");
  EXPECT_EQ(r.w1, 0u);
  EXPECT_EQ(molded(r), "/only");
  Cell gw = get_word::intern_global("gw");
  EXPECT_EQ(molded(gw), ":gw");
  Cell* p = word::push_new(sym("pushed"));
  EXPECT_EQ(p->w1, context::global);
  Cell h = *p;
  h.header |= hdr::NEW_LINE;
  Cell* q = lit_word::push_from_word(&h);
  EXPECT_EQ(q->header, uint32_t(T_LIT_WORD) | hdr::NEW_LINE) << "flags kept";
  EXPECT_TRUE(word::any_word_type_q(T_ISSUE));
  EXPECT_FALSE(word::any_word_type_q(T_SYMBOL));
  stack::reset();
}

// The string from word/form-to-string is its own: changing it leaves the word's spelling.
TEST_F(WordTest, FormToStringGivesAnOwnCopy) {
  Cell& abc = keep(global_word("abc"));
  Cell* s = word::form_to_string(&abc);
  EXPECT_EQ(text_of(s), "abc");
  string::add_codepoint(s, 'x');
  EXPECT_EQ(text_of(s), "abcx");
  EXPECT_EQ(molded(abc), "abc");
  EXPECT_EQ(symbol::text(int32_t(abc.w2)), "abc");
  EXPECT_EQ(word::symbol_cell(&abc)->w3, symbol::cell_of(int32_t(abc.w2))->w3);
  stack::reset();
}

}  // namespace
}  // namespace kel::test
