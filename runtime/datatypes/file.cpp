// file! values: the file mold, the local (POSIX) form of a path, the current directory,
// and the file actions down to their hand-over to host I/O.
#include "runtime/datatypes/file.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/io_handover.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::file {
namespace {

void add_text(Cell* out, const char* text) {
  for (const char* p = text; *p; ++p) string::add_codepoint(out, uint8_t(*p));
}

Cell* logic_into(Cell* at, bool v) {
  *at = Cell{T_LOGIC, v ? 1u : 0u, 0, 0};
  return at;
}

[[noreturn]] void not_done() { error::raise(err::internal::not_done); }

}  // namespace

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
  Cell v = *value;
  gc::Root keep(&v);
  int32_t rest = string::count_from_head(&v);
  int32_t head = int32_t(v.w1);
  int32_t run = rest;
  if (part) run = budget < 0 ? 0 : budget < rest ? budget : rest;

  string::add_codepoint(buffer, '%');
  --budget;
  if (rest == 0) {
    add_text(buffer, "\"\"");
    return budget - 2;
  }
  bool quoted = false;
  for (int32_t i = 0; i < run && !quoted; ++i) {
    int32_t c = string::codepoint_at(&v, head + i);
    quoted = c > 126 || !url::url_char_q(uint32_t(c));
  }
  if (quoted) {
    string::add_codepoint(buffer, '"');
    --budget;
  }
  for (int32_t i = 0; i < run; ++i) string::add_codepoint(buffer, string::codepoint_at(&v, head + i));
  budget -= run;
  if (quoted) {
    string::add_codepoint(buffer, '"');
    --budget;
  }
  return budget;
}

// ---- Local paths ----

void to_local_chars(Cell* file_in, Cell* out, bool with_current_dir) {
  Cell f = *file_in;
  gc::Root keep(&f);
  int32_t n = string::count_from_head(&f);
  int32_t head = int32_t(f.w1);
  bool absolute = n > 0 && string::codepoint_at(&f, head) == '/';
  if (!absolute && with_current_dir) {
    Cell* dir = current_dir();
    string::concat(out, dir, string::MODE_APPEND);
    stack::drop_cells(1);
  }
  for (int32_t i = 0; i < n; ++i) string::add_codepoint(out, string::codepoint_at(&f, head + i));
}

std::string to_local_text(Cell* file_in) {
  Cell f = *file_in;
  gc::Root keep(&f);
  int32_t n = string::count_from_head(&f);
  int32_t head = int32_t(f.w1);
  std::string out;
  out.reserve(size_t(n));
  uint8_t seq[4];
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = string::codepoint_at(&f, head + i);
    // The system would end the name at a NUL: a name holding one names another file.
    if (cp == 0) error::raise(err::script::invalid_arg, &f);
    if (cp >= RAW_BYTE_FIRST && cp <= RAW_BYTE_LAST) {
      out.push_back(char(cp - RAW_BYTE_BASE));
      continue;
    }
    int32_t len = unicode::encode_utf8_char(cp, seq);
    out.append(reinterpret_cast<const char*>(seq), size_t(len));
  }
  return out;
}

void from_local_text(Cell* out, const uint8_t* bytes, int32_t n) {
  cell::set_none(out);
  string::init_cell(out, n > 0 ? n : 1);
  for (int32_t i = 0; i < n;) {
    int32_t used = 0;
    int32_t cp = unicode::decode_utf8_checked(bytes + i, n - i, &used);
    if (cp < 0 || used < 1) {
      cp = RAW_BYTE_BASE + bytes[i];
      used = 1;
    }
    string::add_codepoint(out, cp);
    i += used;
  }
  cell::set_type(out, T_FILE);
}

Cell* current_dir() {
  std::string dir = platform::current_dir_text();
  // A directory that cannot be read gives an empty text rather than a made-up "/": a
  // relative path then stays relative.
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  Cell* s = stack::reserve_cell();
  cell::set_none(s);  // the collector may look at it before it is a string
  from_local_text(s, reinterpret_cast<const uint8_t*>(dir.data()), int32_t(dir.size()));
  cell::set_type(s, T_STRING);
  return s;
}

Cell* push_copy(const Cell* file) { return stack::push_copy(file); }

// ---- File actions: checks here, the work in host I/O ----

Cell* delete_(Cell* file) { return logic_into(file, io::file_delete(file)); }

Cell* query(Cell* file) {
  Cell* r = io::file_query(file);
  if (r) return r;
  cell::set_none(file);
  return file;
}

Cell* rename(Cell* from, Cell* to) { return logic_into(from, io::file_rename(from, to)); }

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
  if (as) not_done();
  return io::read_file_or_dir(source, part, seek, binary, lines);
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as) {
  if (allow || as) not_done();
  io::write_value(destination, data, part, seek, binary, append, lines);
  cell::set_unset(destination);
  return destination;
}

// ---- registration ----

void install_type() {
  using datatype::inherit;
  datatype::register_type(
      {.id = T_FILE, .parent = T_URL, .name = "file!",
       .slots = {.make = inherit, .to = inherit, .form = inherit, .mold = mold,
                 .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
                 .back = inherit, .change = inherit, .clear = inherit, .copy = inherit,
                 .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
                 .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
                 .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
                 .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit,
                 .tail_q = inherit, .take = inherit, .delete_ = delete_, .modify = inherit,
                 .query = query, .read = read, .rename = rename, .write = write}});
}

}  // namespace kel::file
