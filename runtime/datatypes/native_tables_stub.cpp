// Stand-in answers for the evaluator's natives and actions tables until that unit defines
// them: no entry has code yet, so making a native! or action! value is refused.
#include "runtime/datatypes/native.h"

namespace kel::natives {
__attribute__((weak)) bool entry_filled_q(int32_t) { return false; }
}  // namespace kel::natives
namespace kel::actions {
__attribute__((weak)) bool entry_filled_q(int32_t) { return false; }
}  // namespace kel::actions
