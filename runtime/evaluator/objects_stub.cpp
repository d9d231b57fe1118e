// Stand-ins for the object! operations that set and construct call, until objects land:
// each raises internal/not-done; the object unit's own definitions replace them.
#include "runtime/error.h"
#include "runtime/evaluator/natives_eval.h"

namespace kel::object {

__attribute__((weak)) void set_fields(Cell*, const Cell*, bool, bool, bool) {
  error::raise(err::internal::not_done);
}

__attribute__((weak)) Cell* make_from_proto(const Cell*, const Cell*, bool) {
  error::raise(err::internal::not_done);
}

}  // namespace kel::object
