// Path assignment write-back: stores a value changed on a stack copy by a path step back into
// its holder (the head word, a block slot, an object field, or an outer value of the same kind).
#include "runtime/evaluator/path_set.h"

#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"

namespace kel::path_set {

bool held_in_cell_q(uint32_t type) {
  switch (type) {
    case T_TIME: case T_PAIR: case T_TUPLE: case T_DATE: case T_MONEY: case T_POINT2D:
    case T_POINT3D: case T_EVENT:  // an event's type code
      return true;
    default:
      return false;
  }
}

namespace {
bool same_cell_q(const Cell* a, const Cell* b) { return std::memcmp(a, b, sizeof(Cell)) == 0; }
}  // namespace

void write_back(Cell* head_word, const Cell* path, Cell* chain, uint32_t steps, Cell* changed) {
  Cell* top = stack::state().top;
  for (uint32_t k = steps; k-- > 0;) {
    Cell* before = chain + k * CELLS_PER_STEP;
    if (!held_in_cell_q(cell::type(changed)) || same_cell_q(changed, before)) break;
    if (k == 0) {
      word::assign_value(head_word, changed);
      break;
    }
    Cell* holder = stack::push_copy(chain + (k - 1) * CELLS_PER_STEP);
    Cell* element = stack::push_copy(chain + (k - 1) * CELLS_PER_STEP + 1);
    Cell none{T_NONE, 0, 0, 0};
    Cell* container = k >= 2 ? chain + (k - 2) * CELLS_PER_STEP : &none;
    Cell* previous = k >= 2 ? chain + (k - 2) * CELLS_PER_STEP + 1 : head_word;
    uint32_t t = cell::type(holder);
    datatype::SlotFn<datatype::action::EVAL_PATH> fn =
        t < datatype::TABLE_TYPES ? datatype::slot<datatype::action::EVAL_PATH>(t) : nullptr;
    if (!fn) break;
    fn(holder, element, changed, const_cast<Cell*>(path), container, previous, int32_t(k - 1),
       false, false, true, false);
    changed = holder;
  }
  stack::state().top = top;
}

}  // namespace kel::path_set
