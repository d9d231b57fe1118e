// The line editor's pieces that need no terminal: key decoding, the escape-sequence scanner,
// the text measure, the output column count, and the readers of redirected input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/measure.h"
#include "kel_script.h"
#include "runtime/keys.h"
#include "runtime/output.h"

namespace keys = kel::keys;

namespace {
std::vector<int32_t> cps(const std::u32string& s) { return std::vector<int32_t>(s.begin(), s.end()); }
}  // namespace

TEST(EditorKeys, Decode) {
  struct {
    const char* bytes;
    bool final;
    size_t used;
    int32_t code;
  } cases[] = {
      {"a", false, 1, 'a'},
      {"\n", false, 1, 13},  // a pasted line end is Enter
      {"\r", false, 1, 13},
      {"\x7f", false, 1, 127},
      {"\x03", false, 1, 3},
      {"\x1b[A", false, 3, keys::UP},
      {"\x1b[B", false, 3, keys::DOWN},
      {"\x1b[C", false, 3, keys::RIGHT},
      {"\x1b[D", false, 3, keys::LEFT},
      {"\x1bOA", false, 3, keys::UP},
      {"\x1bOD", false, 3, keys::LEFT},
      {"\x1b[1;5D", false, 6, keys::LEFT},  // modifiers ignored
      {"\x1b[H", false, 3, keys::HOME},
      {"\x1bOH", false, 3, keys::HOME},
      {"\x1b[1~", false, 4, keys::HOME},
      {"\x1b[7~", false, 4, keys::HOME},
      {"\x1b[F", false, 3, keys::END},
      {"\x1b[4~", false, 4, keys::END},
      {"\x1b[8~", false, 4, keys::END},
      {"\x1b[2~", false, 4, keys::INSERT},
      {"\x1b[3~", false, 4, keys::DELETE},
      {"\x1b[3;5~", false, 6, keys::DELETE},
      {"\x1b[5~", false, 4, keys::PAGE_UP},
      {"\x1b[6~", false, 4, keys::PAGE_DOWN},
      {"\x1b[Z", false, 3, 9},
      {"\x1b[15~", false, 5, 0},          // F5: consumed, no key
      {"\x1bOP", false, 3, 0},            // F1
      {"\x1b[<0;3;4M", false, 9, 0},      // a mouse report
      {"\x1b", false, 0, 0},              // a lone ESC waits for what may follow
      {"\x1b", true, 1, 27},              // ... and is Esc when nothing does
      {"\x1bx", false, 1, 27},            // Esc and a key in one burst: two keys
      {"\x1b[1;", false, 0, 0},           // cut off: wait
      {"\x1b[1;", true, 4, 0},            // nothing more came: dropped
      {"\x1b[1\x1b[A", false, 3, 0},      // an ESC inside a sequence starts the next one
      {"\xc3\xa9", false, 2, 0xE9},
      {"\xe4\xbd\xa0", false, 3, 0x4F60},
      {"\xf0\x9f\x98\x80", false, 4, 0x1F600},
      {"\xe2\x82", false, 0, 0},          // UTF-8 split across reads waits
      {"\xe2\x82", true, 2, 0xFFFD},
      {"\xff", false, 1, 0xFFFD},
      {"\x80", false, 1, 0xFFFD},
      {"\xe2x", false, 1, 0xFFFD},        // a bad continuation: the lead alone is dropped
  };
  for (auto& c : cases) {
    std::string b(c.bytes);
    int32_t code = -99;
    size_t used = keys::decode_editor_key(reinterpret_cast<const uint8_t*>(b.data()), b.size(), c.final, &code);
    EXPECT_EQ(used, c.used) << testing::PrintToString(b);
    if (used) {
      EXPECT_EQ(code, c.code) << testing::PrintToString(b);
    }
  }
}

