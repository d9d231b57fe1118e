// Helpers of the compound values held whole in their cell: the one checked conversion of a
// double to a 32-bit integer, the set-path notice and the error-argument cells.
#include "runtime/datatypes/immediate.h"

#include <cmath>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/object.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"

namespace kel::immediate {

int32_t int32_of_double(double d, const Cell* arg) {
  Cell f;
  if (!arg) arg = float_::init_cell(&f, d);
  if (!std::isfinite(d)) error::raise(err::script::invalid_arg, arg);
  double t = std::trunc(d);
  if (t > 2147483647.0 || t < -2147483648.0) error::raise(err::script::out_of_range, arg);
  return int32_t(t);
}

void notify_path_set(const Cell* container, Cell* previous, const Cell* old, const Cell* now,
                     const Cell* value, int32_t index) {
  if (!old || !container) return;
  if (cell::type(container) == T_OBJECT) object::fire_change(container, previous, old, now);
  else if (cell::type(container) != T_NONE)
    owner::notify_change(container, "set-path", value, index, 1);
}

Cell* from_text(Cell* out, const Cell* spec, uint32_t type) {
  Cell* loaded = stack::reserve_cell();
  *loaded = Cell{T_NONE, 0, 0, 0};
  lexer::load_first_value(spec, loaded);
  if (cell::type(loaded) != type) raise_bad_to_arg(type, spec);
  Cell v = *loaded;
  stack::drop_cells(1);
  *out = v;
  return out;
}

void raise_invalid_type(uint32_t t) {
  Cell dt = datatype_cell(t);
  error::raise(err::script::invalid_type, &dt);
}

void raise_bad_to_arg(uint32_t target, const Cell* spec) {
  Cell dt = datatype_cell(target);
  error::raise(err::script::bad_to_arg, &dt, spec);
}

Cell runtime_word(size_t position) {
  return Cell{T_WORD, 0, runtime::runtime_word_ids[position], 0xFFFFFFFF};
}

}  // namespace kel::immediate
