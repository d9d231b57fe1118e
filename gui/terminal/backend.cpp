// The terminal backend's start-up: the screen lists, the widget table, the timers, the input
// queue and its sink, and the collector marker.
#include "gui/terminal/backend.h"

#include "gui/terminal/event_loop.h"
#include "gui/terminal/input.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"

namespace kel::gui {

void init_backend() {
  init_screen();
  init_widgets();
  init_paint();
  init_event_loop();
  reset_input();
}

}  // namespace kel::gui
