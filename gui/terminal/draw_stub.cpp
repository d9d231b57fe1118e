// `gui/OS-do-draw` until the Draw dialect is built: the Draw unit defines do_draw itself and
// deletes this file (weak, so that the two never clash while both are there).
#include "gui/terminal/draw_stub.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/error.h"

namespace kel::gui {

__attribute__((weak)) void do_draw(const Cell*, const Cell* commands) {
  if (cell::type(commands) == T_BLOCK && block::count_from_head(commands) <= 0) return;
  error::raise(err::internal::not_done);
}

}  // namespace kel::gui
