// The Draw dialect interpreter: walks a Draw block, checks every command's arguments and
// calls the character-cell operations; the entry points for images and for face painting.
#pragma once
#include <cstdint>

#include "gui/terminal/draw_cells.h"
#include "runtime/cell.h"

namespace kel::gui {

// Start-up: the dialect's keywords (in the root block, with the GUI vocabulary).
void intern_draw_words();

// Interprets the block (from its head) in the context; bad input raises script/draw-invalid,
// a block nested in itself (or past the nesting bound) script/draw-infinite. With painting
// set, a label whose set-word is bound to nothing is bad input.
void interpret_draw(DrawContext& dc, const Cell* block, bool painting);

// `gui/OS-do-draw`: the commands checked and run for an image (its pixels stay as they
// are); an empty block does nothing. Errors are passed on.
void do_draw(const Cell* image, const Cell* commands);

// Common paint's Draw step: the face's `draw` block onto the grid at (x, y) inside the
// clip. With system/view/silent? true an error ends that block quietly.
void paint_draw(uint32_t widget, int32_t x, int32_t y, const ClipRect& clip, uint32_t style_bits,
                const Cell* block);

}  // namespace kel::gui