TEST(EditorKeys, ScanControlSequences) {
  struct {
    const char* bytes;
    keys::Seq kind;
    size_t length;
    int32_t count;
    bool mouse;
  } cases[] = {
      {"\x1b[<0;10;5M", keys::Seq::Control, 10, 3, true},
      {"\x1b[12;40R", keys::Seq::Control, 8, 2, false},
      {"\x1b[A", keys::Seq::Control, 3, 1, false},
      {"\x1b[1;2;3;4;5m", keys::Seq::Control, 12, 5, false},  // five counted, four kept
      {"\x1b[?25h", keys::Seq::Control, 6, 1, false},          // "?" skipped
      {"\x1b[12", keys::Seq::Incomplete, 1, 0, false},
      {"\x1b[1\x1b", keys::Seq::Abandoned, 4, 0, false},
      {"\x1bP1$r\x1b\\x", keys::Seq::String, 7, 0, false},
      {"\x1b]0;t\x1b\\", keys::Seq::String, 7, 0, false},
      {"\x1b]0;t", keys::Seq::Incomplete, 1, 0, false},
      {"\x1bOP", keys::Seq::Other, 1, 0, false},
  };
  for (auto& c : cases) {
    std::string b(c.bytes);
    keys::Sequence s = keys::scan(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    EXPECT_EQ(int(s.kind), int(c.kind)) << testing::PrintToString(b);
    if (s.kind == keys::Seq::Incomplete) continue;
    EXPECT_EQ(s.length, c.length) << testing::PrintToString(b);
    if (s.kind != keys::Seq::Control) continue;
    EXPECT_EQ(s.param_count, c.count) << testing::PrintToString(b);
    EXPECT_EQ(s.mouse, c.mouse) << testing::PrintToString(b);
  }
  std::string report = "\x1b[<64;3;2M";
  keys::Sequence s = keys::scan(reinterpret_cast<const uint8_t*>(report.data()), report.size());
  EXPECT_EQ(s.params[0], 64);
  EXPECT_EQ(s.params[1], 3);
  EXPECT_EQ(s.params[2], 2);
  EXPECT_EQ(s.final_byte, 'M');
  // A hostile number stops growing.
  std::string big = "\x1b[99999999999999999999A";
  s = keys::scan(reinterpret_cast<const uint8_t*>(big.data()), big.size());
  EXPECT_EQ(s.params[0], 99999);
}

TEST(EditorMeasure, ColumnsAndBytes) {
  struct {
    std::u32string text;
    int32_t room;
    bool hidden;
    int32_t width;
    const char* bytes;
  } cases[] = {
      {U"abc", 80, false, 3, "abc"},
      {U"a\tb", 80, false, 6, "a    b"},             // a tab is four spaces
      {U"\x1b[31m>> \x1b[0m", 80, false, 3, "\x1b[31m>> \x1b[0m"},  // colours take no column
      {U"\x1b(B", 80, false, 0, "\x1b(B"},
      {U"你好", 80, false, 4, "你好"},
      {U"\U0001F310", 80, false, 2, "\xf0\x9f\x8c\x90"},  // the emoji block is wide
      {U"a你", 2, false, 4, "a你"},                       // wide at the last column moves: 1 + 3
      {U"你", 1, false, 3, "你"},
      {U"ab", 1, false, 2, "ab"},
      {U"e\u0301", 80, false, 1, "e\xcc\x81"},           // a combining mark takes none
      {U"你b", 80, true, 2, "**"},                        // hidden: one star a character
      {U"\u009b", 80, false, 1, "\xef\xbf\xbd"},          // a C1 control is not sent
  };
  for (auto& c : cases) {
    std::vector<int32_t> t = cps(c.text);
    std::string out;
    int32_t w = kel::editor::measure(t.data(), t.size(), c.room, 80, c.hidden, &out);
    EXPECT_EQ(w, c.width) << testing::PrintToString(out);
    EXPECT_EQ(out, c.bytes);
  }
  // 39 wide characters after a 3-column prompt: 38 fill the row but its last column.
  std::vector<int32_t> wide(39, 0x4F60);
  EXPECT_EQ(kel::editor::measure(wide.data(), wide.size(), 77, 80, false, nullptr), 76 + 1 + 2);
}

TEST(EditorMeasure, Moves) {
  std::string out;
  kel::editor::append_move(&out, 2, 0, 5);
  EXPECT_EQ(out, "\x1b[2A\x1b[6G");
  out.clear();
  kel::editor::append_move(&out, 0, 3, 0);
  EXPECT_EQ(out, "\x1b[3B\x1b[1G");
  out.clear();
  kel::editor::append_move(&out, 1, 1, 9);
  EXPECT_EQ(out, "\x1b[10G");
}

TEST(OutputColumn, CountsWhatTheTerminalShows) {
  struct {
    const char* bytes;
    int32_t column;
  } cases[] = {
      {"abc", 3},
      {"ab\ncd", 2},
      {"abc\r", 0},
      {"\x1b[31mred\x1b[0m", 3},
      {"\x1b]2;title\x07x", 1},
      {"\x1b]2;title\x1b\\x", 1},
      {"你", 2},
      {"\xf0\x9f\x8c\x90", 2},
      {"a\tb", 9},
      {"ab\b", 1},
      {"e\xcc\x81", 1},
      {"\xff", 1},
  };
  for (auto& c : cases) {
    kel::platform::reset_output_column();
    std::string b(c.bytes);
    kel::platform::count_columns(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    EXPECT_EQ(kel::platform::output_column(), c.column) << testing::PrintToString(b);
  }
  // A character and a sequence split across writes.
  kel::platform::reset_output_column();
  for (const char* piece : {">\xe4", "\xbd\xa0\x1b[3", "1m> "}) {
    std::string b(piece);
    kel::platform::count_columns(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  }
  EXPECT_EQ(kel::platform::output_column(), 5);
  kel::platform::reset_output_column();
}

namespace {
// A script run with the bytes as its standard input.
kel::testing::KelOutcome script_with_input(const std::string& body, const std::string& input) {
  std::string script = kel::testing::temp_file("Kel []\n" + body + "\n");
  std::string in = kel::testing::temp_file(input);
  auto r = kel::testing::run_probe("/bin/sh", {"-c", kel::testing::kel_program() + " " + script + " < " + in});
  unlink(script.c_str());
  unlink(in.c_str());
  return {r.status, r.out};
}
}  // namespace

TEST(EditorRedirected, ReadersShareOneBuffer) {
  struct {
    const char* body;
    const char* input;
    const char* out;
  } cases[] = {
      // no prompt, no echo; CR kept; the end of input flagged once nothing is left
      {"print mold ask {x: } print mold input print _input-ended?", "1 + 1\r\nabc",
       "\"1 + 1^M\"\n\"abc\"\nfalse\n"},
      {"print mold input print _input-ended?", "", "\"\"\ntrue\n"},
      {"print mold input print mold input print _input-ended?", "a\n", "\"a\"\n\"\"\ntrue\n"},
      // bad bytes become U+FFFD and the line goes on to its LF
      {"print input", "a\xff" "b\n", "a\xef\xbf\xbd" "b\n"},
      {"print input", "a\xe2x\n", "a\xef\xbf\xbdx\n"},
      {"print input", "\xe2\x82", "\xef\xbf\xbd\n"},
      {"print input", "\xe2\x82\xac!\n", "\xe2\x82\xac!\n"},
      // input-stdin and read-stdin take what ask left
      {"ask {} print mold input-stdin b: make binary! 0 read-stdin b 3 print mold b print mold input",
       "1\n2\n345678\n", "\"2\"\n#{333435}\n\"678\"\n"},
      // read-stdin grows the binary and appends; a count of 0 or less reads nothing
      {"b: #{AA} read-stdin b 0 read-stdin b -5 print mold b read-stdin b 100 print mold b",
       "xy", "#{AA}\n#{AA7879}\n"},
      {"b: make binary! 0 read-stdin b 10 print mold b print _input-ended?", "", "#{}\nfalse\n"},
      // the history block is not touched when standard input is no terminal
      {"h: copy [] ask/history {} h print length? h", "abc\n", "0\n"},
  };
  for (auto& c : cases) {
    auto r = script_with_input(c.body, c.input);
    EXPECT_EQ(r.status, 0) << c.body;
    EXPECT_EQ(r.out, c.out) << c.body;
  }
}

TEST(EditorRedirected, SpecsAndHelp) {
  auto r = script_with_input(
      "foreach w [ask input _set-buffer-history _read-input input-stdin read-stdin "
      "_terminate-console _input-ended?] [print [w mold pick reflect get w 'spec 1]] "
      "print mold _terminate-console",
      "");
  EXPECT_EQ(r.out,
            "ask \"Prompt the user for input\"\n"
            "input \"Wait for console user input\"\n"
            "_set-buffer-history \"Internal Use Only\"\n"
            "_read-input \"Internal Use Only\"\n"
            "input-stdin \"Temporary function, internal use only\"\n"
            "read-stdin \"Temporary function, internal use only\"\n"
            "_terminate-console \"Internal Use Only\"\n"
            "_input-ended? \"Internal Use Only\"\n"
            "unset\n");
}
