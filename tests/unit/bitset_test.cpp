// Tests of bitset!: specs and sizes, the complemented form, mold, the set operations (with
// complemented operands), the element actions, ownership notices and comparison.
#include "runtime/datatypes/bitset.h"

#include <functional>

#include "runtime/error.h"
#include "runtime/owner_stub.h"
#include "runtime/symbol.h"
#include "tests/unit/url_fixture.h"

namespace kel::test {
namespace {

class BitsetTest : public ValuesTest {
 protected:
  // make bitset! spec, kept on the stack.
  Cell* make(Cell* spec) { return val(made_by(act::MAKE, T_BITSET, *spec)); }
  Cell* make(const Cell& spec) { return make(val(spec)); }
  Cell* to(Cell* spec) { return val(made_by(act::TO, T_BITSET, *spec)); }
  Cell* charset(const char* t) { return make(text(t)); }
  static int32_t length(Cell* b) { return datatype::slot<act::LENGTH_Q>(T_BITSET)(b); }
  static std::string bytes(const Cell* b) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (int32_t i = 0; i < bitset::stored_bytes(b); ++i) {
      uint8_t v = bitset::bytes_start(b)[i];
      out += HEX[v >> 4];
      out += HEX[v & 15];
    }
    return out;
  }
  // A frame action or set operation on (a, b); the result is a new stack cell.
  static Cell* on_frame(const std::vector<Cell*>& args, const std::function<Cell*()>& f) {
    stack::State& st = stack::state();
    stack::Frame* frames = st.frames_top;
    Cell* top = st.top;
    Cell* base = st.base;
    Cell w{T_WORD, 0, 1, context::NO_INDEX};
    stack::push_native_frame(&w);
    for (Cell* a : args) stack::push_copy(a);
    Cell r = *f();
    st.frames_top = frames;
    st.top = top;
    st.base = base;
    return val(r);
  }
  static Cell* setop(int32_t code, Cell* a, Cell* b) {
    return on_frame({a, b}, [code] { return bitset::set_operation(code); });
  }
  static Cell* complement(Cell* a) {
    return on_frame({a}, [] { return datatype::slot<act::COMPLEMENT>(T_BITSET)(); });
  }
  static bool pick(Cell* b, Cell* v) {
    return truth(datatype::slot<act::PICK>(T_BITSET)(b, 0, v));
  }
  static bool pick(Cell* b, int32_t n) { return pick(b, val(integer(n))); }
  static Cell* append(Cell* b, Cell* v) {
    return datatype::slot<act::APPEND>(T_BITSET)(b, v, -1, false, 1, true);
  }
  static Cell* remove_key(Cell* b, Cell* key) {
    return datatype::slot<act::REMOVE>(T_BITSET)(b, nullptr, key);
  }
};

TEST_F(BitsetTest, SizesFromANumber) {
  // length? make bitset! 10 => 16; length? make bitset! 0 => 0
  EXPECT_EQ(length(make(integer(10))), 16);
  EXPECT_EQ(length(make(integer(0))), 0);
  EXPECT_EQ(length(make(integer(8))), 8);
  EXPECT_EQ(length(make(flt(10.9))), 16);
  EXPECT_EQ(bytes(make(integer(10))), "0000");
  EXPECT_FALSE(bitset::complemented_q(make(integer(10))));
  // make bitset! -1 => !! script/out-of-range; so is a float beyond 32 bits
  EXPECT_RAISES(make(integer(-1)), err::script::out_of_range);
  EXPECT_RAISES(make(flt(1e10)), err::script::out_of_range);
  // to bitset! 5 => !! script/bad-to-arg
  EXPECT_RAISES(to(val(integer(5))), err::script::bad_to_arg);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_BITSET));
}

TEST_F(BitsetTest, ToTakesTheSpecsMakeTakes) {
  // to bitset! "a" => make bitset! #{00000000000000000000000040}
  EXPECT_EQ(bytes(to(text("a"))), "00000000000000000000000040");
  // to bitset! [not 1] => make bitset! [not #{40}]
  Cell* c = to(blk({word("not"), val(integer(1))}));
  EXPECT_TRUE(bitset::complemented_q(c));
  EXPECT_EQ(bytes(c), "BF");
  // to bitset! [1.5] => make bitset! #{40}
  EXPECT_EQ(bytes(to(blk({val(flt(1.5))}))), "40");
}

