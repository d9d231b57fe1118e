// The Draw backend for character cells: lines and outlines of full blocks, fills as
// background colour on spaces, boxes of box-drawing characters, text painted like face text.
#include "gui/terminal/draw_cells.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/widget_kinds.h"
#include "gui/terminal/widgets.h"
#include "runtime/datatypes/tuple.h"

namespace kel::gui::draw_cells {

namespace {
constexpr uint32_t FULL_BLOCK = 0x2588;
constexpr uint32_t CORNER_TL = 0x250C, CORNER_TR = 0x2510, CORNER_BL = 0x2514, CORNER_BR = 0x2518;
constexpr uint32_t VERTICAL = 0x2502, HORIZONTAL = 0x2500;
// Ellipses whose radii add up to more than this are drawn row by row over the clip rather
// than stepped point by point (the stepping's work grows with the radius, and its error
// terms would pass 64 bits).
constexpr int64_t STEPPED_ELLIPSE_LIMIT = int64_t(1) << 16;

bool inside(const DrawContext& dc, int64_t x, int64_t y) {
  return x >= dc.clip.left && x < dc.clip.right && y >= dc.clip.top && y < dc.clip.bottom;
}

void put_pen(const DrawContext& dc, int64_t x, int64_t y, uint32_t ch) {
  cut_wide_at(int32_t(x), int32_t(y));
  ScreenCell* c = grid_at(int32_t(x), int32_t(y));
  c->ch = ch;
  c->fg = dc.pen_colour;
  c->attrs &= ~attr::WIDE_TAIL;
}

void put_fill(const DrawContext& dc, int64_t x, int64_t y) {
  cut_wide_at(int32_t(x), int32_t(y));
  ScreenCell* c = grid_at(int32_t(x), int32_t(y));
  c->ch = ' ';
  c->bg = dc.fill_colour;
  c->attrs &= ~attr::WIDE_TAIL;
}

// Fills the cells of row y from x0 to x1 (inclusive, either order) that lie in the clip.
void fill_run(const DrawContext& dc, int64_t y, int64_t x0, int64_t x1) {
  if (y < dc.clip.top || y >= dc.clip.bottom) return;
  int64_t from = std::max<int64_t>(std::min(x0, x1), dc.clip.left);
  int64_t to = std::min<int64_t>(std::max(x0, x1), dc.clip.right - 1);
  for (int64_t x = from; x <= to; ++x) put_fill(dc, x, y);
}

DrawPoint moved(const DrawContext& dc, DrawPoint p) { return {p.x + dc.origin_x, p.y + dc.origin_y}; }

// Error stepping from (x0, y0) to (x1, y1), grid coordinates; stops at the first point
// outside the clip.
void segment(const DrawContext& dc, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  int64_t dx = std::llabs(x1 - x0), dy = -std::llabs(y1 - y0), err = dx + dy;
  int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  for (;;) {
    if (!inside(dc, x0, y0)) return;
    put_pen(dc, x0, y0, FULL_BLOCK);
    if (x0 == x1 && y0 == y1) return;
    int64_t e2 = 2 * err;
    if (e2 >= dy) {
      if (x0 == x1) return;
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      if (y0 == y1) return;
      err += dx;
      y0 += sy;
    }
  }
}

// One point of an ellipse: the pen's block, and the fill from beside it to the centre column.
void ellipse_point(const DrawContext& dc, int64_t cx, int64_t px, int64_t py) {
  if (dc.pen_on && inside(dc, px, py)) put_pen(dc, px, py, FULL_BLOCK);
  if (dc.fill_on && px != cx) fill_run(dc, py, px < cx ? px + 1 : px - 1, cx);
}

void stepped_ellipse(const DrawContext& dc, int64_t cx, int64_t cy, int64_t a, int64_t b) {
  int64_t x = -a, y = 0;
  int64_t dx = (2 * x + 1) * b * b, dy = x * x, err = dx + dy;
  while (x <= 0) {
    ellipse_point(dc, cx, cx - x, cy + y);
    ellipse_point(dc, cx, cx + x, cy + y);
    ellipse_point(dc, cx, cx + x, cy - y);
    ellipse_point(dc, cx, cx - x, cy - y);
    int64_t e2 = 2 * err;
    if (e2 >= dx) {
      ++x;
      dx += 2 * b * b;
      err += dx;
    }
    if (e2 <= dy) {
      ++y;
      dy += 2 * a * a;
      err += dy;
    }
  }
  // The tips of flat ellipses.
  while (y + 1 < b) {
    ++y;
    ellipse_point(dc, cx, cx, cy + y);
    ellipse_point(dc, cx, cx, cy - y);
  }
}

// A huge ellipse row by row over the clip: on each row the outline runs from the half
// width of the next row out to this row's, the fill inside it.
void row_ellipse(const DrawContext& dc, int64_t cx, int64_t cy, int64_t a, int64_t b) {
  int64_t top = std::max<int64_t>(dc.clip.top, cy - b);
  int64_t bottom = std::min<int64_t>(dc.clip.bottom - 1, cy + b);
  auto half = [&](int64_t dy) {
    if (dy >= b) return 0.0;
    double t = double(dy) / double(b);
    return double(a) * std::sqrt(std::max(0.0, 1.0 - t * t));
  };
  for (int64_t row = top; row <= bottom; ++row) {
    int64_t dy = std::llabs(row - cy);
    int64_t outer = int64_t(std::llround(half(dy)));
    int64_t inner = std::min(outer, int64_t(std::floor(half(dy + 1))));
    if (dc.fill_on && inner > 0) fill_run(dc, row, cx - inner + 1, cx + inner - 1);
    if (dc.pen_on) {
      int64_t ranges[2][2] = {{cx - outer, cx - inner}, {cx + inner, cx + outer}};
      for (auto& r : ranges) {
        int64_t from = std::max<int64_t>(r[0], dc.clip.left);
        int64_t to = std::min<int64_t>(r[1], dc.clip.right - 1);
        for (int64_t x = from; x <= to; ++x) put_pen(dc, x, row, FULL_BLOCK);
      }
    }
  }
}

void draw_ellipse(const DrawContext& dc, int64_t cx, int64_t cy, int64_t a, int64_t b) {
  if (!dc.on_grid || (!dc.pen_on && !dc.fill_on)) return;
  if (cx + a < dc.clip.left || cx - a >= dc.clip.right || cy + b < dc.clip.top || cy - b >= dc.clip.bottom)
    return;
  if (a + b <= STEPPED_ELLIPSE_LIMIT) stepped_ellipse(dc, cx, cy, a, b);
  else row_ellipse(dc, cx, cy, a, b);
}
}  // namespace

DrawContext for_face(uint32_t widget, int32_t x, int32_t y, const ClipRect& clip, uint32_t style_bits) {
  DrawContext dc{};
  dc.on_grid = true;
  dc.widget = widget;
  dc.origin_x = x;
  dc.origin_y = y;
  dc.clip = clip;
  dc.style_bits = style_bits;
  begin(dc);
  return dc;
}

DrawContext for_image() {
  DrawContext dc{};
  begin(dc);
  return dc;
}

void begin(DrawContext& dc) {
  dc.pen_on = true;
  dc.pen_colour = 0;
  dc.fill_on = false;
  dc.font_colour_set = false;
}

uint32_t colour_word(const Cell* tuple) { return rgb_to_256(tuple_to_rgb(tuple)); }

void pen(DrawContext& dc, const Cell* colour) {
  if (!colour) {
    dc.pen_on = false;
    return;
  }
  dc.pen_colour = colour_word(colour);
  dc.pen_on = true;
  if (!dc.font_colour_set) dc.text_colour = dc.pen_colour;
}

void fill_pen(DrawContext& dc, const Cell* colour) {
  if (!colour) {
    dc.fill_on = false;
    return;
  }
  dc.fill_colour = colour_word(colour);
  dc.fill_on = true;
}

void font(DrawContext& dc, const Cell* font) {
  const Cell* c = font_slot(font, font_field::COLOR);
  if (c && cell::type(c) == T_TUPLE) {
    dc.text_colour = colour_word(c);
    dc.font_colour_set = true;
  } else {
    dc.font_colour_set = false;
  }
}

void line(DrawContext& dc, const DrawPoint* points, int32_t count) {
  if (!dc.on_grid || !dc.pen_on) return;
  for (int32_t i = 0; i + 1 < count; ++i) {
    DrawPoint a = moved(dc, points[i]), b = moved(dc, points[i + 1]);
    segment(dc, a.x, a.y, b.x, b.y);
  }
}

void box(DrawContext& dc, DrawPoint a, DrawPoint b) {
  if (!dc.on_grid || (!dc.pen_on && !dc.fill_on)) return;
  int64_t left = std::min(a.x, b.x), right = std::max(a.x, b.x);
  int64_t top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
  int64_t width = dc.clip.right - dc.origin_x, height = dc.clip.bottom - dc.origin_y;
  if (left >= width || right <= 0 || top >= height || bottom <= 0) return;
  Screen& s = screen();
  left = std::max<int64_t>(left + dc.origin_x, dc.origin_x);
  top = std::max<int64_t>(top + dc.origin_y, dc.origin_y);
  right = std::min<int64_t>(right + dc.origin_x, s.width - 1);
  bottom = std::min<int64_t>(bottom + dc.origin_y, s.height - 1);
  int64_t row_from = std::max<int64_t>(top, dc.clip.top), row_to = std::min<int64_t>(bottom, dc.clip.bottom - 1);
  int64_t col_from = std::max<int64_t>(left, dc.clip.left), col_to = std::min<int64_t>(right, dc.clip.right - 1);
  for (int64_t r = row_from; r <= row_to; ++r) {
    for (int64_t c = col_from; c <= col_to; ++c) {
      if (dc.fill_on) put_fill(dc, c, r);
      if (!dc.pen_on) continue;
      bool edge_row = r == top || r == bottom, edge_col = c == left || c == right;
      if (!edge_row && !edge_col) continue;
      uint32_t ch = edge_row ? HORIZONTAL : VERTICAL;
      if (edge_row && edge_col) {
        if (r == top) ch = c == left ? CORNER_TL : CORNER_TR;
        else ch = c == left ? CORNER_BL : CORNER_BR;
      }
      put_pen(dc, c, r, ch);
    }
  }
}

void triangle(DrawContext& dc, DrawPoint p0, DrawPoint p1, DrawPoint p2) {
  if (!dc.on_grid) return;
  DrawPoint t[3] = {moved(dc, p0), moved(dc, p1), moved(dc, p2)};
  // By row, keeping the given order among points of one row.
  if (t[1].y < t[0].y) std::swap(t[0], t[1]);
  if (t[2].y < t[1].y) std::swap(t[1], t[2]);
  if (t[1].y < t[0].y) std::swap(t[0], t[1]);
  if (dc.fill_on) {
    int64_t height = t[2].y - t[0].y, upper = t[1].y - t[0].y;
    // Only the rows in the clip; the bottom point's row itself is not filled.
    int64_t first = std::max<int64_t>(0, dc.clip.top - t[0].y);
    int64_t end = std::min<int64_t>(height, dc.clip.bottom - t[0].y);
    for (int64_t i = first; i < end; ++i) {
      bool second = i > upper || t[1].y == t[0].y;
      double alpha = double(i) / double(height);
      double beta = second ? double(i - upper) / double(t[2].y - t[1].y) : double(i) / double(upper);
      double xa = double(t[0].x) + double(t[2].x - t[0].x) * alpha;
      double xb = second ? double(t[1].x) + double(t[2].x - t[1].x) * beta
                         : double(t[0].x) + double(t[1].x - t[0].x) * beta;
      fill_run(dc, t[0].y + i, int64_t(xa), int64_t(xb));
    }
  }
  if (dc.pen_on) {
    segment(dc, t[0].x, t[0].y, t[1].x, t[1].y);
    segment(dc, t[1].x, t[1].y, t[2].x, t[2].y);
    segment(dc, t[2].x, t[2].y, t[0].x, t[0].y);
  }
}

void circle(DrawContext& dc, DrawPoint centre, int64_t radius) {
  if (radius <= 0) return;
  DrawPoint c = moved(dc, centre);
  draw_ellipse(dc, c.x, c.y, 2 * radius, radius);
}

void ellipse(DrawContext& dc, DrawPoint top_left, DrawPoint size) {
  if (size.x < 1 || size.y < 1) return;
  int64_t a = int64_t((double(size.x) + 0.5) / 2), b = int64_t((double(size.y) + 0.5) / 2);
  DrawPoint c = moved(dc, {top_left.x + a, top_left.y + b});
  draw_ellipse(dc, c.x, c.y, a, b);
}

void text(DrawContext& dc, DrawPoint at, const Cell* value) {
  if (!dc.on_grid) return;
  DrawPoint p = moved(dc, at);
  if (p.x >= dc.clip.right || p.y >= dc.clip.bottom) return;
  // A start far left or above only skips cells: keep it within a row's reach of the clip.
  if (p.x < INT32_MIN / 2 || p.y < INT32_MIN / 2) return;
  PaintStyle style{dc.style_bits | STYLE_ESCAPES, align::WRAP, 0, 0};
  if (dc.font_colour_set) style.fg = dc.text_colour;
  else if (dc.pen_on) style.fg = dc.pen_colour;
  if (cell::type(value) == T_STRING) {
    paint_text(value, nullptr, int32_t(p.x), int32_t(p.y), dc.clip, style);
    return;
  }
  // A face: a rich-text widget's prepared cells; otherwise its text with its own alignment
  // inside its size, its colours unless the drawing gives them.
  if (uint32_t fw = face_handle_q(value)) {
    if (const PreparedCells* cells = rich_text_cells(fw)) {
      paint_text(nullptr, cells, int32_t(p.x), int32_t(p.y), dc.clip, style);
      return;
    }
  }
  const Cell* shown = face_slot(value, face_field::TEXT);
  if (!shown || cell::type(shown) != T_STRING) return;
  PaintStyle own = face_style(value, style.attrs);
  own.fg = dc.font_colour_set || dc.pen_on ? style.fg : own.fg;
  const Cell* size = face_slot(value, face_field::SIZE);
  int32_t dx = 0, dy = 0;
  if (size && cell::type(size) == T_PAIR) {
    int32_t width = int32_t(size->w2), height = int32_t(size->w3);
    int32_t widest = 0, lines = 0;
    measure_wrapped(shown, width, &widest, &lines);
    if (widest < width) {
      if (own.align & align::CENTER) dx = (width - widest) / 2;
      else if (own.align & align::RIGHT) dx = width - widest;
    }
    if (lines < height) {
      if (own.align & align::MIDDLE) dy = (height - lines) / 2;
      else if (own.align & align::BOTTOM) dy = height - lines;
    }
  }
  paint_text(shown, nullptr, int32_t(p.x) + dx, int32_t(p.y) + dy, dc.clip, own);
}

}  // namespace kel::gui::draw_cells
