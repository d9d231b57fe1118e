// paren! (id 6, parent block!): the block that evaluates as a sub-expression; its own
// mold, and a registration that inherits block! but for mold and trim.
#include "runtime/datatypes/paren.h"

#include "runtime/cycle.h"
#include "runtime/datatypes/block_interim.h"
#include "runtime/datatypes/block_mold.h"

namespace kel::paren {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
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
  datatype::Registration r{T_PAREN, T_BLOCK, "paren!", {}};
  for (auto& s : r.slots) s = datatype::inherit();
  r.slots[6 - 1] = reinterpret_cast<datatype::Slot>(&mold);
  r.slots[51 - 1] = nullptr;  // trim is not supported on parens
  datatype::register_type(r);
}

}  // namespace kel::paren
