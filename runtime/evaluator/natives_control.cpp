// Conditional and looping natives and the loop-support operations: loop frames catch
// break and continue around each body evaluation and pass every other code on.
#include "runtime/evaluator/natives_control.h"

#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/natives_exit.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }
inline Cell* frame_base() { return stack::state().base; }

void result_none() { stack::set_only_result(cell::none_value()); }
void result_unset() { stack::set_only_result(cell::unset_value()); }

bool text_type_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL ||
         t == T_REF;
}

uint32_t units_of(const Cell* series) { return memory::units(memory::node_buffer(series->w2)); }

// The element at a buffer index of a series (none past the tail): a cell of a block-like
// series, a char! of text, an integer! of a binary.
Cell element_at(const Cell* series, uint32_t index) {
  uint32_t t = cell::type(series);
  if (t == T_BLOCK) {  // the common walk: one look at the buffer
    SeriesBuffer* b = memory::node_buffer(series->w2);
    if (index >= memory::used_bytes(b) / sizeof(Cell)) return Cell{T_NONE, 0, 0, 0};
    return memory::head_cells(b)[index];
  }
  if (t == T_IMAGE) {
    Cell pixel;
    image::pick_tuple(series, index, &pixel);
    return pixel;
  }
  if (index >= units_of(series)) return Cell{T_NONE, 0, 0, 0};
  if (block::any_block_q(t)) return *block::cell_at_index(series, int32_t(index));
  SeriesBuffer* b = memory::node_buffer(series->w2);
  const uint8_t* p = memory::head(b);
  uint32_t unit = memory::unit(b);
  if (t == T_VECTOR) return vector::element_cell(p + size_t(index) * unit, unit, series->w3);
  uint32_t v = unit == 1 ? p[index]
               : unit == 2 ? reinterpret_cast<const uint16_t*>(p)[index]
                           : reinterpret_cast<const uint32_t*>(p)[index];
  if (text_type_q(t)) return Cell{T_CHAR, 0, v, 0};
  if (t == T_BINARY) return Cell{T_INTEGER, 0, v, 0};
  error::raise(err::internal::not_done);  // no other series has elements here
}

bool loop_word_type_q(uint32_t t) {
  return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD;
}

void assign(const Cell* word, const Cell* value) {
  if (context::assign_in_place(word, value, word->w1, true)) return;
  Cell w = *word, v = *value;
  gc::Root keep_w(&w), keep_v(&v);
  word::assign_value(&w, &v);
}

// Opens the loop frame with an unset result slot. Called by the interpreter (check 0: the
// native's own record on top), the loop flags its own record and the loop record: it looks
// at fast_exit after each body run and returns at once when an exit passes (run_loop_body),
// so break, continue, return and exit in the body may take the cheap path (natives_exit).
void open_loop(int32_t check) {
  uint32_t branch = check == 0 ? stack::fflag::BRANCH : 0;
  if (branch) stack::mark_branch_frame();  // the native's own record (check 0: on top)
  // stack::push_loop_frame and set_interpreted_flag in one step, inline.
  stack::detail::push_record(&interp::words.body, (stack::kind::LOOP << stack::fflag::KIND_SHIFT) |
                                                      stack::fflag::INTERPRETED | branch);
  cell::set_unset(stack::reserve_cell());
}

// Pops the loop frame; its result slot becomes the native's result.
void close_loop() {
  stack::pop_frame_to_result();
  stack::trim_to_result();
}

// One body evaluation under the loop catcher: 0, BREAK or CONTINUE; any other code
// passes on. The body's value (or break's) is left in the loop frame's result slot.
// FAST_EXIT_PASSES: a return or exit stopped the body without unwinding; the loop pops its
// frame to the result and returns at once (what the exception would skip is skipped).
template <class Run>
[[gnu::always_inline]] inline uint32_t run_body_landing(Run run) {
  stack::State& s = stack::state();
  s.top = s.base;  // the frame emptied (stack::clear_frame, without its call)
  uint32_t code = stack::land(unwind_code::BREAK, run);
  if (code) {
    stack::take_pending_code();
    if (code != unwind_code::BREAK && code != unwind_code::CONTINUE) throw_code(code);
  } else if (interp::fast_exit) [[unlikely]] {
    code = loop_take_fast_exit();
  }
  return code;
}

