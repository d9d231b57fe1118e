// Host services: the command line as text, the environment as a map, the operating system's
// description, and child processes with their redirections and captured output.
#include "runtime/io/host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/io/simple_io.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "runtime/unicode.h"

extern char** environ;

namespace kel::host {

namespace {

// Children started without waiting, reaped when they have ended.
std::vector<pid_t> g_unwaited;

void reap_unwaited() {
  auto ended = [](pid_t pid) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  };
  g_unwaited.erase(std::remove_if(g_unwaited.begin(), g_unwaited.end(), ended),
                   g_unwaited.end());
}

// One side of a redirection: the descriptor the child gets, and for a capture the parent's
// end of the pipe and the bytes read.
struct Stream {
  int child_fd = -1;
  int parent_fd = -1;
  bool capture = false;
  std::vector<uint8_t> bytes;
  size_t used = 0;
};

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Opens the child's side of an output or error redirection; false on failure.
bool open_output(Cell* target, bool console, Stream* s) {
  if (!target) {
    if (console) return true;  // inherits this process's descriptor
    s->child_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return s->child_fd >= 0;
  }
  if (cell::type(target) == T_FILE) {
    s->child_fd = ::open(file::to_local_text(target).c_str(),
                         O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    return s->child_fd >= 0;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  s->parent_fd = fds[0];
  s->child_fd = fds[1];
  s->capture = true;
  s->bytes.resize(4096);
  return true;
}

// A capture holds at most this many bytes (a series length); the child's output beyond it
// is read and dropped, so the child never blocks on a full pipe.
constexpr size_t MAX_CAPTURE = 0x7FFFFFFF;

// Reads what is ready; false at the end of the stream.
bool drain(Stream* s) {
  if (s->used == s->bytes.size() && s->used < MAX_CAPTURE)
    s->bytes.resize(std::min(s->bytes.size() * 2, MAX_CAPTURE));
  uint8_t sink[4096];
  bool full = s->used == s->bytes.size();
  ssize_t got;
  do got = full ? ::read(s->parent_fd, sink, sizeof sink)
                : ::read(s->parent_fd, s->bytes.data() + s->used, s->bytes.size() - s->used);
  while (got < 0 && errno == EINTR);
  if (got <= 0) return false;
  if (!full) s->used += size_t(got);
  return true;
}

// Feeds the input and collects both outputs at once, so a child that fills one pipe while
// this side serves another never blocks.
void serve(int in_fd, const std::string& input, Stream* out, Stream* err) {
  size_t sent = 0;
  if (in_fd >= 0) ::fcntl(in_fd, F_SETFL, ::fcntl(in_fd, F_GETFL) | O_NONBLOCK);
  for (;;) {
    pollfd fds[3];
    int n = 0;
    int in_slot = -1, out_slot = -1, err_slot = -1;
    if (in_fd >= 0) fds[in_slot = n++] = {in_fd, POLLOUT, 0};
    if (out->parent_fd >= 0) fds[out_slot = n++] = {out->parent_fd, POLLIN, 0};
    if (err->parent_fd >= 0) fds[err_slot = n++] = {err->parent_fd, POLLIN, 0};
    if (n == 0) break;
    int r = ::poll(fds, nfds_t(n), -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_slot >= 0 && fds[in_slot].revents) {
      ssize_t put = sent < input.size()
                        ? ::write(in_fd, input.data() + sent, input.size() - sent)
                        : 0;
      if (put > 0) sent += size_t(put);
      // A child that stops reading ends its input (EPIPE, never a signal here).
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || sent >= input.size() ||
          (fds[in_slot].revents & (POLLERR | POLLHUP)))
        close_fd(in_fd);
    }
    if (out_slot >= 0 && fds[out_slot].revents && !drain(out)) close_fd(out->parent_fd);
    if (err_slot >= 0 && fds[err_slot].revents && !drain(err)) close_fd(err->parent_fd);
  }
  close_fd(in_fd);
}

// Appends a capture at the target's tail: bytes to a binary, decoded text to a string.
void append_capture(Cell* target, const Stream& s) {
  if (!s.capture || s.used == 0) return;
  if (cell::type(target) == T_BINARY) {
    binary::append_bytes(target, s.bytes.data(), int32_t(s.used));
    return;
  }
  Cell* text = simple_io::push_utf8_string(s.bytes.data(), int64_t(s.used));
  string::concat(target, text, string::MODE_APPEND);
  stack::drop_cells(1);
}

int32_t status_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// posix_spawnp with the descriptors given (-1: inherited) and default signal handling
// (this process ignores SIGPIPE; children must not). Answers the error number.
int spawn(const std::vector<std::string>& args, int in, int out, int err, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &empty);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc;
}

std::vector<std::string> shell_args(const std::string& command) {
  return {"/bin/sh", "-c", command};
}

int32_t clamp_byte(long v) { return v < 0 ? 0 : v > 255 ? 255 : int32_t(v); }

std::string read_text_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  if (in) s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string command_line_text() {
  std::string out;
  for (int i = 0; i < rt::arg_count(); ++i) {
    std::string a = rt::arg_values()[i];
    if (i) out.push_back(' ');
    bool blank = a.empty() || a.find_first_of(" \t") != std::string::npos;
    if (blank) out += "\"" + a + "\"";
    else out += a;
  }
  return out;
}

Cell* command_line_string() {
  // An argument that is not UTF-8 (a file name in another encoding) must not stop start-up.
  std::string text = unicode::valid_utf8(command_line_text());
  return simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(text.data()),
                                     int64_t(text.size()));
}

