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

namespace {
// Words found in a callee's spec table, by table node and spelling: a word keeps its index
// in a table for good (words are only ever added), and a node names the same table until a
// collection renames it. Path calls with refinements look their refinements up each call.
struct SpecHit {
  uint64_t renames = ~uint64_t(0);
  Node table = 0;
  int32_t symbol = 0;
  int32_t index = -1;
};
constexpr uint32_t SPEC_HITS = 64;
SpecHit g_spec_hits[SPEC_HITS];
}  // namespace

int32_t find_spec_symbol(const Cell* fn, int32_t symbol) {
  uint32_t t = cell::type(fn);
  if (t == T_OP) t = (fn->header >> hdr::OP_TYPE_SHIFT) & 0xFF;
  bool context_q = t == T_FUNCTION || t == T_ROUTINE;
  Node table = context_q ? fn->w1 : extras(fn, 0)->w1;
  uint64_t renames = memory::state().renames;
  SpecHit& hit = g_spec_hits[(table * 31u + uint32_t(symbol)) & (SPEC_HITS - 1)];
  if (hit.table == table && hit.symbol == symbol && hit.renames == renames) return hit.index;
  int32_t found;
  if (context_q) {
    found = context::find_symbol(table, symbol, true);
  } else {
    int32_t index = -1;
    found = hash::context_symbol_index(table, symbol, true, 0, &index);
  }
  if (found >= 0) hit = SpecHit{renames, table, symbol, found};
  return found;
}

}  // namespace kel::blk
