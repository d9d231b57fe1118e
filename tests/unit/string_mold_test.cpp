// string! make, to, form and mold: literal forms, caret escapes, brace balance, /part
// budgets, and the conversions and errors of make and to.
#include <gtest/gtest.h>

#include "runtime/cell_api.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/actions.h"
#include "tests/unit/string_test_util.h"

using namespace kel;
using kel::test::StringTest;

namespace {

std::string utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    uint8_t buf[4];
    int32_t n = unicode::encode_utf8_char(int32_t(c), buf);
    out.append(reinterpret_cast<char*>(buf), size_t(n));
  }
  return out;
}

class StringMold : public StringTest {
 protected:
  // Molds or forms the value into a new string; returns its text as UTF-8.
  std::string mold_text(Cell v, bool all = false, int32_t budget = 1000, int32_t* left = nullptr,
                        Cell* part = nullptr) {
    gc::Root keep(&v);
    Cell out;
    string::init_cell(&out, 0);
    gc::Root keep_out(&out);
    int32_t r = string::mold(&v, &out, false, all, false, part, budget, 0);
    if (left) *left = r;
    return utf8(all_of(out));
  }
  std::string form_text(Cell v, Cell* part = nullptr, int32_t budget = 1000,
                        int32_t* left = nullptr) {
    gc::Root keep(&v);
    Cell out;
    string::init_cell(&out, 0);
    gc::Root keep_out(&out);
    int32_t r = string::form(&v, &out, part, budget);
    if (left) *left = r;
    return utf8(all_of(out));
  }
  static std::u32string all_of(const Cell& s) { return all(s); }
  // A /part argument cell inside the current argument frame.
  Cell* part_cell(int32_t n) {
    Cell result{T_NONE, 0, 0, 0};
    stack::push_copy(&result);  // the frame's result slot at the base
    Cell v;
    cell::set_integer(&v, n);
    return stack::push_copy(&v);
  }
};

// print mold X => prints: Y
TEST_F(StringMold, QuotedOrBraced) {
  struct Row {
    std::u32string text;
    const char* kel;   // the Kel literal of the input
    const char* want;  // molded
  };
  const Row rows[] = {
      {U"a\nb\nc", "\"a^/b^/c\"", "\"a^/b^/c\""},
      {U"a\nb\nc\nd", "\"a^/b^/c^/d\"", "{a^/b^/c^/d}"},
      {U"a\tb", "\"a^-b\"", "\"a^-b\""},
      {U"say \"hi\"", "{say \"hi\"}", "{say \"hi\"}"},
      {U"a^b", "\"a^^b\"", "\"a^^b\""},
      {U"\x1E\x80", "\"^(1E)^(80)\"", "\"^(1E)^(80)\""},
      {U"\"{}", "{\"{}}", "{\"{}}"},
      {U"\"{ {}", "{\"^{ ^{^}}", "{\"^{ ^{^}}"},
      {U"\"}{", "{\"^}^{}", "{\"^}^{}"},
      {U"\"{a}{", "{\"{a}^{}", "{\"{a}^{}"},
      {U"\"a^b\tc\n", "{\"a^^b^-c^/}", "{\"a^^b^-c^/}"},
      {std::u32string(1, U'\0') + U"\x7F", "\"^@^~\"", "\"^@^~\""},
      {U"", "\"\"", "\"\""},
      {U"\u00E9", "\"é\"", "\"é\""},
      {U"\u20AC\U0001F600", "\"€😀\"", "\"€😀\""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.kel);
    EXPECT_EQ(mold_text(make(r.text, 4)), r.want);
  }
}

// print mold/all "é" => prints: "^(E9)"
TEST_F(StringMold, AllEscapesAbove127) {
  EXPECT_EQ(mold_text(make(U"\u00E9", 1), true), "\"^(E9)\"");
  EXPECT_EQ(mold_text(make(U"a\u20AC", 2), true), "\"a^(20AC)\"");
  EXPECT_EQ(mold_text(make(U"\"\u00E9", 1), true), "{\"^(E9)}");
}

// print mold head insert/dup "" "x" 49 => quoted; 50 => braced
TEST_F(StringMold, FiftyCharactersTakeBraces) {
  EXPECT_EQ(mold_text(make(std::u32string(49, U'x'), 1)), "\"" + std::string(49, 'x') + "\"");
  EXPECT_EQ(mold_text(make(std::u32string(50, U'x'), 1)), "{" + std::string(50, 'x') + "}");
  // The fifty are counted from the head to the tail, not in a /part range.
  Cell* p = part_cell(3);
  EXPECT_EQ(mold_text(make(std::u32string(50, U'x'), 1), false, 3, nullptr, p), "{xxx}");
}