TEST_F(BitsetTest, MoldAndForm) {
  const struct {
    const char* kel;
    std::function<Cell*()> make;
    const char* out;
  } rows[] = {
      {"mold make bitset! [1 2] => make bitset! #{60}",
       [this] { return make(blk({val(integer(1)), val(integer(2))})); },
       "make bitset! #{60}"},
      {"mold complement make bitset! [1 2] => make bitset! [not #{60}]",
       [this] {
         return complement(make(blk({val(integer(1)), val(integer(2))})));
       },
       "make bitset! [not #{60}]"},
      {R"(mold charset "a" => make bitset! #{00000000000000000000000040})",
       [this] { return charset("a"); },
       "make bitset! #{00000000000000000000000040}"},
      {R"(mold charset [#"a" - #"c"] => make bitset! #{00000000000000000000000070})",
       [this] { return make(blk({val(ch('a')), word("-"), val(ch('c'))})); },
       "make bitset! #{00000000000000000000000070}"},
      {R"(mold make bitset! [not "a"] => make bitset! [not #{00000000000000000000000040}])",
       [this] { return make(blk({word("not"), text("a")})); },
       "make bitset! [not #{00000000000000000000000040}]"},
      {"mold make bitset! 0 => make bitset! #{}",
       [this] { return make(integer(0)); }, "make bitset! #{}"},
  };
  for (const auto& r : rows) {
    Cell* b = r.make();
    int32_t left = 0;
    EXPECT_EQ(molded(*b, &left), r.out) << r.kel;
    EXPECT_EQ(left, 1000 - int32_t(std::strlen(r.out))) << r.kel;
    EXPECT_EQ(formed(*b), r.out) << r.kel;
  }
}

TEST_F(BitsetTest, MoldPartEndsWithoutClosingWhenTheBudgetRunsOut) {
  Cell* b = make(blk({val(integer(1)), val(integer(9))}));  // #{4040}
  int32_t left = 0;
  // "make bitset! #{" is 15 characters; 16 leave room for one byte only
  EXPECT_EQ(molded_part(*b, 16, &left), "make bitset! #{40");
  EXPECT_EQ(left, -1);
  EXPECT_EQ(molded_part(*b, 20, &left), "make bitset! #{4040}");
  EXPECT_EQ(left, 0);
  EXPECT_EQ(molded_part(*b, 19, &left), "make bitset! #{4040");
  EXPECT_EQ(left, 0);
}

TEST_F(BitsetTest, CharsetBitOrderIsMostSignificantFirst) {
  // charset "a" sets bit 97: byte 12 under 0x40
  Cell* b = charset("a");
  EXPECT_EQ(bitset::stored_bytes(b), 13);
  EXPECT_EQ(bitset::bytes_start(b)[12], 0x40);
  EXPECT_TRUE(bitset::member_q(b, 97));
  EXPECT_FALSE(bitset::member_q(b, 96));
  EXPECT_FALSE(bitset::member_q(b, 98));
  EXPECT_FALSE(bitset::member_q(b, -1));
  // wide strings: every codepoint is a member
  Cell* w = charset("aé€");
  EXPECT_TRUE(bitset::member_q(w, 0x20AC));
  EXPECT_TRUE(bitset::member_q(w, 0xE9));
  EXPECT_EQ(length(w), ((0x20AC + 8) & ~7));
}

TEST_F(BitsetTest, ComplementedMembershipReachesBeyondTheStoredBytes) {
  // pick make bitset! [not "a"] 5000 => true
  Cell* b = make(blk({word("not"), text("a")}));
  EXPECT_TRUE(bitset::complemented_q(b));
  EXPECT_TRUE(pick(b, 5000));
  EXPECT_FALSE(pick(b, val(ch('a'))));
  EXPECT_TRUE(pick(b, val(ch('b'))));
  // a negative value tests as the flag
  EXPECT_TRUE(pick(b, -1));
  EXPECT_FALSE(pick(charset("a"), -1));
  // the spec block is left as it was
  Cell* spec = blk({word("not"), text("a")});
  make(spec);
  EXPECT_EQ(spec->w1, 0u);
}

