// The interpreter: block and expression evaluation on the argument stack, calls of every
// function-like value with the argument cache, infix operators, paths and function bodies.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::stack {
struct Frame;
}

namespace kel::interp {

// The block and index of the expression being evaluated (errors take `near` from it).
extern Cell current_position;
// The evaluator's switches, side by side so the short paths test both in one load.
struct Switches {
  // One test guards every trace event site.
  bool trace_enabled;
  // KEL_NO_FAST_PATHS=1: every short path of the interpreter is off (read at start-up).
  bool no_fast_paths;
};
extern Switches switches;
// Set by return and exit when the block evaluation of their target body called them
// directly: that evaluation ends after the current expression, without an unwinding.
extern bool fast_exit;

// Trace event bits.
namespace trace_ev {
constexpr uint32_t INIT = 1, END = 2, PROLOG = 4, EPILOG = 8, ENTER = 0x10, EXIT = 0x20,
                   OPEN = 0x40, RETURN = 0x80, FETCH = 0x100, PUSH = 0x200, SET = 0x400,
                   CALL = 0x800, ERROR = 0x1000, THROW = 0x2000, CATCH = 0x4000,
                   EXPR = 0x8000;
}
// Hands one event to the tracer (code block node, position, referent and value cells, any
// of them absent). Reached only when switches.trace_enabled is set; the tracer unit owns it.
void fire(uint32_t event, Node code, uint32_t position, const Cell* referent, const Cell* value);

// Names of evaluator frames.
struct FrameWords {
  Cell body, anon, set_path, applied;
};
extern FrameWords words;

// Start-up: frame words and the collector root for current_position.
void set_tracer();
// Connects the lexer's events to Kel callbacks (functions called with [event input type
// line token]).
void connect_lexer();
// Registers the interpreter's collector roots (again after the collector's start-up).
void register_roots();

// Positions are cell indexes from the head of the code block's buffer; the buffer is
// re-read through its node after anything that can allocate. The code node is passed by
// reference to a rooted variable or a stack cell's field: node handles move when the
// collector evacuates a pool, and the collector rewrites those places.
void eval_block(const Cell* block, bool into_caller);
// A native's block argument (a branch, a loop body) run in the native's own frame, whose
// cells it overwrites; the value is the frame's result. The block frame eval_block adds
// is named `<body>`, which no report shows; while tracing it is eval_block's, with its
// events. The caller sets the top afterwards.
void eval_branch(const Cell* block);
// A loop body's plan, handed by a planned call of foreach to the native, which takes it
// first thing (nothing when there is none); its body runs use it while it holds.
struct LoopPlan {
  void* plan = nullptr;
  uint32_t block = 0;
  Node node = 0;
};
// The plan handed for the loop body cell body (none when body is not the block it read).
LoopPlan take_loop_plan(const Cell* body);
// eval_branch of the loop body lp was taken for, by its plan while that holds.
void eval_loop_body(const Cell* body, const LoopPlan& lp);
uint32_t eval_expression(const Node& code, uint32_t pos, uint32_t end, bool no_infix, bool push,
                         bool literal_functions);
uint32_t eval_next(const Node& code, uint32_t pos, uint32_t end, bool keep);
// eval_expression(code, pos, end, false, push, false) through an expression's short paths
// where they apply (the same frames, results and reports), as a block's evaluation runs it.
uint32_t eval_expression_quick(const Node& code, uint32_t pos, uint32_t end, bool push);
uint32_t eval_next_index(const Cell* block);
// A word/integer path on a block (r/1) picked as the path's evaluation picks it, into out;
// false for any other path or a picked function. Nothing there raises or allocates.
bool quick_pick(const Cell* path, Cell* out);
// The value cell of a bound word, read through the interpreter's caches of the global and
// the last context; null where only a call that could raise would find it. Reads only.
const Cell* quick_value(const Cell* word);

// Apply flags: 1 apply/all, 2 apply, plus 4 with /safer. An infix call takes the op! cell
// itself (its function is called; the left operand is the frame's first cell).
uint32_t call_value(const Cell* callee, const Node& code, uint32_t pos, uint32_t end, bool push,
                    const Cell* path, uint32_t path_index, const Cell* name,
                    const Cell* owner, uint32_t apply_flags, bool infix);

// Path evaluation in get, set or neither mode; returns the input position after whatever a
// called function consumed.
uint32_t eval_path(const Cell* path, const Node& code, uint32_t pos, uint32_t end, bool set, bool get,
                   bool push, uint32_t option);

void call_function_body(const Cell* fn, Node context, const Cell* name, uint32_t trace_mask);
void run_body(const Cell* fn, const Cell* body, const Cell* name);
// A call of the function fn (a rooted cell) from C++ (comparators, callbacks): its frame
// named `name`, its nargs argument cells from `values` (given of them, none after), rest
// local cells, the body run as call_function_body runs it; the frame's result.
Cell call_in_frame(const Cell* fn, const Cell* values, int32_t given, int32_t nargs,
                   int32_t rest, const Cell* name);
// A comparator's frame kept over the comparisons of one sort: call_in_frame's record is
// pushed at the first call and stays (its arguments and locals written again at each) until
// close_kept_frame; nothing runs between the calls but the sort's own C++ steps, so every
// call sees the frame, context and stack call_in_frame gives it. f is null while closed.
struct KeptFrame {
  stack::Frame* f = nullptr;
  Cell* base = nullptr;
  uint64_t epoch = ~uint64_t(0);  // the moves count ex and fx were read at
  const Cell* ex = nullptr;       // the function's extras cells
  Cell* fx = nullptr;             // its context cell
  Node unplanned = 0;             // a body whose plan does not take its first expression
};
// call_in_frame's fast path in the kept frame (opened when closed: name is read only then);
// false, with the frame closed, when that path does not apply (tracing, short paths off, a
// compiled or odd body): the caller then calls call_in_frame.
bool call_in_kept_frame(KeptFrame& k, const Cell* fn, const Cell* values, int32_t nargs,
                        int32_t rest, const Cell* name, Cell* answer);
// Pops the kept frame's record as call_in_frame's pop would (its context restored); the top
// is left just past the frame's base.
void close_kept_frame(KeptFrame& k);
void call_routine(const Cell* routine);

// Bodies written in C++ for interpreted functions (extras cell 2 holds an index here).
using CompiledBody = void (*)(Node context);
int32_t register_compiled_body(CompiledBody body);

}  // namespace kel::interp

namespace kel::stack {
// Start-up: makes both stacks with the evaluator's frame names (`<body>`, `<anon>`,
// `<not-found>`).
void init();
}  // namespace kel::stack
