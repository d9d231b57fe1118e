// The tracer: trace state, event firing to a Kel tracer function, do/trace's start and end,
// and the library-code mark that makes boot functions look compiled to tracing.
#include "runtime/evaluator/trace.h"

#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unwind.h"

namespace kel::trace {

bool active = false;
uint32_t mask = 0;

namespace {

constexpr uint32_t FULL_MASK = 0x1FFFF;
constexpr const char* EVENT_NAMES[16] = {"init",   "end",  "prolog", "epilog", "enter", "exit",
                                         "open",   "return", "fetch", "push",  "set",   "call",
                                         "error",  "throw",  "catch", "expr"};

// Collector roots: the installed tracer function, the event words and the tracer frame's
// name (made when a trace starts, so firing allocates nothing before the arguments are
// pushed), the naming word of a call during its open event.
Cell g_tracer{T_NONE, 0, 0, 0};
Cell g_words[17];
Cell g_open_name{T_NONE, 0, 0, 0};
// Cells after the tracer's six arguments: 1 a refinement (false), 0 anything else (none).
std::vector<uint8_t> g_tail;
bool g_library_loading = false;
int32_t g_in_tracer = 0;

void make_words() {
  for (uint32_t b = 0; b < 16; ++b) g_words[b] = word::intern_global(EVENT_NAMES[b]);
  g_words[16] = word::intern_global("<interp-callback>");
}

inline bool refinement_q(const Cell* c) { return cell::type(c) == T_REFINEMENT; }
inline bool arg_word_q(const Cell* c) {
  uint32_t t = cell::type(c);
  return t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD;
}

// Calls the tracer with the six arguments; the stacks are as they were afterwards.
void call_tracer(uint32_t event, const Cell* code, int32_t offset, const Cell* referent,
                 const Cell* value) {
  stack::State& s = stack::state();
  Cell* saved_base = s.base;
  Cell* saved_top = s.top;
  stack::Frame* saved_frames = s.frames_top;
  Cell args[6];
  args[0] = g_words[__builtin_ctz(event)];
  args[1] = code ? *code : Cell{T_NONE, 0, 0, 0};
  cell::set_integer(&args[2], offset);
  args[3] = value ? *value : Cell{T_NONE, 0, 0, 0};  // an unset result is passed as unset
  args[4] = referent ? *referent : Cell{T_NONE, 0, 0, 0};
  args[5] = Cell{T_PAIR, 0, stack::index_of(s.base), stack::index_of(s.top)};
  cell::set_none(stack::reserve_cell());  // the cell the event refers to stays as it is
  Cell name = g_words[16];
  stack::push_function_frame(&name, g_tracer.w1);
  for (const Cell& a : args) *stack::reserve_cell() = a;
  for (uint8_t k : g_tail) *stack::reserve_cell() = k ? Cell{T_LOGIC, 0, 0, 0} : Cell{T_NONE, 0, 0, 0};
  interp::switches.trace_enabled = false;
  struct Depth {
    Depth() { ++g_in_tracer; }
    ~Depth() { --g_in_tracer; }
  } depth;
  // An unwinding out of the tracer goes on into the traced evaluation, tracing left off.
  interp::call_function_body(&g_tracer, context::global, &name, 0);
  interp::switches.trace_enabled = true;
  stack::pop_frame();
  s.base = saved_base;
  s.top = saved_top;
  s.frames_top = saved_frames;
}

int32_t offset_in(const Cell* code, uint32_t position) {
  if (!code || position == NO_POSITION) return -1;
  uint32_t head = code->w1, count = blk::count(code->w2);
  if (position < head || position > count) return -1;
  return int32_t(position - head);
}

}  // namespace

uint32_t event_mask(const Cell* tracer) {
  int32_t canon[16];  // interned before any cell is read
  for (uint32_t b = 0; b < 16; ++b) canon[b] = symbol::canonical_id(symbol::intern_c_text(EVENT_NAMES[b]));
  Node ex = tracer->w3;
  Cell body = blk::cells(ex)[function::extras::BODY];
  if (cell::type(&body) != T_BLOCK || body.w1 >= blk::count(body.w2)) return FULL_MASK;
  Cell first = blk::cells(body.w2)[body.w1];
  if (cell::type(&first) != T_BLOCK) return FULL_MASK;
  uint32_t m = 0;
  for (uint32_t i = first.w1; i < blk::count(first.w2); ++i) {
    const Cell* c = blk::cells(first.w2) + i;
    if (cell::type(c) != T_WORD) continue;
    int32_t id = symbol::canonical_id(int32_t(c->w2));
    for (uint32_t b = 0; b < 16; ++b)
      if (id == canon[b]) m |= 1u << b;
  }
  return m;
}

// A call with no naming word (its frame is named <anon>) names the function itself.
inline bool anonymous_q(const Cell* referent) {
  return referent && cell::type(referent) == T_WORD && referent->w2 == interp::words.anon.w2;
}

void fire_in(uint32_t event, const Cell* code, uint32_t position, const Cell* referent,
             const Cell* value) {
  if (!(mask & event)) return;
  if ((event & (interp::trace_ev::PROLOG | interp::trace_ev::EPILOG)) && anonymous_q(referent) &&
      value)
    referent = value;
  Cell c;
  if (code) {
    if (library_series_q(code->w2)) return;  // library code looks compiled
    c = *code;
  }
  call_tracer(event, code ? &c : nullptr, offset_in(code ? &c : nullptr, position), referent, value);
}

// Calls from library code to a function that is not: call and return without code.
void fire_call(uint32_t event, Node code, uint32_t position, const Cell* referent,
               const Cell* value, const Cell* callee) {
  if (!(mask & event)) return;
  if (callee && anonymous_q(referent)) referent = callee;
  if (code && library_series_q(code)) {
    if (!callee || cell::type(callee) != T_FUNCTION || (callee->header & FLAG_LIBRARY)) return;
    call_tracer(event, nullptr, -1, referent, value);
    return;
  }
  interp::fire(event, code, position, referent, value);
}

bool start(const Cell* tracer) {
  if (active) return false;  // the running trace keeps its tracer
  // Exactly six arguments before the first refinement.
  Node spec = tracer->w2;
  uint32_t n = blk::count(spec), args = 0, i = 0;
  for (; i < n; ++i) {
    const Cell* c = blk::cells(spec) + i;
    if (refinement_q(c)) break;
    if (arg_word_q(c)) ++args;
  }
  if (args != 6) error::raise(err::script::invalid_arg, tracer);
  std::vector<uint8_t> tail;
  for (; i < n; ++i) {
    const Cell* c = blk::cells(spec) + i;
    if (refinement_q(c)) tail.push_back(1);
    else if (arg_word_q(c)) tail.push_back(0);
  }
  g_tail = std::move(tail);
  Cell fn = *tracer;  // interning may move nodes
  gc::Root keep(&fn);
  make_words();
  mask = event_mask(&fn);
  g_tracer = fn;
  interp::switches.trace_enabled = true;
  active = true;
  return true;
}

void finish(bool unwinding) {
  struct Clear {
    ~Clear() {
      g_tracer = Cell{T_NONE, 0, 0, 0};
      interp::switches.trace_enabled = false;
      active = false;
      mask = 0;
      g_tail.clear();
    }
  } clear;
  // The end event sees the error or throw on its way; the tracer may not replace it.
  error::Pending held = error::pending();
  Cell held_cells[5] = {held.args[0], held.args[1], held.args[2], held.where, held.stack};
  gc::RootRange keep(held_cells, held_cells + 5);
  uint32_t code = stack::state().pending_code;
  Cell* top = stack::state().top;
  Cell exit_value = *stack::last_pushed();
  gc::Root keep_exit(&exit_value);
  if (!unwinding) {
    // The run's last event reaches the tracer also while `trace false` paused delivery
    // (not after a tracer error: that unwinds).
    interp::switches.trace_enabled = true;
    end();
  } else {
    // The exit under way has already left its frames: the end event runs under a try/all
    // frame of its own, so an error or throw it raises stops there and the exit goes on.
    Cell name = word::intern_global("do");
    stack::push_try_all_frame(&name);
    try {
      end();
      stack::pop_frame();
    } catch (const Unwind&) {
    }
    stack::state().top = top;
    *stack::last_pushed() = exit_value;
  }
  stack::state().pending_code = code;
  error::Pending& p = error::pending();
  p.category = held.category;
  p.id = held.id;
  for (int k = 0; k < 3; ++k) p.args[k] = held_cells[k];
  p.where = held_cells[3];
  p.stack = held_cells[4];
}

void init() {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::INIT, nullptr, NO_POSITION, nullptr, nullptr);
}
void end() {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::END, nullptr, NO_POSITION, nullptr, nullptr);
}
void throw_(const Cell* value) {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::THROW, nullptr, NO_POSITION, nullptr, value);
}
void catch_(const Cell* value) {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::CATCH, nullptr, NO_POSITION, nullptr, value);
}
void call_event(const Cell* word, const Cell* fn) {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::CALL, nullptr, NO_POSITION, word, fn);
}
void return_event(const Cell* word, const Cell* fn) {
  if (interp::switches.trace_enabled) fire_in(interp::trace_ev::RETURN, nullptr, NO_POSITION, word, fn);
}

