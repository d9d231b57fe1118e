// The argument cache: the per-callee list of argument typesets, refinements and counts that
// the interpreter walks on every call, built once from the spec of the callee.
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::interp {

namespace {

Cell* spec_cells(Node spec) { return memory::head_cells(memory::node_buffer(spec)); }
int32_t spec_count(Node spec) { return int32_t(memory::units(memory::node_buffer(spec))); }

void add_type_bits(Cell* ts, const Cell* v) {
  if (cell::type(v) == T_DATATYPE) function::typeset_bits::set(ts, v->w1);
  else if (cell::type(v) == T_TYPESET) function::typeset_bits::merge(ts, v);
}

// The typeset of an argument: from the type block at spec index i when it is a non-empty
// block, otherwise every type but unset!.
Cell argument_typeset(Node spec, int32_t i, uint32_t mode) {
  Cell ts;
  function::typeset_bits::clear(&ts, T_TYPESET | (mode << function::cache::MODE_SHIFT));
  Cell types = Cell{T_NONE, 0, 0, 0};
  if (i < spec_count(spec)) types = spec_cells(spec)[i];
  if (cell::type(&types) != T_BLOCK ||
      int32_t(memory::units(memory::node_buffer(types.w2))) <= int32_t(types.w1)) {
    function::typeset_bits::set_default(&ts);
    return ts;
  }
  gc::Root keep(&types);
  int32_t n = int32_t(memory::units(memory::node_buffer(types.w2))) - int32_t(types.w1);
  for (int32_t k = 0; k < n; ++k) {
    Cell e = spec_cells(types.w2)[int32_t(types.w1) + k];
    if (cell::type(&e) == T_WORD) {
      gc::Root keep_word(&e);
      Cell v = *word::value_slot(&e);
      add_type_bits(&ts, &v);
    } else {
      add_type_bits(&ts, &e);
    }
  }
  return ts;
}

}  // namespace

Node build_argument_cache(const Cell* value_in) {
  Cell value = *value_in;
  gc::Root keep(&value);
  uint32_t vt = cell::type(&value);
  if (vt == T_OP) vt = (value.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  bool native_like = vt == T_NATIVE || vt == T_ACTION;
  int32_t local_id = symbol::canonical_id(symbol::intern_c_text("local"));
  int32_t return_id = symbol::canonical_id(symbol::intern_c_text("return"));

  uint32_t saved_top = stack::index_of(stack::state().top);
  Cell* list = block::push_empty(8);
  Node spec = value.w2;
  Cell* spec_cell = stack::reserve_cell();
  *spec_cell = Cell{T_BLOCK, 0, spec, 0};
  int32_t refinements = 0, locals = 0, frame_cells = 0;
  for (int32_t i = 0; i < spec_count(spec_cell->w2); ++i) {
    spec = spec_cell->w2;
    Cell e = spec_cells(spec)[i];
    uint32_t t = cell::type(&e);
    if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
      uint32_t mode = t == T_WORD ? function::cache::MODE_WORD
                      : t == T_GET_WORD ? function::cache::MODE_GET_WORD
                                        : function::cache::MODE_LIT_WORD;
      Cell ts = argument_typeset(spec, i + 1, mode);
      block::append_copy(list, &ts);
      ++frame_cells;
    } else if (t == T_REFINEMENT) {
      if (symbol::canonical_id(int32_t(e.w2)) == local_id) {
        // The local part: /local and its words, as the context counts them; the walk
        // goes on after the set-word that ends it.
        int32_t count = 1, j = i + 1;
        for (; j < spec_count(spec); ++j) {
          uint32_t lt = cell::type(spec_cells(spec) + j);
          if (lt == T_SET_WORD) break;
          if (lt == T_WORD) ++count;
        }
        locals += count;
        i = j;
        continue;
      }
      ++refinements;
      if (native_like) e.w3 = uint32_t(refinements);
      block::append_copy(list, &e);
      ++frame_cells;
    } else if (t == T_SET_WORD) {
      if (symbol::canonical_id(int32_t(e.w2)) != return_id) {
        stack::state().top = stack::at_index(saved_top);
        error::raise(err::script::bad_func_def, &e);
      }
      Cell ts = argument_typeset(spec, i + 1, function::cache::MODE_RETURN);
      block::append_copy(list, &ts);
    }
  }
  if (locals > 0) {
    Cell n = Cell{T_INTEGER, 0, uint32_t(locals), 0};
    block::append_copy(list, &n);
  }
  if (native_like && refinements > 0) {
    Cell n = Cell{T_INTEGER, 0, uint32_t(refinements), 0};
    block::append_copy(list, &n);
  }
  // A spec changed after the function was made must not describe a frame of another size
  // than its context: the body would reach cells outside its frame.
  if (!native_like && frame_cells + locals != context::word_count(value.w1)) {
    Cell bad = *spec_cell;
    stack::state().top = stack::at_index(saved_top);
    error::raise(err::script::bad_func_def, &bad);
  }
  if (native_like) native::check_feeds_builtin(&value, list);
  Node out = list->w2;
  stack::state().top = stack::at_index(saved_top);
  return out;
}

}  // namespace kel::interp
