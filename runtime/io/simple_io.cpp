// The host file layer over POSIX: descriptors, whole or partial reads, writes with create,
// append and seek, listings, directory tests, delete, rename, make-dir and file dates.
#include "runtime/io/simple_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/hooks.h"
#include "runtime/io/host.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::simple_io {

namespace {

// Files of 2 GiB or more are refused (text and binary lengths are 32-bit).
constexpr int64_t MAX_READ = 0x7FFFFFFF;

[[noreturn]] void cannot_open(const Cell* file) {
  Cell f = *file;
  error::raise(err::access::cannot_open, &f);
}

// A /part or /seek argument as a count: integers as they are, floats truncated.
int64_t count_of(const Cell* c) {
  if (cell::type(c) == T_FLOAT) {
    double d = cell::get_double(c);
    if (std::isnan(d)) return 0;
    if (d > 9.0e18) return int64_t(9.0e18);
    if (d < -9.0e18) return int64_t(-9.0e18);
    return int64_t(d);
  }
  return cell::get_int(c);
}

// Raises access/invalid-utf8 with the bytes from the first undecodable one.
[[noreturn]] void invalid_utf8(const uint8_t* bytes, int32_t n) {
  Cell* bin = binary::push_new_from_bytes(bytes, std::min(n, 4));
  Cell arg = *bin;
  error::raise(err::access::invalid_utf8, &arg);
}

// A string cell from UTF-8 bytes that live outside the collected heap.
void decode_into(Cell* out, const uint8_t* bytes, int32_t n) {
  cell::set_none(out);
  int32_t unread = 0;
  Node node = unicode::utf8_to_string(bytes, n, 0, &unread, false);
  *out = Cell{T_STRING, 0, node, 0};
  if (unread > 0) invalid_utf8(bytes + (n - unread), unread);
}

// The empty value of a read: binary, block of lines or string.
Cell* push_empty(bool binary, bool lines) {
  if (binary) return binary::push_new_from_bytes(nullptr, 0);
  if (lines) return block::push_empty(1);
  Cell* s = stack::reserve_cell();
  cell::set_none(s);
  string::init_cell(s, 0);
  return s;
}

// The whole contents from the descriptor's position, at most limit bytes (-1: all), read
// once into a growing buffer so files that report no size (pipes, /proc) keep their data.
// False on a read failure or beyond MAX_READ.
bool read_all(int fd, int64_t limit, std::vector<uint8_t>* out) {
  struct stat st {};
  size_t hint = 65536;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    hint = size_t(std::min<int64_t>(st.st_size, MAX_READ)) + 1;
  if (limit >= 0) hint = size_t(std::min<int64_t>(int64_t(hint), limit));
  out->resize(std::max<size_t>(hint, 1));
  size_t have = 0;
  for (;;) {
    if (limit >= 0 && int64_t(have) >= limit) break;
    if (have == out->size()) {
      if (int64_t(have) >= MAX_READ) return false;
      size_t next = std::min<size_t>(out->size() * 2, size_t(MAX_READ) + 1);
      if (limit >= 0) next = std::min<size_t>(next, size_t(limit));
      out->resize(next);
    }
    int64_t want = int64_t(out->size() - have);
    if (limit >= 0) want = std::min<int64_t>(want, limit - int64_t(have));
    int64_t got = read_data(fd, out->data() + have, want);
    if (got < 0) return false;
    if (got == 0) break;
    have += size_t(got);
  }
  if (int64_t(have) > MAX_READ) return false;
  out->resize(have);
  return true;
}

// The path ends with "/".
bool ends_with_slash(const std::string& path) { return !path.empty() && path.back() == '/'; }

// A file! value from a name read from the system (bytes that are not UTF-8 kept as they are).
void append_file_value(Cell* block, const std::string& name) {
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep(&made);
  file::from_local_text(&made, reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()));
  *runtime::block_append_cell(block) = made;
}

// ---- Writing ----

