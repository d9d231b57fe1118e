// The JSON codec's routines (the decoder's `unescape`, the encoder's `emit-string`) and their
// placement in the codec objects of the boot library.
#pragma once

namespace kel::json {

// Registers the routines (no global word).
void register_routines();
// Start-up, after the JSON module: puts each routine in its field (`unescape`, `emit-string`)
// of the object that `load-json`'s (`to-json`'s) body is bound to.
void place_routines();

}  // namespace kel::json
