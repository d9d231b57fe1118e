// The terminal backend's start-up entry: the routines put in system/view/platform and
// TUI-helpers, then system/view/platform/init, which runs the backend's own start-up.
#include "gui/terminal/backend.h"

#include "gui/terminal/event_loop.h"
#include "gui/terminal/face_tree.h"
#include "gui/terminal/platform.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kel::gui {

void init_backend() {
  place_routines();
  Cell platform;
  cell::set_none(&platform);
  // Without the platform object (a runtime without the GUI modules) the start-up runs alone.
  if (system::find_field("view", "platform", &platform) && cell::type(&platform) == T_OBJECT)
    run_platform_init();
  else
    start_up();
}

void forget_backend() {
  // Nothing here reads a face: the heap may be released already.
  forget_screen();
  reset_loop_state();
  forget_widgets();
}

}  // namespace kel::gui
