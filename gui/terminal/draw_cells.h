// The Draw backend for character cells: the drawing state of one face and the operations
// the Draw interpreter calls (lines, boxes, triangles, ellipses, text) on the screen grid.
#pragma once
#include <cstdint>

#include "gui/terminal/paint.h"
#include "runtime/cell.h"

namespace kel::gui {

// The drawing state. Shapes are placed relative to the origin (the face's top-left cell)
// and cut to the clip (the face's rectangle as painted); without a grid target (the
// drawing of an image) every operation only keeps the state.
struct DrawContext {
  bool on_grid;
  uint32_t widget;
  int32_t origin_x, origin_y;
  ClipRect clip;
  bool pen_on;
  uint32_t pen_colour;  // colour words
  bool fill_on;
  uint32_t fill_colour;
  uint32_t text_colour;
  bool font_colour_set;
  uint32_t style_bits;
};

// A point in face cells (coordinates wide enough for any pair or truncated float).
struct DrawPoint {
  int64_t x, y;
};

namespace draw_cells {

// A context for a face painted at (x, y) inside the clip, or one with no grid target.
DrawContext for_face(uint32_t widget, int32_t x, int32_t y, const ClipRect& clip, uint32_t style_bits);
DrawContext for_image();

void begin(DrawContext& dc);
// A tuple's colour as a palette colour word (a fully transparent one is the default).
uint32_t colour_word(const Cell* tuple);
void pen(DrawContext& dc, const Cell* colour);  // null: off
void fill_pen(DrawContext& dc, const Cell* colour);
void font(DrawContext& dc, const Cell* font);
void line(DrawContext& dc, const DrawPoint* points, int32_t count);
void box(DrawContext& dc, DrawPoint a, DrawPoint b);
void triangle(DrawContext& dc, DrawPoint p0, DrawPoint p1, DrawPoint p2);
void circle(DrawContext& dc, DrawPoint centre, int64_t radius);
void ellipse(DrawContext& dc, DrawPoint top_left, DrawPoint size);
// A string from its head, or a face object's text.
void text(DrawContext& dc, DrawPoint at, const Cell* value);

}  // namespace draw_cells
}  // namespace kel::gui
