// Painting faces into the grid: the common paint of every widget, text and prepared cells
// with clipping, alignment and wrapping, and the SGR sequences face text may hold.
#include "gui/terminal/paint.h"

#include <algorithm>
#include <cstring>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/face_values.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace kel::gui {

namespace {
constexpr int32_t ESC = 27;
constexpr uint32_t CELL_ATTR_BITS = 0xFFFu;  // what a cell keeps of the style bits

// SGR 1-9: the attribute bit each sets (20 + n clears it).
constexpr uint32_t SGR_ATTR[10] = {0, attr::BOLD, attr::DIM, attr::ITALIC, attr::UNDERLINE,
                                   attr::BLINK, 0, attr::INVERSE, attr::HIDDEN, attr::STRIKE};

// Canonical ids of the words painting looks for, interned at start-up (interning may
// allocate, painting must not).
struct Words {
  int32_t center, right, middle, bottom, hint;
} g_words{};

// A string's characters read in place (painting allocates nothing, so the buffer stays).
struct TextUnits {
  const uint8_t* data;
  uint32_t unit;
  int32_t start, end;  // the head index and the tail index
  int32_t at(int32_t i) const {
    if (unit == 1) return data[i];
    if (unit == 2) {
      uint16_t v;
      std::memcpy(&v, data + size_t(i) * 2, 2);
      return v;
    }
    int32_t v;
    std::memcpy(&v, data + size_t(i) * 4, 4);
    return v;
  }
};

TextUnits text_units(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t unit = memory::unit(b);
  int32_t total = int32_t(memory::units(b));
  int32_t start = std::clamp(int32_t(s->w1), 0, total);
  return TextUnits{memory::head(b), unit, start, total};
}

// Texts repeat characters: the last width looked up is kept.
int32_t cell_width(int32_t c) {
  static int32_t last_c = -1, last_w = 1;
  if (c >= 0x20 && c < 0x7F) return 1;
  if (c != last_c) {
    last_w = char_width(c);
    last_c = c;
  }
  return last_w;
}

bool word_named(const Cell* c, int32_t id) {
  return word::any_word_type_q(cell::type(c)) && symbol::canonical_id(int32_t(c->w2)) == id;
}

// Tails from x on lose their head: each becomes a space of its own.
void clear_tails_from(int32_t x, int32_t y) {
  for (int32_t t = x; t < screen().width; ++t) {
    ScreenCell* c = grid_at(t, y);
    if (!(c->attrs & attr::WIDE_TAIL)) break;
    c->attrs &= ~attr::WIDE_TAIL;
    c->ch = ' ';
  }
}

}  // namespace

ScreenCell* grid_at(int32_t x, int32_t y) {
  Screen& s = screen();
  return &s.cells[size_t(y) * size_t(s.width) + size_t(x)];
}

void cut_wide_at(int32_t x, int32_t y) {
  if (grid_at(x, y)->attrs & attr::WIDE_TAIL) {
    for (int32_t h = x - 1; h >= 0; --h) {
      ScreenCell* c = grid_at(h, y);
      c->ch = ' ';
      if (!(c->attrs & attr::WIDE_TAIL)) break;
      c->attrs &= ~attr::WIDE_TAIL;
    }
  }
  clear_tails_from(x + 1, y);
}

namespace {
// The value after the word `hint` in an options block, or null.
const Cell* option_value(const Cell* options, int32_t name) {
  int32_t n = block::count_from_head(options);
  const Cell* head = block::head_cell(const_cast<Cell*>(options));
  for (int32_t i = 0; i + 1 < n; ++i)
    if (word_named(head + i, name)) return head + i + 1;
  return nullptr;
}

void apply_sgr(uint32_t p, EscapeState* st) {
  if (p == 0) {
    st->fg = 0;
    st->attrs &= ~attr::SGR_BITS;
  } else if (p <= 9) {
    st->attrs |= SGR_ATTR[p];
  } else if (p >= 21 && p <= 29) {
    st->attrs &= ~SGR_ATTR[p - 20];
  } else if (p >= 30 && p <= 37) {
    st->fg = COLOUR_BASIC | (p - 30);
  } else if (p == 39) {
    st->fg = COLOUR_BASIC | 9;
  } else if (p >= 90 && p <= 97) {
    st->fg = COLOUR_BASIC | (p - 90 + 10);
  }
  // Backgrounds (40-49, 100-107) are read and never reach the cells.
}

void apply_group(const uint32_t* g, int32_t count, EscapeState* st) {
  if (count == 3 && g[0] == 38 && g[1] == 5) {
    st->fg = COLOUR_PALETTE | (g[2] & 0xFF);
    return;
  }
  if (count == 3 && g[0] == 48 && g[1] == 5) return;
  for (int32_t k = 0; k < count; ++k) apply_sgr(g[k], st);
}
}  // namespace