uint32_t run_loop_body(Cell* body) {
  return run_body_landing([&] { interp::eval_branch(body); });
}

inline bool loop_ends_q(uint32_t code) {
  return code == unwind_code::BREAK || code == FAST_EXIT_PASSES;
}

// Evaluates one expression of the block held by the stack cell `code` at pos into the
// current frame's result slot; returns the next position. With branch (the native called
// by the interpreter, its own record flagged) the expression's record is flagged too: the
// caller looks at fast_exit after each expression and returns at once when it is set.
uint32_t eval_one(Cell* code, uint32_t pos, bool branch = false) {
  Cell* keep_top = stack::state().top;
  uint32_t end = units_of(code);
  if (branch) {
    // eval_next's steps, with the flag on its record.
    stack::push_interp_native_frame(&interp::words.body);
    stack::mark_branch_frame();
    pos = interp::eval_expression_quick(code->w2, pos, end, false);
    stack::pop_frame_to_result();
  } else {
    pos = interp::eval_next(code->w2, pos, end, false);
  }
  stack::state().top = keep_top;
  return pos;
}

// The chosen block of case or switch: eval_block's record and steps (the same records as
// ever, so reports and frame marks stay as they were), the record flagged when the
// native's own is (branch), so that an exit in the block may pass without unwinding;
// eval_block itself while tracing or with the short paths off.
void eval_chosen(Cell* block, bool branch) {
  if (!branch || interp::switches.trace_enabled || interp::switches.no_fast_paths) {
    interp::eval_block(block, true);
    return;
  }
  stack::push_eval_frame(&interp::words.body);
  stack::mark_branch_frame();
  interp::eval_branch(block);  // in the new frame: the block cell lies below it
  stack::pop_frame_to_result();
}

Cell global_word(const char* text) { return word::intern_global(text); }

bool series_value_type_q(uint32_t t) {
  return block::any_block_q(t) || text_type_q(t) || t == T_BINARY || t == T_VECTOR ||
         t == T_IMAGE;
}

}  // namespace

// ---- Loop support ----

void count_to_integer(Cell* count) {
  if (cell::type(count) != T_FLOAT) return;
  double d = cell::get_double(count);
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
    error::raise(err::script::out_of_range, count);
  cell::set_integer(count, int32_t(std::trunc(d)));
}

void loop_count_to_integer() { count_to_integer(frame_base()); }

bool series_has_more_q(const Cell* series) {
  if (cell::type(series) == T_IMAGE) return series->w1 < image::pixel_count(series);
  return series->w1 < units_of(series);
}

namespace {
// One foreach step over a block: each of the n words (ws, read from words' buffer) takes
// the next value of from (units cells; none past the end). While every store is in place
// nothing allocates; a store that is not may run a handler, so the rest of the step goes
// the general way with the buffers found again.
// Inlined by force: both loops keep their buffers in registers across it.
[[gnu::always_inline]] inline void store_block_step(Cell* series, Cell* words, int32_t n,
                                                    const Cell* from, const Cell* ws,
                                                    uint32_t units) {
  for (int32_t i = 0; i < n; ++i) {
    const Cell* w = ws + i;
    if (!loop_word_type_q(cell::type(w))) {
      Cell bad = *w;
      error::raise(err::script::invalid_arg, &bad);
    }
    uint32_t at = series->w1 + uint32_t(i);
    Cell v = at < units ? from[at] : Cell{T_NONE, 0, 0, 0};
    if (context::assign_in_place(w, &v, w->w1, true)) continue;
    Cell wc = *w;
    assign(&wc, &v);
    for (++i; i < n; ++i) {
      Cell w2 = *block::cell_at_index(words, int32_t(words->w1) + i);
      if (!loop_word_type_q(cell::type(&w2))) error::raise(err::script::invalid_arg, &w2);
      Cell v2 = element_at(series, series->w1 + uint32_t(i));
      assign(&w2, &v2);
    }
    break;
  }
  series->w1 += uint32_t(n);
}
}  // namespace

