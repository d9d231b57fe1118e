// Services the tables take from units that are not built yet: map key canonicalisation
// (the map unit), kept here until that unit lands.
#pragma once
#include "runtime/cell.h"

namespace kel::map {
// Canonicalises a new map key in place: word-family keys become set-word!.
Cell* prepare_key(Cell* key);
}  // namespace kel::map
