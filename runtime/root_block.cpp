// The root block: made at start-up, filled with the start-up's words and the cells other
// units keep there (the tracer's cell, the built-in origins), marked as a collector root.
#include "runtime/root_block.h"

#include <string>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::runtime {

namespace {
constexpr uint32_t ROOT_CELLS = 8783;
Node g_root = 0;
}  // namespace

void make_root_block() {
  // A runtime made again (tests) drops the old block before anything allocates.
  gc::state().roots.root_block = nullptr;
  g_root = 0;
  g_root = memory::series_new_cells(ROOT_CELLS);
  gc::state().roots.root_block = &g_root;
}

Node root_block() { return g_root; }

void forget_root_block() {
  gc::state().roots.root_block = nullptr;
  g_root = 0;
}

uint32_t root_append(const Cell* value) {
  Cell v = *value;
  gc::Root keep(&v);  // appending may move the value's nodes
  uint32_t at = memory::units(memory::node_buffer(g_root));
  *series_append_cell_node(g_root) = v;
  return at;
}

Cell* root_cell(uint32_t position) {
  return memory::head_cells(memory::node_buffer(g_root)) + position;
}

void root_collect_start_up_words() {
  for (uint32_t id = 1; id <= datatype::highest_registered; ++id)
    if (datatype::type_table[id].name) root_append(&datatype::type_table[id].word);
  for (size_t i = 0; i < RUNTIME_WORD_COUNT; ++i) {
    const RuntimeWord& w = runtime_words[i];
    Cell c;
    if (w.kind == WordKind::SYMBOL_WORD || w.kind == WordKind::GLOBAL_WORD) {
      c = context::add_word(int32_t(runtime_word_ids[i]), true, true);
    } else if (w.kind == WordKind::REFINEMENT) {
      c = Cell{T_REFINEMENT, 0, runtime_word_ids[i], context::NO_INDEX};
    } else {
      continue;
    }
    root_append(&c);
  }
}

}  // namespace kel::runtime