void init_paint() {
  auto id = [](const char* name) { return symbol::canonical_id(symbol::intern_c_text(name)); };
  g_words = Words{id("center"), id("right"), id("middle"), id("bottom"), id("hint")};
}

namespace {
// Reads the escape sequence at index i (the ESC): the index after it, or i when it is no
// escape sequence (no "[" after the ESC).
int32_t parse_escape(const TextUnits& text, int32_t i, int32_t n, EscapeState* st) {
  if (i + 1 >= n || text.at(i + 1) != '[') return i;
  uint32_t group[3];
  int32_t count = 0;
  uint32_t current = 0;
  for (int32_t j = i + 2; j < n; ++j) {
    int32_t c = text.at(j);
    if (c >= '0' && c <= '9') {
      current = (current * 10 + uint32_t(c - '0')) % 65535;
    } else if (c == ';') {
      group[count++] = current;
      current = 0;
      if (count == 3) {
        apply_group(group, count, st);
        count = 0;
      }
    } else {
      if (c == 'm') {
        group[count++] = current;
        apply_group(group, count, st);
      }
      return j + 1;  // any other final character ends the sequence too
    }
  }
  return n;
}
}  // namespace

void measure_wrapped(const Cell* text, int32_t width, int32_t* widest, int32_t* lines) {
  TextUnits t = text_units(text);
  int32_t col = 0, wide = 0, count = 1;
  for (int32_t i = t.start; i < t.end; ++i) {
    int32_t c = t.at(i);
    if (c == '\n') {
      ++count;
      col = 0;
      continue;
    }
    int32_t w = cell_width(c);
    if (width > 0 && col > 0 && col + w > width) {
      ++count;
      col = 0;
    }
    col += w;
    wide = std::max(wide, col);
  }
  *widest = wide;
  *lines = count;
}

void paint_text(const Cell* text, const PreparedCells* cells, int32_t x, int32_t y,
                const ClipRect& clip, const PaintStyle& style) {
  bool wrap = style.align & align::WRAP;
  bool escapes = text && (style.attrs & STYLE_ESCAPES);
  TextUnits units = text ? text_units(text) : TextUnits{nullptr, 1, 0, 0};
  int32_t start = units.start;
  int32_t n = text ? units.end - units.start : int32_t(cells->size());
  EscapeState st{style.fg, style.attrs & CELL_ATTR_BITS};
  int32_t col = x, row = y;
  bool dropping = false;  // the rest of a line that passed the right edge
  for (int32_t i = 0; i < n && row < clip.bottom; ++i) {
    ScreenCell pc{};
    int32_t c;
    if (text) {
      c = units.at(start + i);
      if (c == ESC && escapes) {
        int32_t next = parse_escape(units, start + i, start + n, &st);
        if (next != start + i) {
          i = next - start - 1;
          continue;
        }
      }
    } else {
      pc = (*cells)[size_t(i)];
      c = int32_t(pc.ch);
    }
    if (c == '\n') {
      ++row;
      col = x;
      dropping = false;
      continue;
    }
    if (dropping) continue;
    int32_t w = cell_width(c);
    if (w <= 0) continue;  // a cell holds one code point: nothing to join it to
    // Wrapping: a character that does not fit goes to the next row, not lost.
    if (wrap && col > x && col + w > clip.right) {
      ++row;
      col = x;
      if (row >= clip.bottom) break;
    }
    if (col >= clip.left && col + w <= clip.right && row >= clip.top) {
      cut_wide_at(col, row);
      ScreenCell* g = grid_at(col, row);
      g->ch = uint32_t(c);
      if (text) {
        g->fg = st.fg;
        g->attrs = st.attrs;
      } else {
        g->fg = pc.fg;
        g->bg = pc.bg;
        g->attrs = (pc.attrs | style.attrs) & CELL_ATTR_BITS;
      }
      for (int32_t k = 1; k < w; ++k) {
        cut_wide_at(col + k, row);
        ScreenCell* t = grid_at(col + k, row);
        t->ch = 0;
        t->fg = g->fg;
        t->attrs = attr::WIDE_TAIL;
      }
    }
    col += w;
    if (col >= clip.right) {
      if (wrap) {
        ++row;
        col = x;
      } else {
        dropping = true;
      }
    }
  }
}

