// The evaluation stacks: argument cells, call-frame records, and the non-local exits
// (error, break, continue, return, exit, throw) that unwind them.
#pragma once
#include <cstdint>
#include <exception>
#include <string>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace kel::stack {

constexpr uint32_t ARG_CAPACITY = 20000;    // cells
constexpr uint32_t FRAME_CAPACITY = 12000;  // records
// Hidden room past both limits, open only while a stack overflow is being raised and
// reported, so the error path never overflows again.
constexpr uint32_t ARG_HEADROOM = 256;
constexpr uint32_t FRAME_HEADROOM = 32;
// Cells the argument top moves back before a stack overflow is raised.
constexpr uint32_t OVERFLOW_BACKOFF = 5;
// Machine stack left (bytes) below which the guard raises a stack overflow.
constexpr uintptr_t MACHINE_MARGIN = 1u << 20;
// Margin kept while an overflow is already on its way (the report needs some stack).
constexpr uintptr_t MACHINE_MARGIN_ERROR = 256u << 10;

// Frame kinds (header bits 24-27).
namespace kind {
constexpr uint32_t FUNCTION = 1;
constexpr uint32_t NATIVE = 2;  // native, action, routine; compiled bodies with BODY
constexpr uint32_t TRY = 4;
constexpr uint32_t TRY_ALL = 5;
constexpr uint32_t CATCH = 6;
constexpr uint32_t EVAL = 7;
constexpr uint32_t LOOP = 8;
}  // namespace kind

namespace fflag {
constexpr uint32_t KIND_SHIFT = 24;
constexpr uint32_t KIND_MASK = 0x0F000000;
constexpr uint32_t BODY = 0x10000000;         // target of return and exit
constexpr uint32_t INLINE_BODY = 0x20000000;  // its body runs in this frame, without a block frame
constexpr uint32_t BRANCH = 0x40000000;       // a conditional whose chosen branch runs in this frame
constexpr uint32_t INTERPRETED = 0x80000000;  // the interpreter made this call
}  // namespace fflag

// One call-frame record. Symbol ids take a word of their own (32 bits), so frames are
// named right past 65,536 symbols. No pointers: the caller base is a stack index.
struct Frame {
  uint32_t header;            // kind and flags
  uint32_t symbol;            // symbol id of the naming word
  uint32_t caller_base;       // argument-stack index of the base current at the push
  uint32_t word_context;      // context node of the naming word (its w1)
  uint32_t function_context;  // function-call frames: the called function's context node
  uint32_t saved_values;      // that context's w2 at the push (node, or stack index + 1)
};
static_assert(sizeof(Frame) == 24);

inline uint32_t frame_kind(const Frame* f) { return (f->header & fflag::KIND_MASK) >> fflag::KIND_SHIFT; }

// Process-wide stack state.
struct State {
  Cell* args_begin = nullptr;
  Cell* args_end = nullptr;    // the limit: reserving the cell that reaches it overflows
  Cell* args_limit = nullptr;  // args_end, or past it while the headroom is open
  Cell* base = nullptr;
  Cell* top = nullptr;
  Frame* frames_begin = nullptr;
  Frame* frames_end = nullptr;
  Frame* frames_limit = nullptr;
  Frame* frames_top = nullptr;
  uint32_t body_symbol = 0;
  uint32_t anon_symbol = 0;
  uint32_t not_found_symbol = 0;
  // Index of the record where the latest throw started, NO_ORIGIN when none. That record
  // may have been popped by the time current_function_word reads it.
  uint32_t throw_origin = 0xFFFFFFFF;
  uint32_t pending_code = 0;  // low-level code being handled by a landing, 0 when none
  uint32_t headroom_depth = 0;
};

namespace detail {
// The one state object and the running thread's machine-stack low end (0 until first
// read), visible here so the hot frame operations below compile inline.
extern State g_state;
extern constinit thread_local uintptr_t t_stack_low;
// The low end plus the normal margin: one compare on the hot path. The largest address
// until the thread's first check, which sets it.
extern constinit thread_local uintptr_t t_stack_limit;
uintptr_t read_stack_low();
[[noreturn]] void machine_overflow(uintptr_t sp);
// Below the limit (or the first time): sets the limit, raises when really short.
void machine_check_slow(uintptr_t sp);
void restore_context(const Frame* f);
}  // namespace detail