// mold/part "abcdef" 3 => the slot writes "abc" and returns budget - 5
TEST_F(StringMold, PartLimitsTheRange) {
  Cell* p = part_cell(3);
  int32_t left = 0;
  EXPECT_EQ(mold_text(make("abcdef"), false, 3, &left, p), "\"abc\"");
  EXPECT_EQ(left, 3 - 5);
  EXPECT_EQ(mold_text(make("abcdef"), false, -4, &left, p), "\"\"");
  EXPECT_EQ(left, -4 - 2);
  // Line feeds and quotes are counted inside the range only.
  EXPECT_EQ(mold_text(make("ab\"c"), false, 2, &left, p), "\"ab\"");
  // Without /part the budget does not cut.
  EXPECT_EQ(mold_text(make("abcdef"), false, 3, &left), "\"abcdef\"");
  EXPECT_EQ(left, 3 - 6 - 2);
}

// mold next "abc" => {"bc"}; a head past the tail molds as ""
TEST_F(StringMold, FromTheHead) {
  Cell s = make("abc");
  gc::Root keep(&s);
  s.w1 = 1;
  EXPECT_EQ(mold_text(s), "\"bc\"");
  s.w1 = 7;
  EXPECT_EQ(mold_text(s), "\"\"");
}

// form/part "abcdef" 2 => "ab"
TEST_F(StringMold, Form) {
  int32_t left = 0;
  EXPECT_EQ(form_text(make("abcdef"), nullptr, 100, &left), "abcdef");
  EXPECT_EQ(left, 94);
  Cell* p = part_cell(2);
  EXPECT_EQ(form_text(make("abcdef"), p, 100, &left), "ab");
  EXPECT_EQ(left, 94);  // the whole rest counts even when /part cut the copy
  // Forming a 1-byte string into a 2-byte buffer converts while copying.
  Cell src = make("xy");
  gc::Root ks(&src);
  Cell out = make(U"\u20AC", 2);
  gc::Root ko(&out);
  string::form(&src, &out, nullptr, 10);
  EXPECT_EQ(all(out), U"\u20ACxy");
  EXPECT_EQ(unit(src), 1u);  // the formed value is never widened
  // A part cell at the base of the frame counts as not given.
  Cell* base = stack::state().base;
  EXPECT_FALSE(string::part_given(base));
  EXPECT_FALSE(string::part_given(nullptr));
}

// print mold make string! 0 => prints: ""
// make string! -1 => !! script/out-of-range
// make string! 2.5 => ""
TEST_F(StringMold, Make) {
  Cell* proto = stack::push_copy(cell::none_value());
  Cell n;
  cell::set_integer(&n, 0);
  string::make(proto, &n, T_STRING);
  EXPECT_EQ(cell::type(proto), uint32_t(T_STRING));
  EXPECT_EQ(all(*proto), U"");
  EXPECT_EQ(memory::node_buffer(proto->w2)->capacity, 16);
  EXPECT_EQ(unit(*proto), 1u);

  cell::set_integer(&n, 100);
  string::make(proto, &n, T_FILE);
  EXPECT_EQ(cell::type(proto), uint32_t(T_FILE));
  EXPECT_GE(memory::node_buffer(proto->w2)->capacity, 100);

  Cell f{T_FLOAT, 0, 0, 0};
  cell::put_double(&f, 2.5);
  string::make(proto, &f, T_STRING);
  EXPECT_EQ(all(*proto), U"");

  cell::set_integer(&n, -1);
  EXPECT_TRUE(raises(err::script::out_of_range, [&] { string::make(proto, &n, T_STRING); }));
  cell::put_double(&f, 1e12);
  EXPECT_TRUE(raises(err::script::out_of_range, [&] { string::make(proto, &f, T_STRING); }));
  Cell money{T_MONEY, 0, 0, 0};
  EXPECT_TRUE(raises(err::script::bad_make_arg, [&] { string::make(proto, &money, T_BINARY); }));
  EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_DATATYPE));
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_BINARY));
  // A string spec goes to `to`.
  Cell s = make("hey");
  gc::Root ks(&s);
  string::make(proto, &s, T_TAG);
  EXPECT_EQ(cell::type(proto), uint32_t(T_TAG));
  EXPECT_EQ(all(*proto), U"hey");
}

