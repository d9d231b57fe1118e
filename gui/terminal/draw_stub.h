// `gui/OS-do-draw` until the Draw dialect is built: a stand-in the Draw unit replaces.
#pragma once
#include "runtime/cell.h"

namespace kel::gui {

// Runs Draw commands for an image: nothing to do for an empty block; any other block raises
// internal/not-done.
void do_draw(const Cell* image, const Cell* commands);

}  // namespace kel::gui
