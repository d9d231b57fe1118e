// Stand-ins for services of units not built yet (comparison, map keys, symbols),
// removed as each real unit lands.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::actions {
// 1 when a and b compare true under op (0 equal folding case, 2 strict-equal), else 0.
int compare(const Cell* a, const Cell* b, int op);
}  // namespace kel::actions

namespace kel::map {
// Canonicalises a new map key in place: word-family keys become set-word!.
Cell* prepare_key(Cell* key);
}  // namespace kel::map

namespace kel::symbol {
// Alias id when positive, else the id itself (runtime/symbol.cpp).
int32_t canonical_id(int32_t id);
}  // namespace kel::symbol
