// The general routines of the boot library, each a C++ function over the current frame,
// registered in their table's order, and the routines placed in fields of `system`.
#pragma once

namespace kel::bridge {

// Registers the general routines (quit-return ... write-stdout) and the placed ones, which go
// into their `system` fields (state/GC, state/interpreted? ...) once the registry is bound.
// Once per process.
void register_routines();

}  // namespace kel::bridge
