// The terminal backend's start-up entry: routines placed in their fields, then
// system/view/platform/init (the screen lists, widgets, timers, input queue and marker).
#pragma once

namespace kel::gui {

// Run once the GUI vocabulary is interned (and again by tests after a new runtime).
void init_backend();

}  // namespace kel::gui
