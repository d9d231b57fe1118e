// The clipboard: per call, wl-paste/wl-copy when WAYLAND_DISPLAY is set, else xclip when
// DISPLAY is set (each run bounded to 2 s), else a clipboard private to the process.
#include "runtime/io/clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/io/image_formats.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

extern char** environ;

namespace kel::clipboard {

namespace {

// ---- Bounded runs of the clipboard tools ----

struct Run {
  bool started = false;   // the tool could be run at all
  bool finished = false;  // it ended within the time
  int status = -1;        // its exit status
  std::string out;
  std::string err;
};

constexpr int kTimeoutMs = 2000;

// Runs argv with input on its standard input; collects its output and error text when
// collect is set (the writers fork a server that keeps any inherited pipe open, so they get
// /dev/null and only the direct child is waited for).
Run run_tool(const std::vector<std::string>& argv, const std::string* input, bool collect) {
  Run r;
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  auto close_fd = [](int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  };
  auto close_all = [&] {
    for (int* p : {in_pipe, out_pipe, err_pipe}) {
      close_fd(p[0]);
      close_fd(p[1]);
    }
  };
  if ((input && pipe2(in_pipe, O_CLOEXEC) != 0) ||
      (collect && (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0))) {
    close_all();
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (collect) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(in_pipe[0]);
  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);
  if (rc != 0) {
    close_all();
    return r;
  }
  r.started = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
  auto left_ms = [&] {
    auto d = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                   std::chrono::steady_clock::now());
    return int(std::max<int64_t>(d.count(), 0));
  };
  size_t written = 0;
  if (input && input->empty()) close_fd(in_pipe[1]);
  if (in_pipe[1] >= 0) fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  bool timed_out = false;
  while (in_pipe[1] >= 0 || out_pipe[0] >= 0 || err_pipe[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int* which[3];
    if (in_pipe[1] >= 0) fds[n] = {in_pipe[1], POLLOUT, 0}, which[n++] = &in_pipe[1];
    if (out_pipe[0] >= 0) fds[n] = {out_pipe[0], POLLIN, 0}, which[n++] = &out_pipe[0];
    if (err_pipe[0] >= 0) fds[n] = {err_pipe[0], POLLIN, 0}, which[n++] = &err_pipe[0];
    int ms = left_ms();
    if (ms == 0) {
      timed_out = true;
      break;
    }
    int got = poll(fds, nfds_t(n), ms);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      timed_out = got == 0;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      int& fd = *which[i];
      if (&fd == &in_pipe[1]) {
        ssize_t w = ::write(fd, input->data() + written, input->size() - written);
        if (w > 0) written += size_t(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || written >= input->size()) close_fd(fd);
      } else {
        char buf[65536];
        ssize_t got_bytes = ::read(fd, buf, sizeof buf);
        if (got_bytes > 0) (&fd == &out_pipe[0] ? r.out : r.err).append(buf, size_t(got_bytes));
        else if (got_bytes == 0 || (errno != EAGAIN && errno != EINTR)) close_fd(fd);
      }
    }
  }
  close_all();
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, timed_out ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (timed_out) continue;
    if (left_ms() == 0) {
      timed_out = true;
      kill(pid, SIGKILL);
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (timed_out) {
    kill(pid, SIGKILL);
    return r;
  }
  r.finished = WIFEXITED(status);
  r.status = r.finished ? WEXITSTATUS(status) : -1;
  return r;
}

// ---- Backends ----

enum class Backend { PRIVATE, WAYLAND, X11 };

Backend backend() {
  auto set = [](const char* name) {
    auto v = platform::read_env_var(name);
    return v && !v->empty();
  };
  if (set("WAYLAND_DISPLAY")) return Backend::WAYLAND;
  if (set("DISPLAY")) return Backend::X11;
  return Backend::PRIVATE;
}

// The private clipboard: one format and its bytes.
struct Private {
  bool full = false;
  std::string type;
  std::string bytes;
};
Private& private_clipboard() {
  static Private p;
  return p;
}

constexpr const char* URI_LIST = "text/uri-list";
constexpr const char* PNG = "image/png";

std::string text_type(Backend b) {
  return b == Backend::WAYLAND ? "text/plain;charset=utf-8" : "UTF8_STRING";
}

// What a listing or a read found: false (cannot be opened), nothing, or data.
struct Found {
  bool failed = false;
  std::vector<std::string> types;
};

bool display_unreachable(const std::string& err) {
  return err.find("Can't open display") != std::string::npos ||
         err.find("Failed to connect") != std::string::npos ||
         err.find("annot open display") != std::string::npos;
}

Found list_types(Backend b) {
  Found f;
  if (b == Backend::PRIVATE) {
    if (private_clipboard().full) f.types.push_back(private_clipboard().type);
    return f;
  }
  Run r = b == Backend::WAYLAND
              ? run_tool({"wl-paste", "--list-types"}, nullptr, true)
              : run_tool({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"}, nullptr, true);
  if (!r.started || !r.finished || r.status == 127 || display_unreachable(r.err)) {
    f.failed = true;
    return f;
  }
  if (r.status != 0) return f;  // no owner
  size_t start = 0;
  while (start < r.out.size()) {
    size_t end = r.out.find('\n', start);
    if (end == std::string::npos) end = r.out.size();
    std::string t = r.out.substr(start, end - start);
    if (!t.empty() && t.back() == '\r') t.pop_back();
    if (!t.empty()) f.types.push_back(t);
    start = end + 1;
  }
  return f;
}

std::optional<std::string> read_type(Backend b, const std::string& type) {
  if (b == Backend::PRIVATE) return private_clipboard().bytes;
  Run r = b == Backend::WAYLAND
              ? run_tool({"wl-paste", "--no-newline", "--type", type}, nullptr, true)
              : run_tool({"xclip", "-selection", "clipboard", "-t", type, "-o"}, nullptr, true);
  if (!r.started || !r.finished || r.status != 0) return std::nullopt;
  return r.out;
}

// The writers exit once the server they fork is running, and that server may not have told
// the display yet that it owns the clipboard: a read right after the write (by this script or
// any other program) would still get the old contents. So a write is done once the clipboard
// gives back what was written, polled within the tools' time bound.
bool confirm_owner(Backend b, const std::string& type, const std::string& bytes) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
  for (;;) {
    std::optional<std::string> got = read_type(b, type);
    if (got && *got == bytes) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool write_type(Backend b, const std::string* type, const std::string& bytes) {
  if (b == Backend::PRIVATE) {
    Private& p = private_clipboard();
    p.full = type != nullptr;
    p.type = type ? *type : std::string();
    p.bytes = type ? bytes : std::string();
    return true;
  }
  Run r;
  const std::string* served = type;  // the type the new owner serves, if any
  if (b == Backend::WAYLAND) {
    r = type ? run_tool({"wl-copy", "--type", *type}, &bytes, false)
             : run_tool({"wl-copy", "--clear"}, nullptr, false);
  } else {
    // xclip cannot give the selection up: an empty owner of a type nobody reads stands for
    // an empty clipboard.
    static const std::string empty_type = "application/x-kel-empty";
    static const std::string nothing;
    served = type ? type : &empty_type;
    r = run_tool({"xclip", "-selection", "clipboard", "-t", *served, "-i"}, type ? &bytes : &nothing,
                 false);
  }
  if (!r.started || !r.finished || r.status != 0) return false;
  return !served || confirm_owner(b, *served, type ? bytes : std::string());
}

bool has(const Found& f, const std::string& t) {
  for (const std::string& x : f.types)
    if (x == t) return true;
  return false;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Cell* push_text(const std::string& text) {
  std::string ok = unicode::valid_utf8(text);
  return string::from_utf8_binary(reinterpret_cast<const uint8_t*>(ok.data()), int32_t(ok.size()));
}

// A file! value of a platform path (to-kel-file keeps the path as it is).
Cell* push_file(const std::string& path) {
  Cell* f = push_text(path);
  f->header = (f->header & ~hdr::TYPE_MASK) | T_FILE;
  return f;
}

}  // namespace

std::string paths_to_uri_list(const std::vector<std::string>& paths) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::string& path : paths) {
    out += "file://";
    for (unsigned char c : path) {
      bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   std::strchr("/-._~!$&'()*+,;=:@", c) != nullptr;
      if (plain && c) {
        out.push_back(char(c));
      } else {
        out.push_back('%');
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
      }
    }
    out += "\r\n";
  }
  return out;
}

std::vector<std::string> uri_list_to_paths(const std::string& list) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.compare(0, 7, "file://") != 0) continue;
    std::string rest = line.substr(7);
    size_t slash = rest.find('/');
    if (slash == std::string::npos) continue;
    std::string host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") continue;
    std::string path;
    for (size_t i = slash; i < rest.size(); ++i) {
      if (rest[i] == '%' && i + 2 < rest.size() + 0 && hex_value(rest[i + 1]) >= 0 &&
          hex_value(rest[i + 2]) >= 0) {
        path.push_back(char(hex_value(rest[i + 1]) * 16 + hex_value(rest[i + 2])));
        i += 2;
      } else {
        path.push_back(rest[i]);
      }
    }
    paths.push_back(path);
  }
  return paths;
}

