// Interim string unit: init-cell, add-codepoint, add-c-text and mold-char only.
// Superseded by the string! unit; nothing else of the string API lives here.
#include "runtime/datatypes/string_min.h"

#include "runtime/cell_api.h"
#include "runtime/unicode.h"

namespace kel::string {

Cell* init_cell(Cell* cell, int32_t n) {
  Node node = memory::series_new(uint32_t(n > 0 ? n : 1), 1, 0);
  *cell = Cell{T_STRING, 0, node, 0};
  return cell;
}

SeriesBuffer* add_codepoint(Cell* s, int32_t c) {
  // Allocations may give the buffer another node: always read it from the cell.
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  uint32_t need = u;
  if (u == 1 && c > 127) need = c > 0xFFFF ? 4 : 2;
  else if (u == 2 && c > 0xFFFF) need = 4;
  if (need != u) {
    unicode::widen_to(b, need, (memory::units(b) + 1) * need);
    u = need;
  }
  uint8_t* at = runtime::series_reserve_bytes_node(s->w2, u);
  unicode::store_unit(at, u, c);
  return memory::node_buffer(s->w2);
}

void add_c_text(Cell* s, const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    add_codepoint(s, *p);
}

namespace {

// Letter after "^" for codepoints below 95; 0 = no escape.
char escape_letter(int32_t c) {
  if (c == 0) return '@';
  if (c >= 1 && c <= 8) return char('A' + c - 1);
  if (c == 9) return '-';
  if (c == 10) return '/';
  if (c >= 11 && c <= 26) return char('K' + c - 11);
  switch (c) {
    case 27: return '[';
    case 28: return '\\';
    case 29: return ']';
    case 30: return '^';
    case 31: return '_';
    case 34: return '"';
    case 94: return '^';
    default: return 0;
  }
}

}  // namespace

void mold_char(Cell* s, int32_t c, bool all) {
  if (c == 0x1E || (c >= 128 && c <= 159) || (all && c > 127)) {
    static const char digits[] = "0123456789ABCDEF";
    char hex[12];
    int n = 0;
    uint32_t v = uint32_t(c);
    do {
      hex[n++] = digits[v & 15];
      v >>= 4;
    } while (v);
    if (c == 0) hex[n++] = '0';  // zero is written "00"
    add_c_text(s, "^(");
    while (n > 0) add_codepoint(s, hex[--n]);
    add_codepoint(s, ')');
    return;
  }
  if (c < 95) {
    if (char e = escape_letter(c)) {
      add_codepoint(s, '^');
      add_codepoint(s, e);
      return;
    }
  }
  if (c == 127) {
    add_c_text(s, "^~");
    return;
  }
  add_codepoint(s, c);
}

}  // namespace kel::string
