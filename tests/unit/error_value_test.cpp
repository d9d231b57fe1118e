// error!: make from codes, id blocks, set-word blocks and strings; fields and paths; the
// report (args molded or formed, where, near, fallback for bad fields); `try`.
#include <gtest/gtest.h>

#include <regex>

#include "kel_script.h"

namespace {

using kel::testing::run_kel_text;

using Case = kel::testing::ScriptCase;
inline void check(const Case* cases, size_t n) { kel::testing::check_scripts(cases, n); }

// Each case starts the program, which the collector stress makes slow: two tests.
TEST(ErrorValue, MakeFromCodes) {
  const Case cases[] = {
      {"e: make error! 300 print [e/code e/type e/id]", "300 script no-value\n"},
      {"e: make error! 910 print [e/type e/id]", "internal invalid-error\n"},
      {"e: try [make error! 399] print [e/id e/arg1]", "out-of-range 399\n"},
      {"e: try [make error! 600] print [e/id e/arg1]", "out-of-range 600\n"},
      {"e: try [make error! 1000] print [e/id]", "out-of-range\n"},
      {"e: try [make error! -1] print [e/id e/arg1]", "out-of-range -1\n"},
      {"e: try [to error! 300] print [e/id]", "expect-arg\n"},
      {"e: try [make error! 1.5] print [e/id]", "bad-make-arg\n"},
  };
  check(cases, std::size(cases));
}

TEST(ErrorValue, MakeFromSpecs) {
  const Case cases[] = {
      {"e: make error! [script no-value] print e/code", "300\n"},
      {"e: try [make error! [script]] print [e/id e/arg1]", "invalid-spec-field id\n"},
      {"e: try [make error! [script 12]] print [e/id e/arg1]", "invalid-arg 12\n"},
      {"e: try [make error! [foo bar]] print [e/id e/arg1]", "invalid-spec-field type\n"},
      {"e: try [make error! [script bogus]] print [e/id e/arg1]", "invalid-spec-field id\n"},
      {"e: try [make error! []] print [e/type e/id]", "internal invalid-error\n"},
      {"e: make error! [type: 'math id: 'zero-divide] print e/code", "400\n"},
      {"e: make error! \"boom\" print [e/code e/arg1]", "800 boom\n"},
      {"e: make error! 300 print [e/arg1 e/where e/stack e/files]", "none none none none\n"},
  };
  check(cases, std::size(cases));
}

TEST(ErrorValue, Report) {
  // Near is the top-level expression that made the error (from its set-word), cut to 40.
  const Case cases[] = {
      {"e: make error! [script no-value] e/arg1: 'foo e/where: 'bar e/near: [x y z] print e",
       "*** Script Error: foo has no value\n*** Where: bar\n*** Near : x y z\n"},
      // Printing never changes the error.
      {"e: make error! [script no-value] e/type: 'foo print e print e/type",
       "*** Internal Error: invalid error object field value: foo\n*** Where: ???\n*** Near : e: make error! [script no-value] e/type:\nfoo\n"},
      {"e: make error! [script no-value] e/id: 'nope print e print e/id",
       "*** Internal Error: invalid error object field value: nope\n*** Where: ???\n*** Near : e: make error! [script no-value] e/id: '\nnope\n"},
      {"e: make error! \"boom\" print e",
       "*** User Error: boom\n*** Where: ???\n*** Near : e: make error! \"boom\" print e\n"},
      // Arguments are molded, formed for syntax errors.
      {"e: make error! [script invalid-arg] e/arg1: \"s\" print e",
       "*** Script Error: invalid argument: \"s\"\n*** Where: ???\n*** Near : e: make error! [script invalid-arg] e/ar\n"},
      {"e: make error! [syntax invalid] e/arg1: \"a\" e/arg2: \"b\" e/arg3: \"c\" print e",
       "*** Syntax Error: a invalid b at c\n*** Where: ???\n*** Near : e: make error! [syntax invalid] e/arg1: \n"},
      // Near is cut to 40 characters.
      {"e: make error! [script no-value] e/near: [aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee] print e",
       "*** Script Error: none has no value\n*** Where: ???\n*** Near : aaaaaaaaaa bbbbbbbbbb cccccccccc ddddddd\n"},
      {"e: make error! [script no-value] e/files: [%a.kel] print e",
       "*** Script Error: none has no value\n*** Where: ???\n*** Near : e: make error! [script no-value] e/files\n*** Files: %a.kel\n"},
  };
  check(cases, std::size(cases));
}

TEST(ErrorValue, TryAndPropagation) {
  const Case cases[] = {
      {"print try [1 + 2]", "3\n"},
      {"f: func [] [1 / 0] e: try [f] print [e/id e/where]", "zero-divide /\n"},
      {"e: try [try [1 / 0] 5] print e", "5\n"},
      // /keep turns the frame position into the call words (functions only at level 1); a
      // script runs inside the console's launch and try-do.
      {"f: func [] [1 / 0] g: func [] [f] e: try/keep [g] print mold e/stack print e",
       "[launch launch try-do g f]\n*** Math Error: attempt to divide by zero\n*** Where: /\n"
       "*** Near : 1 / 0\n*** Stack: launch launch try-do g f\n"},
      {"f: func [] [1 / 0] e: try/keep [f] system/state/stack-trace: 0 print e",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"},
      {"print [system/state/stack-trace mold system/state/source-files system/catalog/errors/math/type]",
       "1 [] Math Error\n"},
      {"o: make error! 300 p: make error! 300 print [equal? o o equal? o 1]", "true false\n"},
      {"e: make error! 300 e/near: none print mold/flat e",
       "make error! [code: 300 type: 'script id: 'no-value arg1: none arg2: none arg3: none near: "
       "none where: none stack: none files: none]\n"},
  };
  check(cases, std::size(cases));
}

TEST(ErrorValue, PropagationFillsWhereAndStack) {
  std::string out = run_kel_text("e: try [1 / 0] print [e/code e/where e/stack]");
  EXPECT_TRUE(std::regex_match(out, std::regex("400 / [0-9]+\n"))) << out;
}

TEST(ErrorValue, RaisedFromCpp) {
  EXPECT_EQ(kel::testing::run_objects_probe("errors"),
            "type error! class 1\n*** Script Error: foo has no value\n*** Where: here\n");
}

}  // namespace
