// Deep-change notice to the owner of a modified series: the one call modifying code makes.
// Until ownership tracking exists the definition is a stub that records the last notice.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::owner {

// Tells the owner of value (if any) that action changed part units from index.
// new_value may be null (none). Returns 1 when an owner's handler ran, else 0.
// The action is the action word's spelling ("uppercase", "append", ...).
int32_t notify_change(const Cell* value, const char* action, const Cell* new_value,
                      int32_t index, int32_t part);

// The last notice received by the stub (for tests of the callers).
struct Notice {
  uint32_t calls;
  Cell value;
  const char* action;
  int32_t index;
  int32_t part;
};
Notice& last_notice();

}  // namespace kel::owner
