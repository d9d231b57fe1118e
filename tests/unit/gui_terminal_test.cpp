// The terminal backend's lowest layer: output primitives byte for byte, colours, text measure,
// the input decoder (bytes in, recorded sink calls out, pass by pass), writes to a slow pipe,
// and the probe on a pty and with redirected standard input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "gui/terminal/console_io.h"
#include "gui/terminal/input.h"
#include "probe_run.h"
#include "runtime/output.h"

namespace gui = kel::gui;

namespace {

// Captures what the primitives write for the life of the scope.
struct Written {
  std::string bytes;
  Written() { gui::capture_output(&bytes); }
  ~Written() { gui::capture_output(nullptr); }
};

std::vector<std::string> g_calls;
bool g_active = true;
bool g_reset_on_a = false;

std::string fmt(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", double(v));
  return buf;
}
std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

const gui::InputSink kRecorder{
    [](int32_t c, int32_t s) {
      g_calls.push_back(s ? "special " + std::to_string(s) : "key " + std::to_string(c));
      if (g_reset_on_a && c == 'a') gui::reset_input();
    },
    [](int32_t t, float x, float y, uint32_t f) {
      g_calls.push_back("button " + std::to_string(t) + " " + fmt(x) + " " + fmt(y) + " " + hex(f));
    },
    [](int32_t t, float x, float y, uint32_t f) {
      g_calls.push_back("over " + std::to_string(t) + " " + fmt(x) + " " + fmt(y) + " " + hex(f));
    },
    [](int32_t s, float x, float y, uint32_t f) {
      g_calls.push_back("wheel " + std::to_string(s) + " " + fmt(x) + " " + fmt(y) + " " + hex(f));
    },
    [] { return g_active; },
    nullptr,
};

// A fresh decoder: each pass queues its bytes and decodes once.
std::vector<std::string> decode_passes(const std::vector<std::string>& passes) {
  gui::reset_input();
  gui::last_button_release() = true;
  gui::set_input_sink(&kRecorder);
  g_calls.clear();
  for (const std::string& p : passes) {
    for (char c : p) gui::queue_byte(uint8_t(c));
    gui::decode_input();
  }
  gui::set_input_sink(nullptr);
  return g_calls;
}

using Calls = std::vector<std::string>;

}  // namespace

TEST(GuiOutput, Primitives) {
  struct {
    void (*op)();
    const char* bytes;
  } cases[] = {
      {gui::mouse_on, "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h"},
      {gui::mouse_off, "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l"},
      {gui::enter_alt_screen, "\x1b[?1049h\x1b[2J"},
      {gui::leave_alt_screen, "\x1b[?1049l"},
      {gui::ask_cursor_position, "\x1b[6n"},
      {[] { gui::hide_cursor(); gui::hide_cursor(); }, "\x1b[?25l"},
      {[] { gui::show_cursor(); gui::show_cursor(); }, "\x1b[?25h"},
      {[] { gui::cursor_down(0); gui::cursor_down(-2); }, ""},
      {[] { gui::cursor_down(3); }, "\x1b[3B"},
      {[] { gui::set_mode(-7); gui::reset_mode(2004); }, "\x1b[?-7h\x1b[?2004l"},
  };
  gui::reset_console();
  for (auto& c : cases) {
    Written w;
    c.op();
    EXPECT_EQ(w.bytes, c.bytes);
  }
  // Each sets and clears the state the exit restore reads.
  EXPECT_FALSE(gui::console().cursor_hidden);
}

TEST(GuiOutput, SizeSeam) {
  gui::reset_console();
  gui::set_terminal_size(120, 40);
  EXPECT_EQ(gui::read_terminal_size(), 0);
  EXPECT_EQ(gui::console().columns, 120);
  EXPECT_EQ(gui::console().rows, 40);
  gui::set_terminal_size(0, 0);
  gui::reset_console();
}

TEST(GuiColour, RgbTo256) {
  struct {
    uint32_t colour;
    uint32_t word;
  } cases[] = {
      {0x000000FF, 0x020000C4},  // 255, 0, 0
      {0x00808080, 0x020000F4},  // 128, 128, 128: the grey is exact
      {0x00080808, 0x020000E8},
      {0x00040404, 0x020000E8},  // a tie goes to the grey
      {0xFF0000FF, 0},           // fully transparent: the default colour
      {0x00FFFFFF, 0x020000E7},  // white: the cube's last entry (the grey ramp ends at 238)
      {0x00000000, 0x02000010},
      {0x00FF8000, 0x02000021},  // 0, 128, 255 (B in bits 16-23): cube 0, 2, 5
  };
  for (auto& c : cases) EXPECT_EQ(gui::rgb_to_256(c.colour), c.word) << std::hex << c.colour;
  EXPECT_EQ(gui::cube_level(47), 0);
  EXPECT_EQ(gui::cube_level(114), 1);
  EXPECT_EQ(gui::cube_level(115), 2);
  EXPECT_EQ(gui::cube_level(255), 5);
  EXPECT_EQ(gui::palette_rgb(196), 0xFF0000u);
  EXPECT_EQ(gui::palette_rgb(244), 0x808080u);
}

