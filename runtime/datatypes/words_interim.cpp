// Interim weak stand-ins for the lexer's first value and scan; the lexer unit replaces
// them.
#include "runtime/datatypes/words_interim.h"

#include "runtime/error.h"

namespace kel {

// ---- lexer ----
namespace lexer {
[[gnu::weak]] uint32_t scan_first_type(const uint8_t*, int32_t) { error::raise(err::internal::not_done); }
[[gnu::weak]] void load_first_value(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace lexer

}  // namespace kel
