// paren! (id 6, parent block!): the block that evaluates as a sub-expression; its own
// mold, and a registration that inherits block! but for mold and trim.
#include "runtime/datatypes/paren.h"

#include "runtime/cycle.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/block_mold.h"

namespace kel::paren {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent) {
  // A paren met again further up prints its placeholder, as a block does.
  if (cycle::emit_placeholder(value, buffer->w2, budget, true)) return budget;
  if (!only) {
    string::add_codepoint(buffer, '(');
    --budget;
  }
  budget = block::mold_cells(value, buffer, only, all, flat, part, budget, indent);
  if (!only) {
    string::add_codepoint(buffer, ')');
    --budget;
  }
  return budget;
}

void install_type() {
  // Everything as block! but its own mold; trim stays empty (not supported on parens).
  datatype::Registration r{.id = T_PAREN, .parent = T_BLOCK, .name = "paren!", .slots = {}};
  datatype::Row& row = r.slots;
  datatype::Row all_inherited{
#define KEL_INHERIT(k, member, name) .member = datatype::inherit,
      KEL_ACTION_SLOTS(KEL_INHERIT)
#undef KEL_INHERIT
  };
  row = all_inherited;
  row.mold = mold;
  row.trim = {};
  datatype::register_type(r);
}

}  // namespace kel::paren
