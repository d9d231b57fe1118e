// The Linux terminal layer: one saved termios record, one SIGWINCH handler writing a
// self-pipe, the restore run by every exit path, sizes through TIOCGWINSZ, poll and read of fd 0.
#include "runtime/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/output.h"
#include "runtime/rt.h"

namespace kel::terminal {

namespace {
struct termios g_saved {};
volatile sig_atomic_t g_raw = 0;      // the saved modes must be put back
volatile sig_atomic_t g_resized = 0;  // SIGWINCH since the last take_resize
volatile sig_atomic_t g_screen = 0;   // SCREEN_* bits in force
int g_pipe[2] = {-1, -1};
bool g_stdin_dead = false;            // fd 0 hung up: never polled again
bool g_initialised = false;

void on_resize(int) {
  int saved = errno;
  g_resized = 1;
  if (g_pipe[1] >= 0) {
    char b = 1;
    ssize_t r = ::write(g_pipe[1], &b, 1);  // a full pipe already wakes the poll
    (void)r;
  }
  errno = saved;
}

void on_terminate(int signo) {
  rt::enter_signal_context();
  rt::run_terminal_restore_hooks();
  // The default action once this handler returns (the signal is blocked until then).
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(signo, &dfl, nullptr);
  raise(signo);
}

void drain_pipe() {
  char buf[64];
  while (g_pipe[0] >= 0 && ::read(g_pipe[0], buf, sizeof buf) > 0) {
  }
}

size_t put(char* out, size_t n, const char* text) {
  size_t k = std::strlen(text);
  std::memcpy(out + n, text, k);
  return n + k;
}
}  // namespace

void init() {
  if (g_initialised) return;
  g_initialised = true;
  if (::pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) != 0) g_pipe[0] = g_pipe[1] = -1;
  struct sigaction sa {};
  sa.sa_handler = on_resize;
  sa.sa_flags = SA_RESTART;  // only poll sees the interruption; other calls go on
  sigemptyset(&sa.sa_mask);
  sigaction(SIGWINCH, &sa, nullptr);
  struct sigaction term {};
  term.sa_handler = on_terminate;
  sigemptyset(&term.sa_mask);
  for (int s : {SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &term, nullptr);
  rt::add_terminal_restore_hook(&restore);
}

bool console_q() {
  if (!isatty(0) || !isatty(1)) return false;
  const char* term = std::getenv("TERM");
  return !(term && std::strcmp(term, "dumb") == 0);
}

bool stdin_tty_q() { return isatty(0) != 0; }

bool enter_raw(Raw mode) {
  if (!isatty(0)) return false;
  if (!g_raw && tcgetattr(0, &g_saved) != 0) return false;
  struct termios t = g_saved;
  t.c_lflag &= tcflag_t(~(ICANON | ECHO | ISIG | IEXTEN));
  t.c_iflag &= tcflag_t(~(IXON | ICRNL | INLCR));
  t.c_iflag &= tcflag_t(~(mode == Raw::Editor ? IGNCR : BRKINT));
  t.c_cc[VMIN] = mode == Raw::Editor ? 1 : 0;
  t.c_cc[VTIME] = 0;
  g_raw = 1;  // from here on an exit puts the saved modes back
  // TCSANOW: pasted lines already queued stay readable.
  if (tcsetattr(0, TCSANOW, &t) != 0) {
    g_raw = 0;
    return false;
  }
  return true;
}

void leave_raw() {
  if (!g_raw) return;
  tcsetattr(0, TCSANOW, &g_saved);
  g_raw = 0;
}

bool raw_q() { return g_raw != 0; }

void set_screen_state(unsigned bits, bool on) {
  unsigned s = unsigned(g_screen);
  g_screen = sig_atomic_t(on ? (s | bits) : (s & ~bits));
}

unsigned screen_state() { return unsigned(g_screen); }

size_t restore_bytes(unsigned s, char* out) {
  size_t n = 0;
  if (s & SCREEN_MOUSE) n = put(out, n, "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l");
  if (s & SCREEN_ALTERNATE) n = put(out, n, "\x1b[?1049l");
  if (s & SCREEN_ATTRIBUTES) n = put(out, n, "\x1b[0m");
  if (s & SCREEN_CURSOR_HIDDEN) n = put(out, n, "\x1b[?25h");
  return n;
}

void restore() {
  unsigned s = unsigned(g_screen);
  if (s) {
    char buf[64];
    platform::write_bytes(buf, restore_bytes(s, buf));
    g_screen = 0;
  }
  leave_raw();
}

bool read_size(int* columns, int* rows) {
  struct winsize ws {};
  if (ioctl(1, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  *columns = ws.ws_col;
  *rows = ws.ws_row;
  return true;
}

bool take_resize() {
  if (!g_resized) return false;
  g_resized = 0;
  drain_pipe();
  return true;
}

bool resize_pending_q() { return g_resized != 0; }

int64_t now_ms() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int wait(int64_t ms) {
  int64_t deadline = ms < 0 ? -1 : now_ms() + ms;
  for (;;) {
    if (g_resized) return WAIT_RESIZE;
    struct pollfd fds[2];
    int n = 0;
    int input = -1;
    if (!g_stdin_dead && isatty(0)) {
      input = n;
      fds[n++] = {0, POLLIN, 0};
    }
    if (g_pipe[0] >= 0) fds[n++] = {g_pipe[0], POLLIN, 0};
    int timeout = -1;
    if (deadline >= 0) {
      int64_t left = deadline - now_ms();
      timeout = left <= 0 ? 0 : left > 0x7FFFFFFF ? 0x7FFFFFFF : int(left);
    }
    int r = ::poll(fds, nfds_t(n), timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (r == 0) {
      if (deadline >= 0 && now_ms() < deadline) continue;  // woken early by rounding
      return 0;
    }
    int bits = 0;
    if (input >= 0) {
      short e = fds[input].revents;
      if (e & POLLIN) bits |= WAIT_INPUT;
      else if (e & (POLLHUP | POLLERR | POLLNVAL)) {
        g_stdin_dead = true;
        bits |= WAIT_HANGUP;
      }
    }
    if (g_resized) bits |= WAIT_RESIZE;
    else if (g_pipe[0] >= 0 && (fds[n - 1].revents & POLLIN)) drain_pipe();  // a stale wake-up
    if (bits) return bits;
  }
}

bool input_hung_up_q() { return g_stdin_dead; }

int64_t read_input(uint8_t* buffer, size_t n) {
  for (;;) {
    ssize_t r = ::read(0, buffer, n);
    if (r >= 0) return r;
    if (errno != EINTR) return -1;
  }
}

}  // namespace kel::terminal
