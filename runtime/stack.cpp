// The argument stack, the call-frame stack and the non-local exits that unwind them.
// Both stacks live outside the collected heap and never move; they are collector roots.
#include "runtime/stack.h"

#include <algorithm>

#include <pthread.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include <cstdio>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"

namespace kel::cycle {
void clear();  // the cycle guard empties its stack
}

namespace kel::error::detail {
std::string symbol_text(uint32_t symbol);  // a symbol's name (symbol table)
}

namespace kel::stack {

namespace detail {
// Services of the context unit, which builds on this one.
const Cell* word_value(const Cell* word);  // the value of a bound word, or null
uint32_t global_context();                 // the global context node, 0 before it exists
}  // namespace detail

namespace detail {
State g_state;
constinit thread_local uintptr_t t_stack_low = 0;
constinit thread_local uintptr_t t_stack_limit = ~uintptr_t(0);
}  // namespace detail

namespace {

using detail::g_state;
using detail::drop_record;
using detail::push_record;

constexpr uint32_t NO_ORIGIN = 0xFFFFFFFF;
uint32_t& g_origin = g_state.throw_origin;

Cell unset_cell() { return Cell{T_UNSET, 0, 0, 0}; }
Cell none_cell() { return Cell{T_NONE, 0, 0, 0}; }

// The context! cell (cell 0) of a context series.
Cell* context_cell(uint32_t node) { return memory::head_cells(memory::node_buffer(node)); }


// The argument base of a record: the caller base of the record above it, or the
// current base for the top record.
inline Cell* record_base(const Frame* f) {
  State& s = g_state;
  return f + 1 < s.frames_top ? s.args_begin + (f + 1)->caller_base : s.base;
}


constexpr uint32_t kind_header(uint32_t k) { return k << fflag::KIND_SHIFT; }

// Walks down from the record below the calling native's own record to the nearest
// record that `is_target` accepts; a try/all record met first, or the bottom, gives null.
template <class Pred>
Frame* find_exit_target(Pred is_target) {
  State& s = g_state;
  uint32_t count = uint32_t(s.frames_top - s.frames_begin);
  for (uint32_t i = count < 2 ? 0 : count - 1; i-- > 0;) {
    Frame* f = s.frames_begin + i;
    if (is_target(f)) return f;
    if (frame_kind(f) == kind::TRY_ALL) return nullptr;
  }
  return nullptr;
}

// Pops every record above the target (restoring contexts); the target becomes current
// and empty.
void unwind_above(Frame* target) {
  State& s = g_state;
  while (s.frames_top > target + 1) drop_record();
  s.top = s.base;
}

// Machine-stack bounds of the running thread.
uintptr_t stack_low() {
  if (detail::t_stack_low == 0) [[unlikely]] return detail::read_stack_low();
  return detail::t_stack_low;
}

}  // namespace

namespace detail {
// Writes the saved values pointer back into the record's function context.
void restore_context(const Frame* f) {
  if (f->function_context) context_cell(f->function_context)->w2 = f->saved_values;
}

[[noreturn]] void frame_overflow() { raise_overflow(); }

uintptr_t read_stack_low() {
  if (t_stack_low == 0) {
    pthread_attr_t attr;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      pthread_attr_getstack(&attr, &addr, &size);
      pthread_attr_destroy(&attr);
    }
    t_stack_low = addr ? uintptr_t(addr) : 1;
  }
  return t_stack_low;
}

void machine_check_slow(uintptr_t sp) {
  uintptr_t low = read_stack_low();
  t_stack_limit = low + MACHINE_MARGIN;
  uintptr_t margin = g_state.headroom_depth ? MACHINE_MARGIN_ERROR : MACHINE_MARGIN;
  if (sp < low + margin) machine_overflow(sp);
}

[[noreturn]] void machine_overflow(uintptr_t sp) {
  if (g_state.headroom_depth && sp < stack_low() + MACHINE_MARGIN_ERROR / 2)
    rt::fatal_error(19, 0);
  raise_overflow();
}
}  // namespace detail

