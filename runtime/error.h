// Raising errors by catalogue positions (category, id) with up to three argument cells.
// The positions come from errors_gen.h, generated from boot/errors.kel.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

#include "errors_gen.h"

namespace kel::error {

// Builds the error record and hands it to stack::propagate_error; never returns.
[[noreturn]] void raise(uint32_t category, uint32_t id, const Cell* arg1 = nullptr,
                        const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
[[noreturn]] inline void raise(ErrorPos e, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                               const Cell* arg3 = nullptr) {
  raise(e.category, e.id, arg1, arg2, arg3);
}
[[noreturn]] void raise_bad_make_arg(const Cell* type, const Cell* spec);

// The error record of the last error raised, until error values exist: positions and
// argument cells (unset when absent). The error datatype replaces it.
struct Pending {
  uint32_t category;
  uint32_t id;
  Cell args[3];
};
Pending& pending();

// Builds the error value into out (provisional: an error! cell whose w2 holds
// category * 100 + id); replaced by the error datatype.
void new_from_ids(Cell* out, uint32_t category, uint32_t id, const Cell* arg1,
                  const Cell* arg2, const Cell* arg3);

// The catalogue as Kel text, embedded at build time.
const char* catalogue_text();

}  // namespace kel::error

namespace kel::stack {
// Unwinds to the nearest try frame with the error value; the stack unit provides it.
// Until then a default throws Unwind{unwind_code::ERROR}.
[[noreturn]] void propagate_error(Cell* error);
}  // namespace kel::stack
