// Weak stand-ins for the vector! and typeset! hooks of the block actions; the real units
// replace them (delete this file when both have landed).
#include "runtime/datatypes/block_hooks_stub.h"

#include "runtime/error.h"

namespace kel::vector {
[[gnu::weak]] void elements_into_block(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace kel::vector

namespace kel::typeset {
[[gnu::weak]] void list_types(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace kel::typeset
