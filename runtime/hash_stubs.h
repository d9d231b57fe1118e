// Services the tables take from other units (comparison, map keys, symbols); the map
// key stand-in stays in hash_stubs.cpp until the map unit lands.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::hash_stub {
// Key equality for the tables until every key type has its compare slot registered.
// 1 when a and b compare true under op (0 equal folding case, 2 strict-equal), else 0.
int compare(const Cell* a, const Cell* b, int op);
}  // namespace kel::hash_stub

namespace kel::map {
// Canonicalises a new map key in place: word-family keys become set-word!.
Cell* prepare_key(Cell* key);
}  // namespace kel::map

namespace kel::symbol {
// Alias id when positive, else the id itself (runtime/symbol.cpp).
int32_t canonical_id(int32_t id);
}  // namespace kel::symbol
