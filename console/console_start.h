// The console's start-up routines: `system/console/init` (title, editor, size) and the two
// internal routines the console library needs (whether input is a terminal, replacing a file).
#pragma once

namespace kel::console_start {

// Registers the routines (once): `init` without a name, `_terminal-input?`, `_replace-file`.
void register_routines();
// Puts the `init` routine into `system/console` (a start-up step after the console module).
void place_init();

}  // namespace kel::console_start
