// The line editor's text measure and its relative cursor moves.
#include "console/measure.h"

#include <charconv>

#include "runtime/charwidth.h"
#include "runtime/output.h"

namespace kel::editor {

namespace {
void put_char(std::string* out, int32_t cp) {
  uint8_t buf[4];
  int k = unicode::encode_utf8_raw(uint32_t(cp), buf);
  if (k == 0) k = unicode::encode_utf8_raw(0xFFFD, buf);
  out->append(reinterpret_cast<char*>(buf), size_t(k));
}

void put_csi(std::string* out, int32_t n, char final_byte) {
  char buf[16];
  buf[0] = '\x1b';
  buf[1] = '[';
  auto r = std::to_chars(buf + 2, buf + sizeof buf - 1, n);
  *r.ptr++ = final_byte;
  out->append(buf, size_t(r.ptr - buf));
}
}  // namespace

int32_t char_columns(int32_t cp) {
  if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
  return unicode::char_width(cp);
}

int32_t measure(const int32_t* text, size_t n, int32_t room, int32_t columns, bool hidden,
                std::string* out) {
  if (columns < 1) columns = 1;
  if (room < 1 || room > columns) room = columns;
  int32_t used = 0;
  // Takes w columns on the current row, moving to a new row first when it is full.
  auto take = [&](int32_t w) {
    if (w == 0) return;
    if (room == 0) room = columns;
    if (w == 2 && room == 1) {  // a wide character does not start on the last column
      used += 1;
      room = columns;
    }
    if (w > room) w = room;  // a row narrower than the character
    used += w;
    room -= w;
  };
  for (size_t i = 0; i < n; ++i) {
    int32_t c = text[i];
    if (c == 0x1B && !hidden) {
      if (out) out->push_back('\x1b');
      if (i + 1 < n && (text[i + 1] == '[' || text[i + 1] == '(')) {
        size_t j = i + 1;
        if (out) out->push_back(char(text[j]));
        while (++j < n && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';'))
          if (out) out->push_back(char(text[j]));
        if (j < n && out) put_char(out, text[j]);
        i = j < n ? j : n - 1;
      }
      continue;
    }
    if (hidden) {
      if (out) out->push_back('*');
      take(1);
    } else if (c == '\t') {
      for (int k = 0; k < 4; ++k) {
        if (out) out->push_back(' ');
        take(1);
      }
    } else {
      // C1 controls would act on the terminal: they show as the replacement character.
      bool control = c >= 0x80 && c < 0xA0;
      if (out) put_char(out, control ? 0xFFFD : c);
      take(control ? 1 : char_columns(c));
    }
  }
  return used;
}

void append_move(std::string* out, int32_t from_row, int32_t to_row, int32_t column) {
  if (to_row > from_row) put_csi(out, to_row - from_row, 'B');
  else if (to_row < from_row) put_csi(out, from_row - to_row, 'A');
  put_csi(out, column + 1, 'G');
}

}  // namespace kel::editor
