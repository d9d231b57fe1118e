// The general routines of the boot library, each a C++ function over the current frame,
// registered in their table's order, and the routines placed in fields of `system`.
#pragma once

namespace kel::bridge {

// Registers the general routines (quit-return ... write-stdout) and the placed ones, which go
// into their `system` fields (state/GC, state/interpreted? ...) once the registry is bound.
// Once per process.
void register_routines();

// Start-up, after the debugger module: the tracing switch's setter (no global word) into
// system/tools, the object that module makes.
void place_tools_routines();

}  // namespace kel::bridge