bool foreach_step_q(Cell* series, Cell* words, int32_t n) {
  if (n >= 1 && cell::type(series) == T_BLOCK && cell::type(words) == T_BLOCK) {
    // The general steps below with each buffer read once: while every value is stored in
    // place nothing allocates, and after one that is not the rest goes the general way.
    SeriesBuffer* sb = memory::node_buffer(series->w2);
    uint32_t units = memory::used_bytes(sb) / sizeof(Cell);
    if (series->w1 >= units) return false;
    const Cell* ws = memory::head_cells(memory::node_buffer(words->w2)) + words->w1;
    store_block_step(series, words, n, memory::head_cells(sb), ws, units);
    return true;
  }
  if (n < 1 || !series_has_more_q(series)) return false;
  if (cell::type(series) == T_MAP) return map::assign_next_entries(series, words, n);
  if (cell::type(series) == T_IMAGE) {
    image::assign_next_pixels(words, series, n);
    series->w1 += uint32_t(n);
    return true;
  }
  for (int32_t i = 0; i < n; ++i) {
    Cell w = *block::cell_at_index(words, int32_t(words->w1) + i);
    if (!loop_word_type_q(cell::type(&w))) error::raise(err::script::invalid_arg, &w);
    Cell v = element_at(series, series->w1 + uint32_t(i));
    assign(&w, &v);
  }
  series->w1 += uint32_t(n);
  return true;
}

bool foreach_step_one_q(Cell* series, Cell* word) {
  if (cell::type(series) == T_BLOCK) {
    SeriesBuffer* b = memory::node_buffer(series->w2);
    if (series->w1 >= memory::used_bytes(b) / sizeof(Cell)) return false;
    Cell v = memory::head_cells(b)[series->w1];
    assign(word, &v);
    series->w1 += 1;
    return true;
  }
  if (!series_has_more_q(series)) return false;
  if (cell::type(series) == T_MAP) error::raise(err::script::invalid_arg, word);
  Cell v = element_at(series, series->w1);
  assign(word, &v);
  series->w1 += 1;
  return true;
}

void remove_each_apply(Cell* data, Cell* series, const Cell* body_value, int32_t n) {
  if (!truthy_q(body_value) || n < 1) return;
  int32_t end = int32_t(series->w1);
  int32_t units = int32_t(units_of(series));
  int32_t start = end - n < 0 ? 0 : end - n;
  if (end > units) end = units;
  series->w1 = uint32_t(int32_t(series->w1) - n < 0 ? 0 : int32_t(series->w1) - n);
  if (end <= start) return;
  Cell* at = stack::push_copy(data);
  at->w1 = uint32_t(start);
  Cell* part = stack::reserve_cell();
  cell::set_integer(part, end - start);
  auto remove = datatype::slot<datatype::action::REMOVE>(cell::type(at));
  if (!remove) error::raise(err::internal::not_done);
  remove(at, part, nullptr);
  stack::drop_cells(2);
}

bool forall_at_end_q(const Cell* word, bool advance) {
  Cell* slot = word::value_slot(word);
  if (advance) slot->w1 += 1;
  return !series_has_more_q(slot);
}

void repeat_increment(Cell* word) {
  Cell v = *word::value_slot(word);
  v.w2 += 1;
  assign(word, &v);
}

void forall_set_word(const Cell* word, const Cell* series) { assign(word, series); }

