// Ownership tracking: the owner table of series, bitsets and objects reachable from objects
// with an on-deep-change* handler, and the deep-change notice modifying actions send.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::owner {

// The table (a collector root), 0 before start-up makes it.
extern Node table;

// Start-up: a table of 3-cell records (owned value, owner object, field word).
void init();
// Marks and records the value and, for block-like series and objects, what they contain.
void own(const Cell* value, const Cell* owner, const Cell* word);
// own, then the owner mark on the owner object's context.
void attach_flagged(const Cell* value, const Cell* owner, const Cell* word);
// Clears the marks and removes the records made for the value and what it contains.
void disown(const Cell* value);
// The owner cell of the value's record (the field word cell follows it), or null. The
// address is valid until the next allocation.
Cell* find(const Cell* value);
// Tells the owner of value (if any) that action changed part units from index.
// new_value may be null (none). Returns 1 when an owner's handler ran, else 0.
// The action is the action word's spelling ("uppercase", "append", ...).
int32_t notify_change(const Cell* value, const char* action, const Cell* new_value,
                      int32_t index, int32_t part);

// The last notice received (for tests of the modifying actions).
struct Notice {
  uint32_t calls;
  Cell value;
  const char* action;
  int32_t index;
  int32_t part;
};
Notice& last_notice();

}  // namespace kel::owner
