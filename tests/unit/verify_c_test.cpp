// What the `kel` program prints around an error: output made before the error stays,
// output of an expression that failed part-way is never shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kel_script.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {

using kel::testing::kel_program;
using Outcome = kel::testing::KelOutcome;
Outcome script(const std::string& text) { return kel::testing::run_kel_script(text); }
Outcome with_stdin(const std::string& input) { return kel::testing::run_kel_stdin(input); }

bool starts_with(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

}  // namespace

TEST(VerifyKelOutput, ArgumentPrintsBeforeItsTypeError) {
  const std::string expected = "1\n*** Script Error: f does not allow unset! for its x argument\n";
  Outcome r = with_stdin("f: func [x] [x] f (print 1)\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(starts_with(r.out, expected)) << r.out;
  r = script("Kel []\nf: func [x] [x] f (print 1)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(starts_with(r.out, expected)) << r.out;
}

TEST(VerifyKelOutput, FailedPrintShowsNothingAndTheNextPrintWorks) {
  Outcome r = with_stdin("print [1 nosuch]\nprint [2]\n");
  EXPECT_EQ(r.status, 0);
  // the report comes first: nothing of the failed print's buffer reached the output
  EXPECT_TRUE(starts_with(r.out, "*** Script Error: nosuch has no value\n")) << r.out;
  // the buffer was given back: the next print shows only its own text
  const std::string tail = "\n2\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
}