TEST_F(BitsetTest, Ranges) {
  // make bitset! [#"a" - #"c"] holds a, b and c
  Cell* abc = make(blk({val(ch('a')), word("-"), val(ch('c'))}));
  for (int32_t c : {'a', 'b', 'c'}) EXPECT_TRUE(bitset::member_q(abc, c)) << c;
  EXPECT_FALSE(bitset::member_q(abc, 'd'));
  EXPECT_FALSE(bitset::member_q(abc, '`'));
  // find charset [#"a" - #"c"] [#"a" - #"c"] => true; with #"d" at the end => none
  auto find = datatype::slot<act::FIND>(T_BITSET);
  Cell* same = blk({val(ch('a')), word("-"), val(ch('c'))});
  EXPECT_TRUE(truth(find(abc, same, nullptr, false, false, false, false, nullptr, nullptr, false,
                         false, false, false)));
  Cell* wider = blk({val(ch('a')), word("-"), val(ch('d'))});
  Cell* r = find(abc, wider, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                 false, false);
  EXPECT_EQ(cell::type(r), uint32_t(T_NONE));
  // integer ranges, a one-value range, mixed with single values and strings
  Cell* mixed = make(blk({val(integer(0)), word("-"), val(integer(3)), val(integer(5)),
                          word("-"), val(integer(5)), text("A")}));
  EXPECT_EQ(bytes(mixed), "F40000000000000040");
  // a nested block applies the same way
  Cell* nested = make(blk({blk({val(integer(1))}), val(integer(2))}));
  EXPECT_EQ(bytes(nested), "60");
}

TEST_F(BitsetTest, RangeErrors) {
  // make bitset! [#"c" - #"a"] => !! script/past-end
  EXPECT_RAISES(make(blk({val(ch('c')), word("-"), val(ch('a'))})), err::script::past_end);
  // make bitset! [#"a" -] => !! script/past-end
  EXPECT_RAISES(make(blk({val(ch('a')), word("-")})), err::script::past_end);
  // make bitset! [#"a" - 99] => !! script/invalid-arg with 99
  EXPECT_RAISES(make(blk({val(ch('a')), word("-"), val(integer(99))})), err::script::invalid_arg);
  EXPECT_EQ(cell::type(&error::pending().args[0]), uint32_t(T_INTEGER));
  // make bitset! [-1 - 3] => !! script/out-of-range
  EXPECT_RAISES(make(blk({val(integer(-1)), word("-"), val(integer(3))})), err::script::out_of_range);
  // make bitset! [-] => !! script/bad-make-arg: a lone word is no spec value
  EXPECT_RAISES(make(blk({word("-")})), err::script::bad_make_arg);
}

TEST_F(BitsetTest, UnusableSpecValuesRaiseByMode) {
  // make bitset! none => !! script/bad-make-arg; to bitset! [none] => !! script/bad-to-arg
  EXPECT_RAISES(make(none()), err::script::bad_make_arg);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_BITSET));
  EXPECT_RAISES(to(blk({val(none())})), err::script::bad_to_arg);
  // append make bitset! 8 none => !! script/invalid-arg
  EXPECT_RAISES(append(make(integer(8)), val(none())), err::script::invalid_arg);
  // make bitset! [-1] => !! script/out-of-range
  EXPECT_RAISES(make(blk({val(integer(-1))})), err::script::out_of_range);
  // append make bitset! 8 #{00} => !! internal/not-done; so is a binary inside a block
  Cell bin{T_BINARY, 0, memory::series_new_bytes(1), 0};
  Cell* b = val(bin);
  EXPECT_RAISES(append(make(integer(8)), b), err::internal::not_done);
  EXPECT_RAISES(make(blk({val(integer(1)), b})), err::internal::not_done);
}

