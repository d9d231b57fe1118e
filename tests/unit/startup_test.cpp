// Start-up and fatal paths seen from outside: the probe runs the real start-up sequence with
// one scenario each; exit status and standard output are checked here.
#include <gtest/gtest.h>

#include <cctype>
#include <csignal>

#include "kel_script.h"
#include "probe_run.h"
#include "runtime/startup.h"

#ifndef KEL_PROBE_DIR
#error "KEL_PROBE_DIR must name the folder of the probe programs"
#endif

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-startup"; }

// "\n*** Runtime Error <code>: <message>\n*** at: <16 upper-case hex digits>h\n"
bool is_report(const std::string& out, int code, const char* message) {
  std::string head = "\n*** Runtime Error " + std::to_string(code) + ": " + message + "\n*** at: ";
  if (out.size() != head.size() + 18 || out.compare(0, head.size(), head) != 0) return false;
  for (size_t i = head.size(); i < head.size() + 16; ++i)
    if (!std::isdigit(static_cast<unsigned char>(out[i])) && !(out[i] >= 'A' && out[i] <= 'F')) return false;
  return out.compare(head.size() + 16, 2, "h\n") == 0;
}
}  // namespace

// With nothing to read the console prints its banner alone and ends with 0.
TEST(Startup, KelExitsQuietly) {
  auto r = kel::testing::run_kel_stdin_whole("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(kel::testing::console_banner_length(r.out), r.out.size()) << r.out;
  EXPECT_EQ(r.out.rfind("--== Kel 0.", 0), 0u) << r.out;
}

TEST(Startup, FatalPathsReportAndExit) {
  struct { const char* scenario; int code; const char* message; } cases[] = {
      {"idiv0", 13, "integer divide by zero"},
      {"null-store", 1, "access violation"},
      {"recursion", 19, "stack error or overflow"},
      {"ud2", 23, "illegal operand"},
      {"bus", 27, "non-existent physical address"},
      {"throw", 95, "no CATCH for THROW"},
      {"bad-alloc", 94, "out of memory"},
      {"other", 99, "unknown error"},
      {"fatal6", 6, "float denormal operan"},
      {"fatal97", 97, "unknown error code!"},
  };
  for (auto& c : cases) {
    auto r = kel::testing::run_probe(probe(), {c.scenario});
    EXPECT_EQ(r.status, c.code) << c.scenario;
    EXPECT_TRUE(is_report(r.out, c.code, c.message))
        << c.scenario << ": " << r.out;
  }
}

TEST(Startup, QuietExits) {
  struct { const char* scenario; int status; } cases[] = {
      {"fatal0", 0}, {"quit3", 3}, {"uncaught-error", 254}, {"none", 0},
  };
  for (auto& c : cases) {
    auto r = kel::testing::run_probe(probe(), {c.scenario});
    EXPECT_EQ(r.status, c.status) << c.scenario;
    EXPECT_EQ(r.out, "") << c.scenario;
  }
}

// The console library's launch, once it has a value: 0 when it returns, 1 after an error
// it lets through (reported).
TEST(Startup, ConsoleLibraryLaunch) {
  auto r = kel::testing::run_probe(probe(), {"console-library"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "launched\n");
  r = kel::testing::run_probe(probe(), {"console-library-error"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("*** Math Error: attempt to divide by zero", 0), 0u) << r.out;
}

// quit-return flushes what was printed, then ends the process with the status modulo 256.
TEST(Startup, QuitReturnStatus) {
  auto r = kel::testing::run_kel_stdin("quit-return -2\nprint 1\n");
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "");
  r = kel::testing::run_kel_stdin("prin \"a\" quit-return 259\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "a");
  r = kel::testing::run_kel_script("Kel [] write-stdout \"b\" quit-return 7 print 2");
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "b");
}

TEST(Startup, InterruptRestoresTerminalAndFails) {
  auto r = kel::testing::run_probe(probe(), {"sigint"});
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "restored\n");
}

TEST(Startup, FatalRunsRestoreHooksFirst) {
  auto r = kel::testing::run_probe(probe(), {"restore-on-fatal"});
  EXPECT_EQ(r.status, 98);
  EXPECT_EQ(r.err, "restored\n");
  EXPECT_NE(r.out.find("assertion failed"), std::string::npos);
}

TEST(Startup, EvaluationThreadFloatMode) {
  auto r = kel::testing::run_probe(probe(), {"fpmode"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "nearest inf 00001F80 0000027F");
}

TEST(Startup, ArgumentsKept) {
  auto r = kel::testing::run_probe(probe(), {"args", "h\xC3\xA9llo", ""});
  EXPECT_EQ(r.out, probe() + "\nargs\nh\xC3\xA9llo\n\n");
}

TEST(Startup, ConsoleFlagOffWhenPiped) {
  auto r = kel::testing::run_probe(probe(), {"console-flag"});
  EXPECT_EQ(r.out, "console 0\n");
}

TEST(Startup, ClosedPipeIsNotFatal) {
  // The reader goes away at once; the writer must neither die of SIGPIPE nor stop early.
  std::string cmd = probe() + " flood | true";
  int st = std::system(("bash -c 'set -o pipefail; " + cmd + "'").c_str());
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

TEST(Startup, SignalCodes) {
  using kel::rt::signal_fatal_code;
  struct { int sig, code; uint32_t fatal; } cases[] = {
      {SIGFPE, FPE_INTDIV, 13}, {SIGFPE, FPE_INTOVF, 14}, {SIGFPE, FPE_FLTDIV, 7},
      {SIGFPE, FPE_FLTOVF, 10}, {SIGFPE, FPE_FLTUND, 12}, {SIGFPE, FPE_FLTRES, 8},
      {SIGFPE, FPE_FLTINV, 9},  {SIGFPE, FPE_FLTSUB, 5},  {SIGFPE, 0, 33},
      {SIGSEGV, SEGV_MAPERR, 1}, {SIGBUS, BUS_ADRALN, 2}, {SIGBUS, BUS_ADRERR, 27},
      {SIGBUS, BUS_OBJERR, 28}, {SIGBUS, BUS_MCEERR_AR, 29}, {SIGBUS, BUS_MCEERR_AO, 30},
      {SIGBUS, 0, 34},          {SIGILL, ILL_ILLOPC, 17}, {SIGILL, ILL_ILLOPN, 23},
      {SIGILL, ILL_ILLADR, 24}, {SIGILL, ILL_ILLTRP, 25}, {SIGILL, ILL_PRVOPC, 15},
      {SIGILL, ILL_PRVREG, 31}, {SIGILL, ILL_COPROC, 26}, {SIGILL, ILL_BADSTK, 19},
  };
  for (auto& c : cases)
    EXPECT_EQ(signal_fatal_code(c.sig, c.code, 0x1000), c.fatal) << c.sig << "/" << c.code;
}

TEST(Startup, EvaluationThreadStack) {
  struct Seen {
    kel::rt::StackBounds b;
    uintptr_t sp;
  } seen{};
  int r = kel::rt::run_on_evaluation_thread(
      [](void* p) {
        auto* s = static_cast<Seen*>(p);
        s->b = kel::rt::evaluation_stack();
        s->sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        // A fault in the guard region is a stack overflow, elsewhere an access violation.
        EXPECT_EQ(kel::rt::signal_fatal_code(SIGSEGV, SEGV_ACCERR, s->b.guard_high - 8), 19u);
        EXPECT_EQ(kel::rt::signal_fatal_code(SIGSEGV, SEGV_ACCERR, s->b.high + 4096), 1u);
        return 7;
      },
      &seen);
  EXPECT_EQ(r, 7);
  EXPECT_GE(seen.b.high - seen.b.low, size_t(256) << 20);
  EXPECT_GT(seen.sp, seen.b.low);
  EXPECT_LT(seen.sp, seen.b.high);
  EXPECT_EQ(seen.b.guard_high, seen.b.low);
}
