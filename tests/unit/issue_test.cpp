// Tests of issue! values: make/to from strings, chars and words, mold and form, compare
// against words and issues, and the cell makers.
#include "words_fixture.h"

namespace kel::test {
namespace {

using IssueTest = WordsTest;

Cell text_cell(const std::vector<int32_t>& chars) {
  Cell s{};
  gc::Root keep(&s);
  string::init_cell(&s, int32_t(chars.size()));
  for (int32_t c : chars) string::add_codepoint(&s, c);
  return *stack::push_copy(&s);
}

// to issue! "abc" => #abc; to issue! #"A" => #A; form #abc => "abc"; mold to issue! "a b" => "#a b"
TEST_F(IssueTest, MakeFromTextAndChars) {
  Cell& abc = keep(made(T_ISSUE, text_cell({'a', 'b', 'c'})));
  EXPECT_EQ(abc.header, uint32_t(T_ISSUE));
  EXPECT_EQ(abc.w1, context::global);
  EXPECT_EQ(abc.w3, context::NO_INDEX);
  EXPECT_EQ(molded(abc), "#abc");
  EXPECT_EQ(formed(abc), "abc");
  int32_t left = 0;
  molded(abc, &left);
  EXPECT_EQ(left, 1000 - 4);

  EXPECT_EQ(molded(made(T_ISSUE, Cell{T_CHAR, 0, 'A', 0})), "#A");
  EXPECT_EQ(molded(made(T_ISSUE, Cell{T_CHAR, 0, 0xE9, 0})), "#\xC3\xA9");
  EXPECT_EQ(molded(made(T_ISSUE, text_cell({'a', ' ', 'b'}))), "#a b") << "not validated";
  Cell tail = text_cell({'x', 'y', 'z'});
  tail.w1 = 1;
  EXPECT_EQ(molded(made(T_ISSUE, tail)), "#yz") << "from the string's index";
  EXPECT_EQ(made(T_ISSUE, text_cell({'A', 'b', 'C'})).w2, uint32_t(sym("AbC"))) << "exact case";
  stack::reset();
}

// to issue! 'abc => #abc, binding kept
TEST_F(IssueTest, FromWordsKeepsBinding) {
  Cell& w = keep(global_word("abc"));
  Cell& lit = keep(w);
  cell::set_type(&lit, T_LIT_WORD);
  Cell& i = keep(made(T_ISSUE, lit));
  EXPECT_EQ(i.header, uint32_t(T_ISSUE));
  EXPECT_EQ(i.w1, w.w1);
  EXPECT_EQ(i.w3, w.w3);
  EXPECT_EQ(molded(i), "#abc");
  // Other specs go to word/make: a datatype gives its word, the rest bad-to-arg.
  EXPECT_EQ(molded(made(T_ISSUE, Cell{T_DATATYPE, T_SET_WORD, 0, 0})), "#set-word!");
  EXPECT_RAISES(made(T_ISSUE, integer(12)), err::script::bad_to_arg);
}

TEST_F(IssueTest, ComparesOnlyWithIssues) {
  Cell& a = keep(made(T_ISSUE, text_cell({'a', 'b'})));
  Cell& A = keep(made(T_ISSUE, text_cell({'A', 'B'})));
  Cell& w = keep(global_word("ab"));
  EXPECT_EQ(compared(a, A, 0), 0);
  EXPECT_EQ(compared(a, A, 2), 1);
  EXPECT_EQ(compared(a, w, 0), -2);
  EXPECT_EQ(compared(w, a, 0), -2);
  EXPECT_EQ(compared(a, integer(1), 0), -2);
  stack::reset();
}

TEST_F(IssueTest, CellMakers) {
  Cell c{};
  issue::init_from_text(&c, "tag-1");
  EXPECT_EQ(molded(c), "#tag-1");
  Cell* blk = block_of({});
  Cell* added = issue::add_to_block("B1", blk);
  EXPECT_EQ(added->w3, context::NO_INDEX);
  EXPECT_EQ(molded(*added), "#B1");
  Cell* pushed = issue::from_c_text("p");
  EXPECT_EQ(cell::type(pushed), uint32_t(T_ISSUE));
  Cell& w = keep(global_word("zz"));
  Cell* fw = issue::push_from_word(&w);
  EXPECT_EQ(fw->w3, w.w3) << "binding kept";
  EXPECT_EQ(molded(*fw), "#zz");
  stack::reset();
}

}  // namespace
}  // namespace kel::test