TEST_F(BitsetTest, FromBinaryAndFromABitset) {
  Cell bin{T_BINARY, 0, memory::series_new_bytes(4), 0};
  Cell* b = val(bin);
  uint8_t* p = memory::node_head(b->w2);
  p[0] = 0xF0;
  p[1] = 0x0F;
  memory::node_buffer(b->w2)->tail += 2;
  // make bitset! #{F00F}
  Cell* plain = make(b);
  EXPECT_EQ(bytes(plain), "F00F");
  EXPECT_EQ(molded(*plain), "make bitset! #{F00F}");
  // make bitset! [not #{F00F}]: inverted bytes, complemented; it molds back the same
  Cell* comp = make(blk({word("not"), b}));
  EXPECT_TRUE(bitset::complemented_q(comp));
  EXPECT_EQ(bytes(comp), "0FF0");
  EXPECT_EQ(molded(*comp), "make bitset! [not #{F00F}]");
  // values after the binary are ignored: make bitset! [#{F00F} 1000]
  EXPECT_EQ(length(make(blk({b, val(integer(1000))}))), 16);
  // the binary's head is where reading starts
  b->w1 = 1;
  EXPECT_EQ(bytes(make(b)), "0F");
  // make bitset! a-bitset: a copy with the flag
  Cell* copy = make(comp);
  EXPECT_NE(copy->w2, comp->w2);
  EXPECT_TRUE(bitset::complemented_q(copy));
  EXPECT_EQ(bytes(copy), "0FF0");
}

TEST_F(BitsetTest, AppendGrows) {
  // length? append make bitset! 8 1000 => 1008
  Cell* b = make(integer(8));
  EXPECT_EQ(append(b, val(integer(1000))), b);
  EXPECT_EQ(length(b), 1008);
  EXPECT_TRUE(bitset::member_q(b, 1000));
  EXPECT_FALSE(bitset::member_q(b, 999));
  // a complemented bitset stores no bit for it (it is a member already); its new bytes
  // keep membership as it was
  Cell* c = make(blk({word("not"), val(integer(1))}));
  append(c, val(integer(1000)));
  EXPECT_TRUE(bitset::member_q(c, 1000));
  EXPECT_FALSE(bitset::member_q(c, 1));
  for (int32_t n = 2; n < length(c); ++n) ASSERT_TRUE(bitset::member_q(c, n)) << n;
  // insert is the same function
  EXPECT_EQ(datatype::any_slot(T_BITSET, act::INSERT), datatype::any_slot(T_BITSET, act::APPEND));
  // an empty string still leaves at least one byte
  Cell* e = make(integer(0));
  append(e, text(""));
  EXPECT_EQ(length(e), 8);
  // floats truncate toward zero
  Cell* f = make(integer(8));
  append(f, val(flt(2.9)));
  EXPECT_EQ(bytes(f), "20");
}

TEST_F(BitsetTest, SetOperationLengths) {
  Cell* one = make(integer(8));
  Cell* three = make(integer(24));
  // length? or~ (make bitset! 8) (make bitset! 24) => 24
  EXPECT_EQ(length(setop(bitset::OP_OR, one, three)), 24);
  // length? and~ (make bitset! 8) (make bitset! 24) => 8
  EXPECT_EQ(length(setop(bitset::OP_AND, one, three)), 8);
  EXPECT_EQ(length(setop(bitset::OP_AND, three, one)), 8);
  // intersect gives 24 bits with the last two bytes 0
  Cell* full = make(blk({val(integer(0)), word("-"), val(integer(23))}));
  Cell* i = setop(bitset::OP_INTERSECT, make(blk({val(integer(0)), word("-"), val(integer(7))})), full);
  EXPECT_EQ(bytes(i), "FF0000");
  EXPECT_EQ(length(setop(bitset::OP_XOR, one, three)), 24);
  EXPECT_EQ(length(setop(bitset::OP_DIFFERENCE, three, one)), 24);
  EXPECT_EQ(length(setop(bitset::OP_EXCLUDE, one, three)), 24);
  // the action slots are the same operations
  Cell* a = make(blk({val(integer(1))}));
  Cell* b = make(blk({val(integer(2))}));
  Cell* via = on_frame({a, b}, [] { return datatype::slot<act::OR>(T_BITSET)(); });
  EXPECT_EQ(bytes(via), "60");
  // or~ (make bitset! 8) 1 => !! script/invalid-type
  Cell* n = val(integer(1));
  EXPECT_RAISES(setop(bitset::OP_OR, one, n), err::script::invalid_type);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_INTEGER));
}

