// The debugger, the tracer and the profiler as a user meets them at the console, input piped:
// stops, commands, watches, the history, the options after the run, the profiler's report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kel_script.h"

namespace {

using kel::testing::run_kel_stdin;

// The programs started here run without the collector stress: each is a whole console
// start-up (tens of seconds under stress), and the same Kel code runs under stress in
// tests/cases/tools.kel.
struct NoChildStress {
  std::string saved;
  bool had;
  NoChildStress() {
    const char* s = std::getenv("KEL_GC_STRESS");
    had = s != nullptr;
    if (had) saved = s;
    setenv("KEL_GC_STRESS", "0", 1);
  }
  ~NoChildStress() {
    if (had) setenv("KEL_GC_STRESS", saved.c_str(), 1);
    else unsetenv("KEL_GC_STRESS");
  }
};

struct ToolCase {
  const char* input;
  std::vector<const char*> present;  // in this order
  std::vector<const char*> absent;   // after the last present text
};

void check(const ToolCase& c) {
  kel::testing::KelOutcome r = run_kel_stdin(c.input);
  EXPECT_EQ(r.status, 0) << c.input;
  size_t at = 0;
  for (const char* p : c.present) {
    size_t f = r.out.find(p, at);
    EXPECT_NE(f, std::string::npos) << c.input << "\nmissing: " << p << "\ngot: " << r.out;
    if (f == std::string::npos) return;
    at = f + std::string(p).size();
  }
  for (const char* a : c.absent)
    EXPECT_EQ(r.out.find(a, at), std::string::npos)
        << c.input << "\nunexpected: " << a << "\ngot: " << r.out;
}

TEST(Tools, Debugger) {
  NoChildStress plain;
  const ToolCase cases[] = {
      // the first stop is the fetch of 1; c runs to the end without stopping
      {"debug [1 + 2]\n\nc\n",
       {"-----> EVAL 1\nInput: 1 + 2\n", "-empty stack-\n", "-----> PUSH 1\n", "Stack: 1\n"},
       {"----->", "=="}},
      // a watched word shows at every later stop, until it is unwatched
      {"x: 5\ndebug [x + 1]\n+w x\n\n-w x\n\n\n\n\n\n",
       {"-----> EVAL x", "-----> PUSH 5\n", "Watch: x: 5\n", "-----> OPEN +"},
       {"Watch:"}},
      {"x: 5\ndebug [x + 1]\nw x\n\n",
       {"-----> PUSH 5\n", "Watch: x: 5\n"}, {}},
      // an unknown command and a value asked for: the stop stays
      {"debug [1]\nxyz\n:system/tools/tracers/mold-size\nc\n",
       {"-----> EVAL 1", "Unknown command!\n", "== 30\n"}, {"----->"}},
      {"debug [1]\n?\nc\n",
       {"\t`help` or `?`: print a list", "\t`-indent` or `-i`: do not indent the output of the"},
       {}},
      // @stop and @go switch the stops on and off
      {"debug/later [1 @stop 2 @go 3]\n\n\n\n\n\n\n",
       {"-----> EVAL @stop", "-----> PUSH @stop", "-----> EVAL 2", "-----> PUSH 2\n"},
       {"----->"}},
      {"debug/later [1 + 2]\n", {}, {"----->"}},
      // an error stops once, then is reported as usual
      {"debug/later [1 / 0]\n\n",
       {"-----> ERROR make error! [code: 400", "*** Math Error: attempt to divide by zero"},
       {"----->"}},
      // a call names the function and its type; p lists the calls being run
      {"f: func [a] [a * 2]\ndebug [f 3]\n\n\n\n\n\np\nc\n",
       {"-----> CALL f (function!)", "-----> EVAL a\n", "Call: f\n"}, {"Call: do"}},
      {"f: func [a] [a * 2]\ndebug [f 3]\n+p\n\n\n\n\n\nc\n", {"-----> EVAL a\n", "Call: f\n"}, {}},
      {"debug [1 + 2]\n\n\n\n\n\n", {"-----> CALL + (op!)", "-----> RETURN 3"}, {}},
      {"debug [x: 2]\n\n\n\n\n", {"-----> SET x: 2"}, {}},
      // q halts; the settings changed with + and - do not outlive the run
      {"debug [1]\n-s\nq\nsystem/tools/options/debug/show-stack?\n", {"(halted)\n", "== true\n"},
       {}},
      {"debug [1 / 0]\n+i\nc\n\nsystem/tools/options/debug/stack-indent?\n",
       {"*** Math Error", "== false\n"}, {}},
      {"debug [1 + 2]\n-s\n\n+s\n\nc\n", {"-----> PUSH 1\nInput: 1 + 2\n-----> EVAL +"}, {}},
      // a command line that does not load raises its error in the debugged code
      {"debug [1]\n[\n", {"*** Syntax Error"}, {}},
      {"debug [1]\n:[\n", {"*** Syntax Error"}, {}},
      // a word with no value: its error is shown, the stop stays
      {"debug [1]\n:no-such-word\nc\n", {"*** Script Error: no-such-word has no value"}, {"----->"}},
      // an indented stack: two spaces per step
      {"debug [1 + add 2 3]\n+i\n\n\n\n\n\n\n\nc\n", {"Stack: +\nStack:   add\nStack:     2\n"},
       {}},
      {"debug [1]\nc\n", {}, {"=="}},
  };
  for (const ToolCase& c : cases) check(c);
}

TEST(Tools, Profiler) {
  NoChildStress plain;
  const ToolCase cases[] = {
      {"f: func [] [1] profile [f f f]\n", {"== 1\n\n#1   f                | 3          | 0:00:00"}, {}},
      {"profile [print \"x\"]\n", {"x\n#1   print            | 1          | "}, {"=="}},
      {"profile/by [1] 'foo\n", {"*** Script Error: invalid argument: foo"}, {"#1"}},
  };
  for (const ToolCase& c : cases) check(c);
  // a script file is run with the profiler as its tracer
  std::string file = kel::testing::temp_file("Kel []\nf: func [] [1]\nf f\n");
  ASSERT_FALSE(file.empty());
  check({("profile %" + file + "\n").c_str(),
         {"#1   f                | 2          | ", "#2   func             | 1          | "},
         {"#3"}});
  unlink(file.c_str());
}

TEST(Tools, Tracer) {
  NoChildStress plain;
  const ToolCase cases[] = {
      {"trace [x: 1 + 2 print x]\n",
       {"  x: 1 + 2                           => 3", "\n3\n", "  print x                            => unset"},
       {}},
      {"trace [1 / 0]\n", {" => make error!", "*** Math Error"}, {}},
      {"trace/raw [1]\n", {"INIT -1 none none", "END -1 none none"}, {}},
  };
  for (const ToolCase& c : cases) check(c);
}

}  // namespace
