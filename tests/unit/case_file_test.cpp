// Case-file reader: splitting lines outside strings, the four kinds of expectation, comments,
// and matching outcomes against them.
#include <gtest/gtest.h>

#include <sstream>

#include "case_file.h"

using namespace kel::cases;

TEST(CaseFile, Split) {
  struct { const char* line; bool ok; const char* input; const char* expected; } cases[] = {
      {"1 + 2 => 3", true, "1 + 2", "3"},
      {"x =>", true, "x", ""},
      {"\"a => b\" => \"a => b\"", true, "\"a => b\"", "\"a => b\""},
      {"{a => {b}} => {x}", true, "{a => {b}}", "{x}"},
      {"\"a^\" => b\" => 1", true, "\"a^\" => b\"", "1"},
      {"[a => b] => [c]", true, "[a => b]", "[c]"},
      {"[1 2 => !! syntax/missing", true, "[1 2", "!! syntax/missing"},  // unclosed block
      {"a=>b", false, "", ""},
      {"no arrow here", false, "", ""},
      {"=> 3", false, "", ""},
      {"a =>b", false, "", ""},
  };
  for (auto& c : cases) {
    std::string in, ex;
    ASSERT_EQ(split_case(c.line, &in, &ex), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(in, c.input) << c.line;
    EXPECT_EQ(ex, c.expected) << c.line;
  }
}

TEST(CaseFile, ReadKindsCommentsAndErrors) {
  auto f = read_cases(
      "; comment\n"
      "\n"
      "1 => 1\n"
      "  ; indented comment\n"
      "1 / 0 => !! math/zero-divide\n"
      "print 1 => prints: a^/b^^c\n"
      "comment {x} =>\r\n"
      "broken line\n");
  ASSERT_EQ(f.cases.size(), 4u);
  EXPECT_EQ(f.cases[0].line, 3);
  EXPECT_EQ(f.cases[0].kind, Expect::MOLDED);
  EXPECT_EQ(f.cases[1].kind, Expect::ERROR);
  EXPECT_EQ(f.cases[1].expected, "math/zero-divide");
  EXPECT_EQ(f.cases[2].kind, Expect::PRINTS);
  EXPECT_EQ(f.cases[2].expected, "a\nb^c");
  EXPECT_EQ(f.cases[3].kind, Expect::NOTHING);
  EXPECT_EQ(f.cases[3].line, 7);
  ASSERT_EQ(f.errors.size(), 1u);
  EXPECT_EQ(f.errors[0].line, 8);
}

TEST(CaseFile, Matching) {
  Outcome value{false, "", true, "3", ""};
  Outcome error{true, "math/zero-divide", false, "", ""};
  Outcome printed{false, "", false, "", "hi\n"};
  Outcome nothing{};
  Case molded{1, "x", Expect::MOLDED, "3"};
  Case err{1, "x", Expect::ERROR, "math/zero-divide"};
  Case prints{1, "x", Expect::PRINTS, "hi"};
  Case none{1, "x", Expect::NOTHING, ""};
  EXPECT_TRUE(matches(molded, value));
  EXPECT_FALSE(matches(molded, error));
  EXPECT_TRUE(matches(err, error));
  EXPECT_FALSE(matches(err, value));
  EXPECT_TRUE(matches(prints, printed));
  EXPECT_FALSE(matches(prints, nothing));
  EXPECT_TRUE(matches(none, nothing));
  EXPECT_FALSE(matches(none, printed));
  EXPECT_FALSE(matches(none, value));
}

TEST(CaseFile, RunnerReportsFileAndLine) {
  fake_reset();
  auto f = read_cases("x: 2 => 2\nx + 1 => 4\nbad\nprint x => prints: 2\n");
  std::ostringstream out;
  EXPECT_EQ(run_cases("t.kel", f, fake_evaluate, out), 2);
  EXPECT_NE(out.str().find("t.kel:3: not a case"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("t.kel:2: x + 1\n    expected: 4\n    got:      3\n"), std::string::npos)
      << out.str();
}