TEST_F(BitsetTest, SetOperationsKeepMembershipWithComplementedOperands) {
  // Operands of different lengths, plain and complemented; every result must hold exactly
  // the values the operation gives on membership, far beyond the stored bytes too.
  std::vector<Cell*> sets = {
      make(blk({val(integer(1)), val(integer(9))})),                      // 2 bytes
      make(blk({word("not"), val(integer(3))})),                          // 1 byte, complemented
      make(blk({word("not"), text("a")})),                                // 13 bytes, complemented
      make(blk({val(integer(0)), word("-"), val(integer(40)), val(integer(97))})),  // 13 bytes
      make(integer(0)),                                                   // empty
  };
  auto expect = [](int32_t code, bool x, bool y) {
    switch (code) {
      case bitset::OP_OR:
      case bitset::OP_UNION: return x || y;
      case bitset::OP_AND:
      case bitset::OP_INTERSECT: return x && y;
      case bitset::OP_EXCLUDE: return x && !y;
      default: return x != y;
    }
  };
  for (int32_t code : {bitset::OP_OR, bitset::OP_AND, bitset::OP_XOR, bitset::OP_UNION,
                       bitset::OP_INTERSECT, bitset::OP_EXCLUDE, bitset::OP_DIFFERENCE}) {
    for (Cell* a : sets) {
      for (Cell* b : sets) {
        Cell* r = setop(code, a, b);
        for (int64_t n : {0, 1, 2, 3, 8, 9, 40, 41, 96, 97, 98, 103, 104, 200, 100000}) {
          ASSERT_EQ(bitset::member_q(r, n),
                    expect(code, bitset::member_q(a, n), bitset::member_q(b, n)))
              << "code " << code << " value " << n;
        }
      }
    }
  }
}

TEST_F(BitsetTest, UniqueGivesACopy) {
  Cell* a = charset("ab");
  Cell* u = setop(bitset::OP_UNIQUE, a, a);
  EXPECT_NE(u->w2, a->w2);
  EXPECT_EQ(bytes(u), bytes(a));
  append(u, val(integer(0)));
  EXPECT_FALSE(bitset::member_q(a, 0));
}

TEST_F(BitsetTest, ComplementAndNegate) {
  Cell* a = make(blk({val(integer(1)), val(integer(2))}));
  Cell* c = complement(a);
  EXPECT_TRUE(bitset::complemented_q(c));
  EXPECT_EQ(bytes(c), "9F");
  EXPECT_FALSE(bitset::complemented_q(a));
  EXPECT_EQ(bytes(a), "60");
  Cell* cc = complement(c);
  EXPECT_FALSE(bitset::complemented_q(cc));
  EXPECT_EQ(bytes(cc), "60");
  EXPECT_EQ(datatype::any_slot(T_BITSET, act::NEGATE), datatype::any_slot(T_BITSET, act::COMPLEMENT));
}

