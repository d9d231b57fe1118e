// Stand-ins for services of units not built yet (cycle guard, tracer, symbol names,
// output hooks, function specs); weak, so the real definitions replace them.
#include <unistd.h>

#include <string>

#include "runtime/cell.h"

namespace kel {

namespace cycle {
__attribute__((weak)) void clear() {}
}  // namespace cycle

__attribute__((weak)) bool tracing_q() { return false; }
__attribute__((weak)) void trace_fire(uint32_t, const Cell*, uint32_t, const Cell*, const Cell*) {}

namespace error {
// No function specs yet: the argument is not named.
__attribute__((weak)) Cell nth_argument_word(int32_t) { return Cell{T_NONE, 0, 0, 0}; }

namespace detail {
__attribute__((weak)) std::string symbol_text(uint32_t symbol) {
  return "#" + std::to_string(symbol);
}
__attribute__((weak)) void write_out(const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(1, text, length);
    if (n <= 0) return;
    text += n;
    length -= size_t(n);
  }
}
}  // namespace detail
}  // namespace error

namespace stack::detail {
// No word lookup yet: values are unknown.
__attribute__((weak)) const Cell* word_value(const Cell*) { return nullptr; }
__attribute__((weak)) uint32_t global_context() { return 0; }
}  // namespace stack::detail

}  // namespace kel