void foreach_word_count(const Cell* words, Cell* counter) {
  cell::set_integer(counter, block::count_from_head(words));
}

void forall_sync_index(const Cell* word, Cell* saved) { saved->w1 = word::value_slot(word)->w1; }

// ---- Conditions ----

void if_(int32_t check, const int32_t*) {
  if (!truthy_q(arg(0))) return result_none();
  if (check == 0) stack::mark_branch_frame();
  interp::eval_branch(arg(1));
  stack::trim_to_result();
}

void unless(int32_t check, const int32_t*) {
  if (truthy_q(arg(0))) return result_none();
  if (check == 0) stack::mark_branch_frame();
  interp::eval_branch(arg(1));
  stack::trim_to_result();
}

void any(int32_t check, const int32_t*) {
  Cell* code = stack::push_copy(arg(0));
  bool branch = check == 0;
  if (branch) stack::mark_branch_frame();
  for (uint32_t pos = code->w1; pos < units_of(code);) {
    pos = eval_one(code, pos, branch);
    if (interp::fast_exit) [[unlikely]] return stack::trim_to_result(), void();  // an exit passes
    if (truthy_q(frame_base())) return stack::trim_to_result(), void();
  }
  result_none();
}

void all(int32_t check, const int32_t*) {
  Cell* code = stack::push_copy(arg(0));
  if (code->w1 >= units_of(code)) return result_none();
  bool branch = check == 0;
  if (branch) stack::mark_branch_frame();
  for (uint32_t pos = code->w1; pos < units_of(code);) {
    pos = eval_one(code, pos, branch);
    if (interp::fast_exit) [[unlikely]] break;  // an exit passes
    if (!truthy_q(frame_base())) return result_none();
  }
  stack::trim_to_result();
}

// ---- Loops ----

void while_(int32_t check, const int32_t*) {
  Cell* cond = arg(0);
  Cell* body = arg(1);
  open_loop(check);
  for (;;) {
    stack::clear_frame();
    uint32_t code = stack::land(unwind_code::BREAK, [&] { interp::eval_block(cond, true); });
    if (code) {
      stack::take_pending_code();
      if (code == unwind_code::BREAK || code == unwind_code::CONTINUE)
        error::raise(err::throw_::while_cond);
      throw_code(code);
    }
    if (!truthy_strict_q(frame_base())) break;
    code = run_loop_body(body);
    if (code == FAST_EXIT_PASSES) return close_loop();
    if (code == unwind_code::BREAK) break;
  }
  stack::pop_frame();
  result_unset();
}

void until(int32_t check, const int32_t*) {
  Cell* body = arg(0);
  open_loop(check);
  for (;;) {
    uint32_t code = run_loop_body(body);
    if (loop_ends_q(code)) break;
    if (code == unwind_code::CONTINUE) continue;  // no test
    if (truthy_strict_q(frame_base())) break;
  }
  close_loop();
}

void repeat(int32_t check, const int32_t*) {
  Cell* word = arg(0);
  Cell* counter = arg(1);
  Cell* body = arg(2);
  count_to_integer(counter);
  int32_t remaining = cell::get_int(counter);
  if (remaining < 1) return result_none();
  cell::set_integer(counter, 1);
  open_loop(check);
  bool broken = false;
  for (;;) {
    assign(word, counter);
    if (loop_ends_q(run_loop_body(body))) {
      broken = true;
      break;
    }
    if (--remaining == 0) break;
    counter->w2 += 1;
  }
  // The word ends on the last counter, whatever the body stored in it.
  if (!broken) assign(word, counter);
  close_loop();
}

void forever(int32_t check, const int32_t*) {
  Cell* body = arg(0);
  open_loop(check);
  while (!loop_ends_q(run_loop_body(body))) {
  }
  close_loop();
}

