// Stand-ins for the tracer, which is not built yet: tracing is off and events go nowhere.
// The tracer's real definitions replace these weak ones.
#include "runtime/cell.h"

namespace kel {

__attribute__((weak)) bool tracing_q() { return false; }
__attribute__((weak)) void trace_fire(uint32_t, const Cell*, uint32_t, const Cell*, const Cell*) {}

}  // namespace kel
