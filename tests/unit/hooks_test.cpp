// Output hook lists (growth, removal, order) and the console string printer.
#include <gtest/gtest.h>

#include <string>

#include "output_capture.h"
#include "runtime/hooks.h"

namespace output = kel::output;
using kel::testing::OutputCapture;

namespace {
std::string g_log;
template <int N>
void tag_hook(const output::TextView&, int newline) {
  g_log += std::to_string(N) + (newline ? "n" : "") + " ";
}
}  // namespace

TEST(Hooks, InitRegistersThePrinter) {
  output::init();
  ASSERT_EQ(output::value_hooks.count, 1u);
  EXPECT_EQ(output::value_hooks.capacity, 5u);
  EXPECT_EQ(output::value_hooks.items[0], &output::print_string);
  EXPECT_EQ(output::buffer_hooks.count, 0u);
  EXPECT_EQ(output::buffer_hooks.capacity, 5u);
}

TEST(Hooks, SixthHookGrowsByFiveAndKeepsOrder) {
  output::init();
  output::remove_hooks(output::print_string, nullptr);
  output::add_hooks(tag_hook<1>, nullptr);
  output::add_hooks(tag_hook<2>, nullptr);
  output::add_hooks(tag_hook<3>, nullptr);
  output::add_hooks(tag_hook<4>, nullptr);
  output::add_hooks(tag_hook<5>, nullptr);
  EXPECT_EQ(output::value_hooks.capacity, 5u);
  output::add_hooks(tag_hook<6>, nullptr);
  EXPECT_EQ(output::value_hooks.capacity, 10u);
  EXPECT_EQ(output::value_hooks.count, 6u);
  g_log.clear();
  output::run_hooks({"x", 1, 0, 1}, 1);
  EXPECT_EQ(g_log, "1n 2n 3n 4n 5n 6n ");
  output::init();
}

TEST(Hooks, RemoveTakesTheFirstEqualOnly) {
  output::init();
  output::remove_hooks(tag_hook<9>, nullptr);  // never added: unchanged
  EXPECT_EQ(output::value_hooks.count, 1u);
  EXPECT_EQ(output::value_hooks.items[0], &output::print_string);
  output::remove_hooks(output::print_string, nullptr);
  output::add_hooks(tag_hook<1>, nullptr);
  output::add_hooks(tag_hook<2>, nullptr);
  output::add_hooks(tag_hook<1>, nullptr);
  output::remove_hooks(tag_hook<1>, nullptr);
  g_log.clear();
  output::run_hooks({"x", 1, 0, 1}, 0);
  EXPECT_EQ(g_log, "2 1 ");
  output::init();
}

TEST(Hooks, PrintString) {
  output::init();
  OutputCapture cap;
  struct { output::TextView view; int newline; const char* out; } cases[] = {
      {{"abc", 1, 0, 3}, 1, "abc\n"},
      {{"abc", 1, 0, 3}, 0, "abc"},
      {{"abcdef", 1, 2, 6}, 0, "cdef"},
      {{"abc", 1, 7, 3}, 0, ""},     // index past the tail: nothing, not a negative length
      {{"abc", 1, 7, 3}, 1, "\n"},
      {{u"h\u00e9", 2, 0, 2}, 0, "h\xC3\xA9"},
      {{U"\U0001F600", 4, 0, 1}, 1, "\xF0\x9F\x98\x80\n"},
      {{"abc", 3, 0, 1}, 1, "Error: unknown string encoding: 3"},
  };
  for (auto& c : cases) {
    output::run_hooks(c.view, c.newline);
    EXPECT_EQ(cap.take(), c.out);
  }
}
