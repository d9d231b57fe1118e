// The general routines of the boot library, each a C++ function over the current frame,
// registered in their table's order, and the collector routines of system/state/GC.
#pragma once

namespace kel::bridge {

// Registers the general routines (quit-return ... write-stdout) and the collector state
// routines, which go into system/state/GC once the registry is bound. Once per process.
void register_routines();

}  // namespace kel::bridge
