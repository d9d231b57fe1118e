// The console line editor: one edited line on a terminal (prompt, keys, history, completion,
// wrapping) or one line read from redirected input, and the routines `ask` and `input` use.
#pragma once

namespace kel::editor {

// The editor's initialisation: whether standard input and output are a terminal and, when
// they are, the sizes (into `system/console/size` when it exists); the saved line. The
// routines run it on first use when nothing else has.
void init();
// Standard input and output are a terminal the editor draws on.
bool console_q();
// The last read met the end of standard input (read 0, or EIO on a terminal) with nothing
// read: `ask` returned "" for that reason.
bool input_ended_q();
// Columns and rows the editor draws with (-1 before the first size reading).
int columns();
int rows();

// Registers `_set-buffer-history`, `_read-input`, `input-stdin`, `read-stdin`,
// `_terminate-console` and `_input-ended?` (once).
void register_routines();
// The runtime is gone or made again: the line and history it kept name its heap.
void forget_cells();

}  // namespace kel::editor
