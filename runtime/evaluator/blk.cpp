// Block cell helpers of the evaluator: fresh blocks, (deep) copies, and the spec-word
// lookup of a callee.
#include "runtime/evaluator/blk.h"

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/natives.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include <cstring>
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::blk {

void init(Cell* out, uint32_t n) {
  Node node = memory::series_new_cells(n ? n : 1);
  cell::set_block(out, node);
}

namespace {
bool deep_type_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH);
}
}  // namespace

void copy(Cell* out, const Cell* block, bool deep) {
  // out is rooted by the caller; the source is kept on the stack while copying.
  Cell* src = stack::push_copy(block);
  uint32_t n = count(src->w2);
  uint32_t head = src->w1 > n ? n : src->w1;
  Node node = memory::series_new_cells(n - head ? n - head : 1);
  *out = Cell{cell::type(src), 0, node, 0};
  for (uint32_t i = head; i < count(src->w2); ++i) {
    // Read the source after the append: an allocation can move node handles.
    Cell* dst = runtime::block_append_cell(out);
    *dst = cells(src->w2)[i];
    if (deep && deep_type_q(cell::type(dst))) {
      Cell* tmp = stack::push_copy(dst);
      uint32_t header = tmp->header;
      copy(tmp, tmp, true);
      tmp->header = header;  // keep the new-line flag
      cells(out->w2)[i - head] = *tmp;
      stack::drop_cells(1);
    }
  }
  stack::drop_cells(1);
}

}  // namespace kel::blk

namespace kel::blk {

int32_t find_spec_symbol(const Cell* fn, int32_t symbol) {
  uint32_t t = cell::type(fn);
  if (t == T_OP) t = (fn->header >> hdr::OP_TYPE_SHIFT) & 0xFF;
  if (t == T_FUNCTION || t == T_ROUTINE) return context::find_symbol(fn->w1, symbol, true);
  int32_t index = -1;
  return hash::context_symbol_index(extras(fn, 0)->w1, symbol, true, 0, &index);
}

}  // namespace kel::blk
