// The type predicates (`block?`, `series?` and the rest): routines of the routine registry,
// one per datatype and one per named typeset.
#pragma once

namespace kel::predicates {

// Adds the 48 datatype predicates and the 14 typeset predicates to the routine registry.
void register_routines();

}  // namespace kel::predicates