inline State& state() { return detail::g_state; }

// Set-up. Allocates both stacks (outside the collected heap; they never move) and sets
// every pointer; the three symbol ids are those of `<body>`, `<anon>`, `<not-found>`.
void init(uint32_t body_symbol, uint32_t anon_symbol, uint32_t not_found_symbol);
// Frees both stacks (process end, or between tests).
void release();
// Empties both stacks (base = top = begin, no records, no throw origin).
void reset();

// Index helpers (an index is counted in cells from the stack's begin).
inline uint32_t index_of(const Cell* c) { return uint32_t(c - state().args_begin); }
inline Cell* at_index(uint32_t i) { return state().args_begin + i; }
inline uint32_t frame_count() { return uint32_t(state().frames_top - state().frames_begin); }

// Inspection.
inline Frame* top_frame() {  // null when no record is on the stack
  State& s = detail::g_state;
  return s.frames_top > s.frames_begin ? s.frames_top - 1 : nullptr;
}
void set_frame_top(Frame* record);
Cell* last_pushed();
uint32_t last_pushed_type();
bool interpreted_below_q(const Frame* record, bool first_only);

// Cells.
Cell* reserve_cell();
Cell* push_copy(const Cell* value);
void drop_cells(uint32_t n);
Cell* set_result(const Cell* value);
void set_only_result(const Cell* value);
Cell* clear_frame();
Cell* trim_to_result();
void take_caught_error();

// Pushing frames. `word` is the naming word cell (w1 context node, w2 symbol id).
void push_function_frame(const Cell* word, uint32_t context_node);
void push_native_frame(const Cell* word);
void push_try_frame(const Cell* word);
void push_try_all_frame(const Cell* word);
void push_catch_frame(const Cell* word);
inline void push_eval_frame(const Cell* word);
void push_loop_frame(const Cell* word);
inline void push_interp_native_frame(const Cell* word);
void push_interp_function_frame(const Cell* word);
void push_body_frame(const Cell* word, uint32_t context_node);

// Flags of existing records.
inline void set_body_flag(bool on) {
  Frame* f = top_frame();
  if (!f) return;
  if (on) f->header |= fflag::BODY; else f->header &= ~fflag::BODY;
}
inline void set_interpreted_flag() {
  if (Frame* f = top_frame()) f->header |= fflag::INTERPRETED;
}
// if, unless and either called by the interpreter (their own record on top) before their
// branch: its result is the conditional's and nothing of theirs runs after it, so a return
// or exit straight in the branch may pass through (natives::return_).
inline void mark_branch_frame() { (detail::g_state.frames_top - 1)->header |= fflag::BRANCH; }
Frame* claim_body_flag();
void clear_body_flag(Frame* record);

// Popping frames. Every pop writes the saved values pointer back into the record's
// function context when it has one.
inline void pop_frame();
inline void pop_frame_to_result();
void pop_function_frame();
void pop_function_frame_to_result();
void pop_function_frame_discard();
void pop_frame_discard();
void pop_frame_drop_values();

// Unwinding to a frame (compiled code).
void unwind_to_kind_with_result(uint32_t kind);
void unwind_to_loop(bool continue_q);

// Non-local exits. Each leaves the stacks as its target expects, then throws.
[[noreturn]] void propagate_error(Cell* error);
[[noreturn]] void exit_loop(bool with_value, bool continue_q);
[[noreturn]] void exit_function(bool with_value);
[[noreturn]] void propagate_throw(uint32_t code);
// Forgets the throw origin (a catch that took its throw).
void clear_throw_origin();

// Raises internal/stack-overflow: backs the argument top off, clears the cycle guard
// and opens the hidden headroom for the error path.
[[noreturn]] void raise_overflow();

// Machine-stack guard: raises internal/stack-overflow when less than about 1 MB of the
// running thread's stack is left. Cheap; call it from recursive C++ walkers.
inline void check_machine_stack() {
#if defined(__x86_64__)
  uintptr_t sp;  // the stack pointer itself: no frame pointer forced on the caller
  asm("mov %%rsp, %0" : "=r"(sp));
#else
  uintptr_t sp = uintptr_t(__builtin_frame_address(0));
#endif
  if (sp < detail::t_stack_limit) [[unlikely]] detail::machine_check_slow(sp);
}
// Bytes of machine stack left below the caller's frame on this thread.
uintptr_t machine_stack_left();

