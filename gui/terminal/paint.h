// Painting a face into the screen grid: background, image cells, user text, the face text
// (aligned, wrapped, escape sequences interpreted) and the Draw step.
#pragma once
#include <cstdint>

#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell.h"

namespace kel::gui {

// Alignment bits of a paint style.
namespace align {
constexpr uint32_t RIGHT = 1;
constexpr uint32_t CENTER = 2;
constexpr uint32_t MIDDLE = 4;
constexpr uint32_t BOTTOM = 8;
constexpr uint32_t WRAP = 32;
}  // namespace align

struct PaintStyle {
  uint32_t attrs;  // cell attributes and the STYLE_* bits
  uint32_t align;
  uint32_t fg, bg;
};

struct ClipRect {
  int32_t left, top, right, bottom;
};

// Start-up: the words painting looks for.
void init_paint();
// Paints the widget with its top-left corner at column x, row y of the grid.
void common_paint(int32_t x, int32_t y, uint32_t widget, uint32_t style_bits);
// The style a face asks for: colours, alignment (the given attribute bits kept).
PaintStyle face_style(const Cell* face, uint32_t style_bits);
// Text (a string from its head) or prepared cells (text null) from (x, y) inside the clip.
void paint_text(const Cell* text, const PreparedCells* cells, int32_t x, int32_t y,
                const ClipRect& clip, const PaintStyle& style);
// Cells a text takes: its widest line and its lines, lines broken at newlines and where they
// would pass width (width <= 0: at newlines only).
void measure_wrapped(const Cell* text, int32_t width, int32_t* widest, int32_t* lines);

// The grid cell at (x, y) (inside the grid).
ScreenCell* grid_at(int32_t x, int32_t y);
// Before (x, y) is written: a wide character it cuts in two loses its other half, which
// would otherwise shift the row (a head without its tail, or a tail without its head).
void cut_wide_at(int32_t x, int32_t y);

// The SGR state an escape sequence in face text changes.
struct EscapeState {
  uint32_t fg;
  uint32_t attrs;
};

}  // namespace kel::gui