BodySwitch::BodySwitch(uint32_t header) : saved(interp::switches.trace_enabled) {
  if (header & function::FLAG_NO_TRACE) {
    interp::switches.trace_enabled = false;
    changed = true;
  } else if ((header & function::FLAG_TRACE) && active && g_in_tracer == 0) {
    interp::switches.trace_enabled = true;
    changed = true;
  }
}
BodySwitch::~BodySwitch() {
  if (changed) interp::switches.trace_enabled = saved;
}

// ---- Library code ----

LibraryScope::LibraryScope() : saved(g_library_loading) { g_library_loading = true; }
LibraryScope::~LibraryScope() { g_library_loading = saved; }
bool library_loading_q() { return g_library_loading; }

namespace {
void mark_series_deep(Node series) {
  SeriesBuffer* b = memory::node_buffer(series);
  if (b->flags & SERIES_LIBRARY) return;
  b->flags |= SERIES_LIBRARY;
  // Nothing here allocates: the cells' address holds for the whole walk.
  uint32_t n = blk::count(series);
  const Cell* cells = blk::cells(series);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell* c = cells + i;
    uint32_t t = cell::type(c);
    if (t == T_BLOCK || t == T_PAREN || t == T_PATH || t == T_SET_PATH || t == T_GET_PATH ||
        t == T_LIT_PATH)
      mark_series_deep(c->w2);
  }
}
}  // namespace

