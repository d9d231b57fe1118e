// Contexts: the two-cell context series (context! cell and self-cell), word lists over
// kind-2 tables, value slots in a series or on the stack, binding, and the global context.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::context {

constexpr uint32_t KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2;
constexpr uint32_t GLOBAL_WORDS = 4000;
constexpr uint32_t NO_INDEX = 0xFFFFFFFF;  // a word's w3 when unresolved

// Contexts are passed by node: the context! cell lives in a series that moves. Every
// returned Cell* points into a series and is valid only until the next allocation. A word
// given by pointer that is written to must not move meanwhile (a stack cell or C++ local).

// The global context node (a collector root), 0 before start-up makes it.
extern Node global;
void make_global();

Cell* cell_of(Node ctx);      // cell 0, the context! cell
Cell* self_cell(Node ctx);    // cell 1
uint32_t kind_of(Node ctx);
bool stack_held_q(Node ctx);
bool has_self_q(Node ctx);
int32_t word_count(Node ctx);
Node words_node(Node ctx);    // the word list
Cell* word_at(Node ctx, int32_t index);
Node values_node(Node ctx);   // 0 for a stack-held context

Node create(int32_t slots, bool stack_held, bool self, Node source, uint32_t kind);
Node from_spec(const Cell* spec, bool stack_held, bool self, uint32_t kind);
int32_t find_symbol(Node ctx, int32_t symbol, bool canonical);
// The index when found; else a word with its own index is appended (no value cell), its
// index written to *new_index, and -1 returned.
int32_t find_or_add_symbol(Node ctx, int32_t symbol, bool canonical, int32_t* new_index);
int32_t find_or_add_word_index(Node ctx, const Cell* word);
void set_or_add(Node ctx, const Cell* word, const Cell* value);
void add_missing_with_value(Node ctx, const Cell* word, const Cell* value);
Cell add_word(int32_t symbol, bool canonical, bool keep_case);
Cell add_global_word(int32_t symbol);
Cell* value_of_symbol(int32_t symbol, Node ctx);
void assign(Cell* word, const Cell* value, Node ctx, bool notify);
// assign's common case, done when nothing can allocate or run (a resolved word, a context
// with values, no change handler to call): false, untouched, for every other case. Inline
// for a store into the context stored into last while nothing moved (a loop's words).
namespace detail {
// The context stored into last and its cells, good while `moves` is unchanged: its
// context! cell (then self) and its values' cells (the values node compared live).
struct LastStore {
  Node ctx = 0;
  uint64_t moves = ~uint64_t(0);
  Cell* cell = nullptr;
  Node values = 0;
  Cell* value_cells = nullptr;
};
extern LastStore last_store;
bool assign_in_place_other(const Cell* word, const Cell* value, Node ctx, bool notify);
}  // namespace detail
inline bool assign_in_place(const Cell* word, const Cell* value, Node ctx, bool notify) {
  detail::LastStore& l = detail::last_store;
  if (ctx != l.ctx || memory::state().moves != l.moves || !ctx || int32_t(word->w3) == -1)
    [[unlikely]] return detail::assign_in_place_other(word, value, ctx, notify);
  const Cell* x = l.cell;
  uint32_t index = word->w3;
  if (x->w2 == 0) return false;
  if (x->header & hdr::CONTEXT_ON_STACK) {
    *stack::at_index(x->w2 - 1 + index) = *value;
    return true;
  }
  if (x->w2 != l.values || (notify && x[1].w3) ||
      ((x->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT) == KIND_OBJECT)
    [[unlikely]] return detail::assign_in_place_other(word, value, ctx, notify);
  l.value_cells[index] = *value;
  return true;
}
// The word's value cell. Inline for a resolved word of a context with a values series (the
// common read); every other case, and every error, is value_slot_other's.
Cell* value_slot_other(const Cell* word, Node ctx);
inline Cell* value_slot(const Cell* word, Node ctx) {
  if (int32_t(word->w3) != -1 && ctx) {
    const Cell* x = reinterpret_cast<const Cell*>(memory::node_head(ctx));
    if (x->w2 && !(x->header & hdr::CONTEXT_ON_STACK))
      return reinterpret_cast<Cell*>(memory::node_head(x->w2)) + int32_t(word->w3);
  }
  return value_slot_other(word, ctx);
}
// value: a function or object cell whose w1 is its context node (rewritten).
Node clone(Cell* value, uint32_t kind);
int32_t bind_one(Node ctx, Cell* word);
// Binds the block's words in place; returns block. With mark_flags, also sets them on each
// series the walk meets through blocks, parens and paths (as trace's library mark does:
// a series that has them already is bound, not marked, through).
Cell* bind_block(Cell* block, Node ctx, bool self, uint32_t mark_flags = 0);
bool add_set_words(Node ctx, const Cell* block);
void install_type();

}  // namespace kel::context
