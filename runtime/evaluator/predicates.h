// The type predicates (`block?`, `series?` and the rest): routines of the routine registry,
// one per datatype and one per named typeset.
#pragma once
#include <cstdint>

namespace kel::predicates {

// Adds the 48 datatype predicates and the 14 typeset predicates to the routine registry.
void register_routines();

// The datatype id a datatype predicate's C++ function tests for; 0 for any other function.
uint32_t datatype_tested(void (*fn)());

}  // namespace kel::predicates