PaintStyle face_style(const Cell* face, uint32_t bits) {
  PaintStyle s{bits, 0, 0, 0};
  const Cell* color = face_slot(face, face_field::COLOR);
  if (color && cell::type(color) == T_TUPLE) s.bg = rgb_to_256(tuple_to_rgb(color));
  const Cell* font = face_slot(face, face_field::FONT);
  if (font && cell::type(font) == T_OBJECT) {
    const Cell* fc = font_slot(font, font_field::COLOR);
    s.fg = rgb_to_256(fc && cell::type(fc) == T_TUPLE ? tuple_to_rgb(fc) : 0);
  }
  const Cell* para = face_slot(face, face_field::PARA);
  if (para && cell::type(para) == T_OBJECT) {
    const Cell* a = para_slot(para, para_field::ALIGN);
    if (a && word_named(a, g_words.center)) s.align |= align::CENTER;
    else if (a && word_named(a, g_words.right)) s.align |= align::RIGHT;
    const Cell* v = para_slot(para, para_field::V_ALIGN);
    if (v && word_named(v, g_words.middle)) s.align |= align::MIDDLE;
    else if (v && word_named(v, g_words.bottom)) s.align |= align::BOTTOM;
    const Cell* wrap = para_slot(para, para_field::WRAP_Q);
    if (wrap && cell::type(wrap) == T_LOGIC && wrap->w1) s.align |= align::WRAP;
  }
  return s;
}

void common_paint(int32_t x, int32_t y, uint32_t id, uint32_t bits) {
  Widget* w = widget(id);
  Screen& sc = screen();
  if (!w || sc.cells.empty()) return;
  Cell face = w->face;  // nothing allocates before the Draw step, which copies what it needs
  PaintStyle style = face_style(&face, bits);
  int32_t width = widget_width(w), height = widget_height(w);
  ClipRect clip{x, y, x + width, y + height};
  if (w->parent && !is_window_q(w->parent)) {
    // Only the immediate parent clips.
    if (const Widget* p = widget(w->parent)) {
      int32_t px = x - int32_t(w->left), py = y - int32_t(w->top);
      clip.left = std::max(clip.left, px);
      clip.top = std::max(clip.top, py);
      clip.right = std::min(clip.right, px + widget_width(p));
      clip.bottom = std::min(clip.bottom, py + widget_height(p));
    }
  }
  clip.left = std::max(clip.left, 0);
  clip.top = std::max(clip.top, 0);
  clip.right = std::min(clip.right, sc.width);
  clip.bottom = std::min(clip.bottom, sc.height);
  if (clip.right - clip.left < 1 || clip.bottom - clip.top < 1) return;

  for (int32_t r = clip.top; r < clip.bottom; ++r) {
    cut_wide_at(clip.left, r);
    clear_tails_from(clip.right, r);
    for (int32_t c = clip.left; c < clip.right; ++c) {
      ScreenCell* g = grid_at(c, r);
      g->ch = ' ';
      g->bg = style.bg;
      g->attrs &= ~attr::WIDE_TAIL;
    }
  }
  if (w->image_cells) {
    PaintStyle image_style = style;
    image_style.align |= align::WRAP;
    image_style.attrs &= ~STYLE_ESCAPES;
    paint_text(nullptr, w->image_cells.get(), x, y, clip, image_style);
  }
  if (cell::type(&w->ui_text) == T_STRING) {
    Cell ui = w->ui_text;
    paint_text(&ui, nullptr, x, y, clip, style);
  }
  if (!(bits & STYLE_NO_TEXT)) {
    const Cell* text = face_slot(&face, face_field::TEXT);
    Cell shown;
    cell::set_none(&shown);
    PaintStyle text_style = style;
    if (text && cell::type(text) == T_STRING && string::count_from_head(const_cast<Cell*>(text)) > 0) {
      shown = *text;
    } else {
      const Cell* options = face_slot(&face, face_field::OPTIONS);
      if (options && cell::type(options) == T_BLOCK) {
        const Cell* hint = option_value(options, g_words.hint);
        if (hint && cell::type(hint) == T_STRING) {
          shown = *hint;
          text_style.attrs |= attr::DIM;
        }
      }
    }
    if (cell::type(&shown) == T_STRING) {
      int32_t widest = 0, lines = 0;
      measure_wrapped(&shown, width, &widest, &lines);
      int32_t dx = 0, dy = 0;
      if (widest < width) {
        if (style.align & align::CENTER) dx = (width - widest) / 2;
        else if (style.align & align::RIGHT) dx = width - widest;
      }
      if (lines < height) {
        if (style.align & align::MIDDLE) dy = (height - lines) / 2;
        else if (style.align & align::BOTTOM) dy = height - lines;
      }
      paint_text(&shown, nullptr, x + dx, y + dy, clip, text_style);
    }
  }
  const Cell* draw = face_slot(&face, face_field::DRAW);
  if (draw && cell::type(draw) == T_BLOCK && block::count_from_head(draw) > 0)
    paint_draw(id, x, y, clip, bits, draw);
}

}  // namespace kel::gui
