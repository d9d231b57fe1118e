// Terminal input bytes as keys: the shared escape-sequence scanner, UTF-8 with cut-off
// detection, and the line editor's key codes.
#include "runtime/keys.h"

#include "runtime/unicode.h"

namespace kel::keys {

namespace {
constexpr uint8_t ESC = 0x1B;
constexpr int32_t NUMBER_LIMIT = 99999;
}  // namespace

Sequence scan(const uint8_t* p, size_t n) {
  Sequence s{Seq::Other, 1, 0, false, {0, 0, 0, 0}, 0};
  if (n < 2) {
    s.kind = Seq::Incomplete;
    return s;
  }
  uint8_t kind = p[1];
  if (kind == 'P' || kind == ']') {
    for (size_t i = 2; i + 1 < n; ++i) {
      if (p[i] == ESC && p[i + 1] == '\\') {
        s.kind = Seq::String;
        s.length = i + 2;
        return s;
      }
    }
    s.kind = Seq::Incomplete;
    return s;
  }
  if (kind != '[') return s;
  int32_t number = 0;
  for (size_t i = 2; i < n; ++i) {
    uint8_t b = p[i];
    if (b == ESC) {
      s.kind = Seq::Abandoned;
      s.length = i + 1;
      return s;
    }
    if (b == '<') {
      s.mouse = true;
    } else if (b >= '0' && b <= '9') {
      number = number * 10 + (b - '0');
      if (number > NUMBER_LIMIT) number = NUMBER_LIMIT;
    } else if (b == ';' || (b >= 64 && b <= 126 && b != '[')) {
      if (s.param_count < MAX_PARAMS) s.params[s.param_count] = number;
      ++s.param_count;
      number = 0;
      if (b != ';') {
        s.kind = Seq::Control;
        s.final_byte = b;
        s.length = i + 1;
        return s;
      }
    }
  }
  s.kind = Seq::Incomplete;
  return s;
}

int32_t decode_utf8(const uint8_t* p, size_t n, size_t* used) {
  uint8_t lead = p[0];
  if (lead < 0x80) {
    *used = 1;
    return lead;
  }
  size_t len = size_t(unicode::utf8_lead_length(lead));
  *used = 1;
  if (len == 0 || lead >= 0xF8) return UTF8_BAD;
  // A byte that cannot continue the sequence makes it bad before its end arrives.
  for (size_t i = 1; i < len && i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return UTF8_BAD;
  if (n < len) {
    *used = 0;
    return UTF8_CUT;
  }
  int32_t u = 0;
  int32_t cp = unicode::decode_utf8_checked(p, int32_t(len), &u);
  if (cp < 0) return UTF8_BAD;
  *used = size_t(u);
  return cp;
}

size_t decode_editor_key(const uint8_t* p, size_t n, bool final, int32_t* code) {
  *code = 0;
  if (n == 0) return 0;
  if (p[0] == ESC) {
    if (n == 1) {
      if (!final) return 0;
      *code = 27;
      return 1;
    }
    if (p[1] == 'O') {
      if (n == 2) return final ? 2 : 0;
      switch (p[2]) {
        case 'A': *code = UP; break;
        case 'B': *code = DOWN; break;
        case 'C': *code = RIGHT; break;
        case 'D': *code = LEFT; break;
        case 'H': *code = HOME; break;
        case 'F': *code = END; break;
        default: break;
      }
      return 3;
    }
    if (p[1] != '[') {
      *code = 27;  // Esc, and the next byte is a key of its own
      return 1;
    }
    Sequence s = scan(p, n);
    if (s.kind == Seq::Incomplete) return final ? n : 0;
    if (s.kind == Seq::Abandoned) return s.length - 1;  // the ESC that cut it starts anew
    if (s.mouse) return s.length;
    switch (s.final_byte) {
      case 'A': *code = UP; break;
      case 'B': *code = DOWN; break;
      case 'C': *code = RIGHT; break;
      case 'D': *code = LEFT; break;
      case 'H': *code = HOME; break;
      case 'F': *code = END; break;
      case 'Z': *code = 9; break;
      case '~':
        switch (s.params[0]) {
          case 1: case 7: *code = HOME; break;
          case 4: case 8: *code = END; break;
          case 2: *code = INSERT; break;
          case 3: *code = DELETE; break;
          case 5: *code = PAGE_UP; break;
          case 6: *code = PAGE_DOWN; break;
          default: break;
        }
        break;
      default: break;
    }
    return s.length;
  }
  size_t used = 0;
  int32_t cp = decode_utf8(p, n, &used);
  if (cp == UTF8_CUT) {
    if (!final) return 0;
    *code = 0xFFFD;
    return n;
  }
  if (cp == UTF8_BAD) {
    *code = 0xFFFD;
    return used;
  }
  *code = cp == '\n' ? 13 : cp;
  return used;
}

}  // namespace kel::keys
