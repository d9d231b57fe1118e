// Rich text: prepared cells from a face's text, the style block (ranges, colours, bold,
// italic, underline, strike) and the metrics of the laid-out text.
#include "gui/terminal/rich_text.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/face_values.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::gui {

namespace {

struct Words {
  int32_t backdrop, bold, italic, underline, strike, border;
} g_words{};

bool word_is(const Cell* c, int32_t id) {
  return c && word::any_word_type_q(cell::type(c)) && symbol::canonical_id(int32_t(c->w2)) == id;
}

[[noreturn]] void invalid_at(const Cell* styles, int32_t at) {
  Cell* rest = stack::push_copy(styles);
  rest->w1 = uint32_t(at);
  error::raise(err::script::draw_invalid, rest);
}

// A colour tuple as a palette colour word (tuples keep R in their first byte).
uint32_t colour_word(const Cell* tuple) { return rgb_to_256(tuple_to_rgb(tuple)); }

// A point2D! or pair! as column and line; false for anything else.
bool point_of(const Cell* c, float* x, float* y) {
  if (cell::type(c) == T_PAIR) {
    *x = float(pair::x_of(c));
    *y = float(pair::y_of(c));
    return true;
  }
  if (cell::type(c) == T_POINT2D) {
    *x = point::coordinate(c, 0);
    *y = point::coordinate(c, 1);
    return true;
  }
  return false;
}

}  // namespace

void init_rich_text() {
  auto id = [](const char* name) { return symbol::canonical_id(symbol::intern_c_text(name)); };
  g_words = Words{id("backdrop"), id("bold"), id("italic"), id("underline"), id("strike"),
                  id("border")};
}

void free_rich_text_data(void* data) { delete static_cast<PreparedCells*>(data); }

void apply_text_styles(PreparedCells* cells, const Cell* styles_in) {
  stack::TopGuard keep;
  Cell* styles = stack::push_copy(styles_in);
  int32_t n = int32_t(cells->size());
  int32_t first = 0, last = -1;  // the range, 0-based and inclusive; empty at first
  int32_t start = int32_t(styles->w1);
  int32_t end = start + std::max(0, block::count_from_head(styles));
  auto each = [&](auto&& fn) {
    for (int32_t i = first; i <= last && i < n; ++i) fn((*cells)[size_t(i)]);
  };
  for (int32_t at = start; at < end; ++at) {
    const Cell* v = block::cell_at_index(styles, at);
    uint32_t t = cell::type(v);
    if (t == T_PAIR) {
      // Only the part inside the text counts: a start before 1 or past the end, and an
      // empty or negative length, never reach outside the cells.
      int64_t s = pair::x_of(v), length = pair::y_of(v);
      int64_t e = s + length - 1;
      if (length <= 0 || e < 1) {
        first = 0;
        last = -1;
      } else {
        first = int32_t(std::max<int64_t>(s, 1) - 1);
        last = int32_t(std::min<int64_t>(e, n) - 1);
      }
    } else if (t == T_TUPLE) {
      uint32_t c = colour_word(v);
      each([&](ScreenCell& cell) { cell.fg = c; });
    } else if (t == T_STRING || t == T_INTEGER || t == T_FLOAT) {
      // font names and sizes: a character grid has one font
    } else if (word_is(v, g_words.backdrop)) {
      if (at + 1 >= end) invalid_at(styles, at);
      const Cell* c = block::cell_at_index(styles, at + 1);
      if (cell::type(c) == T_WORD) c = word::value_slot(c);
      if (!c || cell::type(c) != T_TUPLE) invalid_at(styles, at);
      uint32_t colour = colour_word(c);
      each([&](ScreenCell& cell) { cell.bg = colour; });
      ++at;
    } else if (word_is(v, g_words.bold) || word_is(v, g_words.italic)) {
      uint32_t bit = word_is(v, g_words.bold) ? attr::BOLD : attr::ITALIC;
      each([&](ScreenCell& cell) { cell.attrs |= bit; });
    } else if (word_is(v, g_words.underline) || word_is(v, g_words.strike) ||
               word_is(v, g_words.border)) {
      uint32_t bit = word_is(v, g_words.underline) ? attr::UNDERLINE
                     : word_is(v, g_words.strike)  ? attr::STRIKE
                                                   : 0;
      each([&](ScreenCell& cell) { cell.attrs |= bit; });
      if (at + 1 < end && cell::type(block::cell_at_index(styles, at + 1)) == T_TUPLE) ++at;
      if (at + 1 < end && cell::type(block::cell_at_index(styles, at + 1)) == T_LIT_WORD) ++at;
    } else {
      invalid_at(styles, at);
    }
  }
}

