// object!: make, text forms, paths, reflection, comparison, copying and the on-change*
// protocol, run as Kel text on the started runtime; the compiled-code support in C++.
#include <gtest/gtest.h>

#include "kel_script.h"

namespace {

using kel::testing::run_kel_text;

using Case = kel::testing::ScriptCase;
inline void check(const Case* cases, size_t n) { kel::testing::check_scripts(cases, n); }

TEST(Object, MoldAndForm) {
  const Case cases[] = {
      {"print mold make object! []", "make object! []\n"},
      {"print mold make object! [a: 1 b: 'x]", "make object! [\n    a: 1\n    b: 'x\n]\n"},
      {"print mold/flat make object! [on-change*: func [w o n] [] a: 1]", "make object! [a: 1]\n"},
      {"print mold form make object! [a: 1 b: 'x]", "\"a: 1^/b: 'x\"\n"},
      {"o: make object! [a: none] o/a: o print mold/flat o", "make object! [a: make object! [...]]\n"},
      {"print mold make object! [a: make object! [b: 1]]",
       "make object! [\n    a: make object! [\n        b: 1\n    ]\n]\n"},
      // A handler as the last field leaves no separator behind.
      {"print mold/flat make object! [a: 1 on-change*: func [w o n] []]", "make object! [a: 1]\n"},
  };
  check(cases, std::size(cases));
}

TEST(Object, MakeFromPrototypes) {
  const Case cases[] = {
      // A prototype's block is copied and bound to the derived object.
      {"p: make object! [a: 1 b: [a] f: does [a]] c: make p [a: 2] g: func [] c/b print [p/f c/f g]",
       "1 2 2\n"},
      {"p: make object! [a: 1] print equal? reflect p 'class reflect make p [a: 2] 'class", "true\n"},
      {"p: make object! [a: 1] print equal? reflect p 'class reflect make p [z: 2] 'class", "false\n"},
      {"print equal? reflect make object! [] 'class reflect make object! [] 'class", "false\n"},
      // The prototype's handler fires while the spec is evaluated.
      {"p: make object! [a: 1 on-change*: func [w o n] [print [w n]]] c: make p [a: 2]", "a 2\n"},
      {"e: try [make object! [on-change*: 5]] print [e/id e/arg1]", "bad-field-set on-change*\n"},
      {"e: try [make object! 5] print [e/type e/id]", "syntax malconstruct\n"},
  };
  check(cases, std::size(cases));
}

TEST(Object, PathsSelectPut) {
  const Case cases[] = {
      {"f: func [o] [o/b] print [f make object! [a: 1 b: 2] f make object! [b: 3]]", "2 3\n"},
      {"e: try [put make object! [a: 1] 'zz 1] print [e/id]", "invalid-path\n"},
      {"print mold select make object! [a: 1] 'zz", "none\n"},
      {"print select make object! [a: 1] 'a", "1\n"},
      {"e: try [select make object! [a: 1] 1] print [e/id]", "invalid-type\n"},
      {"e: try [put make object! [a: 1] \"a\" 1] print [e/id]", "invalid-key-type\n"},
      {"o: make object! [a: 1] e: try [o/zz] print [e/id]", "invalid-path\n"},
      {"o: make object! [a: 1] print o/a: 7 print o/a", "7\n7\n"},
  };
  check(cases, std::size(cases));
}

TEST(Object, ReflectAndModify) {
  const Case cases[] = {
      {"o: make object! [a: 1 b: 2] o/b: 5 print mold reflect o 'changed", "[b]\n"},
      {"print mold reflect make object! [a: 1] 'changed", "[]\n"},
      {"o: make object! [a: 1] o/a: 3 modify o 'changed none print mold reflect o 'changed", "[]\n"},
      {"o: make object! [a: 1] e: try [modify o 'changed 1] print [e/id]", "invalid-arg\n"},
      {"print mold reflect make object! [a: 1 b: 'x] 'body", "[\n    a: 1\n    b: 'x\n]\n"},
      {"print mold reflect make object! [a: 1 b: 2] 'words", "[a b]\n"},
      {"print mold reflect make object! [a: 1 b: 2] 'values", "[1 2]\n"},
      {"print [reflect make object! [a: 1] 'events? reflect make object! [on-change*: func [w o n] []] 'events?]",
       "false true\n"},
      {"e: try [reflect make object! [] 'foo] print [e/id]", "not-done\n"},
  };
  check(cases, std::size(cases));
}

TEST(Object, CompareAndCopy) {
  const Case cases[] = {
      {"print [equal? make object! [a: 1] make object! [a: 1] equal? make object! [a: 1] make object! [a: 2]]",
       "true false\n"},
      {"print equal? make object! [a: 1] 1", "false\n"},
      {"o: make object! [a: 1] o/a: o p: make object! [a: 1] p/a: p print equal? o p", "true\n"},
      // copy shares the block, copy/deep does not.
      {"o: make object! [b: [1 2]] c: copy o remove c/b d: copy/deep o remove d/b print mold o/b",
       "[2]\n"},
      {"e: try [copy/part make object! [a: 1] 1] print [e/id]", "invalid-refine-arg\n"},
      {"o: make object! [a: 1] print equal? reflect o 'class reflect copy o 'class", "true\n"},
      // A copied function sees the copy's fields.
      {"o: make object! [a: 1 f: does [a]] c: copy o c/a: 2 print [o/f c/f]", "1 2\n"},
  };
  check(cases, std::size(cases));
}

TEST(Object, OnChangeHandler) {
  const Case cases[] = {
      {"o: make object! [a: 1 on-change*: func [w old new] [print [w old new]]] o/a: 2 put o 'a 3",
       "a 1 2\na 2 3\n"},
      // Assignments by the object's own code go through context assignment.
      {"o: make object! [a: 1 on-change*: func [w o n] [print [w n]] f: does [a: 5]] o/f", "a 5\n"},
      // A new handler with another local count: the record is recounted.
      {"o: make object! [a: 1 on-change*: func [w o n] []] o/on-change*: func [w o n /local x] [x: w print x] o/a: 9",
       "on-change*\na\n"},
      {"o: make object! [a: 1 on-change*: func [w o n] []] e: try [put o 'on-change* 5] print e/id "
       "e: try [o/a: 9] print [e/id o/a]",
       "invalid-obj-evt\ninvalid-obj-evt 9\n"},
      // Arguments past the protocol get none, not stray cells.
      {"o: make object! [a: 1 on-change*: func [w o n x] [print mold x]] o/a: 2", "none\n"},
      // Fewer arguments than the protocol: only those.
      {"o: make object! [a: 1 on-change*: func [w] [print w]] o/a: 2", "a\n"},
      {"o: make object! [a: 1 on-change*: func [w o n /local q] [print mold q]] o/a: 2", "none\n"},
  };
  check(cases, std::size(cases));
}

TEST(CompiledSupport, Operations) {
  EXPECT_EQ(kel::testing::run_objects_probe("compiled"),
            "int 2147483647\nint -3\nnan: !! 3/43\nover: !! 3/43\nrepeat abcabcabcabcabc\n"
            "repeat1 3\nswitch 2 -> word\nswitch a -> none\nswitch block -> none\n"
            "field unset assigned\nload trailing none\nload empty unset\n");
}

}  // namespace