TEST(GuiText, Measure) {
  struct {
    std::u32string text;
    int32_t limit;
    int32_t width, chars, lines;
  } cases[] = {
      {U"ab\nabcd", INT32_MAX, 4, 7, 2},
      {std::u32string(10, U'你'), 5, 4, 2, 1},
      {U"abc", 2, 2, 2, 1},
      {U"", 10, 0, 0, 1},
      {U"a\u0301b", 10, 2, 3, 1},  // a combining mark takes no cell
  };
  for (auto& c : cases) {
    std::vector<int32_t> t(c.text.begin(), c.text.end());
    int32_t chars = -1, lines = -1;
    EXPECT_EQ(gui::measure_codepoints(t.data(), t.size(), c.limit, &chars, &lines), c.width);
    EXPECT_EQ(chars, c.chars);
    EXPECT_EQ(lines, c.lines);
  }
  EXPECT_EQ(gui::char_width(0x4F60), 2);
  EXPECT_EQ(gui::char_width(0), 0);
}

TEST(GuiInput, DecodesPassByPass) {
  struct {
    std::vector<std::string> passes;
    Calls calls;
  } cases[] = {
      {{"\x1b"}, {"key 27"}},
      {{"a\x1b", ""}, {"key 97", "key 27"}},  // a cut ESC waits one pass, then is Esc
      {{"\x1b[<0;10;5M\x1b[<0;10;5m"},
       {"button 1 9.0 4.0 0x00000000", "button 2 9.0 4.0 0x00000000"}},
      {{"\x1b[<0;3;2M\x1b[<0;4;2M"}, {"button 1 2.0 1.0 0x00000000", "over 12 3.0 1.0 0x02000000"}},
      {{"\x1b[<64;3;2M"}, {"wheel 1 2.0 1.0 0x00000000"}},
      {{"\x1b[<65;3;2M"}, {"wheel -1 2.0 1.0 0x00000000"}},
      {{"\x1b[<35;5;5M"}, {"over 12 4.0 4.0 0x00000000"}},
      {{"\x1b[<20;1;1M"}, {"button 1 0.0 0.0 0x30000000"}},
      {{"\x1b[<8;1;1M"}, {"button 1 0.0 0.0 0x40000000"}},
      {{"\x1b[<66;1;1M\x1b[<67;1;1M"}, {}},  // horizontal wheel: nothing
      {{"\x1b[<0;1;1;1M"}, {}},              // four parameters: no report, no key
      {{"\x1b[1;2;3;4;5M"}, {}},
      {{"\x1b[A"}, {"special -20"}},
      {{"\x1b[B\x1b[C\x1b[D\x1b[F\x1b[H"}, {"special -21", "special -22", "special -23", "special -24", "special -25"}},
      {{"\x1b[3;5~"}, {"special -27"}},
      {{"\x1b[5~\x1b[6~"}, {"special -28", "special -29"}},
      {{"\x1b[1;5A"}, {}},
      {{"\x1bOP\x1bOQ\x1bOR\x1bOS"}, {"special -31", "special -32", "special -33", "special -34"}},
      {{"\x1b[15~\x1b[17~\x1b[18~\x1b[19~"}, {"special -35", "special -36", "special -37", "special -38"}},
      {{"\x1b[20~\x1b[21~\x1b[23~\x1b[24~"}, {"special -39", "special -40", "special -41", "special -42"}},
      {{"\x1b[Z"}, {"special 10"}},
      {{"\x1b[1~\x1b[7~\x1bOH"}, {"special -25", "special -25", "special -25"}},
      {{"\x1b[4~\x1b[8~\x1bOF"}, {"special -24", "special -24", "special -24"}},
      {{"\x1b[2~"}, {"special -26"}},
      {{"\x1bOA\x1bOB\x1bOC\x1bOD"}, {"special -20", "special -21", "special -22", "special -23"}},
      {{"\x1bxy"}, {}},  // ESC and a letter: the pair makes no event
      {{"\x08", "\n", "\x03", std::string(1, '\0')}, {"key 127", "key 13", "key 3", "key 0"}},
      {{"\xc3\xa9"}, {"key 233"}},
      {{"\xf0\x9f\x98\x80"}, {"key 128512"}},
      {{"\xe2\x82", "\xac"}, {"key 8364"}},
      {{"\xe2\x82", "", ""}, {}},            // cut UTF-8 waits for its bytes
      {{"\x1bP1$r\x1b\\x"}, {"key 120"}},
      {{"\x1b]0;t\x1b\\x"}, {"key 120"}},
      {{"\xff" "a"}, {"key 97"}},            // a bad byte is dropped
      {{"\xe2x"}, {"key 120"}},
      {{"\x1b[<0;10;", "5M"}, {"button 1 9.0 4.0 0x00000000"}},
      {{"\x1b[<0;10;", "", "5M"}, {"key 53", "key 77"}},  // no new byte: the piece is dropped
      {{"\x1b[1\x1b[A"}, {"key 91", "key 65"}},  // an ESC abandons a sequence and goes with it
      {{"\x1b[12;40R"}, {}},
  };
  for (auto& c : cases) {
    gui::console().display_row = 0;
    std::string shown;
    for (auto& p : c.passes) shown += testing::PrintToString(p) + " ";
    EXPECT_EQ(decode_passes(c.passes), c.calls) << shown;
  }
}

