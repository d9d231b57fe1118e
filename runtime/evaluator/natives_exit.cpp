// Exits and their catchers: break/continue to the loop frame, return/exit to the body
// frame, throw to the catch frame (by name), try stopping errors (and with /all every exit).
#include "runtime/evaluator/natives_exit.h"

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }

Cell try_word() { return word::intern_global("try"); }

// An error whose type and id are both the word `throw`: a throw that found no catch.
bool uncaught_throw_q(const Cell* e) {
  if (cell::type(e) != T_ERROR) return false;
  int32_t throw_symbol = symbol::canonical_id(symbol::intern_c_text("throw"));
  auto canonical = [](int32_t s) { return s < 0 ? -1 : symbol::canonical_id(s); };
  return canonical(error::type_symbol(e)) == throw_symbol &&
         canonical(error::id_symbol(e)) == throw_symbol;
}

bool same_name_q(const Cell* a, const Cell* b) {
  return symbol::canonical_id(int32_t(a->w2)) == symbol::canonical_id(int32_t(b->w2));
}

// Whether a thrown name matches the /name of a catch: a word, or any word of a block
// (an element that is not a word before a match raises invalid-refine-arg).
bool name_matches_q(const Cell* thrown, const Cell* wanted) {
  if (cell::type(thrown) != T_WORD) return false;
  if (cell::type(wanted) != T_BLOCK) return same_name_q(thrown, wanted);
  int32_t n = int32_t(memory::units(memory::node_buffer(wanted->w2)));
  for (int32_t i = int32_t(wanted->w1); i < n; ++i) {
    Cell c = *block::cell_at_index(wanted, i);
    if (cell::type(&c) != T_WORD) {
      Cell w = word::intern_global("name");
      error::raise(err::script::invalid_refine_arg, &w, wanted);
    }
    if (same_name_q(thrown, &c)) return true;
  }
  return false;
}

// return and exit called straight from their function body's evaluation: the frames above
// the body are this native's and that evaluation's (or the native's alone, above a function
// frame whose body runs in it), with only flagged records between (conditionals running
// their chosen branch in their own frame, each the whole of its expression; loops, case,
// switch, all and any, whose natives stop at once when an exit passes), so the evaluations
// can just stop after this expression: the result travels by the ordinary frame pops.
// While tracing, the exception keeps the trace events as they are.
// The frame a walk over flagged records ends on, from below (a BRANCH record).
[[gnu::noinline]] stack::Frame* past_branches(stack::Frame* below) {
  stack::Frame* first = stack::state().frames_begin;
  while (below - first >= 2 && (below->header & stack::fflag::BRANCH)) --below;
  return below;
}

[[gnu::always_inline]] inline bool direct_in_body_q() {
  stack::State& s = stack::state();
  stack::Frame* own = stack::top_frame();
  if (!own || own - s.frames_begin < 2 || !(own->header & stack::fflag::INTERPRETED)) return false;
  stack::Frame* below = own - 1;
  if (below->header & stack::fflag::INLINE_BODY) return true;  // the body runs in its frame
  if ((below->header & stack::fflag::BRANCH) && !interp::switches.trace_enabled) [[unlikely]] {
    below = past_branches(below);
    if (below->header & stack::fflag::INLINE_BODY) return true;
  }
  return stack::frame_kind(below) == stack::kind::EVAL && ((below - 1)->header & stack::fflag::BODY);
}

// break and continue called by the interpreter in a body that a loop runs in its own frame,
// with only flagged records between (see direct_in_body_q): the loop's native looks at
// fast_exit after each body run. The nearest loop record is the target either way, and a
// try/all record ends the walk as it ends the exception's search.
[[gnu::noinline]] bool direct_in_loop_q() {
  stack::State& s = stack::state();
  stack::Frame* own = stack::top_frame();
  if (!own || own == s.frames_begin || !(own->header & stack::fflag::INTERPRETED) ||
      interp::switches.trace_enabled)
    return false;
  for (stack::Frame* below = own - 1;; --below) {
    if (!(below->header & stack::fflag::BRANCH)) return false;
    if (stack::frame_kind(below) == stack::kind::LOOP) return true;
    if (below == s.frames_begin) return false;
  }
}

