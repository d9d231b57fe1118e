// Stand-in for error/record-call-stack until error values land: the integer `stack`
// field of a caught error becomes the block of call words up to that frame (level 1).
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/error.h"
#include "runtime/evaluator/natives_exit.h"
#include "runtime/stack.h"

namespace kel::error {

__attribute__((weak)) void record_call_stack(Cell* value) {
  Cell* field = stack_field(value);
  if (!field || cell::type(field) != T_INTEGER) return;
  uint32_t position = uint32_t(cell::get_int(field));
  Cell* words = block::push_empty(20);
  stack::collect_call_words(1, words, stack::state().frames_begin + position);
  *stack_field(value) = *words;
  stack::drop_cells(1);
}

}  // namespace kel::error