TEST_F(BitsetTest, PokeAndPath) {
  Cell* b = make(integer(8));
  auto poke = datatype::slot<act::POKE>(T_BITSET);
  Cell* yes = val(Cell{T_LOGIC, 1, 0, 0});
  // poke b 5 true; then false, none, 0 and 0.0 all clear
  EXPECT_EQ(poke(b, 5, yes, val(integer(5))), yes);
  EXPECT_EQ(bytes(b), "04");
  for (Cell off : {Cell{T_LOGIC, 0, 0, 0}, none(), integer(0), flt(0.0)}) {
    poke(b, 5, yes, val(integer(5)));
    poke(b, 5, val(off), val(integer(5)));
    EXPECT_EQ(bytes(b), "00");
  }
  // any other value sets: poke b 6 1
  poke(b, 6, val(integer(1)), val(integer(6)));
  EXPECT_EQ(bytes(b), "02");
  // b/6 => true; b/7 => false; b/#"a" => false; b/("a") => !! script/invalid-type
  auto path = datatype::slot<act::EVAL_PATH>(T_BITSET);
  auto get = [&](Cell* e) {
    return truth(path(b, e, nullptr, nullptr, nullptr, nullptr, 0, false, false, true, false));
  };
  EXPECT_TRUE(get(val(integer(6))));
  EXPECT_FALSE(get(val(integer(7))));
  EXPECT_FALSE(get(val(ch('a'))));
  EXPECT_RAISES(get(text("a")), err::script::invalid_type);
  EXPECT_EQ(error::pending().args[0].w1, uint32_t(T_STRING));
  // b/7: true sets and gives the value set
  Cell* set = path(b, val(integer(7)), yes, nullptr, nullptr, nullptr, 0, false, false, true, false);
  EXPECT_EQ(set, yes);
  EXPECT_EQ(bytes(b), "03");
}

TEST_F(BitsetTest, RemoveKeyTakesTheKeyOut) {
  // remove/key on a plain bitset
  Cell* b = charset("abc");
  remove_key(b, val(ch('b')));
  EXPECT_FALSE(bitset::member_q(b, 'b'));
  EXPECT_TRUE(bitset::member_q(b, 'a'));
  // on a complemented one the key leaves the set too (it is not added)
  Cell* c = make(blk({word("not"), text("a")}));
  remove_key(c, val(ch('b')));
  EXPECT_FALSE(bitset::member_q(c, 'b'));
  EXPECT_TRUE(bitset::member_q(c, 'c'));
  remove_key(c, val(integer(5000)));
  EXPECT_FALSE(bitset::member_q(c, 5000));
  EXPECT_TRUE(bitset::member_q(c, 5001));
  // remove without /key => !! script/missing-arg
  EXPECT_RAISES(remove_key(b, nullptr), err::script::missing_arg);
}

TEST_F(BitsetTest, ClearKeepsTheFlag) {
  Cell* b = charset("a");
  datatype::slot<act::CLEAR>(T_BITSET)(b);
  EXPECT_EQ(bytes(b), "00000000000000000000000000");
  Cell* c = make(blk({word("not"), text("a")}));
  datatype::slot<act::CLEAR>(T_BITSET)(c);
  EXPECT_TRUE(bitset::complemented_q(c));
  EXPECT_TRUE(bitset::member_q(c, 'a'));
  EXPECT_EQ(length(c), 104);
}

TEST_F(BitsetTest, CopyIsIndependent) {
  Cell* a = make(blk({word("not"), val(integer(1))}));
  Cell* r = val(none());
  datatype::slot<act::COPY>(T_BITSET)(a, r, nullptr, false, nullptr);
  EXPECT_EQ(cell::type(r), uint32_t(T_BITSET));
  EXPECT_NE(r->w2, a->w2);
  EXPECT_TRUE(bitset::complemented_q(r));
  remove_key(r, val(integer(2)));
  EXPECT_TRUE(bitset::member_q(a, 2));
}

TEST_F(BitsetTest, Compare) {
  auto cmp = datatype::slot<act::COMPARE>(T_BITSET);
  Cell* a = charset("a");
  Cell* a2 = charset("a");
  Cell* b = charset("b");
  EXPECT_EQ(cmp(a, a2, 0), 0);
  EXPECT_EQ(cmp(a, b, 0), 1);   // bytes from the last: 0x40 > 0x20
  EXPECT_EQ(cmp(b, a, 3), -1);
  EXPECT_EQ(cmp(a, a2, 9), 1);  // not the same series
  EXPECT_EQ(cmp(a, a, 9), 0);
  EXPECT_EQ(cmp(make(integer(8)), a, 0), -1);  // shorter
  Cell* na = make(blk({word("not"), text("a")}));
  Cell* pa = complement(na);  // plain, 13 bytes
  EXPECT_EQ(cmp(na, pa, 0), 1);  // the complemented one is greater
  EXPECT_EQ(cmp(make(integer(0)), make(integer(0)), 0), 0);
  EXPECT_EQ(cmp(a, val(integer(1)), 0), -2);
}

