// The backend routines of system/view/platform and TUI-helpers, placed in their fields once
// gui/backend.kel has made both objects, and the call of system/view/platform/init.
#pragma once

namespace kel::gui {

// Registers the routines (once per process) and puts them in their fields; checks that
// TUI-helpers has its fields in the order the widget code calls them by.
void place_routines();
// Calls system/view/platform/init (which runs the backend's start-up).
void run_platform_init();

}  // namespace kel::gui
