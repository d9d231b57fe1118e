// Stand-ins until error values land: error/record-call-stack (the integer `stack` field
// of a caught error becomes the block of call words up to that frame, level 1) and the
// type and id symbols read from the provisional error cell (category x 100 + id).
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/error.h"
#include "runtime/evaluator/natives_exit.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

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

namespace {
// Only the throw category and its id `throw` are named; the stand-in needs no more.
int32_t provisional_symbol(bool type, const Cell* error) {
  if (cell::type(error) != T_ERROR) return -1;
  uint32_t code = error->w2;
  uint32_t category = err::throw_::throw_.category;
  if (code / 100 != category) return -1;
  if (!type && code % 100 != err::throw_::throw_.id) return -1;
  return symbol::intern_c_text("throw");
}
}  // namespace

__attribute__((weak)) int32_t type_symbol(const Cell* error) { return provisional_symbol(true, error); }
__attribute__((weak)) int32_t id_symbol(const Cell* error) { return provisional_symbol(false, error); }

}  // namespace kel::error
