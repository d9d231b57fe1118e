// The terminal backend's start-up entry: routines placed in their fields, then
// system/view/platform/init (the screen lists, widgets, timers, input queue and marker), and
// what a runtime that is gone leaves of it.
#pragma once

namespace kel::gui {

// Run once the GUI vocabulary is interned (and again by tests after a new runtime).
void init_backend();
// The runtime is gone or made again: its windows, widgets (their faces name its heap) and
// timers are dropped, the screen lists emptied; the terminal is left as it is.
void forget_backend();

}  // namespace kel::gui
