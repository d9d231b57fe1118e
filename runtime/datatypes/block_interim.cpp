// Interim stand-ins used by the block and series units for services whose owners have not
// landed yet: direct copy and find.
#include "runtime/datatypes/block_interim.h"

#include "runtime/error.h"
#include "runtime/evaluator/actions.h"

// ---- Direct action calls (until the action entry points have them) ----
namespace kel::actions {
Cell* direct_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  return resolve<datatype::action::COPY>(value)(value, result, part, deep, types);
}
Cell* direct_find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same,
                  bool any, Cell* with, Cell* skip, bool last, bool reverse, bool tail,
                  bool match) {
  return resolve<datatype::action::FIND>(series)(series, value, part, only, case_, same, any,
                                                 with, skip, last, reverse, tail, match);
}
}  // namespace kel::actions