Cell* environment_map() {
  Cell* mark = stack::state().top;
  Cell* pairs = block::push_empty(200);
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    // The first "=" that is not the entry's first character splits it.
    size_t eq = entry.find('=', 1);
    if (eq == std::string::npos) continue;
    const auto* p = reinterpret_cast<const uint8_t*>(entry.data());
    // An entry that is not UTF-8 cannot be a string: it is left out, never a failure.
    if (!simple_io::valid_utf8_q(p, int64_t(entry.size()))) continue;
    Cell* name = simple_io::push_utf8_string(p, int64_t(eq));
    *runtime::block_append_cell(pairs) = *name;
    Cell* value = simple_io::push_utf8_string(p + eq + 1, int64_t(entry.size() - eq - 1));
    *runtime::block_append_cell(pairs) = *value;
    stack::drop_cells(2);
  }
  Cell* m = stack::reserve_cell();
  cell::set_none(m);
  map::init_cell(m, pairs, 0);
  Cell r = *m;
  stack::state().top = mark;
  return stack::push_copy(&r);
}

OsFacts os_facts(const std::string& os_release, const std::string& machine,
                 const std::string& release) {
  OsFacts f{"Linux", "Unknown", {0, 0, 0}, 0};
  std::istringstream lines(os_release);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string v = line.substr(12);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    if (!v.empty()) f.name = v;
  }
  const std::string& m = machine;
  if (m == "x86_64") f.arch = "x86-64";
  else if (m == "aarch64" || m == "arm64") f.arch = "ARM64";
  else if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") f.arch = "x86-32";
  else if (m.rfind("arm", 0) == 0) f.arch = "ARM";
  else if (m == "ia64") f.arch = "IA-64";
  // version: major.minor.patch of the release; build: the number after its first "-".
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    long v = 0;
    bool digits = false;
    while (i < release.size() && release[i] >= '0' && release[i] <= '9') {
      if (v < 100000) v = v * 10 + (release[i] - '0');
      digits = true;
      ++i;
    }
    if (!digits) break;
    f.version[k] = clamp_byte(v);
    if (i < release.size() && release[i] == '.') ++i;
    else break;
  }
  size_t dash = release.find('-');
  if (dash != std::string::npos) {
    long v = 0;
    for (size_t j = dash + 1; j < release.size() && release[j] >= '0' && release[j] <= '9'; ++j)
      if (v < 100000000) v = v * 10 + (release[j] - '0');
    f.build = int32_t(v);
  }
  return f;
}