TEST_F(BitsetTest, ChangesNotifyTheOwnerAfterTheirChecks) {
  owner::Notice& n = owner::last_notice();
  Cell* b = make(integer(8));
  uint32_t calls = n.calls;
  append(b, val(integer(3)));
  EXPECT_EQ(n.calls, calls + 1);  // nothing owns it: no second notice
  EXPECT_STREQ(n.action, "insert");
  datatype::slot<act::POKE>(T_BITSET)(b, 4, val(integer(1)), val(integer(4)));
  EXPECT_STREQ(n.action, "poke");
  EXPECT_EQ(n.index, 4);
  remove_key(b, val(integer(3)));
  EXPECT_STREQ(n.action, "remove");
  datatype::slot<act::CLEAR>(T_BITSET)(b);
  EXPECT_STREQ(n.action, "clear");
  // a failing check tells nobody: append b [#"c" - #"a"]
  calls = n.calls;
  EXPECT_RAISES(append(b, blk({val(ch('c')), word("-"), val(ch('a'))})), err::script::past_end);
  EXPECT_RAISES(append(b, val(integer(-5))), err::script::out_of_range);
  EXPECT_RAISES(remove_key(b, val(none())), err::script::invalid_arg);
  EXPECT_EQ(n.calls, calls);
}

TEST_F(BitsetTest, ProcessSpecDirectly) {
  Cell* spec = blk({val(ch('a')), word("-"), val(ch('c')), val(integer(5))});
  EXPECT_EQ(bitset::process_spec(spec, nullptr, bitset::MEASURE, bitset::MODE_ACTION), 'c');
  EXPECT_EQ(bitset::process_spec(text(""), nullptr, bitset::MEASURE, bitset::MODE_ACTION), -1);
  Cell* b = make(spec);
  EXPECT_EQ(bitset::process_spec(spec, b, bitset::TEST, bitset::MODE_ACTION), 1);
  EXPECT_EQ(bitset::process_spec(val(integer(6)), b, bitset::TEST, bitset::MODE_ACTION), 0);
  bitset::process_spec(val(integer(5)), b, bitset::CLEAR, bitset::MODE_ACTION);
  EXPECT_FALSE(bitset::member_q(b, 5));
  // clearing beyond a plain bitset stores nothing
  int32_t before = length(b);
  bitset::process_spec(val(integer(5000)), b, bitset::CLEAR, bitset::MODE_ACTION);
  EXPECT_EQ(length(b), before);
}

TEST_F(BitsetTest, ReflectAndModifyOwned) {
  Cell* b = charset("a");
  int32_t owned = symbol::intern_c_text("owned");
  Cell* r = datatype::slot<act::REFLECT>(T_BITSET)(b, owned);
  EXPECT_EQ(cell::type(r), uint32_t(T_NONE));
  EXPECT_RAISES(datatype::slot<act::REFLECT>(T_BITSET)(b, symbol::intern_c_text("spec")),
                err::internal::not_done);
  Cell* v = val(none());
  EXPECT_EQ(datatype::slot<act::MODIFY>(T_BITSET)(b, word("owned"), v, false), v);
  EXPECT_EQ(datatype::slot<act::MODIFY>(T_BITSET)(b, word("other"), v, false), v);
}

TEST_F(BitsetTest, Registration) {
  EXPECT_STREQ(datatype::type_table[T_BITSET].name, "bitset!");
  for (uint32_t k : {act::RANDOM, act::ADD, act::AT, act::CHANGE, act::SORT, act::TAKE,
                     act::SELECT, act::PUT})
    EXPECT_EQ(datatype::any_slot(T_BITSET, k), nullptr) << k;
}

}  // namespace
}  // namespace kel::test