namespace {

// The `set` native's object case and `construct`, called as the natives will call them.
TEST(Object, SetFieldsAndConstruct) {
  EXPECT_EQ(kel::testing::run_objects_probe("set"),
            "block make object! [a: 1 b: none]\n"
            "some make object! [a: 1 b: 20]\n"
            "unset: !! 3/3\n"
            "after make object! [a: 10 b: 20]\n"
            "any unset\n"
            "object make object! [a: 10 b: 2]\n"
            "value make object! [a: 7 b: 7]\n"
            "only make object! [a: [1 2] b: [1 2]]\n"
            "chg a 7\n"
            "handler kept yes\n"
            "construct make object! [a: true b: true c: true d: none e: none]\n"
            "construct/only make object! [a: 'yes b: 'yes c: 'on d: 'none e: none]\n"
            "proto make object! [a: 5 z: [1]] class same\n");
}

// copy/deep and make from a prototype copy bitset fields too: the copy's changes stay there.
TEST(Object, DeepCopiesDoNotShareBitsets) {
  EXPECT_EQ(kel::testing::run_kel_text(
                "o: make object! [s: make bitset! [1]] c: copy/deep o poke c/s 5 true "
                "print [pick o/s 5 pick c/s 5] d: copy o poke d/s 6 true print pick o/s 6 "
                "p: make o [] poke p/s 7 true print pick o/s 7"),
            "false true\ntrue\nfalse\n");
}

}  // namespace

namespace {

// The same object, ownership and error snippets with a moving collection at every
// allocation must print what they print plainly.
TEST(Object, SnippetsUnderStress) {
  std::string plain = kel::testing::run_objects_probe("snippets");
  EXPECT_FALSE(plain.empty());
  EXPECT_EQ(kel::testing::run_objects_probe("snippets-stress"), plain);
}

}  // namespace