Cell* os_description() {
  utsname u{};
  std::string machine, release;
  if (::uname(&u) == 0) {
    machine = u.machine;
    release = u.release;
  }
  std::string text = read_text_file("/etc/os-release");
  if (text.empty()) text = read_text_file("/usr/lib/os-release");
  OsFacts f = os_facts(text, machine, release);

  Cell* mark = stack::state().top;
  Cell* spec = block::push_empty(8);
  // Words carry nodes: each cell is made on the stack (rooted) before the block grows.
  Cell* cells = stack::reserve_cell();
  cell::set_none(cells);
  auto add = [&](const char* field) {
    *cells = set_word::intern_global(field);
    *runtime::block_append_cell(spec) = *cells;
    *runtime::block_append_cell(spec) = *stack::last_pushed();
    stack::drop_cells(1);
  };
  simple_io::push_utf8_string(reinterpret_cast<const uint8_t*>(f.name.data()),
                              int64_t(f.name.size()));
  add("name");
  Cell* arch = stack::reserve_cell();
  *arch = word::intern_global(f.arch.c_str());
  add("arch");
  uint8_t bytes[3] = {uint8_t(f.version[0]), uint8_t(f.version[1]), uint8_t(f.version[2])};
  tuple::init_cell(stack::reserve_cell(), 3, bytes);
  add("version");
  Cell build{T_INTEGER, 0, uint32_t(f.build), 0};
  stack::push_copy(&build);
  add("build");
  Cell* made = object::make_from_proto(spec, nullptr, true);
  Cell r = *made;
  stack::state().top = mark;
  return stack::push_copy(&r);
}

std::vector<std::string> split_command(const std::string& text) {
  std::vector<std::string> items;
  bool quoted = false;
  std::string item;
  auto finish = [&] {
    if (!item.empty()) {
      std::string v = item;
      if (v.front() == '"') v.erase(0, 1);
      if (!v.empty() && v.back() == '"') v.pop_back();
      items.push_back(v);
    }
    item.clear();
  };
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t')) {
      finish();
      continue;
    }
    item.push_back(c);
  }
  finish();
  return items;
}

int32_t call(const std::string& command, bool wait, bool console, bool shell, Cell* in,
             Cell* out, Cell* err) {
  reap_unwaited();
  if (command.empty()) return 0;
  if (in || out || err) wait = true;  // a redirection is served to its end

  std::string input;
  int in_child = -1, in_parent = -1;
  Stream o, e;
  auto fail = [&] {
    close_fd(in_child);
    close_fd(in_parent);
    close_fd(o.child_fd);
    close_fd(o.parent_fd);
    close_fd(e.child_fd);
    close_fd(e.parent_fd);
    return -1;
  };
  if (in) {
    if (cell::type(in) == T_FILE) {
      in_child = ::open(file::to_local_text(in).c_str(), O_RDONLY | O_CLOEXEC);
      if (in_child < 0) return fail();
    } else {
      if (cell::type(in) == T_BINARY)
        input.assign(reinterpret_cast<const char*>(binary::head_byte_pointer(in)),
                     size_t(binary::byte_count(in)));
      else
        input = simple_io::utf8_text(in);
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) return fail();
      in_child = fds[0];
      in_parent = fds[1];
    }
  }
  if (!open_output(out, console, &o) || !open_output(err, console, &e)) return fail();

  std::vector<std::string> args = shell ? shell_args(command) : split_command(command);
  if (args.empty()) return fail();
  pid_t pid = 0;
  int rc = spawn(args, in_child, o.child_fd, e.child_fd, &pid);
  if (rc == ENOENT && !shell) rc = spawn(shell_args(command), in_child, o.child_fd, e.child_fd, &pid);
  close_fd(in_child);
  close_fd(o.child_fd);
  close_fd(e.child_fd);
  if (rc != 0) return fail();

  serve(in_parent, input, &o, &e);
  in_parent = -1;
  int32_t result = int32_t(pid);
  if (wait || console) {
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    result = r == pid ? status_of(status) : -1;
  } else {
    g_unwaited.push_back(pid);
  }
  if (out) append_capture(out, o);
  if (err) append_capture(err, e);
  return result;
}

void browse(const std::string& target) {
  reap_unwaited();
  int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t pid = 0;
  if (spawn({"xdg-open", target}, null_fd, null_fd, null_fd, &pid) == 0)
    g_unwaited.push_back(pid);
  if (null_fd >= 0) ::close(null_fd);
}

void make_conversion_buffer() {}


}  // namespace kel::host