// to string! none => !! script/bad-to-arg
// to file! next "abc" => %bc ; to string! #{C3A9} => "é" ; to string! #{61C3} => !! access/invalid-utf8
TEST_F(StringMold, To) {
  Cell* proto = stack::push_copy(cell::none_value());
  EXPECT_TRUE(raises(err::script::bad_to_arg, [&] { Cell none{T_NONE, 0, 0, 0};
    string::to(proto, &none, T_STRING); }));
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_STRING));
  EXPECT_EQ(cell::type(&error::pending().args[1]), uint32_t(T_NONE));

  Cell s = make(U"a\u20ACc", 2);
  gc::Root ks(&s);
  s.w1 = 1;
  string::to(proto, &s, T_FILE);
  EXPECT_EQ(cell::type(proto), uint32_t(T_FILE));
  EXPECT_EQ(all(*proto), U"\u20ACc");
  EXPECT_NE(proto->w2, s.w2);  // a copy

  Cell bin{T_BINARY, 0, memory::series_new_bytes(4), 0};
  gc::Root kb(&bin);
  SeriesBuffer* b = memory::node_buffer(bin.w2);
  const uint8_t e9[] = {0xC3, 0xA9};
  std::memcpy(memory::head(b), e9, 2);
  b->tail = b->head + 2;
  string::to(proto, &bin, T_STRING);
  EXPECT_EQ(all(*proto), U"\u00E9");
  b = memory::node_buffer(bin.w2);
  memory::head(b)[0] = 0x61;
  memory::head(b)[1] = 0xC3;
  EXPECT_TRUE(raises(err::access::invalid_utf8, [&] { string::to(proto, &bin, T_STRING); }));

  // Other values are formed through their own form slot.
  datatype::alloc_tables();
  datatype::install(T_INTEGER);
  Cell twelve;
  cell::set_integer(&twelve, 12);
  string::to(proto, &twelve, T_STRING);
  EXPECT_EQ(all(*proto), U"12");  // to string! 12 => "12"
  string::to(proto, &twelve, T_URL);
  EXPECT_EQ(cell::type(proto), uint32_t(T_URL));
}

// to string! ["b" 1 "cd"] => "b1cd" ; to tag! [] => <>
TEST_F(StringMold, ToFromABlockFormsEachValue) {
  datatype::alloc_tables();
  for (uint32_t id : {T_SERIES, T_STRING, T_INTEGER}) datatype::install(id);
  Cell* proto = stack::push_copy(cell::none_value());
  Cell blk{T_BLOCK, 0, memory::series_new_cells(4), 0};
  gc::Root kb(&blk);
  Cell b = make("b");
  gc::Root k1(&b);
  *runtime::block_append_cell(&blk) = b;
  Cell one;
  cell::set_integer(&one, 1);
  *runtime::block_append_cell(&blk) = one;
  Cell cd = make(U"c\u20AC", 2);
  gc::Root k2(&cd);
  *runtime::block_append_cell(&blk) = cd;
  string::to(proto, &blk, T_STRING);
  EXPECT_EQ(all(*proto), U"b1c\u20AC");
  blk.w1 = 1;  // from the block's head
  cell::set_type(&blk, T_PAREN);
  string::to(proto, &blk, T_TAG);
  EXPECT_EQ(cell::type(proto), uint32_t(T_TAG));
  EXPECT_EQ(all(*proto), U"1c\u20AC");
  blk.w1 = 3;
  string::to(proto, &blk, T_STRING);
  EXPECT_EQ(all(*proto), U"");
}

int32_t ref_form(Cell*, Cell* out, Cell*, int32_t limit) {
  string::add_c_text(out, "ref");
  return limit - 3;
}
int32_t ref_mold(Cell*, Cell* out, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  string::add_c_text(out, "/ref");
  return limit - 4;
}

