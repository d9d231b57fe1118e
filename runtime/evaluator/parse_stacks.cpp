// The parse engine's two process-wide stacks (rule frames and saved inputs), how a nested
// parse keeps the outer state, their limits, paren evaluation and the trace callback.
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/parse.h"
#include "runtime/gc.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::parse {

namespace detail {
Cell g_stacks[2] = {{T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}};
}
using detail::g_stacks;

namespace {

void mark_stacks() { gc::mark_cells(g_stacks, g_stacks + 2); }

void truncate_to_head(Cell* stack) {
  if (cell::type(stack) == T_BLOCK) block::truncate_at(stack, int32_t(stack->w1));
}

}  // namespace

void init_stacks() {
  register_roots();
  blk::init(&g_stacks[0], 100);
  blk::init(&g_stacks[1], 8);
}

void register_roots() {
  gc::remove_root(&mark_stacks);
  gc::add_root(&mark_stacks);
}

int32_t depth(const Cell* stack) { return int32_t(blk::count(stack->w2)) - int32_t(stack->w1); }

bool save_stacks() {
  if (cell::type(&g_stacks[0]) != T_BLOCK) init_stacks();
  if (depth(&g_stacks[0]) <= 0) return false;
  Cell saved{T_TRIPLE, g_stacks[0].w1, g_stacks[1].w1, 0};
  block::append_copy(&g_stacks[0], &saved);
  g_stacks[0].w1 = blk::count(g_stacks[0].w2);
  g_stacks[1].w1 = blk::count(g_stacks[1].w2);
  return true;
}

void restore_stacks() {
  Cell* rs = &g_stacks[0];
  if (rs->w1 == 0) return;
  Cell saved = blk::cells(rs->w2)[rs->w1 - 1];
  block::truncate_at(rs, int32_t(rs->w1) - 1);
  rs->w1 = saved.w1;
  g_stacks[1].w1 = saved.w2;
}

void reset_stacks(bool saved) {
  truncate_to_head(&g_stacks[0]);
  truncate_to_head(&g_stacks[1]);
  if (saved) restore_stacks();
}

void check_limits(bool saved) {
  if (depth(&g_stacks[0]) > STACK_LIMIT || depth(&g_stacks[1]) > STACK_LIMIT) {
    reset_stacks(saved);
    error::raise(err::script::parse_stack);
  }
}

void check_recursion(const Cell* rules, uint32_t input_index, bool saved) {
  const Cell* rs = &g_stacks[0];
  int32_t head = int32_t(rs->w1);
  int32_t i = int32_t(blk::count(rs->w2)) - 1;
  const Cell* c = blk::cells(rs->w2);
  while (i >= head + 1) {
    const Cell* top = c + i;
    if (cell::type(top) == T_TRIPLE) {  // rule-block frame: [block, triple]
      const Cell* b = c + i - 1;
      if (b->w2 == rules->w2 && b->w1 == rules->w1 && top->w2 == input_index) {
        Cell r = *rules;
        gc::Root keep(&r);
        reset_stacks(saved);
        error::raise(err::script::parse_infinite, &r);
      }
      i -= 2;
      continue;
    }
    // A command frame: its size by code; below an into frame the input was another one.
    int32_t k = int32_t(top->w2);
    if (k == code::INTO) return;
    i -= (k == code::REPEAT || k == code::WHILE) ? 3
         : (k == code::COPY || k == code::SET || k == code::COLLECT) ? 4
                                                                       : 2;
  }
}

void eval_paren(const Cell* paren, Cell* out) {
  Cell p = *paren;
  gc::Root keep(&p);
  cell::set_type(&p, T_BLOCK);
  stack::State& s = stack::state();
  uint32_t slot = stack::index_of(s.top);
  interp::eval_block(&p, false);
  *out = *stack::at_index(slot);
  s.top = stack::at_index(slot);
}

bool trace(const Cell* callback, const Cell* event, bool match, const Cell* rules,
           uint32_t rule_index, const Cell* input) {
  Cell* fn = stack::push_copy(callback);
  uint32_t fn_slot = stack::index_of(fn);
  // The callback sees the frames as they stand, in a copy: changing the block it gets must
  // not change the engine's frames.
  Cell st{T_NONE, 0, 0, 0};
  gc::Root keep_st(&st);
  blk::copy(&st, &g_stacks[0], false);
  Cell r = *rules;
  r.w1 = rule_index;
  gc::Root keep_r(&r);
  // Exactly the callback's own argument count is pushed (the five values, none for more),
  // so its words never reach cells outside the frame.
  int32_t locals = function::count_locals(stack::at_index(fn_slot)->w2, 0, false);
  int32_t args = context::word_count(stack::at_index(fn_slot)->w1) - locals;
  stack::state().top = stack::at_index(fn_slot + 1);
  // The saved inputs of the running parse stay out of reach of a parse the callback runs.
  Cell* is = &g_stacks[1];
  uint32_t saved_head = is->w1;
  is->w1 = blk::count(is->w2);
  struct Back {
    uint32_t head;
    ~Back() { g_stacks[1].w1 = head; }
  } back{saved_head};
  Cell name = word::intern_global("<parse-callback>");
  stack::push_function_frame(&name, stack::at_index(fn_slot)->w1);
  stack::set_interpreted_flag();
  Cell* base = stack::state().base;
  // Nothing allocates from here to the call: the cells below are copied as they are.
  const Cell given[5] = {*event, Cell{T_LOGIC, match ? 1u : 0u, 0, 0}, r, *input, st};
  for (int32_t i = 0; i < args; ++i) {
    if (i < 5) stack::push_copy(&given[i]);
    else cell::set_none(stack::reserve_cell());
  }
  function::push_defaults(locals);
  Cell callee = *stack::at_index(fn_slot);
  gc::Root keep(&callee);
  interp::call_function_body(&callee, context::global, &name, 1);
  bool go_on = cell::type(base) == T_LOGIC && base->w1 != 0;
  stack::pop_frame();
  stack::state().top = stack::at_index(fn_slot);
  return go_on;
}

}  // namespace kel::parse
