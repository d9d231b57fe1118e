// Tracked heap, fatal messages and report format, terminal-restore hooks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/rt.h"
#include "runtime/terminal.h"

namespace rt = kel::rt;

TEST(Rt, FatalMessages) {
  struct { uint32_t code; const char* message; } cases[] = {
      {1, "access violation"},  {6, "float denormal operan"},   {11, "float stack check"},
      {13, "integer divide by zero"}, {19, "stack error or overflow"}, {21, "guard page"},
      {29, "hardware memory error consumed AR"}, {32, "segmentation fault"}, {34, "Bus error"},
      {94, "out of memory"},    {95, "no CATCH for THROW"},     {98, "assertion failed"},
      {99, "unknown error"},    {100, "no value matched in CASE"},
      {101, "no value matched in SWITCH"}, {0, "unknown error code!"}, {35, "unknown error code!"},
      {97, "unknown error code!"}, {0xFFFFFFFF, "unknown error code!"},
  };
  for (auto& c : cases) EXPECT_STREQ(rt::fatal_message(c.code), c.message) << c.code;
}

TEST(Rt, ReportFormat) {
  char buf[rt::FATAL_REPORT_MAX];
  size_t n = rt::format_fatal_report(13, 0x7FFF12345678ABCDu, buf);
  EXPECT_EQ(std::string(buf, n),
            "\n*** Runtime Error 13: integer divide by zero\n*** at: 7FFF12345678ABCDh\n");
  // The longest message and code fit the fixed buffer.
  n = rt::format_fatal_report(4294967295u, UINTPTR_MAX, buf);
  EXPECT_LE(n, sizeof buf);
  n = rt::format_fatal_report(29, 0, buf);
  EXPECT_EQ(std::string(buf, n),
            "\n*** Runtime Error 29: hardware memory error consumed AR\n*** at: 0000000000000000h\n");
}

TEST(Rt, TrackedHeap) {
  auto* a = static_cast<uint8_t*>(rt::alloc(100));
  std::memset(a, 0xAB, 100);
  a = static_cast<uint8_t*>(rt::realloc(a, 100000));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a[i], 0xAB);
  auto* z = static_cast<uint8_t*>(rt::alloc_zeroed(4096));
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(z[i], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(z) % 16, 0u);
  rt::free(a);
  rt::free(z);
  rt::free(nullptr);
  void* r = rt::realloc(nullptr, 10);
  rt::free(r);
}

TEST(RtDeathTest, HeapExhaustionIsFatal94) {
  EXPECT_EXIT(rt::alloc(SIZE_MAX / 2), ::testing::ExitedWithCode(94), "");
  EXPECT_EXIT(rt::realloc(rt::alloc(8), SIZE_MAX / 2), ::testing::ExitedWithCode(94), "");
  // Sizes whose head would wrap around are refused, not turned into tiny blocks.
  EXPECT_EXIT(rt::alloc(SIZE_MAX - 8), ::testing::ExitedWithCode(94), "");
  EXPECT_EXIT(rt::realloc(rt::alloc(8), SIZE_MAX), ::testing::ExitedWithCode(94), "");
}

TEST(RtDeathTest, FreeAllTrackedThenExit) {
  EXPECT_EXIT(
      {
        for (int i = 0; i < 1000; ++i) rt::alloc(64);
        rt::free_all_tracked();
        rt::free_all_tracked();  // an empty list stays empty
        rt::exit_process(-2);
      },
      ::testing::ExitedWithCode(254), "");
}

namespace {
int g_calls = 0;
void restore_a() { g_calls += 1; }
void restore_b() { g_calls += 10; }
}  // namespace

TEST(Rt, TerminalRestoreHooks) {
  // The terminal's own hook holds a slot from its start-up on, once per process, whatever
  // ran before in this one.
  kel::terminal::init();
  g_calls = 0;
  ASSERT_TRUE(rt::add_terminal_restore_hook(restore_a));
  ASSERT_TRUE(rt::add_terminal_restore_hook(restore_b));
  rt::run_terminal_restore_hooks();
  EXPECT_EQ(g_calls, 11);
  rt::remove_terminal_restore_hook(restore_a);
  rt::run_terminal_restore_hooks();
  EXPECT_EQ(g_calls, 21);
  rt::remove_terminal_restore_hook(restore_b);
  // The table is fixed: the ninth hook is refused rather than allocated.
  int added = 0;
  while (rt::add_terminal_restore_hook(restore_a)) ++added;
  EXPECT_EQ(added, 7);
  for (int i = 0; i < 8; ++i) rt::remove_terminal_restore_hook(restore_a);
  g_calls = 0;
  rt::run_terminal_restore_hooks();
  EXPECT_EQ(g_calls, 0);
}