void init(uint32_t body_symbol, uint32_t anon_symbol, uint32_t not_found_symbol) {
  State& s = g_state;
  if (!s.args_begin) {
    s.args_begin = static_cast<Cell*>(rt::alloc_zeroed((ARG_CAPACITY + ARG_HEADROOM) * sizeof(Cell)));
    s.frames_begin = static_cast<Frame*>(rt::alloc_zeroed((FRAME_CAPACITY + FRAME_HEADROOM) * sizeof(Frame)));
  }
  s.args_end = s.args_begin + ARG_CAPACITY;
  s.frames_end = s.frames_begin + FRAME_CAPACITY;
  s.body_symbol = body_symbol;
  s.anon_symbol = anon_symbol;
  s.not_found_symbol = not_found_symbol;
  reset();
  gc::state().roots.mark_stacks = &mark_roots;
}

void release() {
  State& s = g_state;
  if (gc::state().roots.mark_stacks == &mark_roots) gc::state().roots.mark_stacks = nullptr;
  rt::free(s.args_begin);
  rt::free(s.frames_begin);
  s = State{};
}

void reset() {
  State& s = g_state;
  s.base = s.top = s.args_begin;
  s.frames_top = s.frames_begin;
  s.args_limit = s.args_end;
  s.frames_limit = s.frames_end;
  s.headroom_depth = 0;
  s.pending_code = 0;
  g_origin = NO_ORIGIN;
}

// ---- Inspection ----


void set_frame_top(Frame* record) { g_state.frames_top = record; }

Cell* last_pushed() {
  State& s = g_state;
  return s.top > s.args_begin ? s.top - 1 : s.args_begin;
}

uint32_t last_pushed_type() { return cell::type(last_pushed()); }

bool interpreted_below_q(const Frame* record, bool first_only) {
  State& s = g_state;
  if (!record) record = top_frame();
  if (!record) return false;
  for (uint32_t i = uint32_t(record - s.frames_begin); i-- > 0;) {
    if (s.frames_begin[i].header & fflag::INTERPRETED) return true;
    if (first_only) return false;
  }
  return false;
}

// ---- Cells ----

Cell* reserve_cell() {
  State& s = g_state;
  Cell* c = s.top;
  if (c + 1 >= s.args_limit) [[unlikely]] raise_overflow();
  s.top = c + 1;
  return c;
}

Cell* push_copy(const Cell* value) {
  Cell v = *value;  // the value may be the cell being reserved
  Cell* c = reserve_cell();
  *c = v;
  return c;
}

void drop_cells(uint32_t n) {
  State& s = g_state;
  s.top = uint32_t(s.top - s.args_begin) < n ? s.args_begin : s.top - n;
}

Cell* set_result(const Cell* value) { return cell::copy(value, g_state.base); }

void set_only_result(const Cell* value) {
  State& s = g_state;
  s.top = s.base + 1;
  cell::copy(value, s.base);
}

Cell* clear_frame() {
  State& s = g_state;
  s.top = s.base;
  return s.base;
}

Cell* trim_to_result() {
  State& s = g_state;
  s.top = s.base + 1;
  return s.base;
}

void take_caught_error() {
  State& s = g_state;
  Cell* last = last_pushed();
  if (s.top > s.args_begin && cell::type(last) == T_ERROR) cell::copy(last, s.base);
  s.top = s.base + 1;
}

// ---- Pushing frames ----

void push_function_frame(const Cell* word, uint32_t context_node) {
  Frame* f = push_record(word, kind_header(kind::FUNCTION));
  f->function_context = context_node;
  f->saved_values = context_node ? context_cell(context_node)->w2 : 0;
}
void push_native_frame(const Cell* word) { push_record(word, kind_header(kind::NATIVE)); }
void push_try_frame(const Cell* word) { push_record(word, kind_header(kind::TRY)); }
void push_try_all_frame(const Cell* word) { push_record(word, kind_header(kind::TRY_ALL)); }
void push_catch_frame(const Cell* word) { push_record(word, kind_header(kind::CATCH)); }
void push_loop_frame(const Cell* word) { push_record(word, kind_header(kind::LOOP)); }
void push_interp_function_frame(const Cell* word) {
  push_record(word, kind_header(kind::FUNCTION) | fflag::INTERPRETED);
}
void push_body_frame(const Cell* word, uint32_t context_node) {
  State& s = g_state;
  // Checked before the context changes, so an overflow leaves the context as it was.
  check_machine_stack();
  if (s.frames_top >= s.frames_limit) [[unlikely]] detail::frame_overflow();
  if (context_node) context_cell(context_node)->w2 = uint32_t(s.base - s.args_begin) + 1;
  push_record(word, kind_header(kind::NATIVE) | fflag::BODY);
}

// ---- Flags ----


