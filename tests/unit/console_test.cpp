// The console read from a pipe: what it prints for each kind of input (results, continued
// lines, Esc, halt, errors, the cut of long results, failing prompt and result fields, the
// end of the input) and how it ends.
#include <gtest/gtest.h>

#include <string>

#include "kel_script.h"

namespace {

using kel::testing::run_kel_stdin;

struct PipedCase {
  const char* input;
  const char* out;  // all of the output after the banner, or a part of it (contains)
  bool contains;
};

const std::string kXs72(72, 'x');

TEST(Console, PipedInput) {
  const std::string long_result = "== {" + kXs72 + "...\n";
  const PipedCase cases[] = {
      {"1 + 1\n\n3\n", "== 2\n== 3\n", false},
      // lines gathered while a delimiter is open
      {"length? [1 2\n3]\n{abc\ndef}\n", "== 3\n== \"abc^/def\"\n", false},
      {"a/(1\n+ 1)\n", "*** Script Error: a", true},
      {"#{12\n34}\n<a\nb>\n", "== #{1234}\n== <a\nb>\n", false},
      // a line ending in Esc drops what was gathered
      {"[1 2\n\x1b\n1\n", "(escape)\n== 1\n", false},
      // definite syntax errors are reported at once
      {"1 + ]\n2\n", "*** Syntax Error: (line 1) missing [ at ]\n", true},
      {"\"abc\n2\n", "*** Syntax Error: (line 1) invalid string at \"abc\n", true},
      {"[1 2)\n2\n", "*** Syntax Error:", true},
      {"print 1\n", "1\n", false},
      // an error: its report and an empty line
      {"1 / 0\n", "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n*** Stack: ", true},
      {"1 / 0\n", "\n\n", true},
      {"break\n", "*** Throw Error: no loop to break\n", true},
      {"loop 3 [halt]\ntry [halt]\nattempt/safer [halt]\n", "(halted)\n(halted)\n== none\n", false},
      // only a halt is "(halted)": the word itself is a value like any other
      {"'halt-request\n", "== halt-request\n", false},
      {"append/dup copy \"\" \"x\" 1000\n", long_result.c_str(), false},
      // float! results are formed, the others molded
      {"1.5\n0.1 + 0.2\n", "== 1.5\n== 0.3\n", false},
      // failing prompt and result fields are reported and the defaults take over
      {"system/console/prompt: does [1 / 0]\n1\n", "*** Where: system/console/prompt\n", true},
      {"system/console/prompt: does [1 / 0]\n1\n", "== 1\n", true},
      {"system/console/result: does [1 / 0]\n1\n", "*** Where: system/console/result\n", true},
      {"system/console/result: \"=>\"\n1\n", "=> 1\n", true},
      // a prompt that is no string is formed; the cut still shows the result
      {"system/console/prompt: [1 2 3 4]\nappend/dup copy \"\" \"x\" 1000\n", "== {xxxxxx", true},
      // CR LF line ends; bad UTF-8 becomes U+FFFD
      {"1 + 1\r\nprint \"a\xff" "b\"\n", "== 2\na\xef\xbf\xbd" "b\n", false},
      // commands read the lines after them
      {"x: input\nhello\nx\n", "== \"hello\"\n== \"hello\"\n", false},
      // the end of the input runs what was pending
      {"[1\n", "*** Syntax Error: (line 2) missing ] at [1\n", true},
  };
  for (const PipedCase& c : cases) {
    kel::testing::KelOutcome r = run_kel_stdin(c.input);
    EXPECT_EQ(r.status, 0) << c.input;
    if (c.contains)
      EXPECT_NE(r.out.find(c.out), std::string::npos) << c.input << "\ngot: " << r.out;
    else
      EXPECT_EQ(r.out, c.out) << c.input;
  }
}

}  // namespace