// Writes the UTF-8 form of at most part characters of the string (-1: all), in chunks so
// no second copy of a large text is made.
bool write_string(int fd, const Cell* s, int64_t part) {
  Cell c = *s;
  gc::Root keep(&c);
  int64_t n = string::count_from_head(&c);
  if (part >= 0 && part < n) n = part;
  constexpr int32_t CHUNK = 65536;
  std::vector<uint8_t> buffer(size_t(CHUNK) * 4 + 1);
  uint32_t head = c.w1;
  for (int64_t done = 0; done < n;) {
    int32_t step = int32_t(std::min<int64_t>(CHUNK, n - done));
    c.w1 = head + uint32_t(done);
    int32_t bytes = unicode::encode_string_utf8(&c, buffer.data(), step, false);
    if (!write_data(fd, buffer.data(), bytes)) return false;
    done += step;
  }
  return true;
}

// The bytes of one value: a string as UTF-8, a binary as its bytes, anything else molded.
// part: characters or bytes (-1: all).
bool write_one(int fd, const Cell* value, int64_t part) {
  uint32_t t = cell::type(value);
  if (t == T_STRING) return write_string(fd, value, part);
  if (t == T_BINARY) {
    int64_t n = binary::byte_count(value);
    if (part >= 0 && part < n) n = part;
    return write_data(fd, binary::head_byte_pointer(value), n);
  }
  Cell v = *value;
  gc::Root keep_value(&v);
  Cell* scratch = stack::reserve_cell();
  cell::set_none(scratch);
  string::init_cell(scratch, 16);
  actions::direct_mold(&v, scratch, false, false, false, nullptr, 0x7FFFFFFF, 0);
  bool ok = write_string(fd, scratch, part);
  stack::drop_cells(1);
  return ok;
}

}  // namespace

// ---- Primitives ----

int open_file(const char* path, int32_t mode) {
  int flags = O_CLOEXEC;
  if (mode & MODE_READ) {
    flags |= O_RDONLY;
  } else {
    flags |= O_WRONLY | O_CREAT;
    if (!(mode & (MODE_APPEND | MODE_SEEK))) flags |= O_TRUNC;
  }
  int fd;
  do fd = ::open(path, flags, 0666);
  while (fd < 0 && errno == EINTR);
  return fd;
}