void mark_library_series(Node series) { mark_series_deep(series); }

void mark_library_function(Cell* fn) {
  if (!g_library_loading || cell::type(fn) != T_FUNCTION || (fn->header & function::FLAG_TRACE))
    return;
  fn->header |= FLAG_LIBRARY;
  Cell body = blk::cells(fn->w3)[function::extras::BODY];
  if (cell::type(&body) == T_BLOCK) mark_series_deep(body.w2);
}

bool library_series_q(Node series) {
  return series && (memory::node_buffer(series)->flags & SERIES_LIBRARY);
}

Cell* open_name() { return &g_open_name; }

void tracing_routine() {
  *stack::state().base = Cell{T_LOGIC, interpreter::tracing_q() ? 1u : 0u, 0, 0};
}

void mark_roots() {
  gc::mark_cells(&g_tracer, &g_tracer + 1);
  gc::mark_cells(g_words, g_words + 17);
  gc::mark_cells(&g_open_name, &g_open_name + 1);
}

}  // namespace kel::trace

namespace kel::interpreter {
bool tracing_q() { return interp::switches.trace_enabled; }
void set_tracing(bool on) { interp::switches.trace_enabled = on && trace::active; }
bool trace_q() { return trace::active; }
}  // namespace kel::interpreter

namespace kel::interp {
void fire(uint32_t event, Node code, uint32_t position, const Cell* referent, const Cell* value) {
  if (!(trace::mask & event)) return;
  if (!code) {
    trace::fire_in(event, nullptr, position, referent, value);
    return;
  }
  // The code as a value: the evaluation's own block or paren when it is that one.
  uint32_t t = code == current_position.w2 ? cell::type(&current_position) : T_BLOCK;
  Cell c{t, 0, code, 0};
  trace::fire_in(event, &c, position, referent, value);
}
}  // namespace kel::interp

namespace kel {
// The error raiser's services.
bool tracing_q() { return interp::switches.trace_enabled; }
void trace_fire(uint32_t event, const Cell*, uint32_t, const Cell* value, const Cell*) {
  trace::fire_in(event, nullptr, trace::NO_POSITION, nullptr, value);
}
}  // namespace kel
