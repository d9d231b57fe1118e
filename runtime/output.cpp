// Console output writers: one 1,024-byte gathering buffer, UTF-8 out through write(2),
// number formatting that does not depend on the locale.
#include "runtime/output.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "runtime/charwidth.h"
#include "runtime/hooks.h"
#include "runtime/unicode.h"

namespace kel::unicode {

int encode_utf8_raw(uint32_t cp, uint8_t* d) {
  if (cp <= 0x7F) {
    d[0] = uint8_t(cp);
    return 1;
  }
  if (cp <= 0x7FF) {
    d[0] = uint8_t(0xC0 | cp >> 6);
    d[1] = uint8_t(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp <= 0xFFFF) {
    d[0] = uint8_t(0xE0 | cp >> 12);
    d[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    d[2] = uint8_t(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp <= 0x10FFFF) {
    d[0] = uint8_t(0xF0 | cp >> 18);
    d[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    d[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    d[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
  }
  return 0;
}

}  // namespace kel::unicode

namespace kel::platform {

namespace {
int g_console = 0;
int g_fd = 1;
constexpr size_t BUFFER_SIZE = 1024;
constexpr size_t FLUSH_AT = 1020;  // written as soon as more than this is gathered
uint8_t g_buffer[BUFFER_SIZE];
size_t g_used = 0;

void flush() {
  write_bytes(g_buffer, g_used);
  g_used = 0;
}

inline void put_char(uint32_t cp) {
  int n = unicode::encode_utf8_raw(cp, g_buffer + g_used);
  if (n == 0) n = unicode::encode_utf8_raw(0xFFFD, g_buffer + g_used);  // not a character
  g_used += size_t(n);
  if (g_used > FLUSH_AT) flush();
}

// The column count: plain text, inside an escape sequence, or inside a string command
// (OSC, DCS) that runs to BEL or ESC backslash.
enum : uint8_t { COL_TEXT, COL_ESC, COL_CSI, COL_STRING, COL_STRING_ESC };
struct ColumnState {
  int32_t column;
  uint8_t mode;
  uint8_t need;  // continuation bytes still to come
  uint32_t cp;
};
ColumnState g_col{0, COL_TEXT, 0, 0};

inline int32_t width_of(uint32_t cp) {
  if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
  if (cp >= 0x80 && cp < 0xA0) return 0;  // C1 controls show nothing
  return unicode::char_width(int32_t(cp));
}

void count_byte(ColumnState& st, uint8_t b) {
  if (st.need) {
    if ((b & 0xC0) == 0x80) {
      st.cp = st.cp << 6 | (b & 0x3Fu);
      if (--st.need == 0) st.column += width_of(st.cp);
      return;
    }
    st.need = 0;
    st.column += 1;  // the cut sequence shows as one replacement character
  }
  switch (st.mode) {
    case COL_ESC:
      st.mode = b == '[' ? COL_CSI : (b == ']' || b == 'P') ? COL_STRING : COL_TEXT;
      return;
    case COL_CSI:
      if (b >= 0x20 && b < 0x40) return;
      st.mode = COL_TEXT;
      if (b >= 0x40 && b < 0x7F) return;
      break;  // a control ends it and acts
    case COL_STRING:
      if (b == 7) st.mode = COL_TEXT;
      else if (b == 0x1B) st.mode = COL_STRING_ESC;
      return;
    case COL_STRING_ESC:
      st.mode = b == '\\' ? COL_TEXT : COL_STRING;
      return;
    default:
      break;
  }
  if (b < 0x80) {
    if (b >= 0x20 && b < 0x7F) ++st.column;
    else if (b == '\n' || b == '\r') st.column = 0;
    else if (b == '\t') st.column = (st.column / 8 + 1) * 8;
    else if (b == '\b') st.column -= st.column > 0;
    else if (b == 0x1B) st.mode = COL_ESC;
    return;
  }
  int32_t len = b < 0xF8 ? unicode::utf8_lead_length(b) : 0;
  if (len == 0) {
    st.column += 1;
    return;
  }
  st.need = uint8_t(len - 1);
  st.cp = b & (0x7Fu >> len);
}
}  // namespace

void count_columns(const uint8_t* p, size_t n) {
  // Only what follows the last line end counts.
  if (const void* nl = memrchr(p, '\n', n)) {
    size_t skip = size_t(static_cast<const uint8_t*>(nl) - p) + 1;
    g_col = ColumnState{0, COL_TEXT, 0, 0};
    p += skip;
    n -= skip;
  }
  ColumnState st = g_col;
  for (size_t i = 0; i < n; ++i) count_byte(st, p[i]);
  g_col = st;
}

int32_t output_column() { return g_col.column; }
void reset_output_column() { g_col = ColumnState{0, COL_TEXT, 0, 0}; }

void init_console_output() { g_console = isatty(1) ? 1 : 0; }
int console_flag() { return g_console; }
void set_output_fd(int fd) { g_fd = fd; }
int output_fd() { return g_fd; }

void write_bytes(const void* bytes, size_t length) {
  auto* p = static_cast<const uint8_t*>(bytes);
  count_columns(p, length);
  while (length) {
    ssize_t n = ::write(g_fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        // A descriptor left non-blocking by another program: wait until it takes more.
        struct pollfd out {g_fd, POLLOUT, 0};
        if (::poll(&out, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return;  // EPIPE and the like: the output is lost, the program goes on
    }
    p += n;
    length -= size_t(n);
  }
}

void write_text(const void* units, size_t byte_length, int unit_size, bool newline) {
  // The buffer may hold bytes of an interrupted earlier call (a fault mid-print): start clean.
  g_used = 0;
  switch (unit_size) {
    case 1: {
      auto* p = static_cast<const uint8_t*>(units);
      for (size_t i = 0; i < byte_length; ++i) put_char(p[i]);
      break;
    }
    case 2: {
      auto* p = static_cast<const uint8_t*>(units);
      for (size_t i = 0; i + 1 < byte_length; i += 2) {
        uint16_t u;
        std::memcpy(&u, p + i, 2);
        put_char(u);
      }
      break;
    }
    case 4: {
      auto* p = static_cast<const uint8_t*>(units);
      for (size_t i = 0; i + 3 < byte_length; i += 4) {
        uint32_t u;
        std::memcpy(&u, p + i, 4);
        put_char(u);
      }
      break;
    }
    default:
      return;
  }
  if (newline) g_buffer[g_used++] = '\n';
  flush();
}

void write_latin1_text(const void* u, size_t n) { write_text(u, n, 1, false); }
void write_latin1_line(const void* u, size_t n) { write_text(u, n, 1, true); }
void write_ucs2_text(const void* u, size_t n) { write_text(u, n, 2, false); }
void write_ucs2_line(const void* u, size_t n) { write_text(u, n, 2, true); }
void write_ucs4_text(const void* u, size_t n) { write_text(u, n, 4, false); }
void write_ucs4_line(const void* u, size_t n) { write_text(u, n, 4, true); }
void write_utf16_unit(uint16_t unit) { write_text(&unit, 2, 2, false); }

const char* print_c_text(const char* text) {
  size_t n = std::strlen(text);
  write_bytes(text, n);
  output::run_buffer_hooks(text, n, 0);
  return text;
}

void write_number_buffer(const char* text, size_t length) {
  write_text(text, length, 1, false);
  output::run_buffer_hooks(text, length, 0);
}

namespace {
void print_hex_digits(uint32_t v, int min_digits) {
  char buf[8];
  int n = 0;
  do {
    buf[7 - n++] = "0123456789ABCDEF"[v & 0xF];
    v >>= 4;
  } while (v);
  while (n < min_digits) buf[7 - n++] = '0';
  write_number_buffer(buf + 8 - n, size_t(n));
}
void print_general(double v, int precision) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
  write_number_buffer(buf, size_t(r.ptr - buf));
}
}  // namespace

void print_integer(int32_t value) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  write_number_buffer(buf, size_t(r.ptr - buf));
}
void print_hex_byte(uint32_t value) { print_hex_digits(value, 2); }
void print_hex(uint32_t value) { print_hex_digits(value, 8); }
void print_float(double value) { print_general(value, 16); }
void print_float32(float value) { print_general(double(value), 7); }

}  // namespace kel::platform