// The exit stops the evaluations between it and its target without an unwinding; its value
// is this native's result, which the frame pops carry to the target. return and exit leave
// the code at 0 (one store less on the path of every return).
inline void pass_exit(uint32_t code) {
  if (code) fast_exit_code = code;
  interp::fast_exit = true;
}

}  // namespace

uint32_t fast_exit_code = 0;

uint32_t loop_take_fast_exit() {
  uint32_t code = fast_exit_code;
  if (code != unwind_code::BREAK && code != unwind_code::CONTINUE) return FAST_EXIT_PASSES;
  fast_exit_code = 0;
  interp::fast_exit = false;
  stack::clear_frame();  // the value in the result slot, the top as the landing leaves it
  return code;
}

void break_(int32_t, const int32_t* refs) {
  if (direct_in_loop_q()) {
    if (refs[0] >= 0) stack::trim_to_result();
    else stack::set_only_result(cell::unset_value());
    return pass_exit(unwind_code::BREAK);
  }
  stack::exit_loop(refs[0] >= 0, false);
}

void continue_(int32_t, const int32_t*) {
  if (direct_in_loop_q()) {
    stack::set_only_result(cell::unset_value());
    return pass_exit(unwind_code::CONTINUE);
  }
  stack::exit_loop(false, true);
}

void exit_(int32_t, const int32_t*) {
  if (direct_in_body_q()) {
    stack::set_only_result(cell::unset_value());
    return pass_exit(0);
  }
  stack::exit_function(false);
}

void return_(int32_t, const int32_t*) {
  if (direct_in_body_q()) {
    stack::trim_to_result();
    return pass_exit(0);
  }
  stack::exit_function(true);
}

void throw_(int32_t, const int32_t* refs) {
  if (interp::switches.trace_enabled) interp::fire(interp::trace_ev::THROW, 0, 0, nullptr, arg(0));
  // The value and a name cell always travel together.
  if (refs[0] < 0) {
    stack::state().top = arg(1);
    cell::set_unset(stack::reserve_cell());
  }
  stack::propagate_throw(unwind_code::THROW);
}

void catch_(int32_t, const int32_t* refs) {
  Cell* block = arg(0);
  Cell* wanted = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  stack::push_catch_frame(&interp::words.body);
  try {
    interp::eval_block(block, true);
  } catch (const Unwind& u) {
    if (u.code != unwind_code::THROW) throw;
    // The throw left the value and its name on the catch frame.
    Cell* value = stack::state().base;
    if (wanted && !name_matches_q(value + 1, wanted)) {
      stack::state().top = value + 2;
      stack::propagate_throw(unwind_code::THROW);  // on to the next catch out
    }
    stack::clear_throw_origin();
    if (interp::switches.trace_enabled) interp::fire(interp::trace_ev::CATCH, 0, 0, nullptr, value);
  }
  stack::pop_frame_to_result();
  stack::trim_to_result();
}

void try_(int32_t, const int32_t* refs) {
  bool all = refs[0] >= 0;
  bool keep = refs[1] >= 0;
  Cell* block = arg(0);
  Cell name = try_word();
  gc::Root keep_name(&name);
  if (all) stack::push_try_all_frame(&name);
  else stack::push_try_frame(&name);
  try {
    interp::eval_block(block, true);
    stack::pop_frame_to_result();
  } catch (const Unwind& u) {
    // Without /all, exits other than errors belong to frames further out. Exits that
    // met a try/all frame were turned into errors by the exit natives.
    if (u.code != unwind_code::ERROR && !all) throw;
    if (!all) {
      // The landing compiled code uses too: a throw that found no catch goes on.
      try_keep_or_rethrow(keep);
      stack::trim_to_result();
      return;
    }
    stack::take_caught_error();
  }
  stack::trim_to_result();
  if (keep) error::record_call_stack(stack::state().base);
}

void try_keep_or_rethrow(bool keep) {
  Cell* last = stack::last_pushed();
  if (keep) error::record_call_stack(last);
  if (uncaught_throw_q(last)) {
    Cell e = *last;
    stack::propagate_error(&e);
  }
  stack::take_caught_error();
}


}  // namespace kel::natives