Frame* claim_body_flag() {
  State& s = g_state;
  if (s.frames_top - s.frames_begin < 2) return nullptr;
  Frame* f = s.frames_top - 2;
  if (f->header & fflag::BODY) return nullptr;
  f->header |= fflag::BODY;
  return f;
}

void clear_body_flag(Frame* record) {
  if (record) record->header &= ~fflag::BODY;
}

// ---- Popping frames ----


void pop_function_frame() { pop_frame(); }
void pop_function_frame_to_result() { pop_frame_to_result(); }

void pop_function_frame_discard() {
  State& s = g_state;
  if (s.frames_top == s.frames_begin) return;
  drop_record();
  s.top = s.base;
}

void pop_frame_discard() { pop_function_frame_discard(); }

void pop_frame_drop_values() {
  State& s = g_state;
  if (s.frames_top == s.frames_begin) return;
  Cell* old_base = s.base;
  drop_record();
  if (s.frames_top == s.frames_begin) {
    s.base = s.top = s.args_begin;
  } else {
    s.top = old_base;
  }
}

// ---- Unwinding for compiled code ----

namespace {
// Nearest record of the kind (or try/all) from the top down; the bottom record when
// there is none; null on an empty stack.
Frame* find_unwind_target(uint32_t k) {
  State& s = g_state;
  if (s.frames_top == s.frames_begin) return nullptr;
  for (Frame* f = s.frames_top - 1; f >= s.frames_begin; --f) {
    uint32_t fk = frame_kind(f);
    if (fk == k || fk == kind::TRY_ALL) return f;
  }
  return s.frames_begin;
}
}  // namespace

void unwind_to_kind_with_result(uint32_t k) {
  State& s = g_state;
  Frame* target = find_unwind_target(k);
  if (!target) return;
  Cell result = *s.base;
  while (s.frames_top > target + 1) drop_record();
  *s.base = result;
  s.top = s.base;
}

void unwind_to_loop(bool continue_q) {
  State& s = g_state;
  Frame* target = find_unwind_target(kind::LOOP);
  if (!target) return;
  Cell* before = s.base;
  while (s.frames_top > target + 1) drop_record();
  if (!continue_q) s.base = s.args_begin + target->caller_base;
  s.top = before + 1;
}

// ---- Non-local exits ----

void propagate_error(Cell* error) {
  State& s = g_state;
  // Before the stacks exist (early start-up, unit tests of lower layers) the C++ caller
  // lands the error itself.
  if (!s.args_begin) throw_code(unwind_code::ERROR);
  Cell err = *error;
  bool caught = false;
  if (s.frames_top > s.frames_begin) {
    Cell where = current_function_word();
    error::fill_where(&err, &where);
    record_error_stack(&err);
    Cell* remembered = s.top;
    while (s.frames_top > s.frames_begin) {
      Frame* f = drop_record();
      uint32_t k = frame_kind(f);
      if (k == kind::TRY || k == kind::TRY_ALL) {
        caught = true;
        break;
      }
    }
    s.top = remembered;
  }
  if (!caught) {
    // Nothing catches errors: report and end the process.
    *s.base = err;
    if (s.top <= s.base) s.top = s.base + 1;
    error::print_report(s.base);
    std::fflush(nullptr);  // what was printed before the error is not lost
    rt::exit_process(-2);
  }
  push_copy(&err);
  throw_code(unwind_code::ERROR);
}

void exit_loop(bool with_value, bool continue_q) {
  State& s = g_state;
  Frame* target = find_exit_target([](const Frame* f) { return frame_kind(f) == kind::LOOP; });
  if (!target) {
    error::raise(continue_q ? err::throw_::continue_ : err::throw_::break_);
  }
  Cell result = with_value ? *s.base : unset_cell();
  unwind_above(target);
  *s.base = result;
  throw_code(continue_q ? unwind_code::CONTINUE : unwind_code::BREAK);
}

void exit_function(bool with_value) {
  State& s = g_state;
  Frame* target = find_exit_target([](const Frame* f) { return (f->header & fflag::BODY) != 0; });
  if (!target) error::raise(err::throw_::return_);
  Cell result = with_value ? *s.base : unset_cell();
  unwind_above(target);
  *s.base = result;
  throw_code(with_value ? unwind_code::RETURN : unwind_code::EXIT);
}