void rebuild_rich_text(uint32_t id) {
  Widget* w = widget(id);
  if (!w) return;
  stack::TopGuard keep;
  Cell* face = stack::push_copy(&w->face);
  const Cell* text = face_slot(face, face_field::TEXT);
  const Cell* data = face_slot(face, face_field::DATA);
  if (!text || cell::type(text) != T_STRING || !data || cell::type(data) != T_BLOCK) return;
  Cell* t = stack::push_copy(text);
  Cell* styles = stack::push_copy(data);
  int32_t n = std::max(0, string::count_from_head(t));
  if (n == 0) return;
  uint32_t bg = 0;
  const Cell* colour = face_slot(face, face_field::COLOR);
  if (colour && cell::type(colour) == T_TUPLE && (tuple_to_rgb(colour) >> 24) != 255)
    bg = rgb_to_256(tuple_to_rgb(colour));
  auto cells = std::make_unique<PreparedCells>();
  cells->reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i)
    cells->push_back(ScreenCell{uint32_t(string::codepoint_at(t, int32_t(t->w1) + i)), bg, 0, 0});
  apply_text_styles(cells.get(), styles);
  w = widget(id);
  if (!w) return;
  if (w->data && w->free_data) w->free_data(w->data);
  w->data = cells.release();
  w->free_data = free_rich_text_data;
}

void text_box_metrics(const Cell* face_in, const Cell* arg0_in, int32_t type, Cell* out) {
  stack::TopGuard keep;
  Cell* face = stack::push_copy(face_in);
  Cell* arg0 = stack::push_copy(arg0_in);
  const Cell* text_slot = face_slot(face, face_field::TEXT);
  cell::set_none(out);
  if (!text_slot || cell::type(text_slot) != T_STRING) return;
  Cell* text = stack::push_copy(text_slot);
  float fw = 0, fh = 0;
  const Cell* size = face_slot(face, face_field::SIZE);
  int32_t width = INT32_MAX, height = INT32_MAX;
  if (size && point_of(size, &fw, &fh)) {
    width = int32_t(fw);
    height = int32_t(fh);
  }
  (void)height;  // lines past the height still count: the box scrolls
  // Lay the text out: each character's column and line.
  int32_t n = std::max(0, string::count_from_head(text));
  std::vector<int32_t> col, line, cw;
  col.reserve(size_t(n));
  int32_t c = 0, l = 0, widest = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cp = string::codepoint_at(text, int32_t(text->w1) + i);
    if (cp == '\n') {
      col.push_back(c);
      line.push_back(l);
      cw.push_back(1);
      ++l;
      c = 0;
      continue;
    }
    int32_t w = char_width(cp);
    if (w < 0) w = 0;
    if (c + w > width) {
      if (c == 0) break;  // wider than the layout: the walk ends
      ++l;
      c = 0;
    }
    col.push_back(c);
    line.push_back(l);
    cw.push_back(w);
    c += w;
    widest = std::max(widest, c);
  }
  int32_t laid = int32_t(col.size());
  int32_t lines = l + 1;
  auto position = [&](int32_t index, bool after) {
    // index 1-based, within 1 .. laid + 1
    index = std::clamp(index, 1, laid + 1);
    if (index > laid) {
      point2D::init_cell(out, float(c), float(l + (after ? 1 : 0)));
      return;
    }
    int32_t i = index - 1;
    point2D::init_cell(out, float(col[size_t(i)] + (after ? cw[size_t(i)] : 0)),
                       float(line[size_t(i)] + (after ? 1 : 0)));
  };
  switch (type) {
    case 0:
    case 6: {
      if (cell::type(arg0) != T_INTEGER) error::raise(err::script::invalid_arg, arg0);
      position(int32_t(arg0->w2), type == 6);
      return;
    }
    case 1:
    case 5: {
      float px, py;
      if (!point_of(arg0, &px, &py)) error::raise(err::script::invalid_arg, arg0);
      int32_t x = int32_t(px), y = int32_t(py);
      int32_t last_on_line = -1;
      for (int32_t i = 0; i < laid; ++i) {
        if (line[size_t(i)] != y) continue;
        last_on_line = i;
        if (col[size_t(i)] <= x && x < col[size_t(i)] + std::max(1, cw[size_t(i)])) {
          cell::set_integer(out, i + 1);
          return;
        }
      }
      bool past_text = y > l || (y == l && last_on_line < 0) || (y == l && x >= c);
      if (past_text || last_on_line < 0) {
        cell::set_integer(out, type == 5 ? std::max(1, laid) : laid + 1);
        return;
      }
      // After the line's last character: its newline's own index when it has one.
      bool newline = string::codepoint_at(text, int32_t(text->w1) + last_on_line) == '\n';
      cell::set_integer(out, last_on_line + (newline ? 1 : 2));
      return;
    }
    case 2:
      float_::init_cell(out, 1.0);
      return;
    case 3:
      point2D::init_cell(out, float(widest), float(lines));
      return;
    default:
      cell::set_integer(out, lines);
      return;
  }
}

}  // namespace kel::gui