TEST(GuiInput, ReportsAndState) {
  gui::console().display_row = 2;
  EXPECT_EQ(decode_passes({"\x1b[<0;10;5M\x1b[<0;10;5m"}),
            (Calls{"button 1 9.0 2.0 0x00000000", "button 2 9.0 2.0 0x00000000"}));
  decode_passes({"\x1b[12;40R"});
  EXPECT_EQ(gui::console().display_row, 11);
  EXPECT_EQ(gui::console().display_column, 39);
  EXPECT_EQ(decode_passes({"\x1b[1;2R"}), Calls{});  // a report, not Shift-F3
  EXPECT_EQ(gui::console().display_row, 0);
  EXPECT_EQ(gui::console().display_column, 1);
  // Mouse reports need an active window.
  gui::console().display_row = 0;
  g_active = false;
  EXPECT_EQ(decode_passes({"\x1b[<0;1;1M"}), Calls{});
  g_active = true;
  // A key handler that resets the queue (a nested loop) ends the pass.
  g_reset_on_a = true;
  EXPECT_EQ(decode_passes({"abc"}), Calls{"key 97"});
  g_reset_on_a = false;
  // The queue: a pass that begins past its bytes empties it; a cut piece moves to the front.
  gui::reset_input();
  for (char c : std::string("ab\xe2")) gui::queue_byte(uint8_t(c));
  gui::decode_input();
  EXPECT_EQ(gui::queued_count(), 1u);
  EXPECT_EQ(gui::read_position(), 1u);
  EXPECT_TRUE(gui::incomplete_q());
  gui::queue_char(0x20AC);
  gui::reset_input();
  gui::queue_char('x');
  gui::decode_input();
  EXPECT_TRUE(gui::input_exhausted_q());
  gui::decode_input();
  EXPECT_EQ(gui::queued_count(), 0u);
  EXPECT_EQ(gui::read_position(), 1u);
}

TEST(GuiOutput, SlowPipeGetsEveryByte) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);  // writes meet EAGAIN
  std::string sent(4 << 20, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = char(i * 7 + i / 251);
  std::string got;
  std::thread reader([&] {
    char buf[65536];
    for (;;) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, size_t(n));
    }
  });
  int old = kel::platform::output_fd();
  kel::platform::set_output_fd(fds[1]);
  gui::write_out(sent.data(), sent.size());
  kel::platform::set_output_fd(old);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size();
}

namespace {
std::string probe() { return std::string(KEL_PROBE_DIR) + "/probe-gui_terminal"; }

// Reads the pty until the text shows or 10 s pass.
bool read_until(int fd, std::string* out, const std::string& text) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buf[4096];
  while (out->find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > end) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    out->append(buf, size_t(n));
  }
  return true;
}
}  // namespace

TEST(GuiTerminal, ModesOnAPty) {
  int master = -1;
  winsize ws{};
  ws.ws_col = 100;
  ws.ws_row = 30;
  pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string p = probe();
    execl(p.c_str(), p.c_str(), "modes", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string out;
  ASSERT_TRUE(read_until(master, &out, "ready")) << out;
  // Raw while set up: no line discipline, no signals, reads return at once.
  EXPECT_NE(out.find("between icanon 0 echo 0 isig 0 ixon 0 icrnl 0 opost 1 vmin 0 set-up 1"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\x1b[6n"), std::string::npos);  // the inline display asks where it is
  ws.ws_col = 90;
  ioctl(master, TIOCSWINSZ, &ws);
  ASSERT_TRUE(read_until(master, &out, "restored")) << out;
  EXPECT_NE(out.find("woke 2 size 90x30 poll 1"), std::string::npos) << out;
  int st = 0;
  waitpid(pid, &st, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

TEST(GuiTerminal, RedirectedChangesNothing) {
  char path[] = "/tmp/kel-gui-input-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "abc\n", 4), 4);
  close(fd);
  for (std::string in : {std::string("/dev/null"), std::string(path)}) {
    auto r = kel::testing::run_probe("/bin/sh", {"-c", probe() + " redirected < " + in});
    EXPECT_EQ(r.out, "set-up 0\npoll 0\nunread 1\nsize 80x24 -1\n") << in;
  }
  unlink(path);
}
