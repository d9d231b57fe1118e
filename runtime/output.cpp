// Console output writers: one 1,024-byte gathering buffer, UTF-8 out through write(2),
// number formatting that does not depend on the locale.
#include "runtime/output.h"

#include <errno.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "runtime/hooks.h"

namespace kel::unicode {

int encode_utf8_char(uint32_t cp, uint8_t* d) {
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
  int n = unicode::encode_utf8_char(cp, g_buffer + g_used);
  if (n == 0) n = unicode::encode_utf8_char(0xFFFD, g_buffer + g_used);  // not a character
  g_used += size_t(n);
  if (g_used > FLUSH_AT) flush();
}
}  // namespace

void init_console_output() { g_console = isatty(1) ? 1 : 0; }
int console_flag() { return g_console; }
void set_output_fd(int fd) { g_fd = fd; }
int output_fd() { return g_fd; }

void write_bytes(const void* bytes, size_t length) {
  auto* p = static_cast<const uint8_t*>(bytes);
  while (length) {
    ssize_t n = ::write(g_fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
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
