// Stand-ins for services of units not built yet (tracer, symbol names, word lookup); weak,
// so the real definitions replace them.
#include <string>

#include "runtime/cell.h"

namespace kel {

__attribute__((weak)) bool tracing_q() { return false; }
__attribute__((weak)) void trace_fire(uint32_t, const Cell*, uint32_t, const Cell*, const Cell*) {}

namespace error {
namespace detail {
__attribute__((weak)) std::string symbol_text(uint32_t symbol) {
  return "#" + std::to_string(symbol);
}
}  // namespace detail
}  // namespace error

namespace stack::detail {
// No word lookup yet: values are unknown.
__attribute__((weak)) const Cell* word_value(const Cell*) { return nullptr; }
__attribute__((weak)) uint32_t global_context() { return 0; }
}  // namespace stack::detail

}  // namespace kel
