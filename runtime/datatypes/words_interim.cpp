// Interim weak stand-ins for the lexer's first value and scan and for object change
// records; the lexer and object units replace them.
#include "runtime/datatypes/words_interim.h"

#include "runtime/error.h"

namespace kel {

// ---- lexer ----
namespace lexer {
[[gnu::weak]] uint32_t scan_first_type(const uint8_t*, int32_t) { error::raise(err::internal::not_done); }
[[gnu::weak]] void load_first_value(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace lexer

// ---- objects ----
namespace object {
[[gnu::weak]] void fire_change(const Cell*, const Cell*, const Cell*, Cell*) {
  error::raise(err::internal::not_done);
}
}  // namespace object

}  // namespace kel