void propagate_throw(uint32_t code) {
  State& s = g_state;
  if (g_origin == NO_ORIGIN && s.frames_top > s.frames_begin)
    g_origin = uint32_t(s.frames_top - 1 - s.frames_begin);
  Frame* target = find_exit_target([](const Frame* f) { return frame_kind(f) == kind::CATCH; });
  if (!target) error::raise(err::throw_::throw_, s.base);
  Cell value = *s.base;
  Cell name = s.base + 1 < s.top ? s.base[1] : none_cell();
  unwind_above(target);
  push_copy(&value);
  push_copy(&name);
  throw_code(code);
}

void clear_throw_origin() { g_origin = NO_ORIGIN; }

void raise_overflow() {
  State& s = g_state;
  if (s.headroom_depth > 0 && s.top + 1 >= s.args_begin + ARG_CAPACITY + ARG_HEADROOM) {
    rt::fatal_error(19, 0);  // the error path itself ran out of room
  }
  uint32_t room = uint32_t(s.top - s.base);
  s.top -= room < OVERFLOW_BACKOFF ? room : OVERFLOW_BACKOFF;
  cycle::clear();
  // The hidden headroom stays open while the error is built and propagated.
  struct Headroom {
    Headroom() {
      State& st = g_state;
      ++st.headroom_depth;
      st.args_limit = st.args_begin + ARG_CAPACITY + ARG_HEADROOM;
      st.frames_limit = st.frames_begin + FRAME_CAPACITY + FRAME_HEADROOM;
    }
    ~Headroom() {
      State& st = g_state;
      if (--st.headroom_depth == 0) {
        st.args_limit = st.args_end;
        st.frames_limit = st.frames_end;
      }
    }
  } headroom;
  error::raise(err::internal::stack_overflow);
}

// ---- Machine stack ----