// ---- read, write ----

void read(Cell* out) {
  Backend b = backend();
  Found f = list_types(b);
  if (f.failed) {
    *out = Cell{T_LOGIC, 0, 0, 0};
    return;
  }
  cell::set_none(out);
  Cell* top = stack::state().top;
  if (has(f, URI_LIST)) {
    std::optional<std::string> bytes = read_type(b, URI_LIST);
    if (!bytes) {
      *out = Cell{T_LOGIC, 0, 0, 0};
      return;
    }
    std::vector<std::string> paths = uri_list_to_paths(*bytes);
    if (!paths.empty()) {
      Cell* blk = block::push_empty(int32_t(paths.size()));
      for (const std::string& p : paths) {
        Cell* file = push_file(p);
        block::append_copy(blk, file);
        stack::drop_cells(1);
      }
      *out = *blk;
      stack::state().top = top;
      return;
    }
  }
  static const char* const texts[] = {"UTF8_STRING", "text/plain;charset=utf-8", "STRING",
                                      "TEXT", "text/plain"};
  for (const char* t : texts) {
    if (!has(f, t)) continue;
    std::optional<std::string> bytes = read_type(b, t);
    if (!bytes) {
      *out = Cell{T_LOGIC, 0, 0, 0};
      return;
    }
    *out = *push_text(*bytes);
    stack::state().top = top;
    return;
  }
  static const char* const images[] = {"image/png", "image/jpeg", "image/gif", "image/bmp"};
  for (const char* t : images) {
    if (!has(f, t)) continue;
    std::optional<std::string> bytes = read_type(b, t);
    if (!bytes) {
      *out = Cell{T_LOGIC, 0, 0, 0};
      return;
    }
    Cell* bin = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>(bytes->data()),
                                            int32_t(bytes->size()));
    *out = *image::push_from_binary(bin);
    stack::state().top = top;
    return;
  }
}