namespace {
// run_loop_body for foreach: the body by the plan its planned call handed (if any).
[[gnu::always_inline]] inline uint32_t run_foreach_body(Cell* body, const interp::LoopPlan& lp) {
  return run_body_landing([&] { interp::eval_loop_body(body, lp); });
}

// The loop word's value cells between steps: after a store that assign_in_place made
// through its shared cache, that cache's context cell and values cells, good while no cell
// buffer moved (a collection, which rewrites the word's node, counts as one). Each store
// asks what assign_in_place asks of the context as it is now (its values node, on the
// stack, a change handler); anything else is assign's.
struct WordCells {
  const Cell* x = nullptr;  // the context! cell, then self; null: not known
  Node values = 0;
  Cell* value_cells = nullptr;
  [[gnu::always_inline]] void store(const Cell* word, const Cell* value) {
    if (x) {
      uint32_t vn = x->w2;
      if (vn && (x->header & hdr::CONTEXT_ON_STACK)) {
        *stack::at_index(vn - 1 + word->w3) = *value;
        return;
      }
      if (vn == values && !x[1].w3) [[likely]] {
        value_cells[word->w3] = *value;
        return;
      }
    }
    if (!context::assign_in_place(word, value, word->w1, true)) {
      x = nullptr;
      assign(word, value);
      return;
    }
    // Stored in place: the cache names the word's context (an object's word aside, whose
    // stores mark the word).
    const context::detail::LastStore& l = context::detail::last_store;
    x = l.cell;
    if ((((x->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT) ==
         context::KIND_OBJECT) ||
        !l.values || l.values != x->w2)
      x = nullptr;
    values = l.values;
    value_cells = l.value_cells;
  }
};

// foreach's steps for one word over a block: the block's buffer is found again only after
// something moved (a collection, a cell series given a larger buffer), its tail read live,
// so a body that changes the block is seen as the general step sees it.
[[gnu::always_inline]] inline void foreach_block_word(Cell* series, const Cell* word, Cell* body,
                                                     const interp::LoopPlan& lp) {
  const memory::MemoryState& m = memory::state();
  uint64_t seen = ~uint64_t(0);
  SeriesBuffer* b = nullptr;
  WordCells wc;
  for (;;) {
    if (m.cell_moves != seen) {
      b = memory::node_buffer(series->w2);
      wc.x = nullptr;
      seen = m.cell_moves;
    }
    if (series->w1 >= memory::used_bytes(b) / sizeof(Cell)) break;
    Cell v = memory::head_cells(b)[series->w1];
    wc.store(word, &v);
    series->w1 += 1;
    if (loop_ends_q(run_foreach_body(body, lp))) break;
  }
}

// foreach_step_q's block steps with the block's and the words' buffers found again only
// after something moved; the words are checked and stored at each step as there.
[[gnu::always_inline]] inline void foreach_block_words(Cell* series, Cell* words, int32_t n,
                                                      Cell* body, const interp::LoopPlan& lp) {
  const memory::MemoryState& m = memory::state();
  uint64_t seen = ~uint64_t(0);
  SeriesBuffer* sb = nullptr;
  SeriesBuffer* wb = nullptr;
  for (;;) {
    if (m.cell_moves != seen) {
      sb = memory::node_buffer(series->w2);
      wb = memory::node_buffer(words->w2);
      seen = m.cell_moves;
    }
    uint32_t units = memory::used_bytes(sb) / sizeof(Cell);
    if (series->w1 >= units) break;
    store_block_step(series, words, n, memory::head_cells(sb), memory::head_cells(wb) + words->w1,
                     units);
    if (loop_ends_q(run_foreach_body(body, lp))) break;
  }
}
}  // namespace

namespace {
[[gnu::always_inline]] inline void foreach_with(int32_t check, const interp::LoopPlan& lp) {
  Cell* body = arg(2);
  uint32_t st = cell::type(arg(1));
  stack::State& s = stack::state();
  Cell* series;
  Cell* words;
  if (s.top + 2 < s.args_limit) [[likely]] {
    // Both copies pushed at once (push_copy's overflow test, once for the two).
    Cell sv = *arg(1), wv = *arg(0);
    series = s.top;
    words = series + 1;
    *series = sv;
    *words = wv;
    s.top = series + 2;
  } else {
    series = stack::push_copy(arg(1));
    words = stack::push_copy(arg(0));
  }
  bool many = cell::type(words) == T_BLOCK;
  if (!many && st == T_BLOCK) {
    open_loop(check);
    foreach_block_word(series, words, body, lp);
    close_loop();
    return;
  }
  int32_t n = 1;
  if (many) {
    Cell count;
    foreach_word_count(words, &count);
    n = cell::get_int(&count);
    if (n <= 0) error::raise(err::script::invalid_arg, words);
  }
  // A map walks whole entries: exactly a key word and a value word.
  if (st == T_MAP && (!many || n != 2)) error::raise(err::script::invalid_arg, words);
  open_loop(check);
  if (st == T_BLOCK) {  // words: a block (n >= 1)
    foreach_block_words(series, words, n, body, lp);
    close_loop();
    return;
  }
  for (;;) {
    bool more = many ? foreach_step_q(series, words, n) : foreach_step_one_q(series, words);
    if (!more || loop_ends_q(run_foreach_body(body, lp))) break;
  }
  close_loop();
}
}  // namespace

void foreach(int32_t check, const int32_t*) {
  interp::LoopPlan lp = interp::take_loop_plan(arg(2));
  foreach_with(check, lp);
}

void foreach_planned(const interp::LoopPlan& lp) {
  // foreach_with's steps for one word over a block, the copies already made; open_loop's
  // for check 0, inline.
  stack::State& s = stack::state();
  Cell* base = s.base;
  stack::mark_branch_frame();
  stack::detail::push_record(&interp::words.body,
                             (stack::kind::LOOP << stack::fflag::KIND_SHIFT) |
                                 stack::fflag::INTERPRETED | stack::fflag::BRANCH);
  Cell* result = s.top;
  if (result + 1 >= s.args_limit) [[unlikely]] stack::raise_overflow();
  s.top = result + 1;
  cell::set_unset(result);
  foreach_block_word(base + 3, base + 4, base + 2, lp);
  close_loop();
}

void forall(int32_t check, const int32_t*) {
  Cell* word = arg(0);
  Cell* body = arg(1);
  Cell* value = word::value_slot(word);
  if (cell::type(value) == T_UNSET) error::raise(err::script::no_value, word);
  if (!series_value_type_q(cell::type(value))) {
    Cell fn = global_word("forall");
    Cell dt{T_DATATYPE, cell::type(value), 0, 0};
    Cell aw = error::nth_argument_word(0);
    error::raise(err::script::expect_arg, &fn, &dt, &aw);
  }
  Cell* initial = stack::push_copy(value);
  open_loop(check);
  bool broken = false;
  if (series_has_more_q(initial)) {
    for (;;) {
      if (loop_ends_q(run_loop_body(body))) {
        broken = true;
        break;
      }
      Cell* now = word::value_slot(word);
      if (!series_value_type_q(cell::type(now)) || now->w2 != initial->w2)
        error::raise(err::script::bad_loop_series, now);
      if (forall_at_end_q(word, true)) break;
    }
  }
  if (!broken) assign(word, initial);  // before the result slot takes the word's cell
  close_loop();
}

void remove_each(int32_t check, const int32_t*) {
  Cell* data = arg(1);
  Cell* body = arg(2);
  Cell* counter = stack::reserve_cell();
  cell::set_integer(counter, 1);
  Cell* series = stack::push_copy(data);
  Cell* words = stack::push_copy(arg(0));
  bool many = cell::type(words) == T_BLOCK;
  if (many) foreach_word_count(words, counter);
  int32_t n = cell::get_int(counter);
  open_loop(check);
  for (;;) {
    bool more = many ? foreach_step_q(series, words, n) : foreach_step_one_q(series, words);
    if (!more) break;
    uint32_t code = run_loop_body(body);
    if (code == FAST_EXIT_PASSES) return close_loop();
    if (code == unwind_code::BREAK) break;
    if (code == 0) remove_each_apply(data, series, frame_base(), n);
  }
  stack::pop_frame();
  Cell result = *data;
  stack::set_only_result(&result);
}

// ---- switch and case ----

// Called by the interpreter, switch and case flag their records before a chosen block
// runs (eval_chosen), so an exit in it may take the cheap path: nothing of the native runs
// after the block but the return of its value (case/all stops at a passing exit).
void switch_(int32_t check, const int32_t* refs) {
  bool matched = false;
  Cell* chosen = switch_lookup(true, true, &matched);
  bool branch = check == 0;
  if (cell::type(chosen) == T_BLOCK) {
    if (branch) stack::mark_branch_frame();
    eval_chosen(chosen, branch);
    stack::trim_to_result();
  } else if (!matched && refs[0] >= 0) {
    if (branch) stack::mark_branch_frame();
    eval_chosen(arg(refs[0]), branch);
    stack::trim_to_result();
  } else {
    result_none();
  }
}

void case_(int32_t check, const int32_t* refs) {
  bool all_cases = refs[0] >= 0;
  if (block::count_from_head(arg(0)) <= 0) return result_none();
  Cell* code = stack::push_copy(arg(0));
  bool branch = check == 0;
  if (branch) stack::mark_branch_frame();
  stack::push_native_frame(&interp::words.anon);
  if (branch) stack::mark_branch_frame();
  cell::set_none(stack::reserve_cell());
  bool matched = false;
  uint32_t pos = code->w1;
  while (pos < units_of(code)) {
    matched = false;
    pos = eval_one(code, pos, branch);
    if (interp::fast_exit) [[unlikely]] break;  // an exit passes, its value in the slot
    if (pos >= units_of(code)) {
      Cell w = global_word("case");
      error::raise(err::script::need_value, &w);
    }
    if (!truthy_strict_q(frame_base())) {
      ++pos;
      continue;
    }
    Cell next = *block::cell_at_index(code, int32_t(pos));
    if (cell::type(&next) == T_BLOCK) {
      eval_chosen(stack::push_copy(&next), branch);
      stack::trim_to_result();
      ++pos;
    } else {
      pos = eval_one(code, pos, branch);
    }
    matched = true;
    if (!all_cases || interp::fast_exit) break;
  }
  if (!matched && !interp::fast_exit) cell::set_none(frame_base());
  stack::pop_frame_to_result();
  stack::trim_to_result();
}


Cell* switch_lookup(bool push, bool block, bool* matched) {
  Cell* value = stack::state().base;
  Cell* cases = value + 1;
  bool found = false;
  Cell result{T_NONE, 0, 0, 0};
  if (cell::type(value) != T_BLOCK) {
    int32_t step = push ? 1 : 2;
    int32_t n = int32_t(memory::units(memory::node_buffer(cases->w2)));
    for (int32_t i = int32_t(cases->w1); i < n; i += step) {
      Cell c = *block::cell_at_index(cases, i);
      if (cell::type(&c) != cell::type(value) || !actions::compare(value, &c, 0)) continue;
      found = true;
      if (block) {
        for (int32_t j = i + 1; j < n; ++j) {
          Cell* b = block::cell_at_index(cases, j);
          if (cell::type(b) == T_BLOCK) {
            result = *b;
            break;
          }
        }
      } else {
        result = *block::cell_at_index(cases, i + 1 < n ? i + 1 : i);
      }
      break;
    }
  }
  if (matched) *matched = found;
  if (push) return stack::push_copy(&result);
  return stack::set_result(&result);
}

}  // namespace kel::natives
