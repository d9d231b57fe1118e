// Test-only stand-in for the evaluator's natives and actions tables: natives 1-107 and every
// action slot but 8 have code, as in the tables start-up fills.
#include "runtime/datatypes/native.h"

namespace kel::natives {
bool entry_filled_q(int32_t id) { return id >= 1 && id <= 107; }
}  // namespace kel::natives
namespace kel::actions {
bool entry_filled_q(int32_t id) { return id >= 1 && id <= 62 && id != 8; }
}  // namespace kel::actions
