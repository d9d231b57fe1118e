// The JSON decoder's `unescape` routine (backslash escapes resolved in place) and its
// placement in the decoder object of the boot library.
#pragma once

namespace kel::json {

// Registers the routine (no global word).
void register_routines();
// Start-up, after the JSON module: puts the routine in the `unescape` field of the object
// that `load-json`'s body is bound to.
void place_unescape();

}  // namespace kel::json
