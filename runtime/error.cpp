// Raising errors by catalogue positions: builds the provisional error record and hands
// it to the stack's propagation. The error datatype and the stacks replace the defaults.
#include "runtime/error.h"

#include "runtime/unwind.h"

namespace kel::error {

namespace {
Pending g_pending;
}

Pending& pending() { return g_pending; }

// Provisional: an error! cell whose w1 is the category and w2 the id position; the
// arguments go to the pending record.
[[gnu::weak]] void new_from_ids(Cell* out, uint32_t category, uint32_t id, const Cell* arg1,
                                const Cell* arg2, const Cell* arg3) {
  g_pending.category = category;
  g_pending.id = id;
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; ++i) {
    if (args[i]) g_pending.args[i] = *args[i];
    else g_pending.args[i] = Cell{T_NONE, 0, 0, 0};
  }
  *out = Cell{T_ERROR, category, id, 0};
}

void raise(uint32_t category, uint32_t id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  Cell err;
  new_from_ids(&err, category, id, arg1, arg2, arg3);
  stack::propagate_error(&err);
}

void raise_bad_make_arg(const Cell* type, const Cell* spec) {
  raise(err::script::bad_make_arg, type, spec);
}

}  // namespace kel::error

namespace kel::stack {
[[gnu::weak]] void propagate_error(Cell*) { throw Unwind{unwind_code::ERROR}; }
}  // namespace kel::stack
