// Cycle guard: the one stack of series being walked by recursive walks (mold, form, copy,
// compare, bind, ownership), its placeholders for values met again, and its depth limit.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::cycle {

constexpr uint32_t CAPACITY = 1000;

namespace detail {
// The stack, visible so the walks' per-series checks are inline.
extern Node g_entries[CAPACITY];
extern uint32_t g_top;
[[noreturn]] void overflow();
}  // namespace detail

// Empties the stack (runtime start).
void init();
// Pushes an identity (a block-like series node, or an object's context node). The push
// that would fill the stack empties it and raises internal/too-deep.
inline void enter_series(Node identity) {
  if (detail::g_top + 1 >= CAPACITY) [[unlikely]] detail::overflow();
  detail::g_entries[detail::g_top++] = identity;
}
// Pops one entry when the stack is not empty.
void leave_series();
// Drops n entries (at most all of them).
void leave_many(uint32_t n);
// Empties the stack: before internal/too-deep and internal/stack-overflow, and when a walk
// is abandoned.
void clear();
inline bool visiting_q(Node identity) {
  for (uint32_t i = 0; i < detail::g_top; ++i)
    if (detail::g_entries[i] == identity) return true;
  return false;
}
// When the value's identity is on the stack: appends its placeholder to the byte series
// out, subtracts the placeholder's length from budget and returns true.
bool emit_placeholder(const Cell* value, Node out, int32_t& budget, bool mold);
// Collector only: rewrites entries through its node remapping after nodes moved.
void remap();

uint32_t depth();
// Identity walked: context node for object!, series node otherwise.
Node identity_of(const Cell* value);
// Placeholder text for a value of the type, in mold or form.
const char* placeholder(uint32_t type, bool mold);

// A walker's entry: enters on construction; on destruction, normal or by unwinding, the
// stack goes back to the depth it had before the enter (never deeper than it is now).
struct Scope {
  explicit Scope(Node identity) : saved(detail::g_top) { enter_series(identity); }
  ~Scope() {
    if (detail::g_top > saved) detail::g_top = saved;
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
  uint32_t saved;
};

}  // namespace kel::cycle