// Introspection for errors and tools.
Cell current_function_word();
void record_error_stack(Cell* error);
// Appends to the block the words of the named records from the bottom up to (not
// including) up_to (null: all); at level 1 only words whose value is a function!.
void collect_call_words(int32_t level, Cell* block, const Frame* up_to);
// Forms the same words, each followed by a space, spending the budget; up_to is the
// integer! that record_error_stack stored (or null). Returns the budget left (< 0: cut).
int32_t form_call_words(int32_t level, std::string& out, const Cell* up_to, int32_t budget);
// From the top record down to the second: each named record's word (in its function
// context, else the global context) and the argument-stack index of its caller base.
void collect_trace(Cell* block);

// Collector root: visits the live argument cells and, per record, the word context,
// the function context and the saved values node (when the context is not stack-held).
void mark_roots();

// ---- Inline frame operations (the interpreter's hot paths) ----

namespace detail {
[[noreturn]] void frame_overflow();
// Without the machine-stack check: for frames that cannot nest without a function or
// block frame (which check) also being pushed; the frame stack's own limit bounds them.
inline Frame* push_record_unchecked(const Cell* word, uint32_t header) {
  State& s = g_state;
  if (s.frames_top >= s.frames_limit) [[unlikely]] frame_overflow();
  Frame* f = s.frames_top++;
  f->header = header;
  f->symbol = word ? word->w2 : s.anon_symbol;
  f->caller_base = uint32_t(s.base - s.args_begin);
  f->word_context = word ? word->w1 : 0;
  f->function_context = 0;
  f->saved_values = 0;
  s.base = s.top;
  return f;
}
inline Frame* push_record(const Cell* word, uint32_t header) {
  check_machine_stack();
  return push_record_unchecked(word, header);
}
// Pops the top record and makes its caller base current; the context is restored.
inline Frame* drop_record() {
  State& s = g_state;
  Frame* f = --s.frames_top;
  if (f->function_context) memory::head_cells(memory::node_buffer(f->function_context))->w2 = f->saved_values;
  s.base = s.args_begin + f->caller_base;
  return f;
}
}  // namespace detail

inline void push_eval_frame(const Cell* word) {
  detail::push_record(word, (kind::EVAL << fflag::KIND_SHIFT) | fflag::INTERPRETED);
}
inline void push_interp_native_frame(const Cell* word) {
  detail::push_record_unchecked(word, (kind::NATIVE << fflag::KIND_SHIFT) | fflag::INTERPRETED);
}
inline void pop_frame() {
  State& s = detail::g_state;
  if (s.frames_top == s.frames_begin) return;
  Cell* old_base = s.base;
  detail::drop_record();
  s.top = old_base + 1;
}
inline void pop_frame_to_result() {
  State& s = detail::g_state;
  if (s.frames_top == s.frames_begin) return;
  Cell* old_base = s.base;
  detail::drop_record();
  s.top = old_base + 1;
  if (s.base != old_base) *s.base = *old_base;
}

// Restores the argument-stack top when the scope ends normally; an error on its way out
// keeps the top, where it has pushed its value for the catching frame.
struct TopGuard {
  Cell* saved = detail::g_state.top;
  int unwinding = std::uncaught_exceptions();
  ~TopGuard() {
    if (std::uncaught_exceptions() == unwinding) detail::g_state.top = saved;
  }
};

// A landing: runs body; an Unwind whose code is at most threshold is taken (the code is
// returned, and pending while the handler runs), any other code is re-thrown. Returns 0
// when the body ended normally.
template <class Body>
uint32_t land(uint32_t threshold, Body&& body) {
  try {
    body();
    return 0;
  } catch (const Unwind& u) {
    if (u.code > threshold) throw;
    state().pending_code = u.code;
    return u.code;
  }
}
// Reads and clears the code a landing took.
inline uint32_t take_pending_code() {
  uint32_t c = state().pending_code;
  state().pending_code = 0;
  return c;
}

}  // namespace kel::stack
