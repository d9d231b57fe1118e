// Weak stand-in for the vector! hook of the block actions until vector! lands (delete this
// file then); typeset! has its own unit.
#include "runtime/datatypes/block_hooks_stub.h"

#include "runtime/error.h"

namespace kel::vector {
[[gnu::weak]] void elements_into_block(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace kel::vector