int64_t read_data(int fd, uint8_t* buffer, int64_t n) {
  for (;;) {
    ssize_t got = ::read(fd, buffer, size_t(n));
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool write_data(int fd, const uint8_t* bytes, int64_t n) {
  while (n > 0) {
    ssize_t put = ::write(fd, bytes, size_t(std::min<int64_t>(n, 1 << 30)));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    bytes += put;
    n -= put;
  }
  return true;
}

void close_file(int fd) { ::close(fd); }

bool file_exists_q(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

bool make_dir(const char* path) { return ::mkdir(path, 0777) == 0; }

// ---- Values ----

bool dir_q(const Cell* file) {
  Cell f = *file;
  int32_t n = string::count_from_head(&f);
  if (n <= 0) return false;
  int32_t head = int32_t(f.w1);
  auto at = [&](int32_t back) { return string::codepoint_at(&f, head + n - back); };
  auto slash = [](int32_t c) { return c == '/' || c == '\\'; };
  int32_t c1 = at(1);
  if (slash(c1)) return true;
  if (c1 != '.') return false;
  if (n == 1) return true;
  int32_t c2 = at(2);
  if (slash(c2)) return true;
  return c2 == '.' && (n == 2 || slash(at(3)));
}

std::string utf8_text(const Cell* s) {
  Cell c = *s;
  gc::Root keep(&c);
  int32_t n = string::count_from_head(&c);
  std::string out(size_t(n) * 4 + 1, '\0');
  int32_t bytes = unicode::encode_string_utf8(&c, reinterpret_cast<uint8_t*>(out.data()), n, false);
  out.resize(size_t(bytes));
  return out;
}

bool valid_utf8_q(const uint8_t* bytes, int64_t n) {
  for (int64_t i = 0; i < n;) {
    int32_t used = 0;
    int32_t cp = unicode::decode_utf8_checked(bytes + i, int32_t(std::min<int64_t>(n - i, 4)), &used);
    if (cp < 0 || used < 1) return false;
    i += used;
  }
  return true;
}

Cell* push_utf8_string(const uint8_t* bytes, int64_t n) {
  Cell* s = stack::reserve_cell();
  decode_into(s, bytes, int32_t(n));
  return s;
}

std::vector<std::pair<int64_t, int64_t>> line_ranges(const uint8_t* bytes, int64_t n) {
  std::vector<std::pair<int64_t, int64_t>> lines;
  int64_t start = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (bytes[i] != '\n') continue;
    int64_t end = i > start && bytes[i - 1] == '\r' ? i - 1 : i;
    lines.emplace_back(start, end - start);
    start = i + 1;
  }
  if (start < n) lines.emplace_back(start, n - start);
  return lines;
}

Cell* lines_to_block(const uint8_t* bytes, int64_t n) {
  auto lines = line_ranges(bytes, n);
  Cell* block = block::push_empty(int32_t(std::min<size_t>(lines.size(), 0x7FFFFFF)) + 1);
  Cell* line = stack::reserve_cell();
  for (auto [start, length] : lines) {
    decode_into(line, bytes + start, int32_t(length));
    *runtime::block_append_cell(block) = *line;
    cell::set_none(line);
  }
  stack::drop_cells(1);
  return block;
}

Cell* read_dir(Cell* dir) {
  std::string path = file::to_local_text(dir);
  DIR* d = ::opendir(path.empty() ? "." : path.c_str());
  if (!d) cannot_open(dir);
  std::vector<std::pair<std::string, bool>> names;
  int dfd = ::dirfd(d);
  errno = 0;
  while (dirent* e = ::readdir(d)) {
    const char* name = e->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    bool is_dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st {};
      is_dir = ::fstatat(dfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    names.emplace_back(name, is_dir);
  }
  bool failed = errno != 0;
  ::closedir(d);
  if (failed) cannot_open(dir);
  // readdir gives no useful order: listings are sorted by name.
  std::sort(names.begin(), names.end());
  Cell* block = block::push_empty(int32_t(names.size()) + 1);
  for (auto& [name, is_dir] : names) append_file_value(block, is_dir ? name + "/" : name);
  return block;
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines) {
  Cell* result;
  if (dir_q(source)) {
    result = read_dir(source);
  } else {
    int64_t part_n = part ? count_of(part) : -1;
    int64_t seek_n = seek ? count_of(seek) : -1;
    int fd = open_file(file::to_local_text(source).c_str(), MODE_READ);
    if (fd < 0) cannot_open(source);
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) &&
              !(S_ISREG(st.st_mode) && st.st_size > MAX_READ);
    std::vector<uint8_t> bytes;
    bool empty = part_n == 0;
    if (ok && seek_n > 0) {
      if (::lseek(fd, off_t(seek_n), SEEK_SET) < 0) ok = false;
    }
    if (ok && !empty) ok = read_all(fd, part_n, &bytes);
    close_file(fd);
    if (!ok) cannot_open(source);
    if (empty || bytes.empty()) result = push_empty(binary, lines);
    else if (binary) result = binary::push_new_from_bytes(bytes.data(), int32_t(bytes.size()));
    else if (lines) result = lines_to_block(bytes.data(), int64_t(bytes.size()));
    else result = push_utf8_string(bytes.data(), int64_t(bytes.size()));
  }
  *source = *result;
  stack::drop_cells(1);
  return source;
}

void write(Cell* destination, Cell* value, Cell* part, Cell* seek, bool, bool append,
           bool lines) {
  int64_t part_n = -1;
  if (part) {
    if (cell::type(part) != T_INTEGER) {
      Cell w = word::intern_global("part");
      error::raise(err::script::invalid_refine_arg, &w, part);
    }
    part_n = cell::get_int(part);
    if (part_n < 0) return;
  }
  int64_t seek_n = seek ? count_of(seek) : -1;
  int fd;
  if (!destination) {
    fd = platform::output_fd();
  } else {
    int32_t mode = MODE_WRITE | (append ? MODE_APPEND : 0) | (seek_n >= 0 ? MODE_SEEK : 0);
    fd = open_file(file::to_local_text(destination).c_str(), mode);
    if (fd < 0) cannot_open(destination);
  }
  bool ok = true;
  if (destination) {
    if (seek_n > 0 && ::lseek(fd, off_t(seek_n), SEEK_SET) < 0) ok = false;
    if (ok && append && ::lseek(fd, 0, SEEK_END) < 0) ok = false;
  }
  static const uint8_t lf = '\n';
  if (ok && part_n != 0) {
    if (lines && cell::type(value) == T_BLOCK) {
      Cell b = *value;
      gc::Root keep(&b);
      int32_t tail = int32_t(b.w1) + block::count_from_head(&b);
      for (int32_t i = int32_t(b.w1); ok && i < tail; ++i) {
        Cell item = *block::cell_at_index(&b, i);
        gc::Root keep_item(&item);
        ok = write_one(fd, &item, -1) && write_data(fd, &lf, 1);
      }
    } else {
      ok = write_one(fd, value, part_n);
      if (ok && lines) ok = write_data(fd, &lf, 1);
    }
  }
  if (destination) {
    // A full disk may show only when the file is closed.
    if (::close(fd) != 0 && errno != EINTR) ok = false;
  }
  if (!ok) {
    if (destination) cannot_open(destination);
    Cell none{T_NONE, 0, 0, 0};
    error::raise(err::access::cannot_open, &none);
  }
}

bool delete_(Cell* file) {
  std::string path = file::to_local_text(file);
  return (dir_q(file) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

bool rename(Cell* from, Cell* to) {
  std::string a = file::to_local_text(from);
  std::string b = file::to_local_text(to);
  // An existing target is never replaced.
  if (::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 1 /* NOREPLACE */) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(a.c_str(), b.c_str()) != 0) return false;
  if (::unlink(a.c_str()) != 0) {
    ::unlink(b.c_str());
    return false;
  }
  return true;
}

Cell* query(Cell* file) {
  std::string path = file::to_local_text(file);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  if (ends_with_slash(path) && !S_ISDIR(st.st_mode)) return nullptr;
  struct tm tm {};
  time_t secs = st.st_mtim.tv_sec;
  if (!::gmtime_r(&secs, &tm)) return nullptr;
  Cell* d = stack::reserve_cell();
  cell::set_none(d);
  int32_t millis = int32_t(st.st_mtim.tv_nsec / 1000000);
  date::init_cell_from_hms(d, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                           tm.tm_min, tm.tm_sec, millis * 1000000);
  return d;
}

int64_t size_of(Cell* file) {
  if (dir_q(file)) return -1;
  // Non-blocking: a FIFO without a writer must not hang the query.
  int fd = ::open(file::to_local_text(file).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  int64_t size = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 0x7FFFFFFF)
    size = st.st_size;
  close_file(fd);
  return size;
}

// ---- Routines (bound through the bridge table, runtime/evaluator/bridge.cpp) ----

namespace {
inline Cell* arg(int i) { return stack::state().base + i; }
}  // namespace

void create_dir_routine() {
  Cell* path = arg(0);
  if (!make_dir(file::to_local_text(path).c_str())) {
    Cell p = *path;
    error::raise(err::access::no_create, &p);
  }
}

void exists_routine() {
  Cell r{T_LOGIC, file_exists_q(file::to_local_text(arg(0)).c_str()) ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

void write_stdout_routine() {
  tui::PrintScope around;
  write(nullptr, arg(0), nullptr, nullptr, false, false, false);
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

void os_info_routine() {
  Cell* o = host::os_description();
  Cell r = *o;
  stack::set_only_result(&r);
}

}  // namespace kel::simple_io

// ---- The file! actions' hand-overs ----

namespace kel::io {

Cell* read_file_or_dir(Cell* source, Cell* part, Cell* seek, bool binary, bool lines) {
  return simple_io::read(source, part, seek, binary, lines);
}

void write_value(Cell* destination, Cell* value, Cell* part, Cell* seek, bool binary,
                 bool append, bool lines) {
  simple_io::write(destination, value, part, seek, binary, append, lines);
}

bool file_delete(Cell* file) { return simple_io::delete_(file); }

Cell* file_query(Cell* file) {
  Cell* d = simple_io::query(file);
  if (!d) return nullptr;
  *file = *d;
  stack::drop_cells(1);
  return file;
}

bool file_rename(Cell* from, Cell* to) { return simple_io::rename(from, to); }

}  // namespace kel::io
