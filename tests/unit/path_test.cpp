// Tests of the path family: make and to, form and mold with the children's marks, the cycle
// placeholder, /part stops, copy keeping the type, and the unsupported actions.
#include <climits>

#include "function_fixture.h"

namespace kel::test {
namespace {

class PathTest : public FunctionTest {
 protected:
  // A path of the type holding the values of text, made without block!'s to.
  Cell* path_of(uint32_t type, const char* text) {
    Cell* values = load(text);
    Cell* p = stack::reserve_cell();
    cell::set_none(p);
    path::init_cell(p, 4);
    block::append_range(p, values);
    p->header = type;
    *values = *p;
    stack::state().top = values + 1;
    return values;
  }
};

// mold of the paths a/b/c, a/b:, :a/b, 'a/b  => "a/b/c", "a/b:", ":a/b", "'a/b"
// form a/b:; form 'a/1                          => "a/b"; "a/1"
// form :a/"b c"/[d e]; mold a/"b c"/[d e]       => "a/b c/d e"; {a/"b c"/[d e]}
TEST_F(PathTest, MoldAndForm) {
  EXPECT_EQ(mold(path_of(T_PATH, "a b c")), "a/b/c");
  EXPECT_EQ(mold(path_of(T_SET_PATH, "a b")), "a/b:");
  EXPECT_EQ(mold(path_of(T_GET_PATH, "a b")), ":a/b");
  EXPECT_EQ(mold(path_of(T_LIT_PATH, "a b")), "'a/b");
  EXPECT_EQ(form(path_of(T_SET_PATH, "a b")), "a/b");
  EXPECT_EQ(form(path_of(T_LIT_PATH, "a 1")), "a/1");
  EXPECT_EQ(form(path_of(T_GET_PATH, "a \"b c\" [d e]")), "a/b c/d e");
  EXPECT_EQ(mold(path_of(T_PATH, "a \"b c\" [d e]")), "a/\"b c\"/[d e]");
  EXPECT_EQ(mold(value("a/b/c")), "a/b/c");
  EXPECT_EQ(mold(load("x a/b: :c/d 'e/f")), "[x a/b: :c/d 'e/f]");
  EXPECT_EQ(mold(path_of(T_PATH, "")), "");
}

// to path! [a b c]      => a/b/c
// to set-path! [a b]    => a/b:
// to get-path! [a b]    => :a/b
// to lit-path! [a b]    => 'a/b
// form to set-path! [a b] => "a/b"
TEST_F(PathTest, ToAndMold) {
  Cell* p = to(T_PATH, load("a b c"));
  EXPECT_EQ(cell::type(p), uint32_t(T_PATH));
  EXPECT_EQ(mold(p), "a/b/c");
  EXPECT_EQ(mold(to(T_SET_PATH, load("a b"))), "a/b:");
  EXPECT_EQ(mold(to(T_GET_PATH, load("a b"))), ":a/b");
  EXPECT_EQ(mold(to(T_LIT_PATH, load("a b"))), "'a/b");
  EXPECT_EQ(form(to(T_SET_PATH, load("a b"))), "a/b");
  EXPECT_EQ(form(to(T_LIT_PATH, load("a 1"))), "a/1");
  EXPECT_EQ(mold(to(T_PATH, load(""))), "");
}

// length? make path! 0 => 0 (room for one); make path! 2.9 => room for 2; make path! -3 => room for 1
// length? to path! make object! [] => 1
// make path! "a" => !! script/bad-make-arg
TEST_F(PathTest, Make) {
  Cell zero;
  cell::set_integer(&zero, 0);
  Cell* p = make(T_PATH, &zero);
  EXPECT_EQ(cell::type(p), uint32_t(T_PATH));
  EXPECT_EQ(block::count_from_head(p), 0);
  EXPECT_GE(memory::node_buffer(p->w2)->capacity, 16);
  Cell f = Cell{T_FLOAT, 0, 0, 0};
  cell::put_double(&f, 2.9);
  Cell* q = make(T_GET_PATH, &f);
  EXPECT_EQ(cell::type(q), uint32_t(T_GET_PATH));
  EXPECT_EQ(block::count_from_head(q), 0);
  EXPECT_GE(memory::node_buffer(q->w2)->capacity, 32);
  Cell neg;
  cell::set_integer(&neg, -3);
  EXPECT_EQ(block::count_from_head(make(T_PATH, &neg)), 0);
  Cell* s = make(T_SET_PATH, load("a b"));
  EXPECT_EQ(cell::type(s), uint32_t(T_SET_PATH));
  EXPECT_EQ(mold(s), "a/b:");
  Cell* str = value("\"a\"");
  EXPECT_ERROR(make(T_PATH, str), err::script::bad_make_arg);
}

TEST_F(PathTest, ToOneValue) {
  // A typeset! (like map! and object!) becomes the one value of a new path.
  Cell ts = Cell{T_TYPESET, 0, 0, 0};
  Cell* p = to(T_PATH, &ts);
  EXPECT_EQ(block::count_from_head(p), 1);
  EXPECT_EQ(cell::type(block::cell_at_index(p, 0)), uint32_t(T_TYPESET));
}

// p: to path! [a] append/only p p p => a/...
// mold/part of a/bb/ccc at 4         => "a/bb" (no trailing "/")
TEST_F(PathTest, CycleAndPart) {
  Cell* p = path_of(T_PATH, "a");
  block::append_copy(p, p);
  EXPECT_EQ(mold(p), "a/...");
  EXPECT_EQ(form(p), "a/...");
  Cell* q = path_of(T_PATH, "a bb ccc");
  Cell* buffer = stack::reserve_cell();
  string::init_cell(buffer, 16);
  Cell part;
  cell::set_integer(&part, 4);
  int32_t left = actions::direct_mold(q, buffer, false, false, false, &part, 4, 0);
  EXPECT_EQ(text_of(buffer), "a/bb");
  EXPECT_EQ(left, 0);
  string::init_cell(buffer, 16);
  left = actions::direct_mold(q, buffer, false, false, false, nullptr, 4, 0);
  EXPECT_EQ(text_of(buffer), "a/bb/ccc");
}

// sort to path! [b a] => !! script/expect-arg; trim and random likewise; copy keeps the type
TEST_F(PathTest, SlotsAndCopy) {
  Cell* p = path_of(T_SET_PATH, "b a");
  for (uint32_t k : {datatype::action::SORT, datatype::action::TRIM, datatype::action::RANDOM,
                     datatype::action::SET_PATH, datatype::action::ADD}) {
    SCOPED_TRACE(k);
    EXPECT_ERROR(actions::resolve_for_cell(p, k), err::script::expect_arg);
  }
  for (uint32_t t : {T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH}) {
    EXPECT_NE(datatype::any_slot(t, datatype::action::LENGTH_Q), nullptr) << t;
    EXPECT_EQ(datatype::any_slot(t, datatype::action::LENGTH_Q),
              datatype::any_slot(T_BLOCK, datatype::action::LENGTH_Q));
    EXPECT_EQ(datatype::any_slot(t, datatype::action::COPY),
              reinterpret_cast<datatype::AnySlot>(&path::copy));
  }
  EXPECT_STREQ(datatype::type_table[T_GET_PATH].name, "get-path!");
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  Cell* c = path::copy(p, result, nullptr, false, nullptr);
  EXPECT_EQ(cell::type(c), uint32_t(T_SET_PATH));
  EXPECT_NE(c->w2, p->w2);
  EXPECT_EQ(mold(c), "b/a:");
}

TEST_F(PathTest, CellHelpers) {
  Cell c = Cell{T_BLOCK | hdr::NEW_LINE, 0, 0, 0};
  Cell* b = load("a b");
  c.w2 = b->w2;
  Cell* pushed = path::push_as_path(&c);
  EXPECT_EQ(pushed->header, uint32_t(T_PATH));
  EXPECT_EQ(c.header, uint32_t(T_PATH));
  Cell* d = stack::reserve_cell();
  set_path::init_cell(d, 3);
  EXPECT_EQ(d->header, uint32_t(T_SET_PATH));
  EXPECT_EQ(block::count_from_head(d), 0);
  Cell* e = get_path::push_as_path(pushed);
  EXPECT_EQ(mold(e), ":a/b");
  lit_path::init_cell(d, 0);
  EXPECT_EQ(d->header, uint32_t(T_LIT_PATH));
}

}  // namespace
}  // namespace kel::test
