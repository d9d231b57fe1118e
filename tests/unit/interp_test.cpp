// The interpreter seen from outside: the C++-level checks of probe-interp, and the `kel`
// entry running scripts (header search, exit statuses) and standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "kel_script.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {

std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-interp"; }
using kel::testing::kel_program;
using Outcome = kel::testing::KelOutcome;
Outcome script(const std::string& text) { return kel::testing::run_kel_script(text); }
Outcome with_stdin(const std::string& input) { return kel::testing::run_kel_stdin(input); }

}  // namespace

TEST(Interp, CxxLevelChecks) {
  auto r = kel::testing::run_probe(probe(), {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(Interp, CxxLevelChecksUnderStress) {
  auto r = kel::testing::run_probe(probe(), {}, {"KEL_GC_STRESS=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST(KelEntry, Scripts) {
  struct {
    const char* text;
    int status;
    const char* out;
  } cases[] = {
      // text before the header is skipped, the header block is not evaluated
      {"#!/bin/x\nKel [] print 1 + 1\n", 0, "2\n"},
      {"notes\nKel [Title: \"t\"] print 1 + 1\n", 0, "2\n"},
      {"Kel\n\t[] print 3\n", 0, "3\n"},
      // an uncaught error: its report, status 1
      {"Kel [] print 1 nosuch\n", 1, "1\n*** Script Error: nosuch has no value\n"},
      // no header: one message, status 1
      {"print 1\n", 1, "*** Error: Kel header not found!\n"},
      {"Kelvin [] print 1\n", 1, "*** Error: Kel header not found!\n"},
      // overflow is reported, never a crash
      {"Kel [] f: func [n] [f n + 1] f 1\n", 1, "*** Internal Error: stack overflow\n"},
  };
  for (auto& c : cases) {
    Outcome r = script(c.text);
    EXPECT_EQ(r.status, c.status) << c.text;
    EXPECT_EQ(r.out.compare(0, std::string(c.out).size(), c.out), 0) << c.text << "\ngot: " << r.out;
  }
}

// The command line's usage, instead of a script named "--help".
TEST(KelEntry, Help) {
  for (const char* flag : {"--help", "-h"}) {
    auto r = kel::testing::run_probe(kel_program(), {flag});
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(r.out.rfind("Usage: kel", 0), 0u) << flag << "\ngot: " << r.out;
    EXPECT_EQ(r.out.find("cannot open"), std::string::npos) << r.out;
  }
}

TEST(KelEntry, StandardInput) {
  Outcome r = with_stdin("1 + 1\n\nprint 3\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "== 2\n3\n");
  // float! results are formed, others molded; unset prints nothing; errors their report
  r = with_stdin("\"a\"\n1.5\n:nosuch\nnosuch\n2\n");
  EXPECT_EQ(r.status, 0);
  const std::string head = "== \"a\"\n== 1.5\n*** ";
  EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
  EXPECT_NE(r.out.find("nosuch has no value"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("== 2\n"), std::string::npos) << r.out;
  // a syntax error in a line is reported at once and the loop goes on
  r = with_stdin("1 + ]\n5\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("*** Syntax Error: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("== 5\n"), std::string::npos) << r.out;
}

TEST(KelEntry, ReportTexts) {
  // The first report line of the interpreter's errors, as the console shows them.
  struct {
    const char* input;
    const char* line;
  } cases[] = {
      {"a:", "*** Script Error: a: needs a value"},
      {"nosuch", "*** Script Error: nosuch has no value"},
      {"+ 1", "*** Script Error: + operator is missing an argument"},
      {"1 +", "*** Script Error: + is missing its value2 argument"},
      {"append/only/only [] 1", "*** Script Error: duplicate refinement usage in: append/only/only"},
      {"append/foo [] 1", "*** Script Error: append has no refinement called foo"},
      {"f: func [x] [x] f (print 1)", "*** Script Error: f does not allow unset! for its x argument"},
      {"add \"a\" 1", "*** Script Error: add does not allow string! for its value1 argument"},
      {"#system [a]", "*** Internal Error: contains Kel/System code which requires compilation"},
      {"f: func [n] [f n + 1] f 1", "*** Internal Error: stack overflow"},
  };
  for (auto& c : cases) {
    Outcome r = with_stdin(std::string(c.input) + "\n");
    EXPECT_EQ(r.status, 0) << c.input;
    EXPECT_NE(r.out.find(std::string(c.line) + "\n"), std::string::npos) << c.input << "\ngot: " << r.out;
  }
}