uintptr_t machine_stack_left() {
  uintptr_t sp = uintptr_t(__builtin_frame_address(0));
  uintptr_t low = stack_low();
  return sp > low ? sp - low : 0;
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer clears the guard zones of the frames a throw skips only while the stack
// in use is under 64 MB; deep recursion uses more, and the zones left behind then give false
// reports. Sanitizer builds clear them before every throw from that deep.
void unpoison_skipped_frames() {
  static thread_local uintptr_t top = 0, bottom = 0;
  if (top == 0) {
    pthread_attr_t attr;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    bottom = uintptr_t(addr);
    top = bottom + size;
  }
  // From the stack's low end, not this frame: the free stack below may hold zones left by
  // the clean-ups of frames already unwound, and the sanitizer's own throw path writes there.
  uintptr_t sp = uintptr_t(__builtin_frame_address(0));
  if (sp < top && top - sp > (uintptr_t(32) << 20))
    __asan_unpoison_memory_region(reinterpret_cast<void*>(bottom), top - bottom);
}
#endif


// ---- Introspection ----

Cell current_function_word() {
  State& s = g_state;
  uint32_t count = uint32_t(s.frames_top - s.frames_begin);
  uint32_t start = count;  // one past the first record looked at
  if (g_origin != NO_ORIGIN && g_origin < FRAME_CAPACITY) start = g_origin + 1;
  g_origin = NO_ORIGIN;
  for (uint32_t i = start; i-- > 0;) {
    const Frame* f = s.frames_begin + i;
    if (f->symbol == s.body_symbol || f->symbol == s.anon_symbol) continue;
    // A record popped since the throw keeps its name; its context may be gone.
    uint32_t context = i < count ? f->word_context : 0;
    return Cell{T_WORD, context, f->symbol, 0xFFFFFFFF};
  }
  return Cell{T_WORD, 0, s.not_found_symbol, 0xFFFFFFFF};
}

namespace {
bool named(const Frame* f) {
  return f->symbol != g_state.body_symbol && f->symbol != g_state.anon_symbol;
}

// True when the node still stands for a context series (or is 0: no context).
bool context_node_still_q(Node n) {
  if (n == 0) return true;
  if (memory::node_free_q(n)) return false;
  SeriesBuffer* b = memory::node_buffer(n);
  if ((b->flags & 0x1F) != sizeof(Cell) || memory::units(b) < 1) return false;
  return cell::type(memory::head_cells(b)) == T_CONTEXT;
}
}  // namespace

void collect_call_words(int32_t level, Cell* block, const Frame* up_to) {
  State& s = g_state;
  uint32_t end = up_to ? uint32_t(up_to - s.frames_begin) : frame_count();
  if (end > frame_count()) end = frame_count();
  for (uint32_t i = 0; i < end; ++i) {
    const Frame* f = s.frames_begin + i;
    if (!named(f)) continue;
    Cell w{T_WORD, f->word_context, f->symbol, 0xFFFFFFFF};
    if (level == 1) {
      const Cell* v = detail::word_value(&w);
      if (!v || cell::type(v) != T_FUNCTION) continue;
    }
    *runtime::block_append_cell(block) = w;  // the frames array never moves
  }
}

int32_t form_call_words(int32_t level, std::string& out, const Cell* up_to, int32_t budget) {
  State& s = g_state;
  uint32_t live = frame_count();
  uint32_t end = live;
  // A report is usually formed after its frames were unwound; their records stay in the array
  // up to the mark, so the calls are read up to the mark rather than up to the live top.
  uint32_t capacity = uint32_t(s.frames_end - s.frames_begin);
  if (up_to && cell::type(up_to) == T_INTEGER && cell::get_int(up_to) >= 0)
    end = std::min(uint32_t(cell::get_int(up_to)), capacity);
  for (uint32_t i = 0; i < end && budget > 0; ++i) {
    const Frame* f = s.frames_begin + i;
    if (!named(f)) continue;
    // An unwound record's word context may since have died or been reused.
    if (i >= live && !context_node_still_q(f->word_context)) continue;
    Cell w{T_WORD, f->word_context, f->symbol, 0xFFFFFFFF};
    if (level == 1) {
      const Cell* v = detail::word_value(&w);
      if (!v || cell::type(v) != T_FUNCTION) continue;
    }
    std::string text = error::detail::symbol_text(f->symbol);
    if (int64_t(text.size()) + 1 > budget) {
      out.append(text, 0, size_t(budget));
      return -1;
    }
    out += text;
    out += ' ';
    budget -= int32_t(text.size()) + 1;
  }
  return budget;
}

void collect_trace(Cell* block) {
  State& s = g_state;
  uint32_t count = frame_count();
  for (uint32_t i = count; i-- > 1;) {
    const Frame* f = s.frames_begin + i;
    if (!named(f)) continue;
    // The context is read after the append: an allocation may rename its node.
    Cell* w = runtime::block_append_cell(block);
    uint32_t context = f->function_context ? f->function_context : detail::global_context();
    *w = Cell{T_WORD, context, f->symbol, 0xFFFFFFFF};
    *runtime::block_append_cell(block) = Cell{T_INTEGER, 0, f->caller_base, 0};
  }
}

void record_error_stack(Cell* error) {
  Cell* field = error::stack_field(error);
  if (!field || cell::type(field) == T_BLOCK) return;
  *field = Cell{T_INTEGER, 0, uint32_t(g_state.frames_top - g_state.frames_begin), 0};
}

void mark_roots() {
  State& s = g_state;
  if (!s.args_begin) return;
  gc::mark_cells(s.args_begin, s.top);
  error::Pending& p = error::pending();
  gc::mark_cells(p.args, p.args + 3);
  gc::mark_cells(&p.where, &p.where + 1);
  gc::mark_cells(&p.stack, &p.stack + 1);
  for (Frame* f = s.frames_begin; f < s.frames_top; ++f) {
    if (f->word_context) {
      // Nodes may have been relocated before the roots are marked: read the new one.
      f->word_context = gc::remap(f->word_context);
      SeriesBuffer* b = memory::node_buffer(f->word_context);
      if (memory::units(b) > 0 && cell::type(memory::head_cells(b)) == T_CONTEXT)
        gc::mark_context(&f->word_context);
      else
        gc::mark_block_node(&f->word_context);  // a `self` word's plain cell series
    }
    if (f->function_context) {
      f->function_context = gc::remap(f->function_context);
      gc::mark_context(&f->function_context);
      Cell* ctx = context_cell(f->function_context);
      if (!(ctx->header & hdr::CONTEXT_ON_STACK) && f->saved_values)
        gc::mark_block_node(&f->saved_values);
    }
  }
  // Unwound records still name their calls in error reports: follow relocated nodes there too,
  // without keeping anything alive (the array is zeroed, so the written part ends at a zero).
  for (Frame* f = s.frames_top; f < s.frames_end && (f->header || f->symbol); ++f)
    f->word_context = gc::remap(f->word_context);
}

}  // namespace kel::stack