bool write(const Cell* value) {
  Cell v = *value;
  gc::Root keep(&v);
  Backend b = backend();
  std::string type, bytes;
  bool empty = false;
  switch (cell::type(&v)) {
    case T_NONE:
      empty = true;
      break;
    case T_STRING:
      type = text_type(b);
      bytes = file::to_local_text(&v);
      break;
    case T_BLOCK: {
      std::vector<std::string> paths;
      int32_t n = block::count_from_head(&v);
      for (int32_t i = 0; i < n; ++i) {
        Cell e = *block::cell_at_index(&v, int32_t(v.w1) + i);
        uint32_t t = cell::type(&e);
        if (t != T_FILE && t != T_STRING) error::raise(err::script::invalid_arg, &e);
        gc::Root keep_e(&e);
        std::string path = file::to_local_text(&e);
        if (path.empty() || path[0] != '/') {
          Cell* dir = file::current_dir();
          path = file::to_local_text(dir) + path;
          stack::drop_cells(1);
        }
        paths.push_back(path);
      }
      type = URI_LIST;
      bytes = paths_to_uri_list(paths);
      break;
    }
    case T_IMAGE: {
      if (!v.w2 || image::pixel_count(&v) == 0) {
        empty = true;
        break;
      }
      Cell* png = image::encode(&v, nullptr, image_format::PNG);
      bytes.assign(reinterpret_cast<const char*>(binary::head_byte_pointer(png)),
                   size_t(binary::byte_count(png)));
      stack::drop_cells(1);
      type = PNG;
      break;
    }
    default:
      error::raise(err::script::invalid_arg, &v);
  }
  return write_type(b, empty ? nullptr : &type, bytes);
}

// ---- Routines (bound through the bridge table, runtime/evaluator/bridge.cpp) ----

void read_routine() {
  Cell r{T_NONE, 0, 0, 0};
  gc::Root keep(&r);
  read(&r);
  stack::set_only_result(&r);
}

void write_routine() {
  bool ok = write(stack::state().base);
  Cell r{T_LOGIC, ok ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

}  // namespace kel::clipboard