// to string! /ref => "ref" ; to file! /ref => %/ref  (a stand-in refinement! row here)
TEST_F(StringMold, ToFromARefinement) {
  datatype::alloc_tables();
  for (uint32_t id : {T_SERIES, T_STRING}) datatype::install(id);
  datatype::register_type(
      {.id = T_REFINEMENT, .parent = 0, .name = "refinement!",
       .slots = {.form = ref_form, .mold = ref_mold}});
  Cell* proto = stack::push_copy(cell::none_value());
  Cell ref{T_REFINEMENT, 0, 0, 0};
  string::to(proto, &ref, T_STRING);
  EXPECT_EQ(all(*proto), U"ref");
  string::to(proto, &ref, T_FILE);
  EXPECT_EQ(all(*proto), U"/ref");
  EXPECT_EQ(cell::type(proto), uint32_t(T_FILE));
}

class StringActions : public StringMold {
 protected:
  void SetUp() override {
    StringMold::SetUp();
    datatype::alloc_tables();
    for (uint32_t id : {T_DATATYPE, T_NONE, T_LOGIC, T_SERIES, T_STRING, T_INTEGER})
      datatype::install(id);
  }
  std::string text(const Cell* s) { return utf8(all_of(*s)); }
};

TEST_F(StringActions, RegistrationRow) {
  using namespace datatype;
  EXPECT_STREQ(type_table[T_STRING].name, "string!");
  EXPECT_STREQ(type_table[T_SERIES].name, "series!");
  EXPECT_EQ(slot<action::MAKE>(T_STRING), &string::make);
  EXPECT_EQ(slot<action::TO>(T_STRING), &string::to);
  EXPECT_EQ(slot<action::FORM>(T_STRING), &string::form);
  EXPECT_EQ(slot<action::MOLD>(T_STRING), &string::mold);
  EXPECT_EQ(slot<action::COMPARE>(T_STRING), &string::compare);
  // Inherited slots take series!'s (empty while series! has no actions); unsupported stay empty.
  for (uint32_t k : {action::NEXT, action::AT, action::COPY, action::PICK})
    EXPECT_EQ(any_slot(T_STRING, k), any_slot(T_SERIES, k));
  for (uint32_t k : {action::SET_PATH, action::ADD, action::PUT, action::OPEN, action::WRITE})
    EXPECT_EQ(any_slot(T_STRING, k), nullptr);
}

// mold/part "abcdef" 3 => {"ab} ; form/part "abcdef" 2 => "ab" ; mold/part "abc" 0 => ""
TEST_F(StringActions, FormAndMoldEntries) {
  Cell s = make("abcdef");
  gc::Root keep(&s);
  Cell* p = part_cell(3);
  EXPECT_EQ(text(actions::mold(&s, false, false, false, p)), "\"ab");
  p->w2 = 2;
  EXPECT_EQ(text(actions::form(&s, p)), "ab");
  p->w2 = 0;
  EXPECT_EQ(text(actions::mold(&s, false, false, false, p)), "");
  EXPECT_EQ(text(actions::mold(&s, false, true, false, nullptr)), "\"abcdef\"");
}

// "abc" = %abc => true ; "abc" < %abd => !! script/invalid-compare ; "é" = "É" => true
// "abc" = "ABC" => true ; strict-equal? "abc" "ABC" => false ; "abc" < "abcd" => true
TEST_F(StringActions, GenericCompare) {
  Cell a = make("abc");
  gc::Root ka(&a);
  Cell f = make("abc");
  gc::Root kf(&f);
  cell::set_type(&f, T_FILE);
  EXPECT_TRUE(actions::compare(&a, &f, 0));
  EXPECT_FALSE(actions::compare(&a, &f, 1));
  Cell g = make("abd");
  gc::Root kg(&g);
  cell::set_type(&g, T_FILE);
  EXPECT_TRUE(raises(err::script::invalid_compare, [&] { actions::compare(&a, &g, 3); }));
  Cell up = make("ABC");
  gc::Root ku(&up);
  EXPECT_TRUE(actions::compare(&a, &up, 0));
  EXPECT_FALSE(actions::compare(&a, &up, 2));
  Cell longer = make("abcd");
  gc::Root kl(&longer);
  EXPECT_TRUE(actions::compare(&a, &longer, 3));
  Cell e1 = make(U"\u00E9", 1);
  gc::Root ke1(&e1);
  Cell e2 = make(U"\u00C9", 1);
  gc::Root ke2(&e2);
  EXPECT_TRUE(actions::compare(&e1, &e2, 0));
  Cell n;
  cell::set_integer(&n, 1);
  EXPECT_FALSE(actions::compare(&a, &n, 0));  // unlike values are simply unequal
}

}  // namespace
