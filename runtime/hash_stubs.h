// Services the tables take from other units (comparison, map keys, symbols); the map
// key stand-in stays in hash_stubs.cpp until the map unit lands.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::actions {
// Whether a and b compare true under op (runtime/evaluator/actions.h; same declaration).
bool compare(const Cell* a, const Cell* b, int32_t op);
}  // namespace kel::actions

namespace kel::map {
// Canonicalises a new map key in place: word-family keys become set-word!.
Cell* prepare_key(Cell* key);
}  // namespace kel::map

namespace kel::symbol {
// Alias id when positive, else the id itself (runtime/symbol.cpp).
int32_t canonical_id(int32_t id);
}  // namespace kel::symbol
