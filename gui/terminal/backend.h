// The terminal backend's start-up: the screen lists, the widget table, the timers, the input
// queue and its sink, and the collector marker.
#pragma once

namespace kel::gui {

// Run once the GUI vocabulary is interned (and again by tests after a new runtime).
void init_backend();

}  // namespace kel::gui
