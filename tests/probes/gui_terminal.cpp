// Probe: the GUI backend's terminal layer on a real terminal (tmux, a pty) or redirected,
// driven from outside: modes, sizes, waiting, keys, and the restores on every way out.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gui/terminal/console_io.h"
#include "gui/terminal/input.h"
#include "runtime/output.h"
#include "runtime/rt.h"
#include "runtime/terminal.h"

namespace gui = kel::gui;
namespace terminal = kel::terminal;

namespace {
void say(const std::string& s) {
  std::string line = s + "\n";
  kel::platform::write_bytes(line.data(), line.size());
}

std::string modes_text(const termios& t) {
  auto off = [](tcflag_t flags, tcflag_t bit) { return (flags & bit) ? "1" : "0"; };
  return std::string("icanon ") + off(t.c_lflag, ICANON) + " echo " + off(t.c_lflag, ECHO) + " isig " +
         off(t.c_lflag, ISIG) + " ixon " + off(t.c_iflag, IXON) + " icrnl " + off(t.c_iflag, ICRNL) +
         " opost " + off(t.c_oflag, OPOST) + " vmin " + std::to_string(int(t.c_cc[VMIN]));
}

bool same(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

bool g_quit = false;
void print_key(int32_t character, int32_t special) {
  say("key " + std::to_string(character) + " " + std::to_string(special));
  if (character == 'q') g_quit = true;
}
bool active() { return true; }
void print_button(int32_t type, float x, float y, uint32_t flags) {
  say("button " + std::to_string(type) + " " + std::to_string(int(x)) + " " + std::to_string(int(y)) + " " +
      std::to_string(flags));
}
const gui::InputSink kPrinting{print_key, print_button, nullptr, nullptr, active, nullptr};

// Passes of up to 100 ms until the key q.
void key_loop() {
  gui::reset_input();
  gui::set_input_sink(&kPrinting);
  g_quit = false;
  while (!g_quit) {
    terminal::wait(100);
    gui::poll_console(true);
    gui::decode_input();
  }
}
}  // namespace

int main(int argc, char** argv) {
  terminal::init();
  std::string what = argc > 1 ? argv[1] : "";
  if (what == "size") {
    int32_t r = gui::read_terminal_size();
    say("size " + std::to_string(gui::console().columns) + "x" + std::to_string(gui::console().rows) + " " +
        std::to_string(r));
  } else if (what == "modes") {
    // Enter and leave, with a size change between: the modes come back as they were.
    termios before{}, between{}, after{};
    tcgetattr(0, &before);
    gui::enter_console_mode();
    tcgetattr(0, &between);
    say("between " + modes_text(between) + " set-up " + std::to_string(gui::console().set_up));
    say("ready");
    int w = terminal::wait(5000);
    int n = gui::poll_console(true);
    say("woke " + std::to_string(w) + " size " + std::to_string(gui::console().columns) + "x" +
        std::to_string(gui::console().rows) + " poll " + std::to_string(n));
    gui::leave_console_mode();
    tcgetattr(0, &after);
    say(same(before, after) ? "restored" : "differs: " + modes_text(after));
  } else if (what == "redirected") {
    gui::enter_console_mode();
    say("set-up " + std::to_string(gui::console().set_up));
    say("poll " + std::to_string(gui::poll_console(true)));
    say("unread " + std::to_string(lseek(0, 0, SEEK_CUR) == 0));
    int32_t r = gui::read_terminal_size();
    say("size " + std::to_string(gui::console().columns) + "x" + std::to_string(gui::console().rows) + " " +
        std::to_string(r));
  } else if (what == "wait") {
    gui::enter_console_mode();
    // The terminal's answer to the cursor query comes first.
    if (terminal::wait(2000) & terminal::WAIT_INPUT) gui::poll_console(false);
    gui::read_terminal_size();
    say("waiting " + std::to_string(gui::console().columns) + "x" + std::to_string(gui::console().rows));
    int64_t end = terminal::now_ms() + 20000;
    int w = 0, n = 0;
    while (terminal::now_ms() < end) {
      w = terminal::wait(end - terminal::now_ms());
      n = gui::poll_console(true);
      if (w & terminal::WAIT_RESIZE) break;
    }
    bool early = terminal::now_ms() < end;
    gui::leave_console_mode();
    say("woke " + std::to_string(w) + (early ? " early" : " late") + " poll " + std::to_string(n) +
        " size " + std::to_string(gui::console().columns) + "x" + std::to_string(gui::console().rows));
  } else if (what == "keys") {
    gui::enter_console_mode();
    say("keys ready");
    key_loop();
    gui::leave_console_mode();
    say("keys done");
  } else if (what == "term" || what == "quit" || what == "fatal") {
    // The screen as a GUI leaves it mid-way: mouse on, alternate screen, cursor hidden.
    gui::console().full_screen = true;
    gui::enter_console_mode();
    gui::mouse_on();
    gui::enter_alt_screen();
    gui::hide_cursor();
    kel::platform::write_bytes("\x1b[1;31m", 7);
    say("in the alternate screen, pid " + std::to_string(getpid()));
    if (what == "term") {
      for (;;) pause();
    }
    key_loop();
    if (what == "quit") kel::rt::exit_process(0);
    kel::rt::fatal_error(99, 0);
  } else {
    say("usage: probe-gui_terminal size|modes|redirected|wait|keys|term|quit|fatal");
    return 2;
  }
  return 0;
}
