// Stand-in for ownership tracking: no series is owned yet, so a notice reaches no owner.
// It records the last notice so the callers' reports can be checked.
#include "runtime/owner_stub.h"

namespace kel::owner {

Notice& last_notice() {
  static Notice n{};
  return n;
}

int32_t notify_change(const Cell* value, const char* action, const Cell* new_value,
                      int32_t index, int32_t part) {
  Notice& n = last_notice();
  ++n.calls;
  n.value = *value;
  n.action = action;
  n.index = index;
  n.part = part;
  return 0;
}

}  // namespace kel::owner
