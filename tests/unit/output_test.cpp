// Console output writers: encodings, line ends, escape pass-through, buffering across the
// 1,024-byte buffer, the low-level print and its number formats.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "output_capture.h"
#include "runtime/hooks.h"
#include "runtime/output.h"

using kel::testing::OutputCapture;
namespace platform = kel::platform;

TEST(Output, EncodeUtf8Char) {
  struct { uint32_t cp; std::vector<uint8_t> bytes; } cases[] = {
      {0x41, {0x41}}, {0x7F, {0x7F}}, {0x80, {0xC2, 0x80}}, {0xE9, {0xC3, 0xA9}},
      {0x7FF, {0xDF, 0xBF}}, {0x800, {0xE0, 0xA0, 0x80}}, {0xD800, {0xED, 0xA0, 0x80}},
      {0xFFFF, {0xEF, 0xBF, 0xBF}}, {0x10000, {0xF0, 0x90, 0x80, 0x80}},
      {0x1F600, {0xF0, 0x9F, 0x98, 0x80}}, {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}}, {0x110000, {}},
  };
  for (auto& c : cases) {
    uint8_t out[4] = {};
    int n = kel::unicode::encode_utf8_char(c.cp, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << std::hex << c.cp;
  }
}

TEST(Output, UnitSizesToUtf8) {
  OutputCapture cap;
  const uint8_t latin1[] = {'a', 0xE9};
  platform::write_latin1_text(latin1, 2);
  EXPECT_EQ(cap.take(), "a\xC3\xA9");
  const uint16_t ucs2[] = {0xE9, 0x20AC};
  platform::write_ucs2_line(ucs2, sizeof ucs2);
  EXPECT_EQ(cap.take(), "\xC3\xA9\xE2\x82\xAC\n");
  const uint32_t ucs4[] = {0x1F600};
  platform::write_ucs4_text(ucs4, sizeof ucs4);
  EXPECT_EQ(cap.take(), "\xF0\x9F\x98\x80");
  platform::write_ucs4_line(ucs4, sizeof ucs4);
  EXPECT_EQ(cap.take(), "\xF0\x9F\x98\x80\n");
  const uint32_t bad[] = {0x110000};
  platform::write_ucs4_text(bad, sizeof bad);
  EXPECT_EQ(cap.take(), "\xEF\xBF\xBD");
  platform::write_utf16_unit(0x41);
  EXPECT_EQ(cap.take(), "A");
}

TEST(Output, LongLatin1LineCrossesTheBuffer) {
  OutputCapture cap;
  std::string text(1200, '\xE9');
  platform::write_latin1_line(text.data(), text.size());
  std::string expected;
  for (int i = 0; i < 1200; ++i) expected += "\xC3\xA9";
  expected += "\n";
  EXPECT_EQ(cap.take(), expected);
  // Multi-byte characters straddling the flush point stay whole, also for UCS-4.
  std::vector<uint32_t> wide(700, 0x1F600);
  platform::write_ucs4_text(wide.data(), wide.size() * 4);
  std::string w = cap.take();
  ASSERT_EQ(w.size(), 2800u);
  for (size_t i = 0; i < w.size(); i += 4) ASSERT_EQ(w.compare(i, 4, "\xF0\x9F\x98\x80"), 0) << i;
}

TEST(Output, EscapeSequencesPassThrough) {
  OutputCapture cap;
  const char text[] = "\x1b[31mX\x1b[0m\x1b" "X\x1b[5z";
  platform::write_latin1_text(text, sizeof text - 1);
  EXPECT_EQ(cap.take(), std::string(text, sizeof text - 1));
}

TEST(Output, NumberFormats) {
  OutputCapture cap;
  struct { void (*print)(); const char* text; } cases[] = {
      {[] { platform::print_hex(255); }, "000000FF"},
      {[] { platform::print_hex(0xDEADBEEF); }, "DEADBEEF"},
      {[] { platform::print_hex_byte(10); }, "0A"},
      {[] { platform::print_hex_byte(0x1AB); }, "1AB"},
      {[] { platform::print_integer(-42); }, "-42"},
      {[] { platform::print_integer(INT_MIN); }, "-2147483648"},
      {[] { platform::print_float(1.0 / 3.0); }, "0.3333333333333333"},
      {[] { platform::print_float(1e16); }, "1e+16"},
      {[] { platform::print_float(0.5); }, "0.5"},
      {[] { platform::print_float32(0.1f); }, "0.1"},
      {[] { platform::print_float32(1.0f / 3.0f); }, "0.3333333"},
  };
  for (auto& c : cases) {
    c.print();
    EXPECT_EQ(cap.take(), c.text);
  }
}

namespace {
std::string g_seen;
void record_buffer(const char* text, size_t length, int flag) {
  g_seen += std::string(text, length) + "|" + std::to_string(flag) + ";";
}
}  // namespace

TEST(Output, LowLevelPrintRunsBufferHooks) {
  OutputCapture cap;
  kel::output::init();
  kel::output::add_hooks(nullptr, record_buffer);
  g_seen.clear();
  EXPECT_STREQ(platform::print_c_text("caf\xC3\xA9"), "caf\xC3\xA9");
  platform::print_integer(7);
  kel::output::remove_hooks(nullptr, record_buffer);
  EXPECT_EQ(cap.take(), "caf\xC3\xA9" "7");
  EXPECT_EQ(g_seen, "caf\xC3\xA9|0;7|0;");
}

TEST(Output, FailedWriteIsDropped) {
  int saved = platform::output_fd();
  platform::set_output_fd(-1);  // EBADF: nothing written, nothing raised, no hang
  platform::write_latin1_line("abc", 3);
  platform::set_output_fd(saved);
  OutputCapture cap;
  platform::write_latin1_text("ok", 2);
  EXPECT_EQ(cap.take(), "ok");
}
