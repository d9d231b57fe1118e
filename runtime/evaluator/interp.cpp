// The interpreter: eval-block, eval-expression, eval-next, calls with the argument cache,
// the infix step, path evaluation, function bodies, compiled bodies and routine calls.
#include "runtime/evaluator/interp.h"

#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/routine.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/natives_control.h"
#include "runtime/evaluator/path_set.h"
#include "runtime/evaluator/predicates.h"
#include "runtime/evaluator/trace.h"
#include "runtime/gc.h"
#include "runtime/hash_mem.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::interp {

Cell current_position{T_UNSET, 0, 0, 0};
Switches switches{false, false};
bool fast_exit = false;
FrameWords words;

namespace {

// Every event site is this one test.
#define KEL_TRACE(ev, code, pos, ref, val) \
  do {                                     \
    if (switches.trace_enabled) [[unlikely]]        \
      fire(trace_ev::ev, code, pos, ref, val); \
  } while (0)

// Calls and returns, which library code shows for the functions it calls.
#define KEL_TRACE_CALL(ev, code, pos, ref, val, callee) \
  do {                                                 \
    if (switches.trace_enabled) [[unlikely]]                    \
      trace::fire_call(trace_ev::ev, code, pos, ref, val, callee); \
  } while (0)

// The switch of every short path (operators, arithmetic and comparison calls): off while
// tracing, so the full calls fire their events, and when KEL_NO_FAST_PATHS=1 asks.
inline bool fast_paths_on() {
  uint16_t both;
  std::memcpy(&both, &switches, sizeof both);
  return both == 0;
}
static_assert(sizeof(Switches) == 2);

constexpr uint32_t MODE_MASK = 0x300000;
constexpr uint32_t MODE_GET = 0x100000;
constexpr uint32_t MODE_LIT = 0x200000;
constexpr uint32_t MODE_RETURN = 0x300000;

int32_t g_local_canon = 0;

// The positions that block evaluations restore on their way out, the operator copies of
// infix calls and the callee copies of the short paths; a collector root up to the current
// depth. A record can hold two (a function's callee and its body's position, a builtin's
// callee and the branch it runs in its own record), and parens nest in their caller's
// record: sized so that the frame stack (or the machine stack) is what a recursion reaches
// first, never this array.
constexpr uint32_t SAVED_POSITIONS = 3 * (stack::FRAME_CAPACITY + stack::FRAME_HEADROOM) + 64;
Cell g_saved_positions[SAVED_POSITIONS];
uint32_t g_saved_depth = 0;
int32_t g_system_canon = 0;
int32_t g_system_global_canon = 0;

void mark_interp_roots() {
  trace::mark_roots();
  gc::mark_cells(&current_position, &current_position + 1);
  gc::mark_cells(g_saved_positions, g_saved_positions + g_saved_depth);
  gc::mark_cells(&words.body, &words.applied + 1);
}

// The stack and memory states are static objects: their addresses are taken once so the
// hot paths read them without a call.
constexpr stack::State& S = stack::detail::g_state;
constexpr memory::MemoryState& M = memory::detail::g_memory;

// memory::node_buffer over the cached state, with the same checks.
inline SeriesBuffer* buf(Node node) {
  uint32_t i = node - 1;
  uint32_t p = i / memory::POOL_NODES;
  if (p >= M.pool_table_count) [[unlikely]] memory::node_fault(node);
  memory::NodePool* pool = M.pool_table[p];
  if (!pool) [[unlikely]] memory::node_fault(node);
  uintptr_t v = pool->slots[i - p * memory::POOL_NODES];
  if ((v & 1) || v == 0) [[unlikely]] memory::node_fault(node);
  return reinterpret_cast<SeriesBuffer*>(v);
}
// Blocks hold 16-byte cells: the count needs no division.
inline uint32_t cell_units(const SeriesBuffer* b) { return (b->tail - b->head) >> 4; }

inline Cell* base() { return S.base; }
inline Cell* top() { return S.top; }

// Inline twins of the stack unit's cell operations, for the hot paths.
inline Cell* reserve() {
  Cell* c = S.top;
  if (c + 1 >= S.args_limit) [[unlikely]] stack::raise_overflow();
  S.top = c + 1;
  return c;
}
inline Cell* push_cell(const Cell* value) {
  Cell v = *value;  // the value may be the cell being reserved
  Cell* c = reserve();
  *c = v;
  return c;
}
inline Cell* last_pushed() { return S.top - 1; }
inline void only_result(const Cell* value) {
  Cell v = *value;
  S.top = S.base + 1;
  *S.base = v;
}
// The push event's position: the value's own cell for literals, the next one for words.
inline void deliver(const Cell* v, bool pushed, const Node& code, uint32_t pos) {
  if (pushed) push_cell(v);
  else only_result(v);
  KEL_TRACE(PUSH, code, pos, nullptr, pushed ? S.top - 1 : S.base);
}

// Buffers and nodes move only when the collector runs or a series takes a larger buffer:
// an address read through a node stays good while the move counter is unchanged.
// Every cache of the interpreter holds addresses of cell series alone (code blocks,
// contexts, extras, argument caches, specs): a string growing moves none of them.
inline uint64_t epoch() { return M.cell_moves; }

// The code block read last, for the same epoch: a block evaluation, its expressions and
// their arguments read the same node one after another.
// Many ways, so a loop body and the functions it calls do not evict each other.
struct CodeBuffer {
  uint64_t epoch = ~uint64_t(0);
  Node node = 0;
  SeriesBuffer* b = nullptr;
};
constexpr uint32_t CODE_WAYS_BITS = 6;
CodeBuffer g_code[1u << CODE_WAYS_BITS];
[[gnu::noinline]] SeriesBuffer* code_buf_read(Node code) {
  SeriesBuffer* b = buf(code);
  g_code[code & ((1u << CODE_WAYS_BITS) - 1)] = {epoch(), code, b};
  return b;
}
// The look-up inline, the read of a buffer not at hand out of line: the short paths that
// inline it stay the same size whatever else the unit holds.
[[gnu::always_inline]] inline SeriesBuffer* code_buf(Node code) {
  uint64_t e = epoch();
  // Nodes made one after another differ in their low bits.
  CodeBuffer& c = g_code[code & ((1u << CODE_WAYS_BITS) - 1)];
  if (code == c.node && e == c.epoch) [[likely]] return c.b;
  return code_buf_read(code);
}
inline Cell* code_cells(Node code) { return memory::head_cells(code_buf(code)); }
inline uint32_t code_count(Node code) { return cell_units(code_buf(code)); }

// The global context's value cells, cached for the current epoch.
struct GlobalValues {
  uint64_t epoch = ~uint64_t(0);
  Node ctx = 0;
  Cell* values = nullptr;
} g_globals;

struct LastContext {
  uint64_t epoch = ~uint64_t(0);
  Node ctx = 0;
  Cell* cell = nullptr;
} g_last_context;

// The value slot of a bound, resolved word whose context has its values; null otherwise.
[[gnu::always_inline]] inline Cell* quick_slot(const Cell* w) {
  Node ctx = w->w1;
  // The global context first: the cached one is never 0 once its epoch is a real one.
  if (ctx == g_globals.ctx && g_globals.epoch == epoch() && w->w3 != context::NO_INDEX)
    return g_globals.values + w->w3;
  // Then the last other context (a function's, mostly), for the same epoch.
  if (ctx == g_last_context.ctx && g_last_context.epoch == epoch() && w->w3 != context::NO_INDEX) {
    Cell* x = g_last_context.cell;  // its values pointer is read live
    if (!x->w2) return nullptr;
    if (x->header & hdr::CONTEXT_ON_STACK) return S.args_begin + (x->w2 - 1 + w->w3);
    return memory::head_cells(buf(x->w2)) + w->w3;
  }
  if (!ctx || w->w3 == context::NO_INDEX) return nullptr;
  if (ctx == context::global) {
    Cell* gx = memory::head_cells(buf(ctx));
    if (!gx->w2 || (gx->header & hdr::CONTEXT_ON_STACK)) return nullptr;
    g_globals.values = memory::head_cells(buf(gx->w2));
    g_globals.ctx = ctx;
    g_globals.epoch = epoch();
    return g_globals.values + w->w3;
  }
  // Another context: its cell becomes the last one (its values pointer is read live).
  Cell* x = memory::head_cells(buf(ctx));  // the context! cell
  g_last_context = {epoch(), ctx, x};
  if (!x->w2) return nullptr;
  if (x->header & hdr::CONTEXT_ON_STACK) return S.args_begin + (x->w2 - 1 + w->w3);
  return memory::head_cells(buf(x->w2)) + w->w3;
}

inline bool object_context_q(Node ctx) {
  const Cell* x = memory::head_cells(buf(ctx));
  return ((x->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT) == context::KIND_OBJECT;
}

// word/value-slot with its errors.
[[gnu::always_inline]] inline Cell* slot_of(const Cell* w) {
  if (Cell* s = quick_slot(w)) return s;
  return word::value_slot(w);
}

inline bool function_type_q(uint32_t t) {
  return t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE;
}

// Writes a value as the expression's result: pushed, or the frame's only result.

[[noreturn]] void raise_expect_arg(const Cell* name, const Cell* value, const Cell* arg_word) {
  Cell dt{T_DATATYPE, cell::type(value), 0, 0};
  Cell n = (name && cell::type(name) == T_WORD) ? *name : words.anon;
  error::raise(err::script::expect_arg, &n, &dt, arg_word);
}

// The spec word of cache cell k (the same walk as the cache building), for error reports.
Cell spec_word_of_cache_index(const Cell* callee, uint32_t k) {
  Node spec = callee->w2;
  uint32_t index = 0;
  for (uint32_t i = 0; i < blk::count(spec); ++i) {
    Cell c = blk::cells(spec)[i];
    uint32_t t = cell::type(&c);
    bool takes = t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD ||
                 (t == T_REFINEMENT && symbol::canonical_id(int32_t(c.w2)) != g_local_canon) ||
                 t == T_SET_WORD;
    if (t == T_REFINEMENT && symbol::canonical_id(int32_t(c.w2)) == g_local_canon) break;
    if (!takes) continue;
    if (index == k) {
      c.header = T_WORD;
      return c;
    }
    ++index;
  }
  return Cell{T_NONE, 0, 0, 0};
}

}  // namespace

void set_tracer() {
  current_position = Cell{T_UNSET, 0, 0, 0};
  const char* off = std::getenv("KEL_NO_FAST_PATHS");
  switches.no_fast_paths = off && off[0] == '1';
  words.body = word::intern_global("<body>");
  words.anon = word::intern_global("<anon>");
  words.set_path = word::intern_global("set-path");
  words.applied = word::intern_global("<applied>");
  g_local_canon = symbol::canonical_id(symbol::intern_c_text("local"));
  g_system_canon = symbol::canonical_id(symbol::intern_c_text("system"));
  g_system_global_canon = symbol::canonical_id(symbol::intern_c_text("system-global"));
  register_roots();
  connect_lexer();
}

void register_roots() {
  // The collector's start-up clears its callbacks: registering again after it is harmless.
  gc::remove_root(&mark_interp_roots);
  gc::add_root(&mark_interp_roots);
}

namespace {
template <bool PATHS = false>
[[gnu::always_inline]] inline bool infix_fast(const Cell* op, const Cell* right, Cell* left,
                                              bool push);
[[gnu::always_inline]] inline uint32_t call_plain(const Cell* slot, const Node& code,
                                                  SeriesBuffer* cb, uint32_t pos, uint32_t end,
                                                  bool push, const Cell* word);
uint32_t infix_plain(const Cell* op, const Node& code, SeriesBuffer* cb, uint32_t pos,
                     uint32_t end, bool push, const Cell* word);
void eval_paren(const Cell* paren, bool push);
[[gnu::always_inline]] inline void run_branch(const Cell* block);
uint32_t infix_steps(const Node& code, uint32_t pos, uint32_t end, bool push, uint32_t start_top);
bool word_equal_fast(const Cell* op, const Cell* right, Cell* left, bool push);
inline bool word_left_q(const Cell* left) { return cell::type(left) - T_WORD <= T_ISSUE - T_WORD; }
uint32_t set_word_step(const Node& code, Cell v, uint32_t pos, uint32_t end, bool no_infix,
                       bool push);

// Cell types that evaluate to themselves, and the values a word yields as they are.
constexpr std::array<bool, 256> inert_table() {
  std::array<bool, 256> t{};
  for (uint32_t i = 1; i < T_TYPE_COUNT; ++i) t[i] = true;
  for (uint32_t i : {T_PAREN, T_SET_WORD, T_SET_PATH, T_GET_WORD, T_LIT_WORD, T_WORD, T_PATH,
                     T_GET_PATH, T_LIT_PATH, T_OP, T_NATIVE, T_ACTION, T_FUNCTION, T_ROUTINE,
                     T_ISSUE})
    t[i] = false;
  return t;
}
constexpr std::array<bool, 256> plain_value_table() {
  std::array<bool, 256> t{};
  for (uint32_t i = 1; i < T_TYPE_COUNT; ++i) t[i] = true;
  for (uint32_t i : {T_UNSET, T_NATIVE, T_ACTION, T_FUNCTION, T_ROUTINE, T_OP}) t[i] = false;
  return t;
}
constexpr std::array<bool, 256> k_inert = inert_table();
constexpr std::array<bool, 256> k_plain_value = plain_value_table();

// The infix step after a value, entered only when a word follows it (or a return is on its
// way, which infix_steps answers).
[[gnu::always_inline]] inline uint32_t infix_after(const Node& code, uint32_t pos, uint32_t end,
                                                   bool push, uint32_t start_top) {
  if (pos >= end) return pos;
  SeriesBuffer* cb = code_buf(code);
  if (pos >= cell_units(cb) || cell::type(memory::head_cells(cb) + pos) != T_WORD) return pos;
  return infix_steps(code, pos, end, push, start_top);
}

// The short path of one expression: a value that needs no evaluation (a literal, or a
// word holding a plain value) with any operators after it that infix_fast computes; an
// operator it declines goes on through infix_steps with the value in place. Any other
// expression goes through eval_expression from the start: nothing was consumed.
// cb is the code's buffer, read since the last allocation, and count its cells (the loops
// over a block's expressions have just read it).
[[gnu::always_inline]] inline uint32_t eval_quick_at(const Node& code, SeriesBuffer* cb,
                                                     uint32_t count, uint32_t pos, uint32_t end,
                                                     bool no_infix, bool push) {
  Cell* left = S.top;
  if (fast_paths_on() && (push || left == S.base)) [[likely]] {
    if (end > count) end = count;
    if (pos < end) {
      const Cell* cells = memory::head_cells(cb);
      const Cell* v = cells + pos;
      uint32_t t = cell::type(v);
      if (!k_inert[t]) {
        if (t == T_PAREN) {
          uint32_t start_top = uint32_t(left - S.args_begin);
          Cell paren = *v;  // the code's cells can move while it runs
          eval_paren(&paren, push);
          return no_infix ? pos + 1 : infix_after(code, pos + 1, end, push, start_top);
        }
        if (t != T_WORD) {
          if (t == T_SET_WORD) return set_word_step(code, *v, pos, end, no_infix, push);
          if (t != T_PATH) return eval_expression(code, pos, end, no_infix, push, false);
          // As eval_expression takes it, without its dispatch.
          uint32_t start_top = uint32_t(left - S.args_begin);
          Cell path = *v;
          uint32_t p = eval_path(&path, code, pos + 1, end, false, false, push, 0);
          return no_infix ? p : infix_after(code, p, end, push, start_top);
        }
        const Cell* slot = quick_slot(v);
        if (!slot) return eval_expression(code, pos, end, no_infix, push, false);
        uint32_t vt = cell::type(slot);
        if (vt == T_FUNCTION || vt == T_NATIVE || vt == T_ACTION || vt == T_ROUTINE) {
          // A call: as eval_expression makes it, without its dispatch. call_value copies
          // the callee and reads the name before anything can move them.
          uint32_t start_top = uint32_t(left - S.args_begin);
          uint32_t p = call_plain(slot, code, cb, pos + 1, end, push, v);
          return no_infix ? p : infix_after(code, p, end, push, start_top);
        }
        v = k_plain_value[vt] ? slot : nullptr;
      }
      if (v && left + 1 < S.args_limit) {
        *left = *v;
        S.top = left + 1;
        uint32_t p = pos + 1;
        if (!no_infix) {
          while (p < end) {
            const Cell* w = cells + p;
            if (cell::type(w) != T_WORD) break;
            const Cell* op = quick_slot(w);
            if (!op || cell::type(op) != T_OP) break;
            // A declined operator (its right operand needs evaluating or is missing, or
            // another type) takes the infix step from here: the value computed so far is
            // its left operand, as an evaluation from the start would leave it.
            if (p + 1 >= end || !infix_fast(op, w + 1, left, push)) [[unlikely]]
              return infix_steps(code, p, end, push, uint32_t(left - S.args_begin));
            p += 2;
          }
        }
        return p;
      }
    }
  }
  return eval_expression(code, pos, end, no_infix, push, false);
}

[[gnu::always_inline]] inline uint32_t eval_quick_in(const Node& code, SeriesBuffer* cb,
                                                     uint32_t pos, uint32_t end, bool no_infix,
                                                     bool push) {
  return eval_quick_at(code, cb, cell_units(cb), pos, end, no_infix, push);
}

[[gnu::always_inline]] inline uint32_t eval_quick(const Node& code, uint32_t pos, uint32_t end,
                                                  bool no_infix, bool push) {
  return eval_quick_in(code, code_buf(code), pos, end, no_infix, push);
}

// The value of a block of one cell that needs no evaluation (a literal, or a word holding
// a plain value), else null. Nothing can fail there, so the caller gives the value
// without setting the position. Short paths only.
[[gnu::always_inline]] inline const Cell* lone_value(SeriesBuffer* cb, uint32_t head,
                                                     uint32_t end) {
  if (end - head != 1) return nullptr;
  const Cell* v = memory::head_cells(cb) + head;
  uint32_t t = cell::type(v);
  if (k_inert[t]) return v;
  if (t != T_WORD) return nullptr;
  const Cell* slot = quick_slot(v);
  return slot && k_plain_value[cell::type(slot)] ? slot : nullptr;
}
}  // namespace

namespace {
// Keeps the caller's position in the rooted array and puts it back on every exit.
struct PositionKeep {
  uint32_t depth;
  PositionKeep() : depth(g_saved_depth) {
    if (depth >= SAVED_POSITIONS) [[unlikely]] stack::raise_overflow();
    g_saved_positions[depth] = current_position;
    g_saved_depth = depth + 1;
  }
  ~PositionKeep() {
    current_position = g_saved_positions[depth];
    g_saved_depth = depth;
  }
  PositionKeep(const PositionKeep&) = delete;
  PositionKeep& operator=(const PositionKeep&) = delete;
};

// A paren evaluated in the caller's frame: its expressions one after another, each value
// dropped but the last, which stays pushed or becomes the result. The block frame
// eval_block would add is named `<body>`, which no report shows; an empty paren, or
// tracing, takes eval_block.
[[gnu::always_inline]] inline void eval_in_frame(const Cell* code, uint32_t head, uint32_t end,
                                                 bool push, SeriesBuffer* cb);

void eval_paren(const Cell* paren, bool push) {
  SeriesBuffer* cb = code_buf(paren->w2);
  uint32_t end = cell_units(cb);
  uint32_t head = paren->w1 > end ? end : paren->w1;
  if (head >= end || !fast_paths_on() || (!push && S.top != S.base)) {
    eval_block(paren, !push);
    return;
  }
  if (const Cell* v = lone_value(cb, head, end)) {
    if (push) push_cell(v);
    else only_result(v);
    return;
  }
  eval_in_frame(paren, head, end, push, cb);
}

// The expressions of a block or paren run in the current frame (head < end); cb is the
// code's buffer, read since the last allocation, and end the count of its cells.
[[gnu::always_inline]] inline void eval_in_frame(const Cell* code, uint32_t head, uint32_t end,
                                                 bool push, SeriesBuffer* cb) {
  Cell* start = S.top;
  stack::check_machine_stack();  // these evaluations nest without frames
  PositionKeep keep;
  // The block's node is read through current_position from here on: the collector keeps it
  // current when it renumbers nodes. Written whole: a nested evaluation copies it at once.
  cell::store(&current_position, cell::type(code), head, code->w2, 0);
  uint32_t pos = head;
  uint32_t count = end;  // the callers read end as the count of cb's cells
  for (;;) {
    pos = eval_quick_at(current_position.w2, cb, count, pos, end, false, push);
    if (fast_exit) [[unlikely]] break;  // return or exit of the function body around it
    if (pos >= end) break;
    cb = code_buf(current_position.w2);
    count = cell_units(cb);
    if (pos >= count) break;
    S.top = start;
    current_position.w1 = pos;
  }
}
}  // namespace

// ---- Blocks and expressions ----

void eval_branch(const Cell* block) { run_branch(block); }

namespace {
[[gnu::always_inline]] inline void run_branch(const Cell* block) {
  SeriesBuffer* cb = code_buf(block->w2);
  uint32_t end = cell_units(cb);
  uint32_t head = block->w1 > end ? end : block->w1;
  if (!fast_paths_on()) {
    eval_block(block, true);
    return;
  }
  if (head >= end) {
    cell::set_unset(base());
    S.top = base() + 1;
    return;
  }
  if (const Cell* v = lone_value(cb, head, end)) {
    only_result(v);
    return;
  }
  Cell b = *block;  // the frame's cells are overwritten; current_position keeps it after
  S.top = S.base;
  eval_in_frame(&b, head, end, false, cb);
}
}  // namespace

void eval_block(const Cell* block, bool into_caller) {
  uint32_t end = code_count(block->w2);
  uint32_t head = block->w1 > end ? end : block->w1;
  Cell at{cell::type(block), head, block->w2, 0};
  // The caller's position is kept in a rooted local: a stack cell could be overwritten by
  // a break or return value landing on its frame's base while this evaluation unwinds.
  // The block's own node is read through current_position, which nested evaluations
  // restore before they return.
  PositionKeep restore;
  stack::push_eval_frame(&words.body);
  current_position = at;  // rooted: the block's node is read through it from here on
  KEL_TRACE(ENTER, current_position.w2, head, nullptr, nullptr);
  if (head >= end) {
    cell::set_unset(base());
    S.top = base() + 1;
  } else {
    uint32_t pos = head;
    for (;;) {
      current_position.w1 = pos;
      pos = eval_quick(current_position.w2, pos, end, false, false);
      if (fast_exit) [[unlikely]] {
        fast_exit = false;  // return or exit of this function body
        break;
      }
      // A block cut short while it runs ends at its new tail, with the last value.
      if (pos >= end || pos >= code_count(current_position.w2)) break;
      S.top = S.base;  // the frame is emptied between expressions
    }
  }
  KEL_TRACE(EXIT, current_position.w2, end, nullptr, base());
  current_position = g_saved_positions[restore.depth];
  if (into_caller) stack::pop_frame_to_result();
  else stack::pop_frame();
}


namespace {
// The infix step, repeated while it finds an operator: a word bound to an op! right after
// a value (the left operand, at start_top).
uint32_t infix_steps(const Node& code, uint32_t pos, uint32_t end, bool push, uint32_t start_top) {
  for (;;) {
    if (pos >= end || fast_exit) break;
    SeriesBuffer* ib = code_buf(code);
    uint32_t count = cell_units(ib);
    if (pos >= count) break;
    Cell w = memory::head_cells(ib)[pos];
    if (cell::type(&w) != T_WORD) break;
    Cell* slot = quick_slot(&w);
    if (!slot || cell::type(slot) != T_OP) break;
    if (switches.trace_enabled) [[unlikely]] {
      fire(trace_ev::FETCH, code, pos, nullptr, &w);
      w = code_cells(code)[pos];  // the tracer may have moved nodes
      slot = quick_slot(&w);
      if (!slot || cell::type(slot) != T_OP) break;
    }
    S.top = S.args_begin + start_top;
    if (!fast_paths_on()) {  // the tracer may have moved nodes: ib is read only below
      pos = call_value(slot, code, pos + 1, end, push, nullptr, 0, &w, nullptr, 0, true);
      continue;
    }
    // A paren on the right is never a number: infix_plain evaluates it.
    const Cell* right = memory::head_cells(ib) + pos + 1;
    if (pos + 1 < end && pos + 1 < count && cell::type(right) != T_PAREN &&
        (word_left_q(S.top) ? word_equal_fast(slot, right, S.top, push)
                            : infix_fast<true>(slot, right, S.top, push))) {
      pos += 2;
      continue;
    }
    pos = infix_plain(slot, code, ib, pos + 1, end, push, &w);
  }
  return pos;
}
}  // namespace

namespace {
// The end of an assignment: the value above the set-word at b goes into its word (a missing
// value is an error) and the frame's result becomes that value.
[[gnu::always_inline]] inline void store_assignment(Cell* b, bool push) {
  if (cell::type(b + 1) == T_UNSET) error::raise(err::script::need_value, b);
  Cell* slot = quick_slot(b);
  // The global context is never an object's: its kind needs no look.
  if (slot && (b->w1 == context::global || !object_context_q(b->w1))) *slot = b[1];
  else word::assign_value(b, b + 1);
  *b = b[1];
  S.top = b + 1;
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
}

// An assignment as eval_expression makes it while nothing is traced, without its dispatch:
// v is the set-word at pos (pos < end, end within the block).
[[gnu::noinline]] uint32_t set_word_step(const Node& code, Cell v, uint32_t pos, uint32_t end,
                                         bool no_infix, bool push) {
  uint32_t start_top = uint32_t(S.top - S.args_begin);
  stack::push_interp_native_frame(&v);
  push_cell(&v);
  ++pos;
  if (pos >= end) error::raise(err::script::need_value, base());
  pos = eval_quick(code, pos, end, false, true);
  store_assignment(base(), push);
  return no_infix ? pos : infix_after(code, pos, end, push, start_top);
}
}  // namespace

uint32_t eval_expression(const Node& code, uint32_t pos, uint32_t end, bool no_infix, bool push,
                         bool literal_functions) {
  SeriesBuffer* cb = code_buf(code);
  uint32_t count = cell_units(cb);
  if (end > count) end = count;
  if (pos >= end) error::raise(err::internal::not_done);  // callers never pass an empty input
  uint32_t start_top = uint32_t(S.top - S.args_begin);
  Cell v = memory::head_cells(cb)[pos];  // used only before anything allocates
  if (switches.trace_enabled) [[unlikely]] {
    fire(trace_ev::FETCH, code, pos, nullptr, &v);
    v = code_cells(code)[pos];  // the tracer may have moved nodes
  }
  switch (cell::type(&v)) {
    case T_PAREN:
      eval_paren(&v, push);
      ++pos;
      break;
    case T_SET_WORD: {
      stack::push_interp_native_frame(&v);
      push_cell(&v);
      KEL_TRACE(PUSH, code, pos, nullptr, base());
      ++pos;
      if (pos >= end) error::raise(err::script::need_value, base());
      pos = eval_quick(code, pos, end, false, true);
      Cell* b = base();
      KEL_TRACE(SET, code, pos, b, b + 1);
      store_assignment(b, push);
      break;
    }
    case T_SET_PATH: {
      if (switches.trace_enabled) [[unlikely]] {
        fire(trace_ev::PUSH, code, pos, nullptr, &v);
        v = code_cells(code)[pos];
      }
      uint32_t at = pos++;
      if (pos >= end) error::raise(err::script::need_value, &v);
      stack::push_interp_native_frame(&words.set_path);
      pos = eval_expression(code, pos, end, false, true, false);
      v = memory::head_cells(buf(code))[at];  // the value's evaluation may have moved nodes
      if (switches.trace_enabled) [[unlikely]] {
        fire(trace_ev::SET, code, pos, &v, last_pushed());
        v = code_cells(code)[at];
      }
      pos = eval_path(&v, code, pos, end, true, false, true, 0);
      if (push) stack::pop_frame();
      else stack::pop_frame_to_result();
      break;
    }
    case T_GET_WORD: {
      Cell val = *slot_of(&v);
      deliver(&val, push, code, pos);
      ++pos;
      break;
    }
    case T_LIT_WORD: {
      v.header = T_WORD;
      deliver(&v, push, code, pos);
      ++pos;
      break;
    }
    case T_WORD: {
      Cell val = *slot_of(&v);
      ++pos;
      switch (cell::type(&val)) {
        case T_UNSET: error::raise(err::script::no_value, &v);
        case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE:
          pos = call_value(&val, code, pos, end, push, nullptr, 0, &v, nullptr, 0, false);
          break;
        case T_OP: error::raise(err::script::no_op_arg, &v);
        default: deliver(&val, push, code, pos); break;
      }
      break;
    }
    case T_PATH:
      pos = eval_path(&v, code, pos + 1, end, false, false, push, 0);
      break;
    case T_GET_PATH:
      pos = eval_path(&v, code, pos + 1, end, false, true, push, 0);
      break;
    case T_LIT_PATH:
      v.header = T_PATH;
      v.w3 = 0;
      deliver(&v, push, code, pos);
      ++pos;
      break;
    case T_OP: error::raise(err::internal::not_done);
    case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE:
      if (literal_functions) {
        deliver(&v, push, code, pos);
        ++pos;
      } else {
        pos = call_value(&v, code, pos + 1, end, push, nullptr, 0, &words.anon, nullptr, 0,
                         false);
      }
      break;
    case T_ISSUE: {
      if (pos + 1 < end && cell::type(code_cells(code) + pos + 1) == T_BLOCK) {
        int32_t c = symbol::canonical_id(int32_t(v.w2));
        if (c == g_system_canon || c == g_system_global_canon)
          error::raise(err::internal::kel_system);
      }
      deliver(&v, push, code, pos);
      ++pos;
      break;
    }
    default:
      deliver(&v, push, code, pos);
      ++pos;
      break;
  }
  // The step is taken only when a word follows (an assignment, say, may have just made it
  // an operator); infix_steps tests the same first.
  if (!no_infix) pos = infix_after(code, pos, end, push, start_top);
  if (!push) KEL_TRACE(EXPR, code, pos, nullptr, base());
  return pos;
}

uint32_t eval_expression_quick(const Node& code, uint32_t pos, uint32_t end, bool push) {
  return eval_quick(code, pos, end, false, push);
}

uint32_t eval_next(const Node& code, uint32_t pos, uint32_t end, bool keep) {
  stack::push_interp_native_frame(&words.body);
  // eval_expression's steps, through the short paths where they apply (as eval_block's).
  pos = eval_quick(code, pos, end, false, keep);
  if (keep) {
    // The value stays as the caller's newest cell.
    Cell v = *last_pushed();
    stack::pop_frame();
    S.top[-1] = v;
  } else {
    stack::pop_frame_to_result();
  }
  return pos;
}

uint32_t eval_next_index(const Cell* block) {
  Node code = block->w2;
  gc::Root code_root(&code);
  uint32_t end = code_count(code);
  if (block->w1 >= end) {
    cell::set_unset(base());
    return block->w1;
  }
  return eval_next(code, block->w1, end, false);
}

// ---- Calls ----

namespace {

// The function context of a function-call record, as the collector keeps it current.
inline Node fctx_now(const stack::Frame* f) { return f->function_context; }

// Runs a native's (ct T_NATIVE) or an action's code number id on the record its caller
// opened, with the refinements' places refs.
[[gnu::always_inline]] inline void run_builtin(uint32_t ct, int32_t id, int32_t* refs) {
  if (ct == T_NATIVE) natives::table[id - 1](0, refs);
  else actions::entry_table[id - 1](refs);
}

struct CallState {
  const Cell* callee;  // a stack cell or a rooted copy; never a series cell
  const Node* code;    // re-read after every allocation
  uint32_t pos, end;
  const stack::Frame* frame;  // the call's own record: its name for error reports
  bool infix;
  bool apply;
  bool safer;
  bool refs_in_block;
};

// Fetches one argument by mode and pushes it.
// The call's naming word, read from its frame record (which the collector keeps current).
Cell name_of(const CallState& s) {
  return Cell{T_WORD, s.frame->word_context, s.frame->symbol, context::NO_INDEX};
}
// The value a call event shows: the word's own value, so an infix call shows its op!
// (the kept copy was turned into the function it wraps).
Cell traced_value(const CallState& s) {
  Cell v = *s.callee;
  if (s.infix) v.header = T_OP | (cell::type(&v) << hdr::OP_TYPE_SHIFT);
  return v;
}

// An argument taken as written, v being the cell at pos: a paren is evaluated, a get-word
// or get-path gives its value, anything else is pushed as it stands. Inlined by force: its
// two callers keep their state in registers across it.
[[gnu::always_inline]] inline void push_as_written(Cell v, const Node& code, uint32_t pos, uint32_t end) {
  switch (cell::type(&v)) {
    case T_PAREN:
      stack::push_interp_native_frame(&words.anon);
      eval_block(&v, true);
      stack::pop_frame();
      break;
    case T_GET_WORD: {
      Cell val = *slot_of(&v);
      push_cell(&val);
      break;
    }
    case T_GET_PATH: eval_path(&v, code, pos + 1, end, false, true, true, 0); break;
    default: push_cell(&v); break;
  }
}

void fetch_argument(CallState& s, uint32_t mode, const Cell* arg_word_source, uint32_t k) {
  if (s.pos >= s.end) {
    Cell aw = spec_word_of_cache_index(arg_word_source, k);
    Cell n = name_of(s);
    error::raise(err::script::no_arg, &n, &aw);
  }
  if (mode == 0) {
    s.pos = eval_quick(*s.code, s.pos, s.safer ? s.pos + 1 : s.end, s.infix, true);
    return;
  }
  Cell v = code_cells(*s.code)[s.pos];  // used only before anything allocates
  switch (mode) {
    case MODE_GET:
      push_cell(&v);
      ++s.pos;
      return;
    default:
      push_as_written(v, *s.code, s.pos, s.end);
      ++s.pos;
      return;
  }
}

[[noreturn, gnu::noinline, gnu::cold]] void raise_bad_type(CallState& s, const Cell* value, uint32_t k) {
  Cell aw = spec_word_of_cache_index(s.callee, k);
  Cell n = name_of(s);
  raise_expect_arg(&n, value, &aw);
}

inline void check_type(CallState& s, const Cell* ts, const Cell* value, uint32_t k) {
  if (!typeset::has_q(ts, cell::type(value))) [[unlikely]] raise_bad_type(s, value, k);
}

inline bool number_type_q(uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

// The operations the short path knows, named once per callee (see fast_op_of).
enum FastOp : uint8_t {
  OP_NONE, OP_ADD, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE, OP_AND, OP_OR, OP_XOR,
  OP_EQUAL, OP_NOT_EQUAL, OP_STRICT_EQUAL, OP_LESSER, OP_GREATER, OP_LESSER_EQUAL,
  OP_GREATER_EQUAL
};

// The short-path operation of an action or native (its datatype and table id).
FastOp fast_op_of(uint32_t type, int32_t id) {
  if (type == T_ACTION) {
    switch (uint32_t(id)) {
      case datatype::action::ADD: return OP_ADD;
      case datatype::action::SUBTRACT: return OP_SUBTRACT;
      case datatype::action::MULTIPLY: return OP_MULTIPLY;
      case datatype::action::DIVIDE: return OP_DIVIDE;
      case datatype::action::AND: return OP_AND;
      case datatype::action::OR: return OP_OR;
      case datatype::action::XOR: return OP_XOR;
      default: return OP_NONE;
    }
  }
  if (type != T_NATIVE) return OP_NONE;
  switch (id) {
    case 25: return OP_EQUAL;          // equal?
    case 26: return OP_NOT_EQUAL;      // not-equal?
    case 27: return OP_STRICT_EQUAL;   // strict-equal?
    case 28: return OP_LESSER;         // lesser?
    case 29: return OP_GREATER;        // greater?
    case 30: return OP_LESSER_EQUAL;   // lesser-or-equal?
    case 31: return OP_GREATER_EQUAL;  // greater-or-equal?
    default: return OP_NONE;
  }
}

bool number_fast_path(FastOp op, Cell* a, const Cell* b);

// The one place where operators and the arithmetic and comparison calls short-cut: two
// operands of integer!, float! or percent! under add, subtract, multiply, divide or a
// comparison native, computed with the datatypes' own results (integer overflow gives the
// float! of the exact operation). Anything that could raise (a zero or overflowing integer
// division, another type, another callee) answers false and takes the full call, so the
// errors and their reports stay those of the call. The result replaces the first operand.
// Callers test fast_paths_on() first. Integer add, subtract and comparisons are taken
// inline, the other cases out of line.
[[gnu::always_inline]] inline bool int_fast_path(FastOp op, Cell* a, const Cell* b) {
  if (op == OP_NONE) return false;
  if (cell::type(a) == T_INTEGER && cell::type(b) == T_INTEGER) {
    int64_t x = cell::get_int(a), y = cell::get_int(b), v;
    bool t;
    switch (op) {
      case OP_ADD: v = x + y; goto integer;
      case OP_SUBTRACT: v = x - y; goto integer;
      case OP_EQUAL: case OP_STRICT_EQUAL: t = x == y; break;
      case OP_NOT_EQUAL: t = x != y; break;
      case OP_LESSER: t = x < y; break;
      case OP_GREATER: t = x > y; break;
      case OP_LESSER_EQUAL: t = x <= y; break;
      case OP_GREATER_EQUAL: t = x >= y; break;
      default: return number_fast_path(op, a, b);
    }
    cell::store(a, T_LOGIC, t ? 1u : 0u, 0, 0);
    return true;
  integer:
    if (v >= INT32_MIN && v <= INT32_MAX) {
      cell::store(a, T_INTEGER, 0, uint32_t(int32_t(v)), 0);
      return true;
    }
  }
  return number_fast_path(op, a, b);
}

bool number_fast_path(FastOp op, Cell* a, const Cell* b) {
  uint32_t ta = cell::type(a), tb = cell::type(b);
  if (op <= OP_XOR) {
    int32_t o;
    switch (op) {
      case OP_ADD: o = float_::op::ADD; break;
      case OP_SUBTRACT: o = float_::op::SUBTRACT; break;
      case OP_MULTIPLY: o = float_::op::MULTIPLY; break;
      case OP_DIVIDE: o = float_::op::DIVIDE; break;
      default: {
        if (ta != T_INTEGER || tb != T_INTEGER) return false;  // the actions' other types
        int32_t x = cell::get_int(a), y = cell::get_int(b);
        int32_t v = op == OP_AND ? (x & y) : op == OP_OR ? (x | y) : (x ^ y);
        cell::store(a, T_INTEGER, 0, uint32_t(v), 0);
        return true;
      }
    }
    if (ta == T_INTEGER && tb == T_INTEGER) {
      int64_t x = cell::get_int(a), y = cell::get_int(b), v;
      switch (o) {
        case float_::op::ADD: v = x + y; break;
        case float_::op::SUBTRACT: v = x - y; break;
        case float_::op::MULTIPLY: v = x * y; break;
        default:
          if (y == 0 || (x == INT32_MIN && y == -1)) return false;  // the call raises
          if (x % y != 0) {
            cell::store_double(a, T_FLOAT, double(x) / double(y));
            return true;
          }
          v = x / y;
          break;
      }
      if (v >= INT32_MIN && v <= INT32_MAX) {
        cell::store(a, T_INTEGER, 0, uint32_t(int32_t(v)), 0);
      } else {
        cell::store_double(a, T_FLOAT, double(v));
      }
      return true;
    }
    if (!number_type_q(ta) || !number_type_q(tb)) return false;
    double x = ta == T_INTEGER ? double(cell::get_int(a)) : cell::get_double(a);
    double y = tb == T_INTEGER ? double(cell::get_int(b)) : cell::get_double(b);
    cell::store_double(a, ta == T_PERCENT ? T_PERCENT : T_FLOAT, float_::arith_on_doubles(x, y, o));
    return true;
  }
  if (!number_type_q(ta) || !number_type_q(tb)) return false;
  bool t;
  if (ta == T_INTEGER && tb == T_INTEGER) {
    int32_t x = cell::get_int(a), y = cell::get_int(b);
    switch (op) {
      case OP_EQUAL: case OP_STRICT_EQUAL: t = x == y; break;
      case OP_NOT_EQUAL: t = x != y; break;
      case OP_LESSER: t = x < y; break;
      case OP_GREATER: t = x > y; break;
      case OP_LESSER_EQUAL: t = x <= y; break;
      default: t = x >= y; break;
    }
  } else {
    // The comparison modes of actions::compare, in the order of the operations above.
    static constexpr int32_t modes[7] = {0, 1, 2, 3, 5, 4, 6};
    t = actions::compare(a, b, modes[op - OP_EQUAL]);  // numbers never raise here
  }
  cell::store(a, T_LOGIC, t ? 1u : 0u, 0, 0);
  return true;
}

// Where each callee's argument cache lies, for as long as nothing moved, keyed by its
// extras node; with what the cache says about plain calls.
struct alignas(64) CalleeCacheEntry {
  // The fields every call and operator reads, in the first cache line.
  uint64_t epoch = ~uint64_t(0);
  Node extras = 0;
  // How call_plain may call it: not at all, as a builtin, as an interpreted function, or as
  // a builtin with refinements, none of them used (its `lead` evaluated arguments before the
  // first refinement, then `ref_count` absent refinements).
  // A routine without refinements or locals is called as a builtin is (PLAIN_ROUTINE). A
  // builtin without refinements whose arguments are evaluated or taken as written ('word),
  // `lead` of them, those of `lit_mask` taken as written, is PLAIN_BUILTIN_QUOTED.
  // The kinds from PLAIN_BUILTIN on take call_plain_builtin.
  enum : uint8_t {
    NOT_PLAIN, PLAIN_FUNCTION, PLAIN_BUILTIN, PLAIN_BUILTIN_REFS, PLAIN_ROUTINE,
    PLAIN_BUILTIN_QUOTED
  };
  uint8_t plain_kind = NOT_PLAIN;
  // The short-path operation of a two-argument builtin (OP_NONE otherwise).
  FastOp fast_op = OP_NONE;
  // either, if or unless: call_plain_builtin runs the chosen branch itself. QUOTED (a
  // PLAIN_BUILTIN_QUOTED callee) is sent on by the same test to call_quoted_builtin.
  // TYPE_TEST (a PLAIN_ROUTINE datatype predicate, tested_type set) is sent on to
  // call_type_test_plain.
  enum : uint8_t { NOT_CONDITIONAL, EITHER, IF, UNLESS, QUOTED, TYPE_TEST };
  uint8_t conditional = NOT_CONDITIONAL;
  // PLAIN_BUILTIN_QUOTED: bit k for each argument k taken as written.
  uint8_t lit_mask = 0;
  // The callee takes only evaluated arguments and no refinement: `plain` of them, and
  // `locals` local cells after them (function-like callees). -1 when not.
  int32_t plain = -1;
  int32_t locals = 0;
  int32_t lead = -1;
  int32_t ref_count = 0;
  // The types each of the first PLAIN_TYPES plain arguments takes: bit t for type t.
  static constexpr int32_t PLAIN_TYPES = 4;
  uint64_t types[PLAIN_TYPES];
  // The rename count it was made at: with the same extras node and cache node since, what
  // it says of the cache still holds and only its addresses are read again.
  uint64_t renames = ~uint64_t(0);
  Node cache = 0;
  uint32_t count = 0;
  Cell* cells = nullptr;
  // The callee's extras cells (body, cache, code...), for the same epoch.
  Cell* extras_cells = nullptr;
  // Function callees: the context node and its context! cell, and the body's buffer (null
  // when the body is not a block), for the same epoch.
  Node fctx = 0;
  Cell* fctx_cell = nullptr;
  SeriesBuffer* body_buf = nullptr;
  // PLAIN_ROUTINE callees: the C++ function and result type (extras cells 2 and 4, null
  // when there is none), and whether each checked argument's type block starts with
  // any-type!: its checks then pass whatever any word holds, while the spec and those
  // blocks keep the write stamps read with it. A move reads only their buffers again.
  routine::Fn routine_fn = nullptr;
  int32_t routine_result = 0;
  bool routine_any = false;
  uint32_t type_count = 0;
  Node routine_spec = 0;
  uint32_t spec_stamp = 0;
  SeriesBuffer* spec_buf = nullptr;
  uint32_t type_stamps[PLAIN_TYPES];
  Node type_nodes[PLAIN_TYPES];
  SeriesBuffer* type_bufs[PLAIN_TYPES];
  // TYPE_TEST callees: the type their routine answers for, and that routine.
  uint32_t tested_type = 0;
  routine::Fn test_fn = nullptr;
};
static_assert(offsetof(CalleeCacheEntry, types) + sizeof(uint64_t) * 4 <= 64,
              "the fields of every call share one cache line");
static_assert(T_TYPE_COUNT <= 64, "argument type masks hold one bit per datatype");

// Value cells hold types below 64 (asserted above).
inline bool takes_type_q(uint64_t mask, uint32_t t) { return (mask >> (t & 63)) & 1; }

// A typeset's first 64 bits, bit t for type t: its bytes hold them from the top bit down
// (typeset::has_q), so each byte is reversed. Entries are refreshed after every move.
uint64_t type_mask(const Cell* ts) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(ts) + 4;
  uint64_t m = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    uint32_t b = p[i];
    b = ((b & 0xF0u) >> 4) | ((b & 0x0Fu) << 4);
    b = ((b & 0xCCu) >> 2) | ((b & 0x33u) << 2);
    b = ((b & 0xAAu) >> 1) | ((b & 0x55u) << 1);
    m |= uint64_t(b) << (8 * i);
  }
  return m;
}
constexpr uint32_t CALLEE_CACHE_BITS = 8;
// The entries of the short paths (plain calls, operators), and apart from them those of
// the general call (fetch_arguments): a loop native or foreach called the general way
// never takes the entry of a function its body calls.
CalleeCacheEntry g_callee_cache[1u << CALLEE_CACHE_BITS];
CalleeCacheEntry g_general_cache[1u << CALLEE_CACHE_BITS];
// Extras nodes of callees made together differ in their low bits.
inline CalleeCacheEntry& callee_slot(Node extras) {
  return g_callee_cache[extras & ((1u << CALLEE_CACHE_BITS) - 1)];
}
inline CalleeCacheEntry& general_slot(Node extras) {
  return g_general_cache[extras & ((1u << CALLEE_CACHE_BITS) - 1)];
}


CalleeCacheEntry& refresh_callee_entry(const Cell* callee, CalleeCacheEntry& known);
void read_routine_fields(CalleeCacheEntry& e, const Cell* callee, const Cell* extras_cells);
void call_plain_routine(const Cell* routine_value);

// After buffers moved but no node was released or renamed, an entry for the same extras and
// cache nodes reads its addresses again: the cache never changes, so what it says still
// holds. Allocates nothing; false when the entry must be made anew.
bool readdress_callee_entry(CalleeCacheEntry& known, const Cell* callee) {
  if (known.extras != callee->w3 || known.renames != M.renames) return false;
  Cell* extras_cells = memory::head_cells(buf(callee->w3));
  if (cell::type(extras_cells + 1) != T_BLOCK || extras_cells[1].w2 != known.cache) return false;
  uint32_t ct = cell::type(callee);
  if (ct == T_OP) ct = (callee->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  const Cell* body = extras_cells + function::extras::BODY;
  known.extras_cells = extras_cells;
  known.epoch = epoch();
  known.cells = memory::head_cells(buf(known.cache));
  known.fctx = ct == T_FUNCTION ? callee->w1 : 0;
  known.fctx_cell = known.fctx ? memory::head_cells(buf(known.fctx)) : nullptr;
  known.body_buf = ct == T_FUNCTION && cell::type(body) == T_BLOCK ? buf(body->w2) : nullptr;
  if (ct == T_ROUTINE && known.routine_fn) {
    // What the entry says of the routine holds (no node was renamed): its buffers moved.
    known.spec_buf = buf(known.routine_spec);
    for (uint32_t i = 0; i < known.type_count; ++i) known.type_bufs[i] = buf(known.type_nodes[i]);
  }
  return true;
}

// A callee's entry made again where it was taken by another callee or its nodes were
// renamed (a collection, a release of deferred buffers): only when the argument cache is
// built already, so nothing allocates and the callee may be a series cell. False when the
// cache is still to be built (the general call builds it) or no short path takes it.
[[gnu::noinline]] bool remade_callee_entry(const Cell* callee) {
  uint32_t ct = cell::type(callee);
  if (ct == T_OP) ct = (callee->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  if (!function_type_q(ct)) return false;
  if (cell::type(memory::head_cells(buf(callee->w3)) + 1) != T_BLOCK) return false;
  // Made in the general table, where the general call finds it; only a callee a short path
  // takes enters the short paths' table.
  CalleeCacheEntry& made = general_slot(callee->w3);
  if (made.extras != callee->w3 || made.epoch != epoch()) refresh_callee_entry(callee, made);
  if (made.plain_kind == CalleeCacheEntry::NOT_PLAIN) return false;
  callee_slot(callee->w3) = made;
  return true;
}

// A short path's entry of a callee whose argument cache is built.
inline CalleeCacheEntry& plain_entry(const Cell* callee) {
  CalleeCacheEntry& known = callee_slot(callee->w3);
  if (known.extras == callee->w3 && known.epoch == epoch()) [[likely]] return known;
  return refresh_callee_entry(callee, known);
}

// The entry of a callee (a stack cell or a rooted copy: building the cache allocates).
[[gnu::always_inline]] inline CalleeCacheEntry& callee_entry(const Cell* callee) {
  CalleeCacheEntry& known = general_slot(callee->w3);
  if (known.extras == callee->w3 && known.epoch == epoch()) [[likely]] return known;
  return refresh_callee_entry(callee, known);
}

[[gnu::noinline]] CalleeCacheEntry& refresh_callee_entry(const Cell* callee,
                                                         CalleeCacheEntry& known) {
  Cell* extras_cells = memory::head_cells(buf(callee->w3));
  if (cell::type(extras_cells + 1) != T_BLOCK) {
    Node made = build_argument_cache(callee);  // built once, kept in extras cell 1
    extras_cells = memory::head_cells(buf(callee->w3));
    extras_cells[1] = Cell{T_BLOCK, 0, made, 0};
  }
  if (readdress_callee_entry(known, callee)) return known;
  SeriesBuffer* cache_buf = buf(extras_cells[1].w2);
  uint32_t ct = cell::type(callee);
  if (ct == T_OP) ct = (callee->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  const Cell* body = extras_cells + function::extras::BODY;
  known.extras_cells = extras_cells;
  known.epoch = epoch();
  known.renames = M.renames;
  known.cache = extras_cells[1].w2;
  known.extras = callee->w3;
  known.cells = memory::head_cells(cache_buf);
  known.count = cell_units(cache_buf);
  known.plain = 0;
  known.locals = 0;
  known.lead = -1;
  // The arguments before the first refinement: their types, and which are taken as written
  // (quotable: no other mode among them).
  int32_t args = 0;
  bool refined = false, quotable = true;
  uint8_t lit = 0;
  for (uint32_t k = 0; k < known.count; ++k) {
    const Cell* c = known.cells + k;
    uint32_t t = cell::type(c);
    if (t == T_TYPESET) {
      uint32_t mode = c->header & MODE_MASK;
      if (mode == MODE_RETURN) continue;
      if (!refined) {
        if (args < CalleeCacheEntry::PLAIN_TYPES) known.types[args] = type_mask(c);
        if (mode == MODE_LIT && args < 8) lit = uint8_t(lit | (1u << args));
        else if (mode != 0) quotable = false;
        ++args;
      }
      if (mode != 0 || known.plain < 0) { known.plain = -1; continue; }
      ++known.plain;
    } else if (t == T_INTEGER && k + 1 == known.count) {
      known.locals = cell::get_int(c);  // builtins: a refinement count, never with plain
    } else {
      if (known.plain >= 0 && known.lead < 0) known.lead = known.plain;
      known.plain = -1;  // a refinement
      refined = true;
    }
  }
  known.ref_count = known.locals;
  if (known.plain < 0) known.locals = 0;
  known.fast_op = known.plain == 2 ? fast_op_of(ct, int32_t(callee->w1)) : OP_NONE;
  known.conditional = CalleeCacheEntry::NOT_CONDITIONAL;
  if (ct == T_NATIVE && callee->w1 >= 1 && callee->w1 <= uint32_t(natives::CAPACITY)) {
    natives::NativeFn fn = natives::table[callee->w1 - 1];
    // Only with the arguments the natives' own specs give them (the cache is made once).
    if (fn == &natives::either && known.plain == 3) known.conditional = CalleeCacheEntry::EITHER;
    else if (fn == &natives::if_ && known.plain == 2) known.conditional = CalleeCacheEntry::IF;
    else if (fn == &natives::unless && known.plain == 2) known.conditional = CalleeCacheEntry::UNLESS;
  }
  known.fctx = ct == T_FUNCTION ? callee->w1 : 0;
  known.fctx_cell = known.fctx ? memory::head_cells(buf(known.fctx)) : nullptr;
  known.body_buf = ct == T_FUNCTION && cell::type(body) == T_BLOCK ? buf(body->w2) : nullptr;
  known.plain_kind = CalleeCacheEntry::NOT_PLAIN;
  known.lit_mask = 0;
  known.routine_fn = nullptr;
  if (known.plain >= 0 && known.plain <= CalleeCacheEntry::PLAIN_TYPES) {
    const Cell* code_id = extras_cells + function::extras::CODE;
    if (ct == T_NATIVE || ct == T_ACTION)
      known.plain_kind = CalleeCacheEntry::PLAIN_BUILTIN;
    else if (ct == T_FUNCTION && !(cell::type(code_id) == T_INTEGER && cell::get_int(code_id) != 0))
      known.plain_kind = CalleeCacheEntry::PLAIN_FUNCTION;  // interpreted, not compiled
    else if (ct == T_ROUTINE && known.locals == 0)
      known.plain_kind = CalleeCacheEntry::PLAIN_ROUTINE;
    if (known.plain_kind == CalleeCacheEntry::PLAIN_ROUTINE) {
      read_routine_fields(known, callee, extras_cells);
      known.tested_type = known.plain == 1 && known.routine_fn && known.routine_result == T_LOGIC
                              ? predicates::datatype_tested(known.routine_fn)
                              : 0;
      if (known.tested_type) {
        known.test_fn = known.routine_fn;
        known.conditional = CalleeCacheEntry::TYPE_TEST;
      }
    }
  } else if (known.lead >= 0 && known.lead <= CalleeCacheEntry::PLAIN_TYPES &&
             known.ref_count >= 1 && known.ref_count <= 64 && (ct == T_NATIVE || ct == T_ACTION) &&
             (known.lead != 2 || fast_op_of(ct, int32_t(callee->w1)) == OP_NONE)) {
    known.plain_kind = CalleeCacheEntry::PLAIN_BUILTIN_REFS;
  } else if (!refined && quotable && lit && args <= CalleeCacheEntry::PLAIN_TYPES &&
             known.ref_count == 0 && (ct == T_NATIVE || ct == T_ACTION)) {
    known.plain_kind = CalleeCacheEntry::PLAIN_BUILTIN_QUOTED;
    known.lead = args;
    known.lit_mask = lit;
    known.conditional = CalleeCacheEntry::QUOTED;
  }
  return known;
}

// The infix step's short path: an operator wrapping a plain two-argument action or native,
// a number on its left and a number on its right that needs no evaluation (a literal, or
// a word holding one), computed without a call. The operator's value is the one the word
// holds now; its argument cache (as the last full call found it) must take both types.
// Nothing is consumed when it answers false.
// A right operand word/integer on a block: the cell picked, as eval_path's own short path
// gives it (nothing raises or allocates there); false for any other path or a function.
// A word/integer path on a block: the block's pick, read straight from the word's slot.
// Nothing here can raise or allocate; false for anything else and for a picked function.
[[gnu::noinline]] bool quick_path_pick(const Cell* path, Cell* out) {
  SeriesBuffer* pb = code_buf(path->w2);  // a path of the code: read again and again
  const Cell* pc = memory::head_cells(pb) + path->w1;
  if (path->w1 + 2 != memory::used_bytes(pb) / sizeof(Cell) || cell::type(pc) != T_WORD ||
      cell::type(pc + 1) != T_INTEGER)
    return false;
  const Cell* slot = quick_slot(pc);
  if (!slot || cell::type(slot) != T_BLOCK) return false;
  *out = *slot;
  series::pick_cell(out, cell::get_int(pc + 1));
  return !function_type_q(cell::type(out));
}
}  // namespace

bool quick_pick(const Cell* path, Cell* out) { return quick_path_pick(path, out); }
const Cell* quick_value(const Cell* word) { return quick_slot(word); }

namespace {

// The infix step's short path for the equality operators on a word on the left, where
// infix_fast declines: answered as the left operand's compare slot answers them when that
// slot is word::compare (which neither raises nor allocates under these ops). The right
// operand is a word's plain value, a lit-word's word, or a cell that needs no evaluation.
// As infix_fast, nothing is consumed when it answers false.
[[gnu::noinline]] bool word_equal_fast(const Cell* op, const Cell* right, Cell* left, bool push) {
  uint32_t ta = cell::type(left);
  if (!word_left_q(left)) return false;
  const CalleeCacheEntry& e = callee_slot(op->w3);
  if (e.extras != op->w3 || e.epoch != epoch() || e.fast_op < OP_EQUAL ||
      e.fast_op > OP_STRICT_EQUAL || !takes_type_q(e.types[0], ta) ||
      datatype::slot<datatype::action::COMPARE>(ta) != &word::compare)
    return false;
  const Cell* rv = right;
  Cell lit;
  uint32_t rt = cell::type(right);
  if (rt == T_WORD) {
    rv = quick_slot(right);
    if (!rv) return false;
  } else if (rt == T_LIT_WORD) {
    lit = *right;
    lit.header = T_WORD;
    rv = &lit;
  } else if (!k_inert[rt]) {
    return false;
  }
  uint32_t vt = cell::type(rv);
  if (!k_plain_value[vt] || !takes_type_q(e.types[1], vt)) return false;
  int32_t r = word::compare(left, rv, int32_t(e.fast_op - OP_EQUAL));  // modes 0, 1 and 2
  bool t = e.fast_op == OP_NOT_EQUAL ? r != 0 : r == 0;
  cell::store(left, T_LOGIC, t ? 1u : 0u, 0, 0);
  S.top = left + 1;
  if (!push) *S.base = *left;  // as the full call's pop leaves a result-mode value
  return true;
}

// PATHS: a word/integer path on the right is picked here too (the infix step after a path
// or paren; the short path of a plain value restarts through that step when it declines).
template <bool PATHS>
[[gnu::always_inline]] inline bool infix_fast(const Cell* op, const Cell* right, Cell* left,
                                              bool push) {
  // An operation known to the short path implies a plain two-argument action or native.
  const CalleeCacheEntry& e = callee_slot(op->w3);
  if (e.extras != op->w3 || e.epoch != epoch() || e.fast_op == OP_NONE) return false;
  const Cell* rv = right;
  Cell picked;
  if (cell::type(right) == T_WORD) {
    rv = quick_slot(right);
    if (!rv) return false;
  } else if (PATHS && cell::type(right) == T_PATH) {
    // A path with nothing to evaluate but its pick: the operator's frame would see nothing.
    if (!quick_path_pick(right, &picked)) return false;
    rv = &picked;
  }
  if (!takes_type_q(e.types[0], cell::type(left)) || !takes_type_q(e.types[1], cell::type(rv)))
    return false;
  if (!int_fast_path(e.fast_op, left, rv)) return false;
  S.top = left + 1;
  if (!push) *S.base = *left;  // as the full call's pop leaves a result-mode value
  return true;
}

bool refined_fetch(CallState& s, const Cell* path, uint32_t from);

void fetch_arguments(CallState& s, const Cell* path, uint32_t path_index) {
  const Cell* callee = s.callee;
  uint32_t ct = cell::type(callee);
  bool builtin = ct == T_NATIVE || ct == T_ACTION;
  // A function's or routine's refinements named by a path, by their plan when it has one.
  if (path && !builtin && !s.apply && fast_paths_on() && refined_fetch(s, path, path_index)) return;
  if (s.infix) S.top += 1;
  // The cache cells are found again whenever something moved (fetching can move buffers
  // and node handles).
  auto cache_node = [callee] { return memory::head_cells(buf(callee->w3))[1].w2; };
  CalleeCacheEntry& known = callee_entry(callee);
  Cell* cache_cells = known.cells;
  uint32_t cache_n = known.count;
  uint64_t cache_epoch = known.epoch;
  if (known.plain >= 0 && !path && !s.apply) {
    // Plain arguments only: no refinement set-up, no second pass.
    int32_t plain = known.plain, locals = known.locals;
    Cell* frame_base = base();
    for (uint32_t k = 0; k < cache_n; ++k) {
      const Cell* c = cache_cells + k;  // re-read below after each fetch that moved it
      if (cell::type(c) != T_TYPESET) break;
      if ((c->header & MODE_MASK) == MODE_RETURN) continue;
      if (!(s.infix && k == 0)) {
        if (s.pos >= s.end) fetch_argument(s, 0, callee, k);  // raises no-arg
        s.pos = eval_quick(*s.code, s.pos, s.end, s.infix, true);
        if (cache_epoch != epoch()) [[unlikely]] {
          cache_cells = memory::head_cells(buf(cache_node()));
          cache_epoch = epoch();
          c = cache_cells + k;
        }
      }
      check_type(s, c, last_pushed(), k);
    }
    if (switches.trace_enabled) [[unlikely]] {
      Cell n = name_of(s);
      Cell v = traced_value(s);
      gc::Root keep_v(&v);
      trace::fire_call(trace_ev::CALL, *s.code, s.pos, &n, &v, callee);
    }
    if (builtin) {
      int32_t id = int32_t(callee->w1);
      if (plain == 2 && fast_paths_on() &&
          int_fast_path(callee_entry(callee).fast_op, frame_base, frame_base + 1)) {
        S.top = frame_base + 1;
        return;
      }
      int32_t none[1] = {-1};
      run_builtin(ct, id, none);
    } else if (locals > 0) {
      function::push_defaults(locals);
    }
    return;
  }
  auto cache_at = [&](uint32_t k) {
    if (cache_epoch != epoch()) [[unlikely]] {
      cache_cells = memory::head_cells(buf(cache_node()));
      cache_epoch = epoch();
    }
    return cache_cells + k;
  };
  int32_t refs[64];
  int32_t ref_count = 0;
  if (builtin && cache_n) {
    Cell* last = cache_at(cache_n - 1);
    if (cell::type(last) == T_INTEGER) ref_count = cell::get_int(last);
    for (int32_t i = 0; i < ref_count && i < 64; ++i) refs[i] = -1;
  }
  int32_t fetched = 0;
  int32_t locals = 0;
  bool active = true;
  int32_t ref_slot = 0;
  Cell* frame_base = base();
  // First pass: the arguments in spec order.
  for (uint32_t k = 0; k < cache_n; ++k) {
    Cell c = *cache_at(k);
    uint32_t t = cell::type(&c);
    if (t == T_TYPESET) {
      uint32_t mode = c.header & MODE_MASK;
      if (mode == MODE_RETURN) continue;
      if (active) {
        if (s.apply && s.pos >= s.end) {
          *reserve() = Cell{T_NONE, 0, 0, 0};
        } else if (s.pos >= s.end && mode == MODE_LIT && typeset::has_q(&c, T_UNSET)) {
          *reserve() = Cell{T_UNSET, 0, 0, 0};
        } else if (!(s.infix && fetched == 0)) {
          fetch_argument(s, mode, callee, k);
        }
        check_type(s, &c, last_pushed(), k);
        ++fetched;
      } else {
        if (!builtin) *reserve() = Cell{T_NONE, 0, 0, 0};
        if (s.apply && !s.refs_in_block && !path && s.pos < s.end) {
          // apply/all: the block holds a value for every slot; an inactive one is dropped.
          fetch_argument(s, 0, callee, k);
          stack::drop_cells(1);
        }
      }
    } else if (t == T_REFINEMENT) {
      ++ref_slot;
      if (s.apply && !path && !s.refs_in_block && s.pos < s.end) {
        fetch_argument(s, 0, callee, k);
        Cell* v = last_pushed();
        if (cell::type(v) != T_LOGIC) {
          Cell rw = c;
          rw.header = T_WORD;
          Cell n = name_of(s);
          raise_expect_arg(&n, v, &rw);
        }
        active = v->w1 != 0;
        if (builtin) {
          stack::drop_cells(1);
          if (active && ref_slot <= 64) refs[ref_slot - 1] = fetched;
        }
      } else {
        active = false;
        if (!builtin) *reserve() = Cell{T_LOGIC, 0, 0, 0};
      }
    } else if (t == T_INTEGER) {
      locals = cell::get_int(&c);
    }
  }
  // Second pass: the refinements named by the path (or the apply block).
  bool from_path = path != nullptr;
  if (from_path || (s.apply && s.refs_in_block)) {
    uint32_t item = from_path ? path_index : s.pos;
    uint32_t expected = from_path ? T_WORD : T_REFINEMENT;
    for (;;) {
      Node pnode = from_path ? path->w2 : *s.code;
      uint32_t limit = from_path ? blk::count(pnode) : s.end;
      if (item >= limit) break;
      Cell it = blk::cells(pnode)[item];
      gc::Root it_root(&it);
      uint32_t it_t = cell::type(&it);
      if (it_t != expected && it_t != T_GET_WORD) {
        if (s.apply && ref_slot == 0) break;
        error::raise(err::script::bad_refine, &it);
      }
      bool used;
      if (!from_path) {
        ++item;  // past the refinement value
        s.pos = item;
        if (s.pos >= s.end) {
          used = false;
        } else {
          s.pos = eval_expression(*s.code, s.pos, s.end, false, true, false);
          used = logic::truth_of(last_pushed(), true, &it);
          stack::drop_cells(1);
        }
      } else if (it_t == T_GET_WORD) {
        Cell val = *slot_of(&it);
        used = logic::truth_of(&val, true, &it);
      } else {
        used = true;
      }
      int32_t index = blk::find_spec_symbol(callee, int32_t(it.w2));
      Cell* rc = (index >= 0 && uint32_t(index) < cache_n) ? cache_at(uint32_t(index))
                                                                      : nullptr;
      if (!rc || cell::type(rc) != T_REFINEMENT) {
        Cell n = name_of(s);
        Cell iw = it;
        iw.header = T_WORD;
        error::raise(err::script::no_refine, &n, &iw);
      }
      if (builtin) {
        int32_t slot = int32_t(rc->w3) - 1;
        if (used) {
          if (refs[slot] != -1) {
            if (from_path) error::raise(err::script::dup_refine, path);
            error::raise(err::script::dup_refine);
          }
          refs[slot] = fetched;
        }
      } else {
        Cell* flag = frame_base + index;
        if (flag->w1 != 0) {
          if (from_path) error::raise(err::script::dup_refine, path);
          error::raise(err::script::dup_refine);
        }
        flag->w1 = used ? 1 : 0;
      }
      // The refinement's arguments.
      Cell* mark = top();
      uint32_t arg = 0;
      for (uint32_t k = uint32_t(index) + 1; k < cache_n; ++k) {
        Cell tc = *cache_at(k);
        if (cell::type(&tc) != T_TYPESET || (tc.header & MODE_MASK) == MODE_RETURN) break;
        ++arg;
        if (s.safer && !used) {
          if (s.pos < s.end) ++s.pos;
          continue;
        }
        fetch_argument(s, tc.header & MODE_MASK, callee, k);
        if (used) {
          check_type(s, &tc, last_pushed(), k);
          if (!builtin) frame_base[index + arg] = *last_pushed();
          ++fetched;
        } else {
          stack::drop_cells(1);
        }
      }
      if (!builtin) S.top = mark;
      if (from_path) ++item;
      else item = s.pos;
    }
  }
  if (switches.trace_enabled) [[unlikely]] {
    Cell n = name_of(s);
    Cell v = traced_value(s);
    gc::Root keep_v(&v);
    trace::fire_call(trace_ev::CALL, *s.code, s.pos, &n, &v, callee);
  }
  if (builtin) {
    int32_t id = int32_t(callee->w1);
    if (fetched == 2 && fast_paths_on() &&
        int_fast_path(fast_op_of(ct, id), frame_base, frame_base + 1)) {
      S.top = frame_base + 1;
      return;
    }
    run_builtin(ct, id, refs);
  } else {
    function::push_defaults(locals);
  }
}

}  // namespace

namespace {
// An interpreted function body run in the function's own frame, above its arguments and
// locals: each value is pushed and dropped but the last, which becomes the result. The
// block frame eval_block would add is named `<body>`, which no report shows; the frame
// (flagged INLINE_BODY) is where return and exit called straight from the body stop.
// cb is the body's buffer, read since the last allocation.
[[gnu::always_inline]] inline void eval_body_in(const Cell* body, SeriesBuffer* cb) {
  uint32_t end = cell_units(cb);
  uint32_t head = body->w1 > end ? end : body->w1;
  if (head >= end) {
    cell::set_unset(base());
    S.top = base() + 1;
    return;
  }
  if (const Cell* v = lone_value(cb, head, end)) {
    only_result(v);
    return;
  }
  Cell* start = S.top;
  PositionKeep keep;
  // The node is read through current_position below; written whole (see eval_in_frame).
  cell::store(&current_position, T_BLOCK, head, body->w2, 0);
  uint32_t pos = head;
  uint32_t count = end;
  for (;;) {
    pos = eval_quick_at(current_position.w2, cb, count, pos, end, false, true);
    if (fast_exit) [[unlikely]] {
      fast_exit = false;  // return or exit straight from this body
      break;
    }
    // A body cut short while it runs ends at its new tail, with the last value.
    if (pos >= end) break;
    cb = code_buf(current_position.w2);
    count = cell_units(cb);
    if (pos >= count) break;
    S.top = start;
    current_position.w1 = pos;
  }
  *S.base = S.top[-1];
  S.top = S.base + 1;
}

[[gnu::noinline]] void eval_body_out(const Cell* body, SeriesBuffer* cb) { eval_body_in(body, cb); }

[[gnu::always_inline]] inline void eval_body_inline(const Cell* body) {
  eval_body_in(body, code_buf(body->w2));
}

// The cache index of plain argument k (return: cells are skipped), for error reports.
uint32_t plain_cache_index(const Cell* callee, int32_t k) {
  Node cache = memory::head_cells(buf(callee->w3))[1].w2;
  uint32_t n = blk::count(cache);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell* c = blk::cells(cache) + i;
    if (cell::type(c) == T_TYPESET && (c->header & MODE_MASK) == MODE_RETURN) continue;
    if (k-- == 0) return i;
  }
  return n;
}

[[noreturn, gnu::cold, gnu::noinline]] void raise_plain_no_arg(const Cell* callee, int32_t k,
                                                               const stack::Frame* f) {
  CallState s{callee, nullptr, 0, 0, f, false, false, false, false};
  Cell aw = spec_word_of_cache_index(callee, plain_cache_index(callee, k));
  Cell n = name_of(s);
  error::raise(err::script::no_arg, &n, &aw);
}

[[noreturn, gnu::cold, gnu::noinline]] void raise_plain_bad_type(const Cell* callee, int32_t k,
                                                                 const stack::Frame* f) {
  CallState s{callee, nullptr, 0, 0, f, false, false, false, false};
  Cell v = S.top[-1];
  raise_bad_type(s, &v, plain_cache_index(callee, k));
}

// Roots a callee's copy in the saved cells for the length of a call.
struct CalleeKeep {
  uint32_t depth;
  Cell* cell;
  explicit CalleeKeep(const Cell* value) : depth(g_saved_depth) {
    if (depth >= SAVED_POSITIONS) [[unlikely]] stack::raise_overflow();
    cell = &g_saved_positions[depth];
    *cell = *value;
    g_saved_depth = depth + 1;
  }
  ~CalleeKeep() { g_saved_depth = depth; }
  CalleeKeep(const CalleeKeep&) = delete;
  CalleeKeep& operator=(const CalleeKeep&) = delete;
};

// Pops the record the caller pushed, on top, whose context (if any) it put back itself: as
// stack::pop_frame (push) or pop_frame_to_result, without their checks.
[[gnu::always_inline]] inline void pop_own_record(bool push) {
  stack::State& s = stack::state();
  Cell* old_base = s.base;
  stack::Frame* f = --s.frames_top;
  s.base = s.args_begin + f->caller_base;
  s.top = old_base + 1;
  if (!push && s.base != old_base) *s.base = *old_base;
}

// The callee's copy kept in the saved cells only once code may run: until then the slot the
// caller checked still holds it. The depth is put back on every exit.
struct LateKeep {
  uint32_t depth = g_saved_depth;
  const Cell* hold(const Cell* value) {  // nothing was kept since the opening
    if (depth >= SAVED_POSITIONS) [[unlikely]] stack::raise_overflow();
    Cell* cell = &g_saved_positions[depth];
    *cell = *value;
    g_saved_depth = depth + 1;
    return cell;
  }
  ~LateKeep() { g_saved_depth = depth; }
};
// The reports read the callee after allocating: it is kept first.
[[noreturn, gnu::cold, gnu::noinline]] void raise_kept_no_arg(const Cell* callee, int32_t k,
                                                              const stack::Frame* f) {
  CalleeKeep keep(callee);
  raise_plain_no_arg(keep.cell, k, f);
}
[[noreturn, gnu::cold, gnu::noinline]] void raise_kept_bad_type(const Cell* callee, int32_t k,
                                                                const stack::Frame* f) {
  CalleeKeep keep(callee);
  raise_plain_bad_type(keep.cell, k, f);
}

// The opening of a builtin's frame, shared by call_plain_builtin and call_conditional: the
// types each argument takes, read now (nested calls can take the entry's slot; the argument
// cache they come from never changes), the callee's copy kept in the saved cells (the guard
// lives as long as this object, in the caller's scope), and the native's record pushed.
struct BuiltinFrame {
  uint64_t types[CalleeCacheEntry::PLAIN_TYPES];
  CalleeKeep keep;
  stack::Frame* f;
  Cell* frame_base;
  [[gnu::always_inline]] BuiltinFrame(const Cell* slot, const CalleeCacheEntry& known,
                                      const Cell* word)
      : keep(slot) {
    std::memcpy(types, known.types, sizeof types);
    f = stack::detail::push_record_unchecked(
        word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
    frame_base = S.base;
  }
};

// Pushes the value of the argument at pos (pos < end): a literal that no operator follows is
// pushed as it is, anything else goes through eval_quick (then `ran` is set: code may have
// run). cb is the code's buffer as of the move count cb_moves, brought up to date here.
[[gnu::always_inline]] inline uint32_t push_quick_arg(const Node& code, SeriesBuffer*& cb,
                                                      uint64_t& cb_moves, uint32_t pos,
                                                      uint32_t end, bool& ran) {
  if (cb_moves != epoch()) [[unlikely]] {
    cb = code_buf(code);
    cb_moves = epoch();
  }
  const Cell* v = memory::head_cells(cb) + pos;
  uint32_t limit = cell_units(cb);
  if (end < limit) limit = end;
  if (pos < limit && k_inert[cell::type(v)] && (pos + 1 >= limit || cell::type(v + 1) != T_WORD)) {
    push_cell(v);
    return pos + 1;
  }
  pos = eval_quick_in(code, cb, pos, end, false, true);
  ran = true;
  return pos;
}

// Fetches plain argument k at pos and checks it against the types it takes.
[[gnu::always_inline]] inline uint32_t fetch_plain(const Cell* callee, int32_t k, uint64_t types,
                                                   const Node& code, SeriesBuffer*& cb,
                                                   uint64_t& cb_moves, uint32_t pos,
                                                   uint32_t end, const stack::Frame* f) {
  if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, k, f);
  bool ran = false;
  pos = push_quick_arg(code, cb, cb_moves, pos, end, ran);
  if (!takes_type_q(types, cell::type(S.top - 1))) [[unlikely]] raise_plain_bad_type(callee, k, f);
  return pos;
}

// Fetches argument k taken as written ('word) at pos, as fetch_argument takes it (a paren
// evaluated, a get-word's value, a get-path's pick, anything else as it stands; unset past
// the end when the argument takes it), and checks it against the types it takes.
[[gnu::noinline]] uint32_t fetch_quoted(const Cell* callee, int32_t k, uint64_t types,
                                        const Node& code, uint32_t pos, uint32_t end,
                                        const stack::Frame* f) {
  if (pos >= end) {
    if (!takes_type_q(types, T_UNSET)) raise_plain_no_arg(callee, k, f);
    cell::set_unset(reserve());
  } else {
    Cell v = code_cells(code)[pos];  // used only before anything allocates
    push_as_written(v, code, pos, end);
    ++pos;
  }
  if (!takes_type_q(types, cell::type(S.top - 1))) [[unlikely]] raise_plain_bad_type(callee, k, f);
  return pos;
}

// ---- Body plans ----
// A plan is what a function body's expressions were found to be when it was made: for each
// expression its kind (a literal, a local, a call of a plain function, either/if/unless
// with literal branches, a paren, anything else) and its extent, and the operators after
// it with their right operands. It runs the same steps as the evaluation it stands for
// (the same records, saved cells, positions, checks and results) without deciding them
// again at each run. It is trusted while no node was renamed and every block it read keeps
// the write stamp it had (one compare of the stamp clock while nothing was written); the
// words' values are compared at run time. Any mismatch goes on through the evaluation
// itself from that expression, operator or argument, where nothing was consumed yet.
namespace plan {
enum Head : uint8_t {
  H_LITERAL, H_LOCAL, H_GLOBAL, H_CALL, H_COND, H_BUILTIN, H_QUOTED, H_SET, H_PAREN, H_OTHER,
  H_PICK  // local/integer: the pick of a block the local holds
};
enum Right : uint8_t { R_LITERAL, R_LOCAL, R_EXPR, R_PICK };
enum Follow : uint8_t { F_NONE, F_LOCAL, F_GLOBAL };
constexpr uint8_t TESTED_COND = 0x80;  // in Expr::conditional, beside the entry's kind

struct Op {
  uint32_t pos;  // the operator's position
  Cell word;    // the operator's word
  Cell expect;  // the op! it held
  uint32_t global;
  FastOp fop;
  uint8_t right;
  uint64_t left_types, right_types;
  Cell right_cell;  // R_LITERAL: the literal; R_LOCAL, R_PICK: the word
  uint32_t right_expr;
  int32_t pick;  // R_PICK: the index
};

struct Expr {
  Head head;
  uint8_t conditional;  // H_COND: the entry's kind, with TESTED_COND when the condition is
                        // a type test of a lone local, nothing after it
  bool branch_args;     // H_COND: a word follows the branches, fetched as arguments
  bool ops_complete;    // every operator after the head is planned, and no word follows
  bool exact;           // the extent is what the values it was made with give
  bool simple;          // a literal, local or global, then at most one operator with a
                        // literal or local
  bool lone_call;       // a call of a plain function or a conditional, nothing after it
  bool loop_body;       // H_QUOTED: foreach with a literal body block, planned as block[0]
  bool each_word;       // loop_body, its word a word! and its series a lone local or global
  bool pair;            // `(...) op (...)`: a paren, then one operator whose right operand is
                        // a paren, nothing after it
  bool set_op_call;     // H_SET: its value a local, then one operator whose right operand is
                        // a function's call (`s: s + walk x`)
  uint8_t follow;       // a word after it, asked at run time (F_LOCAL, F_GLOBAL: its index in
                        // follow_at)
  uint32_t follow_at;
  uint32_t pos, head_next;
  uint32_t next;  // the position after the expression; 0 when it depends on values
  Cell cell;      // the literal, the local's or call's word, the paren
  Cell expect;    // H_CALL, H_COND: the value the word held
  uint32_t global;
  uint32_t args, nargs;  // indexes of the argument expressions
  uint32_t block[2];     // H_PAREN: its block; H_COND: the branches' blocks
  Cell branches[2];      // H_COND: the branch cells
  uint32_t ops, nops;
  int32_t pick;  // H_PICK: the index (the local's word is the cell)
  // H_BUILTIN: a datatype predicate (`block? x`) of one simple argument: its C++ function
  // and the datatype it tests for (0 otherwise).
  uint32_t tested_type;
  routine::Fn test_fn;
  // Its argument a lone local: the local's index + 1 (0 otherwise). What a full check of
  // the routine found (the plain types it takes), good while no block is written
  // (test_clock, the stamp clock then): the routine, its spec and cache are as they were.
  uint32_t test_local;
  mutable uint32_t test_clock;
  mutable uint64_t test_takes;
};

struct Block {
  Node node;
  uint32_t stamp;
  uint32_t count;
  uint32_t first, n;  // its planned expressions, in order, in Plan::tops
  // How a loop body of it runs, fixed with the plan: run_branch_planned's steps (OTHER),
  // run_block's (STEPS: two cells or more, an expression planned), or run_lone_set's
  // (LONE_SET: all of it one set_op_call assignment).
  enum : uint8_t { OTHER, STEPS, LONE_SET };
  uint8_t loop = OTHER;
};

struct Global {
  Cell word;
  Cell* slot;  // for the plan's epoch; null when the word has no value cell now
};

struct Plan {
  Node body = 0;
  Node fctx = 0;
  bool dead = false;
  bool partial = false;  // some callee entry was not at hand when it was made
  bool retired = false;  // replaced: freed when its last run ends
  // How a recursion runs the body: 0 not in place (no planned expression), 1 by
  // run_planned_body_inline, 2 by run_cond_body<true> (one lone conditional whose condition
  // is a type test of a lone local, TESTED_COND), 3 by run_cond_body<false> (one other lone
  // conditional).
  uint8_t recursion = 0;
  uint32_t runs = 0;
  uint64_t renames = 0, epoch = 0;
  uint32_t clock = 0;
  Cell* fctx_cell = nullptr;
  std::vector<Block> blocks;
  std::vector<uint32_t> tops;
  std::vector<Expr> exprs;
  std::vector<Op> ops;
  std::vector<Global> globals;
  // The same, for the runs (the vectors never change once it is made).
  Expr* X = nullptr;
  Op* O = nullptr;
  uint32_t* T = nullptr;
  Block* B = nullptr;
  Global* G = nullptr;
};

[[gnu::noinline]] bool refresh(Plan* p);
// Still good: no node renamed, no block written, nothing moved since it was last checked.
[[gnu::always_inline]] inline bool fresh(Plan* p) {
  if (p->clock == M.stamp_clock && p->epoch == epoch() && p->renames == M.renames) [[likely]]
    return true;
  return refresh(p);
}
[[gnu::always_inline]] inline const Cell* local_slot(const Plan* p, uint32_t index) {
  const Cell* x = p->fctx_cell;  // its values pointer is read live, as quick_slot reads it
  if (!x->w2 || !(x->header & hdr::CONTEXT_ON_STACK)) return nullptr;
  return S.args_begin + (x->w2 - 1 + index);
}
// H_PICK and R_PICK: the pick quick_path_pick makes of the block local `index` holds, into
// out; null when the local holds no block or the pick is a function.
[[gnu::always_inline]] inline const Cell* local_pick(const Plan* p, uint32_t index, int32_t at,
                                                     Cell* out) {
  const Cell* v = local_slot(p, index);
  if (!v || cell::type(v) != T_BLOCK) return nullptr;
  *out = *v;
  series::pick_cell(out, at);
  return function_type_q(cell::type(out)) ? nullptr : out;
}
[[gnu::always_inline]] inline bool same_cell(const Cell* a, const Cell* b) {
  return std::memcmp(a, b, sizeof(Cell)) == 0;
}
// Callers run it only while the plan is good and the short paths are on (checked again
// after anything that may have run code).
uint32_t run_expr(Plan* p, const Expr& e, const Node& code, uint32_t end, bool no_infix,
                  bool push);
[[gnu::always_inline]] inline bool ok(Plan* p) { return fast_paths_on() && fresh(p); }
// The word after a simple expression ends it unless it holds an operator now.
[[gnu::always_inline]] inline bool follow_ok_inline(Plan* p, const Expr& e) {
  const Cell* w = e.follow == F_LOCAL ? local_slot(p, e.follow_at) : p->G[e.follow_at].slot;
  return w && cell::type(w) != T_OP;
}
// Out of line where the caller's registers matter more than the call (run_simple).
[[gnu::noinline]] bool follow_ok(Plan* p, const Expr& e) { return follow_ok_inline(p, e); }
[[gnu::noinline]] bool run_simple_pick(Plan* p, const Expr& e, bool push);
// A simple expression e (`n < 2`, `n - 1`) pushed when its operator computes it in place,
// as run_expr would; false (nothing consumed) otherwise. QUICK (the calls' paths): a pick
// (H_PICK, R_PICK) is sent to run_simple_pick, its steps and registers out of line.
template <bool QUICK>
[[gnu::always_inline]] inline bool run_simple_as(Plan* p, const Expr& e, bool push) {
  Cell* left = S.top;
  if (left + 1 >= S.args_limit || !(push || left == S.base)) return false;
  Cell picked, right;
  const Cell* v;
  if (QUICK) {
    v = e.head == H_LOCAL    ? local_slot(p, e.cell.w3)
        : e.head == H_GLOBAL ? p->G[e.global].slot
        : e.head == H_PICK   ? nullptr
                             : &e.cell;
  } else {
    v = e.head == H_LOCAL    ? local_slot(p, e.cell.w3)
        : e.head == H_GLOBAL ? p->G[e.global].slot
        : e.head == H_PICK   ? local_pick(p, e.cell.w3, e.pick, &picked)
                             : &e.cell;
  }
  if (!v || !k_plain_value[cell::type(v)]) {
    if (QUICK && e.head == H_PICK) [[unlikely]] return run_simple_pick(p, e, push);
    return false;
  }
  if (e.follow != F_NONE && !follow_ok(p, e)) return false;
  if (e.nops == 0) {
    *left = *v;
    S.top = left + 1;
    return true;
  }
  const Op& o = p->O[e.ops];
  const Cell* op = p->G[o.global].slot;
  if (!op || !same_cell(op, &o.expect)) return false;
  const Cell* rv;
  if (QUICK) {
    if (o.right == R_PICK) [[unlikely]] return run_simple_pick(p, e, push);
    rv = o.right == R_LITERAL ? &o.right_cell : local_slot(p, o.right_cell.w3);
  } else {
    rv = o.right == R_LITERAL ? &o.right_cell
         : o.right == R_PICK  ? local_pick(p, o.right_cell.w3, o.pick, &right)
                              : local_slot(p, o.right_cell.w3);
  }
  if (!rv) return false;
  *left = *v;
  if (!takes_type_q(o.left_types, cell::type(left)) ||
      !takes_type_q(o.right_types, cell::type(rv)) || !int_fast_path(o.fop, left, rv))
    return false;
  S.top = left + 1;
  if (!push) *S.base = *left;
  return true;
}
[[gnu::always_inline]] inline bool run_simple(Plan* p, const Expr& e, bool push) {
  return run_simple_as<false>(p, e, push);
}
bool run_simple_pick(Plan* p, const Expr& e, bool push) { return run_simple_as<false>(p, e, push); }
[[gnu::always_inline]] inline bool run_simple_quick(Plan* p, const Expr& e, bool push) {
  return run_simple_as<true>(p, e, push);
}
uint32_t generic_expr(const Node& code, uint32_t pos, uint32_t end, bool no_infix, bool push);
uint32_t run_lone_call(Plan* p, const Expr& e, const Node& code, uint32_t end, bool push);
uint32_t run_pair(Plan* p, const Expr& e, const Node& code, uint32_t end, bool push);
// An argument at pos: the plan's expression a when it starts there (and, after the first,
// while the plan is still good).
[[gnu::always_inline]] inline uint32_t run_arg(Plan* p, const Expr& a, const Node& code,
                                               uint32_t pos, uint32_t end, bool first) {
  if (pos == a.pos && (first || ok(p))) [[likely]] {
    if (a.simple && run_simple_quick(p, a, true)) return a.next;
    if (a.lone_call) return run_lone_call(p, a, code, end, true);
    if (a.pair) return run_pair(p, a, code, end, true);
    return run_expr(p, a, code, end, false, true);
  }
  return generic_expr(code, pos, end, false, true);
}
// A planned call's arguments from k on (k: the first one that may run code), each checked
// against the types it takes; callee is kept.
[[gnu::noinline]] uint32_t run_args_rest(Plan* p, const Expr* e, const Cell* callee,
                                         const uint64_t* types, int32_t k, int32_t plain,
                                         const Node& code, uint32_t pos, uint32_t end,
                                         const stack::Frame* f) {
  for (bool first = true; k < plain; ++k, first = false) {
    if (pos >= end) [[unlikely]] raise_kept_no_arg(callee, k, f);
    pos = run_arg(p, p->X[e->args + uint32_t(k)], code, pos, end, first);
    if (!takes_type_q(types[k], cell::type(S.top - 1))) [[unlikely]]
      raise_kept_bad_type(callee, k, f);
  }
  return pos;
}
[[gnu::always_inline]] inline void run_branch_planned(Plan* p, const Cell* chosen, uint32_t block);

struct Slot {
  Node body = 0;
  uint64_t renames = 0;
  Plan* plan = nullptr;
  uint32_t seen = 0;
  uint32_t builds = 0;
};
constexpr uint32_t SLOT_BITS = 6;
Slot g_slots[1u << SLOT_BITS];

// The body plan a planned foreach call hands to the native (take_loop_plan).
LoopPlan g_loop_plan;

[[gnu::noinline]] Plan* find_slow(Slot& s, Node body, Node fctx);

// The plan of a body about to run in the function context fctx, or null.
[[gnu::always_inline]] inline Plan* find(Node body, Node fctx) {
  Slot& s = g_slots[body & ((1u << SLOT_BITS) - 1)];
  if (s.body == body && s.plan && !s.plan->dead && !s.plan->partial && s.plan->fctx == fctx &&
      s.renames == M.renames) [[likely]]
    return s.plan;
  return find_slow(s, body, fctx);
}

void run_planned_body(Plan* p, const Cell* body);
void run_planned_body_inline(Plan* p, const Cell* body, bool held);
template <bool TESTED>
void run_cond_body(Plan* p, const Cell* body);
}  // namespace plan

// either, if and unless called through a word: call_plain_builtin's steps with the native's
// own run here, the chosen branch in this frame (flagged as stack::mark_branch_frame
// flags it). Branches that are literal blocks (no operator after them) are taken from the
// code as they stand, without pushing them: the branch's run overwrites the frame's cells
// anyway. Only either's condition may not be unset.
// PLANNED: the condition and branches come from the plan p's expression e (the branches
// while the plan is still good after the condition ran).
// Literal branches (v on, the types taking blocks) with a word after them that holds no op!
// now, which would take the last one as its left operand (as eval_quick's infix loop tells
// it). Out of line: the conditional's own steps keep their registers.
[[gnu::noinline]] bool blocks_before_plain_word(const Cell* v, uint32_t after, uint32_t limit,
                                                const uint64_t* types, int32_t plain) {
  if (after >= limit || cell::type(v) != T_BLOCK || !takes_type_q(types[1], T_BLOCK)) return false;
  if (plain == 3 && (cell::type(v + 1) != T_BLOCK || !takes_type_q(types[2], T_BLOCK))) return false;
  const Cell* w = v + plain - 1;
  if (cell::type(w) != T_WORD) return false;
  const Cell* op = quick_slot(w);
  return !op || cell::type(op) != T_OP;
}

[[gnu::always_inline]] inline bool routine_blocks_same_q(const CalleeCacheEntry& e);

// The entry known of a datatype predicate's routine still answers as fn did when it was
// found: same routine, spec and logic! result, and no argument check due (slot what its
// word holds).
[[gnu::always_inline]] inline bool type_test_entry_q(const CalleeCacheEntry& known,
                                                     const Cell* slot, routine::Fn fn) {
  return known.routine_fn == fn && known.routine_spec == slot->w2 &&
         known.routine_result == T_LOGIC &&
         ((slot->header & routine::FLAG) || (known.routine_any && routine_blocks_same_q(known)));
}

constexpr uint64_t plain_value_mask() {
  uint64_t m = 0;
  for (uint32_t t = 0; t < 64; ++t)
    if (k_plain_value[t]) m |= uint64_t(1) << t;
  return m;
}

// The routine of a planned type test a, slot what its word holds (the value the plan read):
// call_type_test's checks of its entry, kept in a while no block is written.
[[gnu::noinline]] bool type_test_checked(const plan::Expr& a, const Cell* slot) {
  const CalleeCacheEntry& known = callee_slot(slot->w3);
  if (known.extras != slot->w3 || known.epoch != epoch() || known.plain_kind != a.conditional ||
      !type_test_entry_q(known, slot, a.test_fn))
    return false;
  a.test_takes = known.types[0] & plain_value_mask();
  a.test_clock = M.stamp_clock;
  return true;
}

// A conditional's planned condition that is a type test of a lone local (`block? t`): the
// answer its call would give, 1 or 0, where that call runs nothing and can report nothing
// (call_type_test's checks, and room for the callee copies the conditional and the call
// keep); -1 when the call must be made, nothing consumed. The plan is good.
[[gnu::always_inline]] inline int32_t condition_type_answer(plan::Plan* p, const plan::Expr& a) {
  const Cell* slot = p->G[a.global].slot;
  if (!a.test_local || !slot || !plan::same_cell(slot, &a.expect)) return -1;
  if (a.test_clock != M.stamp_clock && !type_test_checked(a, slot)) return -1;
  if (S.frames_top >= S.frames_limit || g_saved_depth + 1 >= SAVED_POSITIONS ||
      S.top + 1 >= S.args_limit)
    return -1;
  const Cell* v = plan::local_slot(p, a.test_local - 1);
  if (!v) return -1;
  uint32_t t = cell::type(v);
  if (t >= 64 || !((a.test_takes >> t) & 1)) return -1;
  return t == a.tested_type;
}

[[gnu::noinline]] uint32_t call_conditional_tested(const Cell* slot, const Node& code,
                                                   uint32_t end, bool push, plan::Plan* p,
                                                   const plan::Expr* e);
// TESTED: the plan's condition is a type test (tested_type) alone.
template <bool PLANNED, bool TESTED = false>
[[gnu::always_inline]] inline uint32_t call_conditional_as(
    const Cell* slot, const CalleeCacheEntry& known, const Node& code, SeriesBuffer* cb,
    uint32_t pos, uint32_t end, bool push, const Cell* word, plan::Plan* p,
    const plan::Expr* e) {
  uint64_t cb_moves = epoch();  // cb is good for this count of moves
  int32_t plain = known.plain;  // 3 for either, 2 for if and unless
  uint8_t conditional = known.conditional;
  uint64_t types[CalleeCacheEntry::PLAIN_TYPES];  // as in BuiltinFrame
  std::memcpy(types, known.types, sizeof types);
  // PLANNED: a condition the plan computes in place runs no code, and nothing reads the
  // callee once a planned branch runs: its copy is kept only where code may run before.
  const plan::Expr* a = PLANNED ? &p->X[e->args] : nullptr;
  // A type test of a lone local is answered in place (condition_type_answer) or made.
  bool tested = TESTED && a->lone_call;
  bool quick = PLANNED && pos == a->pos && (TESTED ? tested : a->simple);
  LateKeep late;
  const Cell* callee = quick ? slot : late.hold(slot);
  stack::Frame* f = stack::detail::push_record_unchecked(
      word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  Cell* frame_base = S.base;
  const Cell* branches;  // the true branch, then either's false one
  bool planned_branches = false;
  if constexpr (PLANNED) {
    if (pos >= end) [[unlikely]] raise_kept_no_arg(callee, 0, f);
    int32_t answer;
    if (TESTED && quick && (answer = condition_type_answer(p, *a)) >= 0) {
      Cell* top = S.top;
      *top = Cell{T_LOGIC, uint32_t(answer), 0, 0};
      S.top = top + 1;
      pos = a->next;
      planned_branches = true;  // nothing ran: the plan is as good as it was
      if (!takes_type_q(types[0], T_LOGIC)) [[unlikely]] raise_kept_bad_type(callee, 0, f);
      if (e->branch_args) callee = late.hold(slot);  // they run code
    } else if (!TESTED && quick && plan::run_simple_quick(p, *a, true)) {
      pos = a->next;
      planned_branches = true;  // nothing ran: the plan is as good as it was
      if (!takes_type_q(types[0], cell::type(S.top - 1))) [[unlikely]]
        raise_kept_bad_type(callee, 0, f);
      if (e->branch_args) callee = late.hold(slot);  // they run code
    } else {
      if (quick) callee = late.hold(slot);
      pos = plan::run_arg(p, *a, code, pos, end, true);
      planned_branches = pos == a->next && plan::fresh(p);
      if (!takes_type_q(types[0], cell::type(S.top - 1))) [[unlikely]]
        raise_plain_bad_type(callee, 0, f);
    }
    cb_moves = ~uint64_t(0);
  } else {
    pos = fetch_plain(callee, 0, types[0], code, cb, cb_moves, pos, end, f);
  }
  if (planned_branches && e->branch_args) {
    // A word after the branches: they are fetched as arguments, as the evaluation does.
    for (int32_t k = 1; k < plain; ++k) {
      if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, k, f);
      pos = plan::run_arg(p, p->X[e->args + uint32_t(k)], code, pos, end, false);
      if (!takes_type_q(types[k], cell::type(S.top - 1))) [[unlikely]]
        raise_plain_bad_type(callee, k, f);
    }
    branches = frame_base + 1;
    planned_branches = plan::same_cell(branches, &e->branches[0]) &&
                       (plain == 2 || plan::same_cell(branches + 1, &e->branches[1])) &&
                       plan::fresh(p);
  } else if (planned_branches) {
    branches = e->branches;  // checked in the plan: literal blocks the branches take
    pos = e->head_next;
  } else {
    if (cb_moves != epoch()) {
      cb = code_buf(code);
      cb_moves = epoch();
    }
    uint32_t limit = cell_units(cb);
    if (end < limit) limit = end;
    const Cell* v = memory::head_cells(cb) + pos;
    uint32_t after = pos + uint32_t(plain) - 1;  // past the branches
    if (after <= limit && cell::type(v) == T_BLOCK && takes_type_q(types[1], T_BLOCK) &&
        (plain == 2 || (cell::type(v + 1) == T_BLOCK && takes_type_q(types[2], T_BLOCK))) &&
        (after >= limit || cell::type(v + plain - 1) != T_WORD)) {
      branches = v;  // nothing allocates before the chosen one is copied
      pos = after;
    } else if (!PLANNED && blocks_before_plain_word(v, after, limit, types, plain)) [[unlikely]] {
      branches = v;
      pos = after;
    } else {
      for (int32_t k = 1; k < plain; ++k)
        pos = fetch_plain(callee, k, types[k], code, cb, cb_moves, pos, end, f);
      branches = frame_base + 1;
    }
  }
  uint32_t t = cell::type(frame_base);
  bool either = conditional == CalleeCacheEntry::EITHER;
  bool truthy = t == T_LOGIC                ? frame_base->w1 != 0
                : t == T_UNSET && either ? natives::truthy_strict_q(frame_base)  // raises
                                         : t != T_NONE;
  if constexpr (PLANNED) {
    // One place runs the chosen branch, in this level (the plan's branch is inlined here).
    int32_t k = either ? (truthy ? 1 : 2) : truthy == (conditional == CalleeCacheEntry::IF) ? 1 : 0;
    if (k) {
      Cell chosen = branches[k - 1];
      f->header |= stack::fflag::BRANCH;
      if (planned_branches) plan::run_branch_planned(p, &chosen, e->block[k - 1]);
      else run_branch(&chosen);
    } else {
      cell::set_none(frame_base);
    }
  } else if (either) {
    Cell chosen = branches[truthy ? 0 : 1];
    f->header |= stack::fflag::BRANCH;
    run_branch(&chosen);
  } else if (truthy == (conditional == CalleeCacheEntry::IF)) {
    Cell chosen = branches[0];
    f->header |= stack::fflag::BRANCH;
    run_branch(&chosen);
  } else {
    cell::set_none(frame_base);
  }
  S.top = frame_base + 1;
  pop_own_record(push);
  return pos;
}

[[gnu::noinline]] uint32_t call_conditional(const Cell* slot, const CalleeCacheEntry& known,
                                            const Node& code, SeriesBuffer* cb, uint32_t pos,
                                            uint32_t end, bool push, const Cell* word) {
  return call_conditional_as<false>(slot, known, code, cb, pos, end, push, word, nullptr, nullptr);
}
// The plan's expression e, slot the value its word holds, its callee entry valid. Six
// arguments, all in registers; the rest is read from e.
[[gnu::noinline]] uint32_t call_conditional_planned(const Cell* slot, const Node& code,
                                                    uint32_t end, bool push, plan::Plan* p,
                                                    const plan::Expr* e) {
  return call_conditional_as<true>(slot, callee_slot(slot->w3), code, nullptr, e->pos + 1, end,
                                   push, &e->cell, p, e);
}
// call_conditional_planned of a condition that is a type test of a lone local (TESTED_COND).
[[gnu::noinline]] uint32_t call_conditional_tested(const Cell* slot, const Node& code,
                                                   uint32_t end, bool push, plan::Plan* p,
                                                   const plan::Expr* e) {
  return call_conditional_as<true, true>(slot, callee_slot(slot->w3), code, nullptr, e->pos + 1,
                                         end, push, &e->cell, p, e);
}

// The builtin (native or action) side of call_plain but the conditionals; known is its
// valid entry. PLANNED: the arguments are the plan p's expression e's.
template <bool PLANNED>
[[gnu::always_inline]] inline uint32_t call_plain_builtin_as(
    const Cell* slot, const CalleeCacheEntry& known, const Node& code, SeriesBuffer* cb,
    uint32_t pos, uint32_t end, bool push, const Cell* word, plan::Plan* p,
    const plan::Expr* e) {
  uint64_t cb_moves = epoch();  // cb is good for this count of moves
  uint32_t ct = cell::type(slot);
  bool with_refs = known.plain_kind == CalleeCacheEntry::PLAIN_BUILTIN_REFS;
  int32_t plain = with_refs ? known.lead : known.plain;
  int32_t ref_count = with_refs ? known.ref_count : 0;
  FastOp op = with_refs ? OP_NONE : known.fast_op;
  BuiltinFrame open(slot, known, word);
  const uint64_t* types = open.types;
  const Cell* callee = open.keep.cell;
  stack::Frame* f = open.f;
  Cell* frame_base = open.frame_base;
  if constexpr (PLANNED) {
    for (int32_t k = 0; k < plain; ++k) {
      if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, k, f);
      pos = plan::run_arg(p, p->X[e->args + uint32_t(k)], code, pos, end, k == 0);
      if (!takes_type_q(types[k], cell::type(S.top - 1))) [[unlikely]]
        raise_plain_bad_type(callee, k, f);
    }
  } else {
    for (int32_t k = 0; k < plain; ++k)
      pos = fetch_plain(callee, k, types[k], code, cb, cb_moves, pos, end, f);
  }
  if (!int_fast_path(op, frame_base, frame_base + 1)) {
    int32_t id = int32_t(callee->w1);
    int32_t none[64];  // every refinement absent
    none[0] = -1;
    for (int32_t i = 1; i < ref_count; ++i) none[i] = -1;
    if (ct == T_ROUTINE) [[unlikely]] {
      call_plain_routine(callee);  // as call_value calls it, after the same argument checks
    } else {
      run_builtin(ct, id, none);
    }
  }
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

[[gnu::noinline]] uint32_t call_plain_builtin_rest(const Cell* slot, const CalleeCacheEntry& known,
                                                   const Node& code, SeriesBuffer* cb,
                                                   uint32_t pos, uint32_t end, bool push,
                                                   const Cell* word) {
  return call_plain_builtin_as<false>(slot, known, code, cb, pos, end, push, word, nullptr,
                                      nullptr);
}
[[gnu::noinline]] uint32_t call_planned_builtin(const Cell* slot, const CalleeCacheEntry& known,
                                                const Node& code, uint32_t pos, uint32_t end,
                                                bool push, const Cell* word, plan::Plan* p,
                                                const plan::Expr* e) {
  return call_plain_builtin_as<true>(slot, known, code, nullptr, pos, end, push, word, p, e);
}

// A datatype predicate of one simple argument (`block? t`, e->tested_type set), answered
// without its call while the routine's entry says what it said when the plan was made (the
// same function and result, no argument check to make) and the records the call pushes have
// room (a full stack raises in the call): the call's answer, the argument pushed and turned
// into it. Otherwise, or when the argument is not computed in place, the call itself.
[[gnu::noinline]] uint32_t call_type_test(const Cell* slot, const CalleeCacheEntry& known,
                                          const Node& code, uint32_t pos, uint32_t end,
                                          bool push, const Cell* word, plan::Plan* p,
                                          const plan::Expr* e) {
  if (S.frames_top < S.frames_limit && g_saved_depth < SAVED_POSITIONS &&
      type_test_entry_q(known, slot, e->test_fn)) {
    const plan::Expr& a = p->X[e->args];
    Cell* top = S.top;
    uint32_t t = T_UNSET;
    if (a.head == plan::H_LOCAL && a.nops == 0 && a.follow == plan::F_NONE) {
      // A local alone (run_simple's steps for one, the value read where it is).
      const Cell* v = plan::local_slot(p, a.cell.w3);
      if (v && top + 1 < S.args_limit) t = cell::type(v);
    } else if (pos == a.pos && plan::run_simple(p, a, true)) {
      t = cell::type(top);
    }
    // A plain value the argument takes: the call's answer where the argument went.
    if (k_plain_value[t] && takes_type_q(known.types[0], t)) [[likely]] {
      *top = Cell{T_LOGIC, t == e->tested_type ? 1u : 0u, 0, 0};
      S.top = top + 1;
      return a.next;
    }
    S.top = top;  // nothing consumed: the call checks it and reports
  }
  return call_planned_builtin(slot, known, code, pos, end, push, word, p, e);
}

// A builtin without refinements taking some arguments as written (foreach's 'word, repeat,
// forall...): call_plain_builtin_rest's steps with those arguments taken as fetch_argument
// takes them. known is its valid entry.
[[gnu::noinline]] uint32_t call_quoted_builtin(const Cell* slot, const CalleeCacheEntry& known,
                                               const Node& code, SeriesBuffer* cb, uint32_t pos,
                                               uint32_t end, bool push, const Cell* word) {
  uint64_t cb_moves = epoch();  // cb is good for this count of moves
  uint32_t ct = cell::type(slot);
  int32_t args = known.lead;
  uint32_t lit = known.lit_mask;
  BuiltinFrame open(slot, known, word);
  const uint64_t* types = open.types;
  const Cell* callee = open.keep.cell;
  stack::Frame* f = open.f;
  for (int32_t k = 0; k < args; ++k) {
    if ((lit >> k) & 1) pos = fetch_quoted(callee, k, types[k], code, pos, end, f);
    else pos = fetch_plain(callee, k, types[k], code, cb, cb_moves, pos, end, f);
  }
  int32_t id = int32_t(callee->w1);
  int32_t none[1] = {-1};  // no refinement
  run_builtin(ct, id, none);
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

// call_quoted_builtin with the arguments evaluated ones take the plan p's expression e's.
// ARGS > 0: the callee takes ARGS arguments, those of LIT taken as written (foreach's
// shape, its steps unrolled); 0: as its entry says.
template <int32_t ARGS, uint32_t LIT>
[[gnu::always_inline]] inline uint32_t call_quoted_planned_as(
    const Cell* slot, const CalleeCacheEntry& known, const Node& code, uint32_t pos,
    uint32_t end, bool push, const Cell* word, plan::Plan* p, const plan::Expr* e) {
  uint32_t ct = cell::type(slot);
  int32_t args = ARGS > 0 ? ARGS : known.lead;
  uint32_t lit = ARGS > 0 ? LIT : known.lit_mask;
  BuiltinFrame open(slot, known, word);
  const uint64_t* types = open.types;
  const Cell* callee = open.keep.cell;
  stack::Frame* f = open.f;
  bool ran = false;  // code may have run since the plan was last found good
#pragma GCC unroll 4
  for (int32_t k = 0; k < args; ++k) {
    const plan::Expr& a = p->X[e->args + uint32_t(k)];
    if ((lit >> k) & 1) {
      // Taken as written: the plan's cell while the plan is good, when fetch_quoted would
      // push it as it stands (a word, mostly).
      uint32_t t = cell::type(&a.cell);
      if (!ran && pos == a.pos && pos < end && t != T_PAREN && t != T_GET_WORD &&
          t != T_GET_PATH) {
        push_cell(&a.cell);
        if (!takes_type_q(types[k], t)) [[unlikely]] raise_plain_bad_type(callee, k, f);
        pos = a.next;
      } else {
        pos = fetch_quoted(callee, k, types[k], code, pos, end, f);
        ran = true;
      }
    } else {
      if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, k, f);
      if (!ran && pos == a.pos && a.simple && plan::run_simple(p, a, true)) {
        pos = a.next;
      } else {
        pos = plan::run_arg(p, a, code, pos, end, !ran);
        ran = true;
      }
      if (!takes_type_q(types[k], cell::type(S.top - 1))) [[unlikely]]
        raise_plain_bad_type(callee, k, f);
    }
  }
  int32_t id = int32_t(callee->w1);
  int32_t none[1] = {-1};  // no refinement
  // foreach's body, when it is the block the plan read, is handed to it with its plan.
  struct Handed {
    ~Handed() { plan::g_loop_plan.plan = nullptr; }
  } handed;
  if (e->loop_body) {
    const Cell* planned = &p->X[e->args + uint32_t(args) - 1].cell;
    if (plan::same_cell(open.frame_base + args - 1, planned))
      plan::g_loop_plan = LoopPlan{p, e->block[0], planned->w2};
  }
  run_builtin(ct, id, none);
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

[[gnu::noinline]] uint32_t call_quoted_planned_rest(const Cell* slot, const CalleeCacheEntry& known,
                                                    const Node& code, uint32_t pos, uint32_t end,
                                                    bool push, const Cell* word, plan::Plan* p,
                                                    const plan::Expr* e);

// `foreach word block [body]` of a good plan (e->each_word): call_quoted_planned's steps
// when each of them would take its short way (the word pushed from the plan, the series a
// block where the local or global is, the literal body with no operator after it, each
// taken by its argument, room for the records and cells): one test of them all, then the
// record, the three arguments and the copies foreach makes, and the native's steps for one
// word over a block with the body's plan in hand. Anything else is call_quoted_planned's,
// with nothing consumed.
[[gnu::noinline]] uint32_t call_foreach_planned(const Cell* slot, const CalleeCacheEntry& known,
                                                const Node& code, uint32_t pos, uint32_t end,
                                                bool push, const Cell* word, plan::Plan* p,
                                                const plan::Expr* e) {
  const plan::Expr* a = &p->X[e->args];
  const plan::Expr& body = a[2];
  const Cell* series = a[1].head == plan::H_LOCAL ? plan::local_slot(p, a[1].cell.w3)
                                                   : p->G[a[1].global].slot;
  Cell* top = S.top;
  if (series && cell::type(series) == T_BLOCK && body.pos < end && top + 6 < S.args_limit &&
      S.frames_top < S.frames_limit && g_saved_depth < SAVED_POSITIONS &&
      takes_type_q(known.types[1], T_BLOCK) && takes_type_q(known.types[0], T_WORD) &&
      takes_type_q(known.types[2], T_BLOCK) &&
      (body.follow == plan::F_NONE || plan::follow_ok_inline(p, body))) [[likely]] {
    CalleeKeep keep(slot);
    stack::detail::push_record_unchecked(
        word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
    Cell v = *series;
    top[0] = a[0].cell;
    top[1] = v;
    top[2] = body.cell;
    top[3] = v;
    top[4] = a[0].cell;
    S.top = top + 5;
    natives::foreach_planned(LoopPlan{p, e->block[0], body.cell.w2});
    pop_own_record(push);
    return body.next;
  }
  return call_quoted_planned_rest(slot, known, code, pos, end, push, word, p, e);
}

[[gnu::noinline]] uint32_t call_quoted_planned(const Cell* slot, const CalleeCacheEntry& known,
                                               const Node& code, uint32_t pos, uint32_t end,
                                               bool push, const Cell* word, plan::Plan* p,
                                               const plan::Expr* e) {
  if (e->each_word) return call_foreach_planned(slot, known, code, pos, end, push, word, p, e);
  return call_quoted_planned_rest(slot, known, code, pos, end, push, word, p, e);
}

uint32_t call_quoted_planned_rest(const Cell* slot, const CalleeCacheEntry& known,
                                  const Node& code, uint32_t pos, uint32_t end, bool push,
                                  const Cell* word, plan::Plan* p, const plan::Expr* e) {
  if (known.lead == 3 && known.lit_mask == 1)
    return call_quoted_planned_as<3, 1>(slot, known, code, pos, end, push, word, p, e);
  return call_quoted_planned_as<0, 0>(slot, known, code, pos, end, push, word, p, e);
}

// The value cell of the word an assignment e of a good plan p sets, as store_assignment's
// look-up finds it: a local of the running frame (its context no object's, whose words may
// have a change handler) or a global's; null when there is none now.
[[gnu::always_inline]] inline Cell* planned_set_slot(plan::Plan* p, const plan::Expr* e) {
  if (e->cell.w1 == context::global) return p->G[e->global].slot;
  const Cell* x = p->fctx_cell;
  if (((x->header & hdr::CONTEXT_KIND_MASK) >> hdr::CONTEXT_KIND_SHIFT) == context::KIND_OBJECT)
    return nullptr;
  return const_cast<Cell*>(plan::local_slot(p, e->cell.w3));
}

namespace plan {
uint32_t infix_plain_planned(Plan* p, const Op& o, const Cell* op, const Node& code,
                             uint32_t pos, uint32_t end, bool push);
}  // namespace plan

// same_cell, inline whatever the caller's size (two loads and compares).
[[gnu::always_inline]] inline bool same_words(const Cell* a, const Cell* b) {
  uint64_t x[2], y[2];
  std::memcpy(x, a, sizeof x);
  std::memcpy(y, b, sizeof y);
  return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
}

// An assignment's value a at pos, pushed, as run_arg runs it. `s + walk x` (a local, then
// one operator whose right operand runs code) takes run_expr's and run_ops' steps
// here, one level less: the local pushed, the operator's checks, its call.
[[gnu::always_inline]] inline uint32_t run_set_value(plan::Plan* p, const plan::Expr& a,
                                                     const Node& code, uint32_t pos,
                                                     uint32_t end) {
  using namespace plan;
  if (pos == a.pos && a.head == H_LOCAL && a.nops == 1 && a.ops_complete) {
    const Op& o = p->O[a.ops];
    Cell* left = S.top;
    const Cell* v = local_slot(p, a.cell.w3);
    const Cell* op = p->G[o.global].slot;
    if (o.right == R_EXPR && a.head_next == o.pos && v && k_plain_value[cell::type(v)] &&
        left + 1 < S.args_limit && op && same_words(op, &o.expect)) {
      const CalleeCacheEntry& known = callee_slot(op->w3);
      if (known.extras == op->w3 && known.epoch == epoch() &&
          known.plain_kind == CalleeCacheEntry::PLAIN_BUILTIN && known.plain == 2) {
        *left = *v;  // the left operand, at the top (its operator's frame base)
        return infix_plain_planned(p, o, op, code, o.pos + 1, end, true);
      }
    }
  }
  return run_arg(p, a, code, pos, end, true);
}

// set_word_step with the value the plan p's expression e's argument.
[[gnu::always_inline]] inline uint32_t set_word_planned_in(plan::Plan* p, const plan::Expr* e,
                                                           const Node& code, uint32_t end,
                                                           bool no_infix, bool push) {
  Cell v = e->cell;
  uint32_t start_top = uint32_t(S.top - S.args_begin);
  uint32_t pos = e->pos + 1;
  const plan::Expr& a = p->X[e->args];
  Cell* slot;
  if (a.simple && pos < end && S.frames_top < S.frames_limit && S.top + 2 < S.args_limit &&
      (slot = planned_set_slot(p, e)) && plan::run_simple(p, a, true)) {
    // Nothing runs for the value (never unset): the frame the assignment opens for what
    // does is not needed, nor the look-up. The value stays as the result (the top cell is
    // the frame's base when it is not pushed).
    *slot = S.top[-1];
    pos = a.next;
    // run_simple asked the word after the value (the same as after e) and found no
    // operator in it; nothing ran since.
    if (a.follow != plan::F_NONE && a.follow == e->follow && a.follow_at == e->follow_at &&
        pos == e->next)
      return pos;
  } else {
    stack::push_interp_native_frame(&v);
    push_cell(&v);
    if (pos >= end) error::raise(err::script::need_value, base());
    pos = run_set_value(p, a, code, pos, end);
    Cell* b = base();
    if (cell::type(b + 1) != T_UNSET && plan::ok(p) && (slot = planned_set_slot(p, e))) {
      *slot = b[1];
      *b = b[1];
      pop_own_record(push);  // the assignment's own record, no context on it
    } else {
      store_assignment(b, push);
    }
  }
  if (no_infix) return pos;
  // The word after it, planned: asked whether it holds an operator now.
  if (e->follow != plan::F_NONE && pos == e->next && plan::ok(p) && plan::follow_ok_inline(p, *e))
    return pos;
  return infix_after(code, pos, end, push, start_top);
}

namespace plan {
uint32_t set_op_call_planned(Plan* p, const Expr* e, const Node& code, uint32_t end, bool push);
}  // namespace plan

// set_op_call_planned's way back when its checks fail.
[[gnu::noinline]] uint32_t set_word_planned_steps(plan::Plan* p, const plan::Expr* e,
                                                  const Node& code, uint32_t end, bool no_infix,
                                                  bool push) {
  return set_word_planned_in(p, e, code, end, no_infix, push);
}
[[gnu::noinline]] uint32_t set_word_planned(plan::Plan* p, const plan::Expr* e,
                                            const Node& code, uint32_t end, bool no_infix,
                                            bool push) {
  if (e->set_op_call && !no_infix) return plan::set_op_call_planned(p, e, code, end, push);
  return set_word_planned_in(p, e, code, end, no_infix, push);
}

// A datatype predicate called through a word (known a TYPE_TEST entry) whose argument is a
// literal or a word holding a plain value, with no operator after it: answered without its
// call while the routine is the one its entry was made with (as call_type_test checks it)
// and the records the call pushes have room (a full stack raises in the call). cb is the
// code's buffer, read since the last allocation. Anything else takes the call.
[[gnu::noinline]] uint32_t call_type_test_plain(const Cell* slot, const CalleeCacheEntry& known,
                                                const Node& code, SeriesBuffer* cb,
                                                uint32_t pos, uint32_t end, bool push,
                                                const Cell* word) {
  uint32_t limit = cell_units(cb);
  if (end < limit) limit = end;
  if (pos < limit && S.frames_top < S.frames_limit && g_saved_depth < SAVED_POSITIONS &&
      S.top + 2 < S.args_limit && type_test_entry_q(known, slot, known.test_fn)) {
    const Cell* v = memory::head_cells(cb) + pos;
    uint32_t t = cell::type(v);
    if (t == T_WORD) {
      v = quick_slot(v);
      t = v ? cell::type(v) : T_UNSET;
    } else if (!k_inert[t]) {
      t = T_UNSET;
    }
    bool op_after = false;
    if (pos + 1 < limit && cell::type(v = memory::head_cells(cb) + pos + 1) == T_WORD) {
      const Cell* o = quick_slot(v);
      op_after = !o || cell::type(o) == T_OP;
    }
    if (k_plain_value[t] && !op_after && takes_type_q(known.types[0], t)) [[likely]] {
      Cell r{T_LOGIC, t == known.tested_type ? 1u : 0u, 0, 0};
      if (push) push_cell(&r);
      else only_result(&r);
      return pos + 1;
    }
  }
  return call_plain_builtin_rest(slot, known, code, cb, pos, end, push, word);
}

// The builtin side of call_plain; known is its valid entry. Two tail calls and nothing
// else, so no prologue runs before the conditionals are sent on (inlined in call_plain,
// the test moved the registers of every short path).
[[gnu::noinline]] uint32_t call_plain_builtin(const Cell* slot, const CalleeCacheEntry& known,
                                              const Node& code, SeriesBuffer* cb, uint32_t pos,
                                              uint32_t end, bool push, const Cell* word) {
  if (known.conditional != CalleeCacheEntry::NOT_CONDITIONAL) {
    if (known.conditional == CalleeCacheEntry::QUOTED) [[unlikely]]
      return call_quoted_builtin(slot, known, code, cb, pos, end, push, word);
    if (known.conditional == CalleeCacheEntry::TYPE_TEST)
      return call_type_test_plain(slot, known, code, cb, pos, end, push, word);
    return call_conditional(slot, known, code, cb, pos, end, push, word);
  }
  return call_plain_builtin_rest(slot, known, code, cb, pos, end, push, word);
}

// The interpreted-function side of call_plain; known is its valid entry. PLANNED: the
// arguments are the plan p's expression e's.
template <bool PLANNED>
[[gnu::always_inline]] inline uint32_t call_plain_function_as(
    const Cell* slot, const CalleeCacheEntry& known, const Node& code, SeriesBuffer* cb,
    uint32_t pos, uint32_t end, bool push, const Cell* word, plan::Plan* p,
    const plan::Expr* e) {
  uint64_t moves = epoch();
  uint64_t cb_moves = moves;  // cb is good for this count of moves
  int32_t plain = known.plain, locals = 0;
  Cell* extras_cells = nullptr;  // good while nothing moves
  SeriesBuffer* body_buf = nullptr;
  if (!PLANNED) {  // PLANNED: read after the arguments
    locals = known.locals;
    extras_cells = known.extras_cells;
    body_buf = known.body_buf;
  }
  uint64_t types[CalleeCacheEntry::PLAIN_TYPES];  // as in BuiltinFrame
  std::memcpy(types, known.types, sizeof types);
  Node known_fctx = known.fctx;
  Cell* known_fctx_cell = known.fctx_cell;
  // PLANNED: arguments the plan computes in place run no code, and nothing reads the callee
  // once the body runs (the record keeps the context, the positions the body's blocks): its
  // copy is kept only once an argument may run code.
  LateKeep late;
  const Cell* callee = PLANNED ? slot : late.hold(slot);
  stack::Frame* f = stack::detail::push_record(
      word, (stack::kind::FUNCTION << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  Node fctx = callee->w1;
  f->function_context = fctx;
  Cell* fx = fctx == known_fctx ? known_fctx_cell  // its context! cell
             : fctx ? memory::head_cells(buf(fctx)) : nullptr;
  f->saved_values = fx ? fx->w2 : 0;
  uint64_t fx_epoch = moves;
  bool ran = false;  // PLANNED: code may have run since the plan was last found good
  if constexpr (PLANNED) {
    // The arguments the plan computes in place, then (from the first that may run code) the
    // rest, out of line: the common calls keep their registers.
    int32_t k = 0;
    for (; k < plain; ++k) {
      if (pos >= end) [[unlikely]] raise_kept_no_arg(callee, k, f);
      const plan::Expr& a = p->X[e->args + uint32_t(k)];
      if (pos != a.pos || !a.simple || !plan::run_simple_quick(p, a, true)) break;
      pos = a.next;
      if (!takes_type_q(types[k], cell::type(S.top - 1))) [[unlikely]]
        raise_kept_bad_type(callee, k, f);
    }
    if (k < plain) [[unlikely]] {
      callee = late.hold(slot);  // nothing ran yet: slot still holds it
      pos = plan::run_args_rest(p, e, callee, types, k, plain, code, pos, end, f);
      ran = true;
    }
  } else {
    for (int32_t k = 0; k < plain; ++k)
      pos = fetch_plain(callee, k, types[k], code, cb, cb_moves, pos, end, f);
  }
  if (PLANNED) {
    // The entry as it was while nothing ran; else looked up again (the callee is kept then).
    const CalleeCacheEntry& now = ran ? plain_entry(callee) : known;
    locals = now.locals;
    extras_cells = now.extras_cells;
    body_buf = now.body_buf;
  }
  if (locals > 0) function::push_defaults(locals);
  // An interpreted body, as call_value runs it.
  if (!PLANNED && epoch() != moves) {
    const CalleeCacheEntry& now = plain_entry(callee);
    extras_cells = now.extras_cells;
    body_buf = now.body_buf;
  }
  Cell body = extras_cells[function::extras::BODY];
  if (!fx || fx_epoch != epoch()) fx = memory::head_cells(buf(fctx_now(f)));
  fx->w2 = stack::index_of(base()) + 1;
  fx_epoch = epoch();
  if (cell::type(&body) != T_BLOCK) [[unlikely]] {
    cell::set_none(base());
    S.top = base() + 1;
  } else {
    f->header |= stack::fflag::BODY | stack::fflag::INLINE_BODY;
    try {
      // The caller's plan runs its own body again (a recursion) and nothing ran since it was
      // found good: it holds as it is, its blocks as it read them, and the caller's run
      // keeps it.
      if (PLANNED && !ran && body.w1 == 0 && body.w2 == p->body && fctx_now(f) == p->fctx &&
          p->recursion == 1) [[likely]] {
        plan::run_planned_body_inline(p, &body, true);
      } else if (PLANNED && !ran && body.w1 == 0 && body.w2 == p->body &&
                 fctx_now(f) == p->fctx && p->recursion == 2) {
        plan::run_cond_body<true>(p, &body);  // as above, in one level
      } else if (PLANNED && !ran && body.w1 == 0 && body.w2 == p->body &&
                 fctx_now(f) == p->fctx && p->recursion == 3) {
        plan::run_cond_body<false>(p, &body);
      } else {
        uint32_t count = cell_units(body_buf);
        plan::Plan* bp = nullptr;
        bool same = false;
        if (body.w1 == 0 && count >= 2) {
          // A call planned in a body of the same plan (a recursion) needs no look-up, and
          // no count of its runs: the caller's run holds it.
          if (PLANNED && body.w2 == p->body && fctx_now(f) == p->fctx) {
            bp = p;
            same = true;
          } else {
            bp = plan::find(body.w2, fctx_now(f));
          }
        }
        // Nothing ran since the caller's plan was found good: it still is.
        if (bp && bp->B[0].n > 0 && bp->B[0].count == count &&
            ((PLANNED && same && !ran) || plan::ok(bp))) {
          if constexpr (PLANNED) plan::run_planned_body_inline(bp, &body, same);
          else plan::run_planned_body(bp, &body);
        } else {
          if constexpr (PLANNED) eval_body_out(&body, body_buf);
          else eval_body_in(&body, body_buf);
        }
      }
    } catch (const Unwind& u) {
      // return and exit end here: the exit left the value in the frame's result slot.
      if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) rethrow();
      S.top = base() + 1;
    }
    f->header &= ~(stack::fflag::BODY | stack::fflag::INLINE_BODY);
  }
  if (fx_epoch == epoch()) [[likely]] {
    // The context cell is where it was: restored here, so the pop needs no look-up.
    fx->w2 = f->saved_values;
    pop_own_record(push);
  } else if (push) {
    stack::pop_frame();
  } else {
    stack::pop_frame_to_result();
  }
  return pos;
}

[[gnu::noinline]] uint32_t call_plain_function(const Cell* slot, const CalleeCacheEntry& known,
                                               const Node& code, SeriesBuffer* cb, uint32_t pos,
                                               uint32_t end, bool push, const Cell* word) {
  return call_plain_function_as<false>(slot, known, code, cb, pos, end, push, word, nullptr,
                                       nullptr);
}
// As call_conditional_planned.
[[gnu::noinline]] uint32_t call_planned_function(const Cell* slot, const Node& code, uint32_t end,
                                                 bool push, plan::Plan* p, const plan::Expr* e) {
  return call_plain_function_as<true>(slot, callee_slot(slot->w3), code, nullptr, e->pos + 1, end,
                                      push, &e->cell, p, e);
}

// A call through a word of a function, native or action whose arguments are all plain
// evaluated ones (no refinement, no path, not infix): the general call without its
// set-up for the other cases, with the same frames, checks and results. cb is the code's
// buffer, read since the last allocation. The callee's copy is kept in the saved cells, so
// the frame starts where the result goes. Anything else (routines with refinements or
// locals, compiled or traced functions, a callee whose cache is not at hand) takes call_value. Callers test
// fast_paths_on() first.
[[gnu::always_inline]] inline uint32_t call_plain(const Cell* slot, const Node& code,
                                                  SeriesBuffer* cb, uint32_t pos, uint32_t end,
                                                  bool push, const Cell* word) {
  CalleeCacheEntry& known = callee_slot(slot->w3);
  if ((known.extras == slot->w3 &&
       (known.epoch == epoch() || readdress_callee_entry(known, slot))) ||
      remade_callee_entry(slot)) [[likely]] {
    if (known.plain_kind >= CalleeCacheEntry::PLAIN_BUILTIN)
      return call_plain_builtin(slot, known, code, cb, pos, end, push, word);
    if (known.plain_kind == CalleeCacheEntry::PLAIN_FUNCTION &&
        !(slot->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE)))
      return call_plain_function(slot, known, code, cb, pos, end, push, word);
  }
  return call_value(slot, code, pos, end, push, nullptr, 0, word, nullptr, 0, false);
}

// An infix call of an operator wrapping a plain two-argument action or native whose right
// operand needs evaluating (infix_fast declined it): the general infix call without its
// set-up, with the same frame, checks and results. The left operand is the top cell; cb is
// the code's buffer, read since the last allocation.
uint32_t infix_plain(const Cell* op, const Node& code, SeriesBuffer* cb, uint32_t pos,
                     uint32_t end, bool push, const Cell* word) {
  // A builtin's entry: its extras node is the one the operator wraps.
  CalleeCacheEntry& known = callee_slot(op->w3);
  if (!((known.extras == op->w3 &&
         (known.epoch == epoch() || readdress_callee_entry(known, op))) ||
        remade_callee_entry(op)) ||
      known.plain_kind != CalleeCacheEntry::PLAIN_BUILTIN || known.plain != 2) [[unlikely]]
    return call_value(op, code, pos, end, push, nullptr, 0, word, nullptr, 0, true);
  uint32_t ct = (op->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  // The operator's copy, converted to the type it wraps.
  CalleeKeep keep(op);
  Cell* callee = keep.cell;
  callee->header = ct;
  FastOp fop = known.fast_op;
  uint64_t right_types = known.types[1];  // read now: nested calls can take this cache slot
  Cell* left = S.top;
  stack::Frame* f = stack::detail::push_record_unchecked(
      word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  S.top = left + 1;
  if (!takes_type_q(known.types[0], cell::type(left))) [[unlikely]]
    raise_plain_bad_type(callee, 0, f);
  if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, 1, f);
  pos = eval_quick_in(code, cb, pos, end, true, true);
  if (!takes_type_q(right_types, cell::type(S.top - 1))) [[unlikely]]
    raise_plain_bad_type(callee, 1, f);
  if (!int_fast_path(fop, left, left + 1)) {
    int32_t id = int32_t(callee->w1);
    int32_t none[1] = {-1};
    run_builtin(ct, id, none);
  }
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
  return pos;
}

// ---- Body plans: running them ----
namespace plan {

// The expression at pos through the evaluation itself (nothing of it was consumed).
template <bool NO_INFIX, bool PUSH>
[[gnu::noinline]] uint32_t generic_expr_as(const Node& code, uint32_t pos, uint32_t end) {
  SeriesBuffer* cb = code_buf(code);
  return eval_quick_at(code, cb, cell_units(cb), pos, end, NO_INFIX, PUSH);
}
uint32_t generic_expr(const Node& code, uint32_t pos, uint32_t end, bool no_infix, bool push) {
  if (push) {
    return no_infix ? generic_expr_as<true, true>(code, pos, end)
                    : generic_expr_as<false, true>(code, pos, end);
  }
  return no_infix ? generic_expr_as<true, false>(code, pos, end)
                  : generic_expr_as<false, false>(code, pos, end);
}

void run_paren(Plan* p, const Expr& e, bool push);

// An operator's right operand r (a paren or call, R_EXPR), pushed as run_expr pushes it
// (no operator taken after it), one level less for a paren or a plain function's call.
[[gnu::always_inline]] inline uint32_t run_right(Plan* p, const Expr& r, const Node& code,
                                                 uint32_t end) {
  if (r.head == H_PAREN) {
    run_paren(p, r, true);
    return r.head_next;
  }
  if (r.head == H_CALL) {
    const Cell* slot = p->G[r.global].slot;
    if (!slot || !same_cell(slot, &r.expect)) [[unlikely]]
      return generic_expr(code, r.pos, end, true, true);
    CalleeCacheEntry& known = callee_slot(slot->w3);
    if (known.extras != slot->w3 || known.epoch != epoch() ||
        known.plain_kind != CalleeCacheEntry::PLAIN_FUNCTION) [[unlikely]]
      return generic_expr(code, r.pos, end, true, true);
    return call_planned_function(slot, code, end, true, p, &r);
  }
  return run_expr(p, r, code, end, true, true);
}

// infix_plain with the right operand the plan's expression r (o the operator, its slot
// holding the op! the plan expects; the left operand is the top cell).
[[gnu::noinline]] uint32_t infix_plain_planned(Plan* p, const Op& o, const Cell* op,
                                               const Node& code, uint32_t pos, uint32_t end,
                                               bool push) {
  CalleeCacheEntry& known = callee_slot(op->w3);  // valid: run_ops checked it
  uint32_t ct = (op->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  CalleeKeep keep(op);
  Cell* callee = keep.cell;
  callee->header = ct;
  FastOp fop = known.fast_op;
  uint64_t right_types = known.types[1];
  Cell* left = S.top;
  stack::Frame* f = stack::detail::push_record_unchecked(
      &o.word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  S.top = left + 1;
  if (!takes_type_q(known.types[0], cell::type(left))) [[unlikely]]
    raise_plain_bad_type(callee, 0, f);
  if (pos >= end) [[unlikely]] raise_plain_no_arg(callee, 1, f);
  pos = run_right(p, p->X[o.right_expr], code, end);
  if (!takes_type_q(right_types, cell::type(S.top - 1))) [[unlikely]]
    raise_plain_bad_type(callee, 1, f);
  if (!int_fast_path(fop, left, left + 1)) {
    int32_t id = int32_t(callee->w1);
    int32_t none[1] = {-1};
    run_builtin(ct, id, none);
  }
  pop_own_record(push);
  return pos;
}

// A set_op_call assignment e (`s: s + walk x`) as set_word_planned, run_set_value,
// infix_plain_planned and run_right run it, in one level. Every check they make before code
// runs is made first, with nothing consumed: when one fails, set_word_planned takes the
// assignment and makes them again (and raises where they raise). The two records and the
// cells are those the steps push, so reports from inside the call are the same.
// An integer sum that fits, stored over a (both integers): int_fast_path's OP_ADD case in
// two stores; false (a untouched) for anything else.
[[gnu::always_inline]] inline bool add_integers(Cell* a, const Cell* b) {
  int32_t sum;
  if (cell::type(a) != T_INTEGER || cell::type(b) != T_INTEGER ||
      __builtin_add_overflow(cell::get_int(a), cell::get_int(b), &sum))
    return false;
  uint64_t words[2] = {T_INTEGER, uint32_t(sum)};  // header, w1 0; w2, w3 0
  std::memcpy(a, words, sizeof words);
  return true;
}

// LONE: e is all of a loop body block, which ends at end (its right operand is within).
template <bool LONE>
[[gnu::always_inline]] inline uint32_t set_op_call_in(Plan* p, const Expr* e, const Node& code,
                                                      uint32_t end, bool push) {
  const Expr& a = p->X[e->args];
  const Op& o = p->O[a.ops];
  const Expr& r = p->X[o.right_expr];
  Cell* top = S.top;
  const Cell* v = local_slot(p, a.cell.w3);
  const Cell* op = p->G[o.global].slot;
  const Cell* fn = p->G[r.global].slot;
  if (!((LONE || o.pos + 1 < end) && top + 3 < S.args_limit && S.frames_top + 2 <= S.frames_limit &&
        g_saved_depth < SAVED_POSITIONS && v && k_plain_value[cell::type(v)] && op &&
        same_words(op, &o.expect) && fn && same_words(fn, &r.expect))) [[unlikely]]
    return set_word_planned_steps(p, e, code, end, false, push);
  const CalleeCacheEntry& known = callee_slot(op->w3);
  const CalleeCacheEntry& fk = callee_slot(fn->w3);
  if (!(known.extras == op->w3 && known.epoch == epoch() &&
        known.plain_kind == CalleeCacheEntry::PLAIN_BUILTIN && known.plain == 2 &&
        takes_type_q(known.types[0], cell::type(v)) && fk.extras == fn->w3 &&
        fk.epoch == epoch() && fk.plain_kind == CalleeCacheEntry::PLAIN_FUNCTION)) [[unlikely]]
    return set_word_planned_steps(p, e, code, end, false, push);
  // Read now: nested calls can take these cache slots.
  FastOp fop = known.fast_op;
  uint64_t right_types = known.types[1];
  uint32_t start_top = uint32_t(top - S.args_begin);
  // The assignment's record and its set-word, then the operator's record over the left
  // operand (its base), the operator kept in the saved cells while the call runs.
  stack::detail::push_record_unchecked(
      &e->cell, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  Cell* left = top + 1;
  *top = e->cell;
  *left = *v;
  uint32_t pos;
  {
    uint32_t ct = (op->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
    CalleeKeep keep(op);
    Cell* callee = keep.cell;
    callee->header = ct;
    S.top = left;
    stack::Frame* f = stack::detail::push_record_unchecked(
        &o.word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
    S.top = left + 1;
    pos = call_planned_function(fn, code, end, true, p, &r);
    if (!takes_type_q(right_types, cell::type(left + 1))) [[unlikely]]
      raise_plain_bad_type(callee, 1, f);
    if (!(fop == OP_ADD && add_integers(left, left + 1)) && !int_fast_path(fop, left, left + 1)) {
      int32_t id = int32_t(callee->w1);
      int32_t none[1] = {-1};
      run_builtin(ct, id, none);
    }
    pop_own_record(true);
  }
  Cell* b = S.base;
  Cell* slot;
  if (cell::type(b + 1) != T_UNSET && ok(p) && (slot = planned_set_slot(p, e))) {
    *slot = b[1];
    *b = b[1];
    pop_own_record(push);
  } else {
    store_assignment(b, push);
  }
  if (e->follow != F_NONE && pos == e->next && ok(p) && follow_ok_inline(p, *e)) return pos;
  return infix_after(code, pos, end, push, start_top);
}
[[gnu::noinline]] uint32_t set_op_call_planned(Plan* p, const Expr* e, const Node& code,
                                               uint32_t end, bool push) {
  return set_op_call_in<false>(p, e, code, end, push);
}

// The operators after the head of e, which ended at `at` (ran: code may have run since the
// expression began), as eval_quick_at's loop and infix_steps take them.
[[gnu::always_inline]] inline uint32_t run_ops(Plan* p, const Expr& e, const Node& code,
                                               uint32_t at, uint32_t end, bool push,
                                               uint32_t start_top, bool ran) {
  for (uint32_t k = 0; k < e.nops; ++k) {
    const Op& o = p->O[e.ops + k];
    if (at != o.pos) [[unlikely]] return infix_after(code, at, end, push, start_top);
    if (ran) {
      if (fast_exit) return at;
      if (!ok(p)) return infix_steps(code, at, end, push, start_top);
    }
    const Cell* op = p->G[o.global].slot;
    if (!op || !same_cell(op, &o.expect)) return infix_steps(code, at, end, push, start_top);
    Cell* left = S.args_begin + start_top;
    if (o.right != R_EXPR) {
      Cell right;
      const Cell* rv = o.right == R_LITERAL ? &o.right_cell
                       : o.right == R_PICK  ? local_pick(p, o.right_cell.w3, o.pick, &right)
                                            : local_slot(p, o.right_cell.w3);
      if (rv && takes_type_q(o.left_types, cell::type(left)) &&
          takes_type_q(o.right_types, cell::type(rv)) && int_fast_path(o.fop, left, rv)) {
        S.top = left + 1;
        if (!push) *S.base = *left;
        at += 2;
        continue;
      }
      return infix_steps(code, at, end, push, start_top);
    }
    const CalleeCacheEntry& known = callee_slot(op->w3);
    if (!(known.extras == op->w3 && known.epoch == epoch()) ||
        known.plain_kind != CalleeCacheEntry::PLAIN_BUILTIN || known.plain != 2) [[unlikely]]
      return infix_steps(code, at, end, push, start_top);
    S.top = left;
    at = infix_plain_planned(p, o, op, code, at + 1, end, push);
    ran = true;
  }
  if (e.ops_complete) return at;
  if (e.follow != F_NONE && at == e.next && (!ran || ok(p)) && follow_ok_inline(p, e)) return at;
  return infix_after(code, at, end, push, start_top);
}

void run_paren(Plan* p, const Expr& e, bool push);

uint32_t run_expr(Plan* p, const Expr& e, const Node& code, uint32_t end, bool no_infix,
                  bool push) {
  Cell* left = S.top;
  if (!(push || left == S.base)) [[unlikely]] return generic_expr(code, e.pos, end, no_infix, push);
  uint32_t start_top = uint32_t(left - S.args_begin);
  const Cell* v;
  uint32_t at;
  Cell picked;
  switch (e.head) {
    case H_LITERAL: v = &e.cell; break;
    case H_PICK:
      v = local_pick(p, e.cell.w3, e.pick, &picked);
      if (!v || !k_plain_value[cell::type(v)]) return generic_expr(code, e.pos, end, no_infix, push);
      break;
    case H_LOCAL:
      v = local_slot(p, e.cell.w3);
      if (!v || !k_plain_value[cell::type(v)]) return generic_expr(code, e.pos, end, no_infix, push);
      break;
    case H_GLOBAL:
      v = p->G[e.global].slot;
      if (!v || !k_plain_value[cell::type(v)]) return generic_expr(code, e.pos, end, no_infix, push);
      break;
    case H_PAREN:
      run_paren(p, e, push);
      at = e.head_next;
      goto after_head;
    case H_SET: return set_word_planned(p, &e, code, end, no_infix, push);
    case H_CALL:
    case H_COND:
    case H_BUILTIN:
    case H_QUOTED: {
      const Cell* slot = p->G[e.global].slot;
      if (!slot || !same_cell(slot, &e.expect)) return generic_expr(code, e.pos, end, no_infix, push);
      CalleeCacheEntry& known = callee_slot(slot->w3);
      if (known.extras != slot->w3 || known.epoch != epoch())
        return generic_expr(code, e.pos, end, no_infix, push);
      if (e.head == H_CALL) {
        if (known.plain_kind != CalleeCacheEntry::PLAIN_FUNCTION)
          return generic_expr(code, e.pos, end, no_infix, push);
        at = call_planned_function(slot, code, end, push, p, &e);
      } else if (e.head == H_BUILTIN) {
        if (known.plain_kind != e.conditional)  // the kind it was planned with
          return generic_expr(code, e.pos, end, no_infix, push);
        at = e.tested_type
                 ? call_type_test(slot, known, code, e.pos + 1, end, push, &e.cell, p, &e)
                 : call_planned_builtin(slot, known, code, e.pos + 1, end, push, &e.cell, p, &e);
      } else if (e.head == H_QUOTED) {
        if (known.plain_kind != CalleeCacheEntry::PLAIN_BUILTIN_QUOTED)
          return generic_expr(code, e.pos, end, no_infix, push);
        at = call_quoted_planned(slot, known, code, e.pos + 1, end, push, &e.cell, p, &e);
      } else {
        if (known.conditional != e.conditional) {
          if (known.conditional != (e.conditional & ~TESTED_COND))
            return generic_expr(code, e.pos, end, no_infix, push);
          at = call_conditional_tested(slot, code, end, push, p, &e);
        } else {
          at = call_conditional_planned(slot, code, end, push, p, &e);
        }
      }
      goto after_head;
    }
    default: return generic_expr(code, e.pos, end, no_infix, push);
  }
  // A value: as eval_quick_at pushes it.
  if (left + 1 >= S.args_limit) [[unlikely]] return generic_expr(code, e.pos, end, no_infix, push);
  *left = *v;
  S.top = left + 1;
  if (no_infix) return e.head_next;
  return run_ops(p, e, code, e.head_next, end, push, start_top, false);
after_head:
  if (no_infix) return at;
  return run_ops(p, e, code, at, end, push, start_top, true);
}

// A lone call expression of a block (lone_call), as run_expr runs it, one level less.
[[gnu::always_inline]] inline uint32_t run_lone_call(Plan* p, const Expr& e, const Node& code,
                                                     uint32_t end, bool push) {
  const Cell* slot = p->G[e.global].slot;
  if (!(push || S.top == S.base) || !slot || !same_cell(slot, &e.expect)) [[unlikely]]
    return generic_expr(code, e.pos, end, false, push);
  CalleeCacheEntry& known = callee_slot(slot->w3);
  if (known.extras != slot->w3 || known.epoch != epoch()) [[unlikely]]
    return generic_expr(code, e.pos, end, false, push);
  if (e.head == H_CALL) {
    if (known.plain_kind != CalleeCacheEntry::PLAIN_FUNCTION) [[unlikely]]
      return generic_expr(code, e.pos, end, false, push);
    return call_planned_function(slot, code, end, push, p, &e);
  }
  if (e.head == H_BUILTIN) {
    if (known.plain_kind != e.conditional) [[unlikely]]  // the kind it was planned with
      return generic_expr(code, e.pos, end, false, push);
    if (e.tested_type) return call_type_test(slot, known, code, e.pos + 1, end, push, &e.cell, p, &e);
    return call_planned_builtin(slot, known, code, e.pos + 1, end, push, &e.cell, p, &e);
  }
  // A tested condition's kind has TESTED_COND too: its own call, off the plain one's path.
  if (known.conditional != e.conditional) [[unlikely]] {
    if (known.conditional != (e.conditional & ~TESTED_COND))
      return generic_expr(code, e.pos, end, false, push);
    return call_conditional_tested(slot, code, end, push, p, &e);
  }
  return call_conditional_planned(slot, code, end, push, p, &e);
}

// Counts a plan's runs, so a plan replaced meanwhile is freed when its last run ends.
[[gnu::cold, gnu::noinline]] void free_plan(Plan* p) { delete p; }
// Not counted (null) where a run of the same plan around it holds it.
struct Running {
  Plan* p;
  explicit Running(Plan* plan) : p(plan) {
    if (p) ++p->runs;
  }
  ~Running() {
    if (p && --p->runs == 0 && p->retired) [[unlikely]] free_plan(p);
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
};
void retire(Plan* p) {
  if (p->runs == 0) delete p;
  else p->retired = true;
}

// The expressions of block b of p run in the current frame from its first one, as
// eval_in_frame (body: eval_body_in) runs them; code is the block's cell.
template <bool BODY>
[[gnu::always_inline]] inline void run_block(Plan* p, const Block& b, const Cell* code, bool push) {
  Cell* start = S.top;
  if constexpr (!BODY) stack::check_machine_stack();
  PositionKeep keep;
  cell::store(&current_position, cell::type(code), 0, code->w2, 0);
  uint32_t end = b.count;
  uint32_t pos = 0;
  uint32_t i = 0;
  for (;;) {
    const Expr& e = p->X[p->T[b.first + i]];
    // A body is most often one call (a lone conditional): asked first there.
    if (BODY && e.lone_call) pos = run_lone_call(p, e, current_position.w2, end, push);
    else if (e.simple && run_simple_quick(p, e, push)) pos = e.next;
    else if (!BODY && e.lone_call) pos = run_lone_call(p, e, current_position.w2, end, push);
    else if (e.pair) pos = run_pair(p, e, current_position.w2, end, push);
    else if (e.head == H_SET && (push || S.top == S.base))
      pos = set_word_planned(p, &e, current_position.w2, end, false, push);
    else pos = run_expr(p, e, current_position.w2, end, false, push);
    if (fast_exit) [[unlikely]] {
      if constexpr (BODY) fast_exit = false;
      break;
    }
    if (pos >= end) break;
    ++i;
    if (i >= b.n || pos != p->X[p->T[b.first + i]].pos || !ok(p)) [[unlikely]] {
      // The rest through the evaluation itself, as its loop goes on.
      SeriesBuffer* cb = code_buf(current_position.w2);
      uint32_t count = cell_units(cb);
      if (pos >= count) break;
      S.top = start;
      current_position.w1 = pos;
      for (;;) {
        pos = eval_quick_at(current_position.w2, cb, count, pos, end, false, push);
        if (fast_exit) [[unlikely]] {
          if constexpr (BODY) fast_exit = false;
          break;
        }
        if (pos >= end) break;
        cb = code_buf(current_position.w2);
        count = cell_units(cb);
        if (pos >= count) break;
        S.top = start;
        current_position.w1 = pos;
      }
      break;
    }
    S.top = start;
    current_position.w1 = pos;
  }
}

[[gnu::always_inline]] inline void run_paren_inline(Plan* p, const Expr& e, bool push) {
  const Block& b = p->B[e.block[0]];
  // As eval_paren: the plan is good and the paren starts at its head (both checked).
  if (b.count < 2 || b.n == 0) {
    Cell paren = e.cell;
    eval_paren(&paren, push);
    return;
  }
  run_block<false>(p, b, &e.cell, push);
}
void run_paren(Plan* p, const Expr& e, bool push) { run_paren_inline(p, e, push); }

// A pair e (`(fib n - 1) + (fib n - 2)`) as run_expr, run_ops and infix_plain_planned run
// it, in one level: the left paren, the operator's checks and frame, the right paren.
[[gnu::noinline]] uint32_t run_pair(Plan* p, const Expr& e, const Node& code, uint32_t end,
                                    bool push) {
  Cell* left = S.top;
  if (!(push || left == S.base)) [[unlikely]] return generic_expr(code, e.pos, end, false, push);
  uint32_t start_top = uint32_t(left - S.args_begin);
  run_paren_inline(p, e, push);
  uint32_t at = e.head_next;  // the operator's position, as planned
  if (fast_exit) return at;
  if (!ok(p)) return infix_steps(code, at, end, push, start_top);
  const Op& o = p->O[e.ops];
  const Cell* op = p->G[o.global].slot;
  if (!op || !same_cell(op, &o.expect)) return infix_steps(code, at, end, push, start_top);
  CalleeCacheEntry& known = callee_slot(op->w3);
  if (!(known.extras == op->w3 && known.epoch == epoch()) ||
      known.plain_kind != CalleeCacheEntry::PLAIN_BUILTIN || known.plain != 2) [[unlikely]]
    return infix_steps(code, at, end, push, start_top);
  left = S.args_begin + start_top;
  S.top = left;
  // infix_plain_planned's steps, its right operand the paren.
  uint32_t ct = (op->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  CalleeKeep keep(op);
  Cell* callee = keep.cell;
  callee->header = ct;
  FastOp fop = known.fast_op;
  uint64_t right_types = known.types[1];
  stack::Frame* f = stack::detail::push_record_unchecked(
      &o.word, (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  S.top = left + 1;
  if (!takes_type_q(known.types[0], cell::type(left))) [[unlikely]]
    raise_plain_bad_type(callee, 0, f);
  if (at + 1 >= end) [[unlikely]] raise_plain_no_arg(callee, 1, f);
  const Expr& r = p->X[o.right_expr];
  run_paren_inline(p, r, true);
  if (!takes_type_q(right_types, cell::type(S.top - 1))) [[unlikely]]
    raise_plain_bad_type(callee, 1, f);
  if (!int_fast_path(fop, left, left + 1)) {
    int32_t id = int32_t(callee->w1);
    int32_t none[1] = {-1};
    run_builtin(ct, id, none);
  }
  pop_own_record(push);
  return r.head_next;
}

// The expressions of a block from pos (end: its count) through the evaluation itself, as
// run_block (not a body) goes on once the plan no longer covers them; start is its top.
[[gnu::noinline]] void run_block_rest(Cell* start, uint32_t pos, uint32_t end) {
  SeriesBuffer* cb = code_buf(current_position.w2);
  uint32_t count = cell_units(cb);
  if (pos >= count) return;
  S.top = start;
  current_position.w1 = pos;
  for (;;) {
    pos = eval_quick_at(current_position.w2, cb, count, pos, end, false, false);
    if (fast_exit || pos >= end) return;
    cb = code_buf(current_position.w2);
    count = cell_units(cb);
    if (pos >= count) return;
    S.top = start;
    current_position.w1 = pos;
  }
}

[[gnu::always_inline]] inline void run_branch_planned(Plan* p, const Cell* chosen, uint32_t block) {
  const Block& b = p->B[block];
  // As run_branch: nothing ran since the plan was found good.
  if (b.count == 1 && b.n == 1 && fast_paths_on()) {
    // One cell: a literal or a local holding a plain value is the result (lone_value).
    const Expr& e = p->X[p->T[b.first]];
    const Cell* v = e.head == H_LITERAL ? &e.cell
                    : e.head == H_LOCAL ? local_slot(p, e.cell.w3)
                                        : nullptr;
    if (v && (e.head == H_LITERAL || k_plain_value[cell::type(v)])) {
      only_result(v);
      return;
    }
  }
  if (b.count < 2 || b.n == 0 || !fast_paths_on()) {
    run_branch(chosen);
    return;
  }
  Cell c = *chosen;
  S.top = S.base;
  run_block<false>(p, b, &c, false);
}

// A loop body block code of one planned expression e, a set_op_call assignment: as
// run_block<false> runs it (end its count), without the loop over expressions.
[[gnu::noinline]] void run_lone_set(Plan* p, const Expr& e, const Cell* code, uint32_t end) {
  Cell* start = S.base;
  S.top = start;
  stack::check_machine_stack();
  PositionKeep keep;
  cell::store(&current_position, cell::type(code), 0, code->w2, 0);
  uint32_t pos = set_op_call_in<true>(p, &e, current_position.w2, end, false);
  if (fast_exit || pos >= end) [[likely]] return;
  run_block_rest(start, pos, end);
}
// The other planned loop bodies, as run_branch_planned runs them.
[[gnu::noinline]] void run_loop_steps(Plan* p, const Block& b, const Cell* body, uint32_t block) {
  if (b.loop == Block::STEPS) [[likely]] {  // run_branch_planned's last case
    S.top = S.base;
    run_block<false>(p, b, body, false);
    return;
  }
  run_branch_planned(p, body, block);
}

// An interpreted body run in its function's frame by its plan p, as eval_body_in runs it
// (p is good, its body has at least two cells and starts at its head).
// held: a run of p is under way around this one (a recursion), which keeps p.
[[gnu::always_inline]] inline void run_planned_body_inline(Plan* p, const Cell* body, bool held) {
  Running running(held ? nullptr : p);
  run_block<true>(p, p->B[0], body, true);
  *S.base = S.top[-1];
  S.top = S.base + 1;
}
void run_planned_body(Plan* p, const Cell* body) { run_planned_body_inline(p, body, false); }

// run_planned_body_inline of a recursion (held) whose body is one conditional (recursion 2
// when TESTED, else 3): run_block's and run_lone_call's steps for it and the conditional's
// own, in one level.
template <bool TESTED>
[[gnu::noinline]] void run_cond_body(Plan* p, const Cell* body) {
  const Block& b = p->B[0];
  const Expr& e = p->X[p->T[b.first]];
  Cell* start = S.top;
  PositionKeep keep;
  cell::store(&current_position, cell::type(body), 0, body->w2, 0);
  uint32_t end = b.count;
  uint32_t pos;
  const Cell* slot = p->G[e.global].slot;
  const CalleeCacheEntry* known = slot && same_cell(slot, &e.expect) ? &callee_slot(slot->w3)
                                                                     : nullptr;
  if (known && known->extras == slot->w3 && known->epoch == epoch() &&
      known->conditional == (TESTED ? e.conditional & ~TESTED_COND : e.conditional)) [[likely]] {
    pos = call_conditional_as<true, TESTED>(slot, *known, current_position.w2, nullptr,
                                            e.pos + 1, end, true, &e.cell, p, &e);
  } else {
    pos = generic_expr(current_position.w2, e.pos, end, false, true);
  }
  if (fast_exit) [[unlikely]] {
    fast_exit = false;
  } else if (pos < end) [[unlikely]] {
    // The rest through the evaluation itself, as run_block goes on.
    for (;;) {
      SeriesBuffer* cb = code_buf(current_position.w2);
      uint32_t count = cell_units(cb);
      if (pos >= count) break;
      S.top = start;
      current_position.w1 = pos;
      pos = eval_quick_at(current_position.w2, cb, count, pos, end, false, true);
      if (fast_exit) [[unlikely]] {
        fast_exit = false;
        break;
      }
      if (pos >= end) break;
    }
  }
  *S.base = S.top[-1];
  S.top = S.base + 1;
}

}  // namespace plan
}  // namespace

LoopPlan take_loop_plan(const Cell* body) {
  LoopPlan lp = plan::g_loop_plan;
  plan::g_loop_plan.plan = nullptr;
  // The body cell is the native's argument: nothing changes it while the loop runs.
  if (lp.plan && !(body->w2 == lp.node && body->w1 == 0 && cell::type(body) == T_BLOCK))
    lp.plan = nullptr;
  return lp;
}

// The plan's run of the body holds while the plan does: the plan that handed it is running
// (its caller's call is not over) and it is checked before each run.
[[gnu::noinline]] void eval_loop_body_checked(const Cell* body, const LoopPlan& lp) {
  auto* p = static_cast<plan::Plan*>(lp.plan);
  if (p && plan::ok(p)) {
    const plan::Block& b = p->B[lp.block];
    if (b.loop == plan::Block::LONE_SET) return plan::run_lone_set(p, p->X[p->T[b.first]], body, b.count);
    return plan::run_loop_steps(p, b, body, lp.block);
  }
  run_branch(body);
}
// Each step's way in: no call but the one it goes on to, so it keeps no frame of its own.
void eval_loop_body(const Cell* body, const LoopPlan& lp) {
  auto* p = static_cast<plan::Plan*>(lp.plan);
  if (!p) return eval_branch(body);
  if (fast_paths_on() && p->clock == M.stamp_clock && p->epoch == epoch() &&
      p->renames == M.renames) [[likely]] {  // plan::ok without the refresh
    const plan::Block& b = p->B[lp.block];
    if (b.loop == plan::Block::LONE_SET) return plan::run_lone_set(p, p->X[p->T[b.first]], body, b.count);
    return plan::run_loop_steps(p, b, body, lp.block);
  }
  eval_loop_body_checked(body, lp);
}

namespace {

// ---- Body plans: making them ----
namespace plan {

// The plan after something moved, was written or renamed: good again with its addresses
// read anew, or dead (a node renamed, a block it read written).
bool refresh(Plan* p) {
  if (p->dead) return false;
  if (p->renames != M.renames) {
    p->dead = true;
    return false;
  }
  if (p->clock != M.stamp_clock) {
    for (const Block& b : p->blocks) {
      if (memory::stamp(buf(b.node)) != b.stamp) {
        p->dead = true;
        return false;
      }
    }
    p->clock = M.stamp_clock;
  }
  if (p->epoch != epoch()) {
    p->fctx_cell = memory::head_cells(buf(p->fctx));
    Cell* gx = memory::head_cells(buf(context::global));
    Cell* values = !gx->w2 || (gx->header & hdr::CONTEXT_ON_STACK)
                       ? nullptr
                       : memory::head_cells(buf(gx->w2));
    for (Global& g : p->globals) g.slot = values ? values + g.word.w3 : nullptr;
    p->epoch = epoch();
  }
  return true;
}


struct Builder {
  Plan* p;
  bool partial = false;
  // Expressions nest in arguments, operands, parens and branches: past this depth the
  // rest is left to the evaluation (the making recurses on the machine stack).
  static constexpr uint32_t MAX_DEPTH = 64;
  uint32_t depth = 0;
  struct Deeper {
    uint32_t& d;
    explicit Deeper(uint32_t& depth) : d(depth) { ++d; }
    ~Deeper() { --d; }
  };

  bool local_q(const Cell* w) const {
    return cell::type(w) == T_WORD && w->w1 == p->fctx && w->w3 != context::NO_INDEX;
  }
  // A path local/integer (what quick_path_pick picks) whose writes the plan watches.
  bool pick_path(const Cell* v) {
    if (cell::type(v) != T_PATH) return false;
    SeriesBuffer* b = buf(v->w2);
    const Cell* c = memory::head_cells(b) + v->w1;
    if (v->w1 + 2 != cell_units(b) || !local_q(c) || cell::type(c + 1) != T_INTEGER) return false;
    p->blocks.push_back(Block{v->w2, memory::stamp(b), cell_units(b), 0, 0});
    return true;
  }
  // A word of the global context with its value cell now; null otherwise.
  const Cell* global_value(const Cell* w) const {
    if (cell::type(w) != T_WORD || w->w1 != context::global || w->w3 == context::NO_INDEX)
      return nullptr;
    return quick_slot(w);
  }
  uint32_t global_index(const Cell* w) {
    for (uint32_t i = 0; i < p->globals.size(); ++i)
      if (p->globals[i].word.w1 == w->w1 && p->globals[i].word.w3 == w->w3) return i;
    p->globals.push_back(Global{*w, nullptr});
    return uint32_t(p->globals.size() - 1);
  }
  // The valid entry of a callee, when one is at hand (nothing is made here).
  const CalleeCacheEntry* entry_of(const Cell* callee) {
    const CalleeCacheEntry& known = callee_slot(callee->w3);
    if (known.extras == callee->w3 && known.epoch == epoch()) return &known;
    partial = true;
    return nullptr;
  }

  // Block node's plan (its expressions from the head while their extents are known).
  uint32_t block(Node node) {
    SeriesBuffer* b = buf(node);
    uint32_t index = uint32_t(p->blocks.size());
    p->blocks.push_back(Block{node, memory::stamp(b), cell_units(b), 0, 0});
    std::vector<uint32_t> tops;
    uint32_t count = cell_units(b);
    uint32_t pos = 0;
    while (pos < count) {
      int32_t e = expr(node, pos, count, false);
      if (e < 0) break;
      tops.push_back(uint32_t(e));
      if (!p->exprs[uint32_t(e)].exact) break;
      pos = p->exprs[uint32_t(e)].next;
    }
    // Expressions run as they stand gain nothing at the end of what is planned.
    while (!tops.empty() && p->exprs[tops.back()].head == H_OTHER) tops.pop_back();
    p->blocks[index].first = uint32_t(p->tops.size());
    p->blocks[index].n = uint32_t(tops.size());
    Block& made = p->blocks[index];
    made.loop = made.count < 2 || made.n == 0 ? Block::OTHER
                : made.n == 1 && p->exprs[tops[0]].set_op_call && p->exprs[tops[0]].next == count
                    ? Block::LONE_SET
                    : Block::STEPS;
    p->tops.insert(p->tops.end(), tops.begin(), tops.end());
    return index;
  }

  // The expression at pos of block node (count cells), -1 when it is not planned.
  int32_t expr(Node node, uint32_t pos, uint32_t count, bool no_infix) {
    if (depth >= MAX_DEPTH) return -1;
    Deeper deeper(depth);
    const Cell* cells = memory::head_cells(buf(node));
    Cell v = cells[pos];
    uint32_t t = cell::type(&v);
    Expr e{};
    e.pos = pos;
    e.cell = v;
    e.head_next = pos + 1;
    e.ops_complete = true;
    e.exact = true;
    if (k_inert[t]) {
      e.head = H_LITERAL;
    } else if (t == T_PAREN) {
      if (v.w1 != 0) return -1;
      e.head = H_PAREN;
      e.block[0] = block(v.w2);
    } else if (pick_path(&v)) {
      e.head = H_PICK;
      e.cell = memory::head_cells(buf(v.w2))[v.w1];
      e.pick = cell::get_int(&memory::head_cells(buf(v.w2))[v.w1 + 1]);
    } else if (local_q(&v)) {
      e.head = H_LOCAL;
    } else if (const Cell* slot = global_value(&v)) {
      uint32_t vt = cell::type(slot);
      if (vt == T_OP || vt == T_UNSET) return -1;
      e.global = global_index(&v);
      if (!function_type_q(vt)) {
        e.head = H_GLOBAL;
      } else {
        const CalleeCacheEntry* known = entry_of(slot);
        if (!known) return -1;
        e.expect = *slot;
        uint32_t at = pos + 1;
        if (known->plain_kind == CalleeCacheEntry::PLAIN_FUNCTION && known->plain >= 0 &&
            !(slot->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE))) {
          e.head = H_CALL;
          if (!args(node, at, count, uint32_t(known->plain), e)) return -1;
        } else if (known->plain_kind == CalleeCacheEntry::PLAIN_BUILTIN &&
                   (known->conditional == CalleeCacheEntry::EITHER ||
                    known->conditional == CalleeCacheEntry::IF ||
                    known->conditional == CalleeCacheEntry::UNLESS)) {
          e.head = H_COND;
          e.conditional = known->conditional;
          uint32_t plain = uint32_t(known->plain);
          uint64_t types[CalleeCacheEntry::PLAIN_TYPES];
          std::memcpy(types, known->types, sizeof types);
          uint32_t cond_at = at;
          if (!args(node, at, count, 1, e)) return -1;
          cells = memory::head_cells(buf(node));
          uint32_t after = at + plain - 1;
          const Cell* b = cells + at;
          if (!(after <= count && cell::type(b) == T_BLOCK && b->w1 == 0 &&
                takes_type_q(types[1], T_BLOCK) &&
                (plain == 2 || (cell::type(b + 1) == T_BLOCK && b[1].w1 == 0 &&
                                takes_type_q(types[2], T_BLOCK)))))
            return -1;
          e.branch_args = after < count && cell::type(b + plain - 1) == T_WORD;
          if (e.branch_args) {
            // The condition and the branches side by side, each an argument.
            at = cond_at;
            if (!args(node, at, count, plain, e) || at != after) return -1;
            cells = memory::head_cells(buf(node));
            b = cells + after - (plain - 1);
          }
          e.branches[0] = b[0];
          e.branches[1] = plain == 3 ? b[1] : b[0];
          e.block[0] = block(e.branches[0].w2);
          e.block[1] = plain == 3 ? block(e.branches[1].w2) : e.block[0];
          at = after;
          if (p->exprs[e.args].test_local && p->exprs[e.args].lone_call) e.conditional |= TESTED_COND;
        } else if ((known->plain_kind == CalleeCacheEntry::PLAIN_BUILTIN &&
                    known->conditional == CalleeCacheEntry::NOT_CONDITIONAL) ||
                   known->plain_kind == CalleeCacheEntry::PLAIN_ROUTINE) {
          e.head = H_BUILTIN;
          e.conditional = known->plain_kind;  // checked again at run time
          routine::Fn fn = known->plain_kind == CalleeCacheEntry::PLAIN_ROUTINE &&
                                   known->plain == 1 && known->routine_result == T_LOGIC
                               ? known->routine_fn
                               : nullptr;
          if (!args(node, at, count, uint32_t(known->plain), e)) return -1;
          if (fn && p->exprs[e.args].simple) {
            e.tested_type = predicates::datatype_tested(fn);
            if (e.tested_type) e.test_fn = fn;
            const Expr& x = p->exprs[e.args];
            if (e.tested_type && x.head == H_LOCAL && x.nops == 0 && x.follow == F_NONE)
              e.test_local = x.cell.w3 + 1;
          }
        } else if (known->plain_kind == CalleeCacheEntry::PLAIN_BUILTIN_REFS) {
          // append, copy, reduce... through a word: the arguments before the first
          // refinement, every refinement absent (as call_plain calls it).
          e.head = H_BUILTIN;
          e.conditional = known->plain_kind;  // checked again at run time
          if (!args(node, at, count, uint32_t(known->lead), e)) return -1;
        } else if (known->plain_kind == CalleeCacheEntry::PLAIN_BUILTIN_QUOTED) {
          e.head = H_QUOTED;
          bool each = cell::type(slot) == T_NATIVE &&
                      natives::table[slot->w1 - 1] == &natives::foreach && known->lead == 3;
          if (!args(node, at, count, uint32_t(known->lead), e, known->lit_mask)) return -1;
          Cell body = each ? p->exprs[e.args + 2].cell : Cell{};
          if (each && p->exprs[e.args + 2].head == H_LITERAL && cell::type(&body) == T_BLOCK &&
              body.w1 == 0) {
            e.block[0] = block(body.w2);
            e.loop_body = true;
            const Expr& w = p->exprs[e.args];
            const Expr& from = p->exprs[e.args + 1];
            const Expr& code = p->exprs[e.args + 2];
            e.each_word = cell::type(&w.cell) == T_WORD &&
                          (from.head == H_LOCAL || from.head == H_GLOBAL) && from.simple &&
                          from.nops == 0 && from.follow == F_NONE && code.simple &&
                          code.nops == 0;
          }
        } else {
          return -1;
        }
        e.head_next = at;
      }
    } else if (t == T_SET_WORD && (v.w1 == p->fctx || v.w1 == context::global) &&
               v.w3 != context::NO_INDEX) {
      if (pos + 1 >= count) return -1;
      uint32_t at = pos + 1;
      if (!args(node, at, count, 1, e)) return -1;
      e.head = H_SET;
      if (v.w1 == context::global) e.global = global_index(&v);
      const Expr& a = p->exprs[e.args];
      e.set_op_call = a.head == H_LOCAL && a.pos == pos + 1 && a.nops == 1 && a.ops_complete &&
                      p->ops[a.ops].right == R_EXPR && a.head_next == p->ops[a.ops].pos &&
                      p->exprs[p->ops[a.ops].right_expr].head == H_CALL;
      e.head_next = e.next = at;
      follows(node, at, count, e);
      p->exprs.push_back(e);
      return int32_t(p->exprs.size() - 1);
    } else {
      return -1;
    }
    uint32_t at = e.head_next;
    if (!no_infix) operators(node, at, count, e);
    e.next = at;
    e.simple = (e.head == H_LITERAL || e.head == H_LOCAL || e.head == H_GLOBAL ||
                e.head == H_PICK) &&
               e.nops <= 1 && e.exact && (e.nops == 0 || p->ops[e.ops].right != R_EXPR);
    e.lone_call = (e.head == H_CALL || e.head == H_COND || e.head == H_BUILTIN) && e.nops == 0 &&
                  e.ops_complete;
    e.pair = e.head == H_PAREN && e.nops == 1 && e.ops_complete && e.exact &&
             p->ops[e.ops].right == R_EXPR && p->exprs[p->ops[e.ops].right_expr].head == H_PAREN;
    // A word follows (operators() saw no operator in it): checked at each run.
    if (!e.ops_complete && e.exact) follows(node, at, count, e);
    if (e.simple && !e.ops_complete && e.follow == F_NONE) e.simple = false;
    p->exprs.push_back(e);
    return int32_t(p->exprs.size() - 1);
  }

  // The word at `at` after e (a local's or global's), to be asked at run time whether it
  // holds an operator now instead of looking it up.
  void follows(Node node, uint32_t at, uint32_t count, Expr& e) {
    e.follow = F_NONE;
    if (at >= count) return;
    const Cell* w = memory::head_cells(buf(node)) + at;
    if (local_q(w)) {
      e.follow = F_LOCAL;
      e.follow_at = w->w3;
    } else if (cell::type(w) == T_WORD && w->w1 == context::global &&
               w->w3 != context::NO_INDEX) {
      e.follow = F_GLOBAL;
      e.follow_at = global_index(w);
    }
  }

  // n argument expressions from at (moved past them), their indexes in e.args; those of
  // lit taken as written (one cell, never run by the plan).
  bool args(Node node, uint32_t& at, uint32_t count, uint32_t n, Expr& e, uint32_t lit = 0) {
    std::vector<uint32_t> made;
    for (uint32_t k = 0; k < n; ++k) {
      if (at >= count) return false;
      if ((lit >> k) & 1) {
        Expr q{};
        q.head = H_OTHER;
        q.cell = memory::head_cells(buf(node))[at];  // the cell as written
        q.pos = at;
        q.head_next = q.next = at + 1;
        q.exact = true;
        p->exprs.push_back(q);
        made.push_back(uint32_t(p->exprs.size() - 1));
        ++at;
        continue;
      }
      int32_t a = expr(node, at, count, false);
      if (a < 0 || !p->exprs[uint32_t(a)].exact) return false;
      made.push_back(uint32_t(a));
      at = p->exprs[uint32_t(a)].next;
    }
    // The arguments side by side, after whatever their own planning added.
    e.args = uint32_t(p->exprs.size());
    e.nargs = n;
    for (uint32_t a : made) {
      Expr copy = p->exprs[a];
      p->exprs.push_back(copy);
    }
    return true;
  }

  // The operators after a head that ended at `at` (moved past those planned).
  void operators(Node node, uint32_t& at, uint32_t count, Expr& e) {
    std::vector<Op> made;
    for (;;) {
      if (at >= count) break;
      const Cell* cells = memory::head_cells(buf(node));
      Cell w = cells[at];
      if (cell::type(&w) != T_WORD) break;
      // A word that is no operator now may hold one at run time: asked then.
      e.ops_complete = false;
      const Cell* op = global_value(&w);
      if (!op || cell::type(op) != T_OP) break;
      const CalleeCacheEntry* known = entry_of(op);
      if (!known || known->plain_kind != CalleeCacheEntry::PLAIN_BUILTIN || known->plain != 2 ||
          at + 1 >= count) {
        e.exact = false;
        break;
      }
      e.ops_complete = true;
      Op o{};
      o.pos = at;
      o.word = w;
      o.expect = *op;
      o.global = global_index(&w);
      o.fop = known->fast_op;
      o.left_types = known->types[0];
      o.right_types = known->types[1];
      Cell r = cells[at + 1];
      o.right_cell = r;
      uint32_t next = at + 2;
      if (k_inert[cell::type(&r)]) {
        o.right = R_LITERAL;
      } else if (local_q(&r)) {
        o.right = R_LOCAL;
      } else if (pick_path(&r)) {
        o.right = R_PICK;
        o.right_cell = memory::head_cells(buf(r.w2))[r.w1];
        o.pick = cell::get_int(&memory::head_cells(buf(r.w2))[r.w1 + 1]);
      } else {
        int32_t x = expr(node, at + 1, count, true);
        if (x < 0 || !p->exprs[uint32_t(x)].exact ||
            !(p->exprs[uint32_t(x)].head == H_PAREN || p->exprs[uint32_t(x)].head == H_CALL ||
              p->exprs[uint32_t(x)].head == H_COND)) {
          e.ops_complete = false;
          e.exact = false;
          break;
        }
        o.right = R_EXPR;
        o.right_expr = uint32_t(x);
        next = p->exprs[uint32_t(x)].next;
      }
      made.push_back(o);
      at = next;
    }
    e.ops = uint32_t(p->ops.size());
    e.nops = uint32_t(made.size());
    p->ops.insert(p->ops.end(), made.begin(), made.end());
  }
};

Plan* build(Node body, Node fctx, bool& partial) {
  Plan* p = new Plan;
  p->body = body;
  p->fctx = fctx;
  p->renames = M.renames;
  p->clock = M.stamp_clock;
  p->epoch = ~uint64_t(0);
  Builder b{p};
  b.block(body);
  p->X = p->exprs.data();
  p->O = p->ops.data();
  p->T = p->tops.data();
  p->B = p->blocks.data();
  p->G = p->globals.data();
  p->recursion = p->B[0].n > 0;
  if (p->B[0].n == 1) {
    const Expr& e = p->X[p->T[p->B[0].first]];
    if (e.pos == 0 && e.lone_call && e.head == H_COND)
      p->recursion = e.conditional & TESTED_COND ? 2 : 3;
  }
  partial = b.partial;
  p->partial = partial;
  if (!refresh(p)) {
    delete p;
    return nullptr;
  }
  return p;
}

Plan* find_slow(Slot& s, Node body, Node fctx) {
  if (!fctx) return nullptr;
  if (s.body != body || s.renames != M.renames) {
    if (s.plan) retire(s.plan);
    s = Slot{body, M.renames, nullptr, 0, 0};
  }
  if (s.plan && (s.plan->dead || s.plan->fctx != fctx)) {
    retire(s.plan);  // made again at the next run
    s.plan = nullptr;
    s.seen = 1;
  }
  // Made at the second run, and again (a few times) while callee entries were missing:
  // a body written at every run is left to the evaluation.
  ++s.seen;
  if (s.builds >= 6 || (s.seen != 2 && s.seen != 16 && s.seen != 256 && s.seen != 4096))
    return s.plan;
  if (s.plan) retire(s.plan);
  s.plan = nullptr;
  ++s.builds;
  bool partial = false;
  s.plan = build(body, fctx, partial);
  return s.plan;
}

}  // namespace plan

// The open event; the naming word comes back in a rooted cell, as the tracer may move nodes.
// An infix call's left operand is the top cell: the tracer works above it.
[[gnu::cold, gnu::noinline]] const Cell* open_event(const Node& code, uint32_t pos, const Cell* nm,
                                                    bool infix) {
  Cell* kept = trace::open_name();
  *kept = *nm;
  if (infix) ++S.top;
  fire(trace_ev::OPEN, code, pos, nullptr, kept);
  if (infix) --S.top;
  return kept;
}

// Prolog and epilog of an interpreted body: its code and naming word read afresh (the
// record and the callee's stack cell are kept current by the collector).
[[gnu::cold, gnu::noinline]] void body_event(uint32_t ev, const stack::Frame* f, const Cell* callee) {
  Cell n{T_WORD, f->word_context, f->symbol, context::NO_INDEX};
  Node body = memory::head_cells(buf(callee->w3))[function::extras::BODY].w2;
  fire(ev, body, trace::NO_POSITION, &n, callee);
}
}  // namespace

uint32_t call_value(const Cell* callee_in, const Node& code, uint32_t pos, uint32_t end, bool push,
                    const Cell* path, uint32_t path_index, const Cell* name,
                    const Cell* owner, uint32_t apply_flags, bool infix) {
  // The naming word is used only to open the frame, before anything allocates.
  const Cell* nm = (name && cell::type(name) == T_WORD) ? name : &words.anon;
  Cell* callee;
  // An infix call keeps the operator's own copy in the rooted array of saved cells (the
  // left operand sits where a kept copy would go).
  struct InfixCopy {
    uint32_t depth = ~0u;
    ~InfixCopy() {
      if (depth != ~0u) g_saved_depth = depth;
    }
  } infix_copy;
  if (infix) {
    infix_copy.depth = g_saved_depth;
    if (g_saved_depth >= SAVED_POSITIONS) [[unlikely]] stack::raise_overflow();
    g_saved_positions[g_saved_depth] = *callee_in;
    callee = &g_saved_positions[g_saved_depth++];
    // Converted in place: a copy changed and then re-read whole would stall the load.
    callee->header = (callee->header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
  } else {
    callee = push_cell(callee_in);  // kept alive during the call
  }
  if (switches.trace_enabled) [[unlikely]] nm = open_event(code, pos, nm, infix);
  CallState s{callee, &code, pos, end, nullptr, infix, apply_flags > 0,
              (apply_flags & 4) != 0, (apply_flags & 2) != 0};
  switch (cell::type(callee)) {
    case T_NATIVE: case T_ACTION:
      stack::push_interp_native_frame(nm);
      s.frame = stack::top_frame();
      fetch_arguments(s, path, path_index);
      break;
    case T_ROUTINE:
      stack::push_interp_native_frame(nm);
      s.frame = stack::top_frame();
      fetch_arguments(s, path, path_index);
      call_routine(callee);
      break;
    case T_FUNCTION: {
      // The function frame, pushed interpreted in one step.
      stack::Frame* f = stack::detail::push_record(
          nm, (stack::kind::FUNCTION << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
      Node fctx = callee->w1;
      f->function_context = fctx;
      Cell* fx = fctx ? memory::head_cells(buf(fctx)) : nullptr;  // its context! cell
      uint64_t fx_epoch = epoch();
      f->saved_values = fx ? fx->w2 : 0;
      s.frame = f;
      fetch_arguments(s, path, path_index);
      // The context compiled code runs in, chosen after the fetch (nodes may have moved):
      // the owner object's, else the one extras cell 4 names, else the naming word's.
      Cell* ex = memory::head_cells(buf(callee->w3));
      if (cell::type(ex + 2) == T_INTEGER && cell::get_int(ex + 2) != 0) {
        Node run_ctx = context::global;
        if (owner && cell::type(owner) == T_OBJECT && owner->w1 != context::global) run_ctx = owner->w1;
        else if (cell::type(ex + 4) == T_INTEGER) run_ctx = Node(cell::get_int(ex + 4));
        else if (s.frame->word_context) run_ctx = s.frame->word_context;
        call_function_body(callee, run_ctx, nullptr, 0);
      } else {
        // An interpreted body, as run_body runs it; the context's values pointer is put
        // back by the frame record (saved at its push) when it is popped or unwound.
        Cell body = ex[0];  // read before anything allocates
        if (!fx || fx_epoch != epoch()) fx = memory::head_cells(buf(fctx_now(f)));
        fx->w2 = stack::index_of(base()) + 1;
        fx_epoch = epoch();
        f->header |= stack::fflag::BODY;
        std::optional<trace::BodySwitch> trace_switch;
        if (callee->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE)) [[unlikely]]
          trace_switch.emplace(callee->header);
        if (switches.trace_enabled) [[unlikely]] {
          body_event(trace_ev::PROLOG, f, callee);
          body = memory::head_cells(buf(callee->w3))[function::extras::BODY];
        }
        if (cell::type(&body) != T_BLOCK) [[unlikely]] {
          cell::set_none(base());
          S.top = base() + 1;
        } else {
          try {
            if (fast_paths_on()) {
              f->header |= stack::fflag::INLINE_BODY;
              eval_body_inline(&body);
            } else {
              eval_block(&body, true);
            }
          } catch (const Unwind& u) {
            // return and exit end here: the exit left the value in the frame's result slot.
            if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) {
              if (switches.trace_enabled) [[unlikely]] body_event(trace_ev::EPILOG, f, callee);
              rethrow();
            }
            S.top = base() + 1;
          }
        }
        if (switches.trace_enabled) [[unlikely]] body_event(trace_ev::EPILOG, f, callee);
        f->header &= ~(stack::fflag::BODY | stack::fflag::INLINE_BODY);
        if (fx_epoch == epoch()) {
          // The context cell is where it was: restored here, so the pop needs no look-up.
          fx->w2 = f->saved_values;
          f->function_context = 0;
        }
      }
      break;
    }
    default: rt::fatal_error(101, 0);
  }
  Cell traced_callee;  // a result-mode pop may write over the callee's copy
  if (switches.trace_enabled) [[unlikely]] traced_callee = *callee;
  if (push) stack::pop_frame();
  else stack::pop_frame_to_result();
  if (switches.trace_enabled) [[unlikely]] {
    // The record just popped still names the call.
    Cell n{T_WORD, s.frame->word_context, s.frame->symbol, context::NO_INDEX};
    trace::fire_call(trace_ev::RETURN, code, s.pos, &n, S.top - 1, &traced_callee);
  }
  if (!infix) {
    // The result takes the place of the kept callee copy.
    Cell r = top()[-1];
    S.top -= 1;
    top()[-1] = r;
  }
  return s.pos;
}

// ---- Function bodies ----

namespace {
std::vector<CompiledBody> g_compiled(1, nullptr);

// Points a function context's values at the frame base; the context is read through the
// function cell (a stack cell the collector updates), never kept as a node.
struct ContextValues {
  // Restored through the function frame's record (the collector keeps its context node
  // current). When an unwinding has already dropped that record, the drop restored the
  // context; the function cell itself may then have been overwritten by a landing value.
  uint32_t frame_index;
  uint32_t saved;
  ContextValues(const Cell* f, uint32_t frame_base_index) {
    frame_index = stack::frame_count() - 1;
    Cell* x = memory::head_cells(buf(f->w1));
    saved = x->w2;
    x->w2 = frame_base_index + 1;
  }
  ~ContextValues() {
    if (stack::frame_count() <= frame_index) return;
    Node ctx = S.frames_begin[frame_index].function_context;
    if (ctx) memory::head_cells(buf(ctx))->w2 = saved;
  }
};
}  // namespace

int32_t register_compiled_body(CompiledBody body) {
  g_compiled.push_back(body);
  return int32_t(g_compiled.size() - 1);
}

void call_function_body(const Cell* fn, Node context_node, const Cell* name, uint32_t trace_mask) {
  if (trace_mask && switches.trace_enabled) [[unlikely]] {
    // Callers with a mask show the call as a call and a return.
    Cell f = *fn, n = name ? *name : words.anon;
    gc::Root keep_f(&f), keep_n(&n);
    trace::call_event(&n, &f);
    call_function_body(&f, context_node, &n, 0);
    trace::return_event(&n, &f);
    return;
  }
  Cell* ex = memory::head_cells(buf(fn->w3));
  Cell* code = ex + 2;
  if (cell::type(code) == T_INTEGER && cell::get_int(code) != 0) {
    int32_t index = cell::get_int(code);
    if (index <= 0 || size_t(index) >= g_compiled.size()) rt::fatal_error(101, 0);
    CompiledBody body = g_compiled[size_t(index)];
    ContextValues cv(fn, stack::index_of(base()));
    uint32_t caught = stack::land(unwind_code::ERROR, [&] {
      body(context_node == context::global ? 0 : context_node);
    });
    if (caught) {
      stack::take_pending_code();
      if (caught != unwind_code::RETURN && caught != unwind_code::EXIT) throw_code(caught);
    }
    return;
  }
  Cell body = ex[0];
  // The short path of a function frame already on top (comparators, callbacks): run_body's
  // steps without its trace events and switches, which are off.
  if (fast_paths_on() && cell::type(&body) == T_BLOCK &&
      !(fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE))) {
    stack::Frame* f = stack::top_frame();
    if (f && stack::frame_kind(f) == stack::kind::FUNCTION) {
      ContextValues cv(fn, stack::index_of(base()));
      f->header |= stack::fflag::BODY | stack::fflag::INLINE_BODY;
      try {
        eval_body_inline(&body);  // reads the body cell before anything allocates
      } catch (const Unwind& u) {
        if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) rethrow();
        S.top = base() + 1;
      }
      stack::top_frame()->header &= ~(stack::fflag::BODY | stack::fflag::INLINE_BODY);
      return;
    }
  }
  gc::Root keep(&body);  // nodes may move while the body runs
  run_body(fn, &body, name);
}

Cell call_in_frame(const Cell* fn, const Cell* values, int32_t given, int32_t nargs,
                   int32_t rest, const Cell* name) {
  // The frame as stack::push_function_frame makes it, flagged interpreted.
  stack::Frame* f = stack::detail::push_record(
      name, (stack::kind::FUNCTION << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  Node fctx = fn->w1;
  f->function_context = fctx;
  f->saved_values = fctx ? memory::head_cells(buf(fctx))->w2 : 0;
  Cell* result = S.base;
  for (int32_t i = 0; i < nargs; ++i) {
    if (i < given) push_cell(values + i);
    else cell::set_none(reserve());
  }
  function::push_defaults(rest);
  const Cell* ex = memory::head_cells(buf(fn->w3));
  Cell body = ex[function::extras::BODY];
  if (fast_paths_on() && fctx && cell::type(&body) == T_BLOCK &&
      !(cell::type(ex + 2) == T_INTEGER && cell::get_int(ex + 2) != 0) &&
      !(fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE))) {
    // call_function_body's short path, with the context cell read once: its values point
    // at the frame for the body and are put back after it (by the record when it unwinds).
    Cell* fx = memory::head_cells(buf(fctx));
    uint64_t fx_epoch = epoch();
    fx->w2 = stack::index_of(base()) + 1;
    f->header |= stack::fflag::BODY | stack::fflag::INLINE_BODY;
    try {
      eval_body_inline(&body);
    } catch (const Unwind& u) {
      if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) rethrow();
      S.top = base() + 1;
    }
    f = stack::top_frame();
    f->header &= ~(stack::fflag::BODY | stack::fflag::INLINE_BODY);
    if (fx_epoch != epoch()) fx = memory::head_cells(buf(f->function_context));
    fx->w2 = f->saved_values;
    f->function_context = 0;
  } else {
    call_function_body(fn, fctx, name, 0);
  }
  Cell answer = *result;
  stack::pop_frame();
  return answer;
}

[[gnu::hot]] bool call_in_kept_frame(KeptFrame& k, const Cell* fn, const Cell* values, int32_t nargs,
                        int32_t rest, const Cell* name, Cell* answer) {
  Node fctx = fn->w1;
  if (!fast_paths_on() || !fctx || (fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE)))
    [[unlikely]] {
    close_kept_frame(k);
    return false;
  }
  if (k.epoch != epoch()) [[unlikely]] {
    k.ex = memory::head_cells(buf(fn->w3));
    k.fx = memory::head_cells(buf(fctx));
    k.epoch = epoch();
  }
  Cell body = k.ex[function::extras::BODY];
  if (cell::type(&body) != T_BLOCK ||
      (cell::type(k.ex + 2) == T_INTEGER && cell::get_int(k.ex + 2) != 0)) [[unlikely]] {
    close_kept_frame(k);
    return false;
  }
  stack::Frame* f = k.f;
  if (!f) {
    f = stack::detail::push_record(
        name, (stack::kind::FUNCTION << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
    f->function_context = fctx;
    f->saved_values = k.fx->w2;
    k.f = f;
    k.base = S.base;
  }
  Cell* at = k.base;
  if (nargs == 2 && at + 2 + rest < S.args_limit) [[likely]] {
    // The two values, then the locals' defaults, with one room test for the frame.
    Cell a = values[0], b = values[1];
    at[0] = a;
    at[1] = b;
    S.top = at + 2;
  } else {
    S.top = at;
    for (int32_t i = 0; i < nargs; ++i) {
      if (i < 2) push_cell(values + i);
      else cell::set_none(reserve());
    }
  }
  function::push_defaults(rest);
  // The context's values point at the frame from the first call until the record is popped.
  k.fx->w2 = stack::index_of(k.base) + 1;
  f->header |= stack::fflag::BODY | stack::fflag::INLINE_BODY;
  try {
    // The body by its plan when it has one, as call_plain_function runs it.
    SeriesBuffer* cb = code_buf(body.w2);
    uint32_t count = cell_units(cb);
    // A body its plan leaves to the evaluation from the start is not looked up again.
    plan::Plan* bp = body.w1 == 0 && count >= 2 && body.w2 != k.unplanned
                         ? plan::find(body.w2, fctx)
                         : nullptr;
    if (bp && bp->B[0].n == 0) [[unlikely]] k.unplanned = body.w2;
    if (bp && bp->B[0].n > 0 && bp->B[0].count == count && plan::ok(bp)) {
      // A body of one simple expression (`x/3 < y/3`) is computed in place as the plan's run
      // computes it: nothing there runs code or raises, so no position need be kept.
      const plan::Expr& e = bp->X[bp->T[bp->B[0].first]];
      if (e.simple && e.next == count && plan::run_simple(bp, e, true)) {
        *S.base = S.top[-1];
        S.top = S.base + 1;
      } else {
        plan::run_planned_body(bp, &body);
      }
    } else {
      eval_body_in(&body, cb);
    }
  } catch (const Unwind& u) {
    if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) rethrow();
    S.top = base() + 1;
  }
  f->header &= ~(stack::fflag::BODY | stack::fflag::INLINE_BODY);
  *answer = *k.base;
  return true;
}

void close_kept_frame(KeptFrame& k) {
  if (!k.f) return;
  S.top = k.base;  // pop_frame's steps: the record restores the context's values
  stack::pop_frame();
  S.top = k.base;
  k.f = nullptr;
}

void run_body(const Cell* fn, const Cell* body, const Cell* name) {
  ContextValues cv(fn, stack::index_of(base()));
  stack::set_body_flag(true);
  std::optional<trace::BodySwitch> trace_switch;
  if (fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE)) [[unlikely]]
    trace_switch.emplace(fn->header);
  KEL_TRACE(PROLOG, body->w2, trace::NO_POSITION, name, fn);
  if (cell::type(body) != T_BLOCK) {
    cell::set_none(base());
    S.top = base() + 1;
  } else {
    // In a function frame with fast paths on, the body runs in that frame as a plain
    // call's does (comparators, change handlers and callbacks come this way).
    stack::Frame* f = stack::top_frame();
    bool inline_body = !trace_switch && fast_paths_on() && f &&
                       stack::frame_kind(f) == stack::kind::FUNCTION;
    try {
      if (inline_body) {
        f->header |= stack::fflag::INLINE_BODY;
        eval_body_inline(body);
      } else {
        eval_block(body, true);
      }
    } catch (const Unwind& u) {
      // return and exit end here: the exit left the value in the frame's result slot.
      if (u.code != unwind_code::RETURN && u.code != unwind_code::EXIT) {
        KEL_TRACE(EPILOG, body->w2, trace::NO_POSITION, name, fn);
        rethrow();
      }
      S.top = base() + 1;
    }
    if (inline_body) stack::top_frame()->header &= ~stack::fflag::INLINE_BODY;
  }
  KEL_TRACE(EPILOG, body->w2, trace::NO_POSITION, name, fn);
  stack::set_body_flag(false);
}

namespace {
constexpr size_t RW_ANY_TYPE = runtime::runtime_word_index("any-type!", runtime::WordKind::SYMBOL);

using routine::any_type_word_q;
using routine::each_arg_types;

// The argument checks of a routine call, as check_routine_args makes them, without raising:
// true when every check passes; false when one fails or anything is out of the ordinary
// (a type word without a value at hand, a cell that is no word), and check_routine_args
// then runs them again and reports. Nothing here allocates.
bool routine_args_pass_q(Node spec, const Cell* frame) {
  SeriesBuffer* sb = code_buf(spec);  // a routine's spec and types: read call after call
  int32_t any_type_id = symbol::runtime_id(RW_ANY_TYPE);
  auto check = [&](int32_t k, const Cell*, const Cell* types) {
    SeriesBuffer* tb = code_buf(types->w2);
    uint32_t count = cell_units(tb);
    if (types->w1 >= count) return true;
    const Cell* tc = memory::head_cells(tb);
    uint32_t at = cell::type(frame + k);
    bool ok = false;
    for (uint32_t j = types->w1; j < count && !ok; ++j) {
      const Cell* type_word = tc + j;
      if (cell::type(type_word) != T_WORD) return false;
      if (any_type_word_q(type_word, any_type_id)) break;  // ok
      const Cell* expected = quick_slot(type_word);
      if (!expected) return false;
      ok = cell::type(expected) == T_TYPESET ? typeset::has_q(expected, at)
                                             : cell::type(expected) == T_DATATYPE &&
                                                   expected->w1 == at;
      if (!ok && j + 1 >= count) return false;
    }
    return true;
  };
  return each_arg_types(memory::head_cells(sb), cell_units(sb), check);
}

// Each argument against every type of its type block, from the last to the first; raises
// on the first that fails. Nothing below allocates but the errors, which end the call: the
// spec's cells are read through one address.
[[gnu::cold, gnu::noinline]] void check_routine_args(const Cell* routine_value, const Cell* frame) {
  Node spec = routine_value->w2;
  int32_t any_type_id = symbol::runtime_id(RW_ANY_TYPE);
  auto check = [&](int32_t k, const Cell* word, const Cell* tp) {
    Cell c = *word;
    Cell types = *tp;
    uint32_t count = blk::count(types.w2);
    if (types.w1 >= count) return true;
    const Cell* tc = blk::cells(types.w2);
    uint32_t at = cell::type(frame + k);
    bool ok = false;
    for (uint32_t j = types.w1; j < count && !ok; ++j) {
      Cell type_word = tc[j];
      if (cell::type(&type_word) != T_WORD)
        error::raise(err::script::invalid_type_spec, &type_word);
      if (any_type_word_q(&type_word, any_type_id)) {
        ok = true;
        break;
      }
      const Cell* expected = word::value_slot(&type_word);
      ok = cell::type(expected) == T_TYPESET ? typeset::has_q(expected, at)
                                             : cell::type(expected) == T_DATATYPE &&
                                                   expected->w1 == at;
    }
    if (!ok) {
      // Named as every other argument check names it: the function, the type given, the
      // argument.
      Cell fw = stack::current_function_word();
      Cell given{T_DATATYPE, at, 0, 0};
      c.header = T_WORD;
      error::raise(err::script::expect_arg, &fw, &given, &c);
    }
    return true;
  };
  each_arg_types(blk::cells(spec), blk::count(spec), check);
}
}  // namespace

namespace {
// The routine's C++ function run on the frame's argument cells, its result made of the
// result type's kind.
void run_routine(routine::Fn fn, int32_t return_type) {
  Cell* frame = base();
  // Without a result type the first argument cell is put back afterwards; the copy is
  // rooted, as the routine may allocate and move its node. A routine without arguments
  // has no first cell to keep (the cell past the top holds nothing live).
  if (return_type <= 0) {
    bool keep_first = S.top > frame;
    Cell before = keep_first ? *frame : Cell{T_UNSET, 0, 0, 0};
    gc::Root keep(&before);
    fn();
    if (keep_first) *base() = before;  // no result: the first cell stays as it was
    return;
  }
  fn();
  frame = base();
  switch (return_type) {
    case T_LOGIC:
      if (cell::type(frame) == T_INTEGER) *frame = Cell{T_LOGIC, cell::get_int(frame) ? 1u : 0u, 0, 0};
      break;
    case T_FLOAT:
      if (cell::type(frame) == T_INTEGER) {
        double d = cell::get_int(frame);
        *frame = Cell{T_FLOAT, 0, 0, 0};
        cell::put_double(frame, d);
      }
      break;
    default: break;
  }
}

// Whether the spec and the type blocks a plain routine's entry read still have the write
// stamps it read them at.
[[gnu::always_inline]] inline bool routine_blocks_same_q(const CalleeCacheEntry& e) {
  if (memory::stamp(e.spec_buf) != e.spec_stamp) return false;
  for (uint32_t i = 0; i < e.type_count; ++i)
    if (memory::stamp(e.type_bufs[i]) != e.type_stamps[i]) return false;
  return true;
}

// A routine called by call_plain_builtin: its function, result type and checks from its
// entry while that is the routine's and current (a nested call can take the slot). The
// checks are skipped when every checked argument takes any-type! by blocks not written
// since the entry read them; a block written since is read again (nothing allocates).
void call_plain_routine(const Cell* routine_value) {
  CalleeCacheEntry& e = callee_slot(routine_value->w3);
  if (e.extras != routine_value->w3 || e.epoch != epoch() || !e.routine_fn ||
      e.routine_spec != routine_value->w2) [[unlikely]] {
    call_routine(routine_value);
    return;
  }
  if (!(routine_value->header & routine::FLAG)) {
    if (!routine_blocks_same_q(e)) [[unlikely]] {
      read_routine_fields(e, routine_value, e.extras_cells);
      if (!e.routine_fn) {
        call_routine(routine_value);
        return;
      }
    }
    if (!e.routine_any) {
      Cell* frame = base();
      if (!routine::args_pass_q(routine_value->w2, frame) &&
          !routine_args_pass_q(routine_value->w2, frame))
        check_routine_args(routine_value, frame);
    }
  }
  run_routine(e.routine_fn, e.routine_result);
}

// What a plain routine's entry keeps (see CalleeCacheEntry): read when the entry is made or
// read again after a move. Nothing here allocates.
void read_routine_fields(CalleeCacheEntry& e, const Cell* callee, const Cell* ex) {
  e.routine_fn = nullptr;
  e.routine_any = false;
  e.type_count = 0;
  const routine::Entry* entry =
      cell::type(ex + 2) == T_INTEGER ? routine::registry_entry(cell::get_int(ex + 2)) : nullptr;
  if (!entry || !entry->fn) return;  // call_routine reports it
  e.routine_fn = entry->fn;
  e.routine_result = cell::type(ex + 4) == T_INTEGER ? cell::get_int(ex + 4) : 0;
  e.routine_spec = callee->w2;
  SeriesBuffer* sb = buf(callee->w2);
  e.spec_buf = sb;
  e.spec_stamp = memory::stamp(sb);
  // The walk of routine_args_pass_q: every type block is kept with its stamp.
  int32_t any_type_id = symbol::runtime_id(RW_ANY_TYPE);
  auto keep = [&](int32_t, const Cell*, const Cell* types) {
    SeriesBuffer* tb = buf(types->w2);
    if (e.type_count >= CalleeCacheEntry::PLAIN_TYPES) return false;
    e.type_nodes[e.type_count] = types->w2;
    e.type_bufs[e.type_count] = tb;
    e.type_stamps[e.type_count++] = memory::stamp(tb);
    if (types->w1 >= cell_units(tb)) return true;  // an empty block checks nothing
    const Cell* first = memory::head_cells(tb) + types->w1;
    // A type word first: its value decides at every call.
    return cell::type(first) == T_WORD && any_type_word_q(first, any_type_id);
  };
  if (!each_arg_types(memory::head_cells(sb), cell_units(sb), keep)) return;
  e.routine_any = true;
}
}  // namespace

void call_routine(const Cell* routine_value) {
  // The routine's C++ function from the registry; it works on the frame's argument cells.
  Cell* ex = memory::head_cells(code_buf(routine_value->w3));
  const routine::Entry* entry =
      cell::type(ex + 2) == T_INTEGER ? routine::registry_entry(cell::get_int(ex + 2)) : nullptr;
  if (!entry || !entry->fn) error::raise(err::internal::not_done);
  int32_t return_type = cell::type(ex + 4) == T_INTEGER ? cell::get_int(ex + 4) : 0;
  Cell* frame = base();
  if (!(routine_value->header & routine::FLAG) && !routine::args_pass_q(routine_value->w2, frame) &&
      !routine_args_pass_q(routine_value->w2, frame))
    check_routine_args(routine_value, frame);
  run_routine(entry->fn, return_type);
}

// ---- Path calls with refinements ----

namespace {
// A path call `f/r1/r2 args` whose refinements are words of the callee's spec taking
// evaluated arguments: the refinements resolved once to the callee's refinement slots (a
// builtin's refs array, a function's or routine's frame cells) and the arguments it
// fetches, in the order the general call fetches them (the lead arguments, then each
// refinement's in the path's order). A plan is trusted while the path keeps the write
// stamp it was made at, no node was renamed, and the callee is the same; its argument
// cache never changes once built. Anything else (a refinement not found or given twice, a
// get-word or paren in the path, an argument taken unevaluated, more arguments or cells
// than a plan holds) is marked so the general call takes it and makes the same reports.
struct RefinedPlan {
  static constexpr uint32_t ARGS = 6, REFS = 4;
  Node path = 0;
  uint32_t from = 0;  // the path's first refinement item
  uint32_t stamp = 0;
  uint64_t renames = ~uint64_t(0);
  Node extras = 0;
  uint32_t callee_w1 = 0;
  uint32_t callee_type = 0;
  bool ok = false;
  uint8_t nargs = 0;      // arguments fetched, in order
  uint8_t ref_count = 0;  // builtins: their refinements (the refs array)
  uint8_t used = 0;       // refinements the path names
  uint8_t ref_at[REFS];    // each one's first argument (the count of arguments before it)
  uint8_t ref_slot[REFS];  // builtins: its slot in the refs array
  uint16_t ref_index[REFS];  // functions and routines: its cache cell, where its flag lies
  uint16_t arg_k[ARGS];    // each argument's cell in the argument cache, for error reports
  uint64_t types[ARGS];    // the types each argument takes
  // Functions and routines: the cells the first pass pushes after the lead arguments, one
  // per cache cell from the first refinement on (bit i: a cell is pushed, and it is a
  // logic false rather than none), then `locals` local cells.
  uint32_t tail = 0;
  uint64_t tail_push = 0, tail_logic = 0;
  int32_t locals = 0;
};
constexpr uint32_t REFINED_PLAN_BITS = 7;
RefinedPlan g_refined_plans[1u << REFINED_PLAN_BITS];
constexpr uint32_t NOT_REFINED = ~0u;

inline RefinedPlan& refined_plan_slot(Node path, uint32_t from) {
  return g_refined_plans[(path + from * 7u) & ((1u << REFINED_PLAN_BITS) - 1)];
}

[[gnu::always_inline]] inline bool refined_plan_holds(const RefinedPlan& p, Node path,
                                                      uint32_t from, uint32_t stamp,
                                                      const Cell* callee) {
  return p.path == path && p.from == from && p.stamp == stamp && p.renames == M.renames &&
         p.extras == callee->w3 && p.callee_w1 == callee->w1 &&
         p.callee_type == cell::type(callee);
}

// Fills p for the path's items from `from` on (the path's buffer pb) called on callee.
// False when the argument cache is still to be built (the general call builds it; p is
// left as it was); otherwise p answers, ok or not. Allocates nothing.
[[gnu::noinline, gnu::cold]] bool make_refined_plan(RefinedPlan& p, Node path, uint32_t from,
                                                    SeriesBuffer* pb, const Cell* callee) {
  const Cell* ex = memory::head_cells(buf(callee->w3));
  if (cell::type(ex + 1) != T_BLOCK) return false;
  const Cell* cc = memory::head_cells(buf(ex[1].w2));
  uint32_t cn = cell_units(buf(ex[1].w2));
  uint32_t ct = cell::type(callee);
  bool builtin = ct == T_NATIVE || ct == T_ACTION;
  p.path = path;
  p.from = from;
  p.stamp = memory::stamp(pb);
  p.renames = M.renames;
  p.extras = callee->w3;
  p.callee_w1 = callee->w1;
  p.callee_type = ct;
  p.ok = false;
  p.nargs = 0;
  p.used = 0;
  p.ref_count = 0;
  p.tail = 0;
  p.tail_push = p.tail_logic = 0;
  p.locals = 0;
  // An evaluated argument at cache cell k; false for any other kind.
  auto take = [&](uint32_t k) {
    const Cell* c = cc + k;
    if ((c->header & MODE_MASK) != 0 || p.nargs >= RefinedPlan::ARGS) return false;
    p.arg_k[p.nargs] = uint16_t(k);
    p.types[p.nargs] = type_mask(c);
    ++p.nargs;
    return true;
  };
  uint32_t k = 0;
  for (; k < cn && cell::type(cc + k) == T_TYPESET; ++k) {
    if ((cc[k].header & MODE_MASK) == MODE_RETURN) continue;
    if (!take(k)) return true;
  }
  int32_t refs = 0;
  if (builtin) {
    if (cn == 0 || cell::type(cc + cn - 1) != T_INTEGER) return true;
    refs = cell::get_int(cc + cn - 1);
    if (refs < 1 || refs > 64) return true;
    p.ref_count = uint8_t(refs);
  } else {
    // What the first pass pushes for the cells from the first refinement on.
    if (cn - k > 64) return true;
    for (uint32_t j = k; j < cn; ++j) {
      const Cell* c = cc + j;
      uint32_t t = cell::type(c);
      uint64_t bit = uint64_t(1) << (j - k);
      if (t == T_TYPESET) {
        if ((c->header & MODE_MASK) != MODE_RETURN) p.tail_push |= bit;
      } else if (t == T_REFINEMENT) {
        p.tail_push |= bit;
        p.tail_logic |= bit;
      } else if (t == T_INTEGER && j + 1 == cn) {
        p.locals = cell::get_int(c);
      } else {
        return true;
      }
    }
    p.tail = cn - k;
  }
  const Cell* items = memory::head_cells(pb);
  uint32_t n = cell_units(pb);
  uint64_t seen = 0;
  for (uint32_t i = from; i < n; ++i) {
    if (cell::type(items + i) != T_WORD || p.used >= RefinedPlan::REFS) return true;
    int32_t index = blk::find_spec_symbol(callee, int32_t(items[i].w2));
    if (index < 0 || uint32_t(index) >= cn || cell::type(cc + index) != T_REFINEMENT) return true;
    // A refinement's bit: its slot for builtins, its cell past the lead for the others.
    int32_t slot = builtin ? int32_t(cc[index].w3) - 1 : index - int32_t(k);
    if (slot < 0 || slot >= (builtin ? refs : 64) || (seen >> slot) & 1) return true;
    seen |= uint64_t(1) << slot;
    p.ref_slot[p.used] = uint8_t(builtin ? slot : 0);
    p.ref_index[p.used] = uint16_t(index);
    p.ref_at[p.used] = p.nargs;
    ++p.used;
    for (uint32_t a = uint32_t(index) + 1; a < cn; ++a) {
      const Cell* c = cc + a;
      if (cell::type(c) != T_TYPESET || (c->header & MODE_MASK) == MODE_RETURN) break;
      if (!take(a)) return true;
    }
  }
  // The general call computes two numbers under an operator's action in place.
  if (builtin && fast_op_of(ct, int32_t(callee->w1)) != OP_NONE) return true;
  p.ok = p.used > 0;
  return true;
}

[[noreturn, gnu::cold, gnu::noinline]] void raise_refined_no_arg(const Cell* callee, uint32_t k,
                                                                 const stack::Frame* f) {
  CallState s{callee, nullptr, 0, 0, f, false, false, false, false};
  Cell aw = spec_word_of_cache_index(callee, k);
  Cell n = name_of(s);
  error::raise(err::script::no_arg, &n, &aw);
}

[[noreturn, gnu::cold, gnu::noinline]] void raise_refined_bad_type(const Cell* callee, uint32_t k,
                                                                   const stack::Frame* f) {
  CallState s{callee, nullptr, 0, 0, f, false, false, false, false};
  Cell v = S.top[-1];
  raise_bad_type(s, &v, k);
}

// A plan's copy, read before any argument runs: a nested call can take the plan's slot.
struct RefinedArgs {
  uint32_t nargs, used, stamp;
  uint64_t types[RefinedPlan::ARGS];
  uint16_t arg_k[RefinedPlan::ARGS];
  uint8_t ref_at[RefinedPlan::REFS];
  [[gnu::always_inline]] explicit RefinedArgs(const RefinedPlan& p)
      : nargs(p.nargs), used(p.used), stamp(p.stamp) {
    std::memcpy(types, p.types, sizeof types);
    std::memcpy(arg_k, p.arg_k, sizeof arg_k);
    std::memcpy(ref_at, p.ref_at, sizeof ref_at);
  }
};

// Fetches argument i of a plan at pos and checks its type, as the plain calls fetch theirs
// (`ran` is set when code may have run).
[[gnu::always_inline]] inline uint32_t fetch_refined(const RefinedArgs& a, uint32_t i,
                                                     const Cell* callee, const stack::Frame* f,
                                                     const Node& code, SeriesBuffer*& cb,
                                                     uint64_t& cb_moves, uint32_t pos,
                                                     uint32_t end, bool& ran) {
  if (pos >= end) [[unlikely]] raise_refined_no_arg(callee, a.arg_k[i], f);
  pos = push_quick_arg(code, cb, cb_moves, pos, end, ran);
  if (!takes_type_q(a.types[i], cell::type(S.top - 1))) [[unlikely]]
    raise_refined_bad_type(callee, a.arg_k[i], f);
  return pos;
}

// The rest of a refined call whose path was written by its own arguments' evaluation: the
// general call reads the path item by item between the refinements' arguments, so from
// item on it is read as fetch_arguments reads it. path is a rooted copy; refs is the
// builtin's refs array (null for functions and routines, whose frame starts at frame_base).
[[gnu::noinline, gnu::cold]] uint32_t refined_call_rest(const Cell* callee, const Cell* path,
                                                        uint32_t item, int32_t* refs,
                                                        int32_t fetched, Cell* frame_base,
                                                        const stack::Frame* f,
                                                        const Node& code, uint32_t pos,
                                                        uint32_t end) {
  CallState s{callee, &code, pos, end, f, false, false, false, false};
  bool builtin = refs != nullptr;
  auto cache = [callee] { return memory::head_cells(buf(memory::head_cells(buf(callee->w3))[1].w2)); };
  uint32_t cache_n = blk::count(memory::head_cells(buf(callee->w3))[1].w2);
  for (; item < blk::count(path->w2); ++item) {
    Cell it = blk::cells(path->w2)[item];
    gc::Root it_root(&it);
    uint32_t it_t = cell::type(&it);
    if (it_t != T_WORD && it_t != T_GET_WORD) error::raise(err::script::bad_refine, &it);
    bool used = true;
    if (it_t == T_GET_WORD) {
      Cell val = *slot_of(&it);
      used = logic::truth_of(&val, true, &it);
    }
    int32_t index = blk::find_spec_symbol(callee, int32_t(it.w2));
    Cell* rc = (index >= 0 && uint32_t(index) < cache_n) ? cache() + index : nullptr;
    if (!rc || cell::type(rc) != T_REFINEMENT) {
      Cell n = name_of(s);
      Cell iw = it;
      iw.header = T_WORD;
      error::raise(err::script::no_refine, &n, &iw);
    }
    if (builtin) {
      int32_t slot = int32_t(rc->w3) - 1;
      if (used) {
        if (refs[slot] != -1) error::raise(err::script::dup_refine, path);
        refs[slot] = fetched;
      }
    } else {
      Cell* flag = frame_base + index;
      if (flag->w1 != 0) error::raise(err::script::dup_refine, path);
      flag->w1 = used ? 1 : 0;
    }
    Cell* mark = top();
    uint32_t arg = 0;
    for (uint32_t k = uint32_t(index) + 1; k < cache_n; ++k) {
      Cell tc = cache()[k];
      if (cell::type(&tc) != T_TYPESET || (tc.header & MODE_MASK) == MODE_RETURN) break;
      ++arg;
      fetch_argument(s, tc.header & MODE_MASK, callee, k);
      if (used) {
        check_type(s, &tc, last_pushed(), k);
        if (!builtin) frame_base[index + arg] = *last_pushed();
        ++fetched;
      } else {
        stack::drop_cells(1);
      }
    }
    if (!builtin) S.top = mark;
  }
  return s.pos;
}

// A builtin's path call `f/r1/r2 args` (the head word's value is slot, the path's buffer
// pb) by its plan, with the general call's frame, checks, order of evaluation and result:
// the position after it, or NOT_REFINED (nothing done) when the general call must take it.
// Callers test that nothing is traced and the path is neither set nor get.
[[gnu::noinline]] uint32_t refined_call(const Cell* path, const Cell* slot, SeriesBuffer* pb,
                                        const Node& code, uint32_t pos, uint32_t end,
                                        bool push) {
  if (!fast_paths_on() || (!push && S.top != S.base)) return NOT_REFINED;
  uint32_t head = path->w1;
  RefinedPlan& p = refined_plan_slot(path->w2, head + 1);
  if (!refined_plan_holds(p, path->w2, head + 1, memory::stamp(pb), slot)) [[unlikely]] {
    if (!make_refined_plan(p, path->w2, head + 1, pb, slot)) return NOT_REFINED;
  }
  if (!p.ok) return NOT_REFINED;
  RefinedArgs a(p);
  uint8_t ref_slot[RefinedPlan::REFS];
  std::memcpy(ref_slot, p.ref_slot, sizeof ref_slot);
  int32_t refs[64];
  for (uint32_t i = 0; i < p.ref_count; ++i) refs[i] = -1;
  // The path's copy, the head's value and the callee's copy below the frame, as the general
  // call keeps them (so the argument stack fills up at the same depth): the path's node
  // and the callee stay current there while arguments run.
  Cell* kept = S.top;
  if (kept + 3 >= S.args_limit) [[unlikely]] return NOT_REFINED;  // the general call raises
  kept[0] = *path;
  kept[1] = *slot;
  kept[2] = *slot;
  S.top = kept + 3;
  const Cell* callee = kept + 2;
  stack::Frame* f = stack::detail::push_record_unchecked(
      memory::head_cells(pb) + head,
      (stack::kind::NATIVE << stack::fflag::KIND_SHIFT) | stack::fflag::INTERPRETED);
  SeriesBuffer* cb = code_buf(code);
  uint64_t cb_moves = epoch();
  bool ran = false;  // code ran since the path was read last
  uint32_t i = 0;
  // The lead arguments, then each refinement's: the general call reads the path's item
  // before each refinement's arguments, so an argument that wrote the path is noticed there.
  for (uint32_t g = 0;; ++g) {
    uint32_t stop = g < a.used ? a.ref_at[g] : a.nargs;
    for (; i < stop; ++i) pos = fetch_refined(a, i, callee, f, code, cb, cb_moves, pos, end, ran);
    if (g == a.used) break;
    if (ran) {
      if (memory::stamp_of(kept->w2) != a.stamp) [[unlikely]] {
        pos = refined_call_rest(callee, kept, head + 1 + g, refs, int32_t(i), nullptr, f, code,
                                pos, end);
        break;
      }
      ran = false;
    }
    refs[ref_slot[g]] = a.ref_at[g];
  }
  int32_t id = int32_t(callee->w1);
  run_builtin(cell::type(callee), id, refs);
  stack::pop_frame();
  Cell r = kept[3];
  S.top = kept;
  if (push) push_cell(&r);
  else only_result(&r);
  return pos;
}

// The arguments of a function's or routine's path call (fetch_arguments' part for a path
// whose refinements start at item `from`) by its plan: the same frame cells, checks and
// order of evaluation. False (nothing done) when the general fetch must take it.
[[gnu::noinline]] bool refined_fetch(CallState& s, const Cell* path, uint32_t from) {
  const Cell* callee = s.callee;
  SeriesBuffer* pb = code_buf(path->w2);
  RefinedPlan& p = refined_plan_slot(path->w2, from);
  if (!refined_plan_holds(p, path->w2, from, memory::stamp(pb), callee)) [[unlikely]] {
    if (!make_refined_plan(p, path->w2, from, pb, callee)) return false;
  }
  if (!p.ok) return false;
  RefinedArgs a(p);
  uint16_t ref_index[RefinedPlan::REFS];
  std::memcpy(ref_index, p.ref_index, sizeof ref_index);
  uint32_t tail = p.tail;
  uint64_t tail_push = p.tail_push, tail_logic = p.tail_logic;
  int32_t locals = p.locals;
  const Node& code = *s.code;
  SeriesBuffer* cb = code_buf(code);
  uint64_t cb_moves = epoch();
  uint32_t pos = s.pos, end = s.end;
  Cell* frame_base = base();
  const stack::Frame* f = s.frame;
  bool ran = false;  // code ran since the path was read last
  uint32_t i = 0;
  for (; i < (a.used ? a.ref_at[0] : a.nargs); ++i)
    pos = fetch_refined(a, i, callee, f, code, cb, cb_moves, pos, end, ran);
  // The flags (false) and the refinements' argument cells (none) the first pass pushes.
  for (uint32_t j = 0; j < tail; ++j) {
    if (!((tail_push >> j) & 1)) continue;
    *reserve() = Cell{(tail_logic >> j) & 1 ? T_LOGIC : T_NONE, 0, 0, 0};
  }
  for (uint32_t g = 0; g < a.used; ++g) {
    if (ran) {
      if (memory::stamp_of(path->w2) != a.stamp) [[unlikely]] {
        pos = refined_call_rest(callee, path, from + g, nullptr, 0, frame_base, f, code, pos, end);
        break;
      }
      ran = false;
    }
    uint32_t index = ref_index[g];
    frame_base[index].w1 = 1;
    Cell* mark = S.top;
    uint32_t stop = g + 1 < a.used ? a.ref_at[g + 1] : a.nargs;
    for (uint32_t arg = 1; i < stop; ++i, ++arg) {
      pos = fetch_refined(a, i, callee, f, code, cb, cb_moves, pos, end, ran);
      frame_base[index + arg] = S.top[-1];
    }
    S.top = mark;
  }
  s.pos = pos;
  function::push_defaults(locals);
  return true;
}

// A path call whose head word holds a function or routine: the general path's steps for
// it (the path's copy and the head's value kept below the call), without the walk over
// the path's other items; the call's refinements are fetched by refined_fetch.
[[gnu::noinline]] uint32_t path_function_call(const Cell* path_in, const Node& code, uint32_t pos,
                                              uint32_t end, bool push) {
  Cell* path = push_cell(path_in);  // a stack cell: its node is kept current
  uint32_t remembered = stack::index_of(path);
  Cell hw = blk::cells(path->w2)[path->w1];
  Cell* current = push_cell(slot_of(&hw));
  pos = call_value(current, code, pos, end, true, path, path->w1 + 1, &hw, nullptr, 0, false);
  Cell r = *last_pushed();
  S.top = stack::at_index(remembered);
  deliver(&r, push, code, pos);
  return pos;
}
}  // namespace

// ---- Paths ----

namespace {
inline bool word_key_q(uint32_t t) { return t == T_WORD || t == T_GET_WORD; }

// map/key and map/:word, read or set, with a string! or word key: the map's own look-up
// without the step machinery (which keeps nothing a map step needs). m is the head word's
// value (a map!), pb the path's buffer. False, with nothing done, for anything else: another
// shape or key, or a function read (called by the steps).
[[gnu::always_inline]] inline bool map_path_quick(const Cell* path, const Cell* m,
                                                  SeriesBuffer* pb, bool set, bool get,
                                                  Cell* out) {
  const Cell* key = memory::head_cells(pb) + path->w1 + 1;
  if (path->w1 + 2 != cell_units(pb)) return false;
  if (cell::type(key) == T_GET_WORD) {
    key = quick_slot(key);
    if (!key) return false;
  } else if (cell::type(key) != T_WORD) {
    return false;
  }
  if (!set) return map::path_read(m, key, out) && (get || !function_type_q(cell::type(out)));
  Cell culprit = *path;
  if (!map::path_write(m, key, base(), &culprit)) return false;
  *out = *base();
  return true;
}

uint32_t eval_path_steps(const Cell* path_in, const Node& code, uint32_t pos, uint32_t end,
                         bool set, bool get, bool push, uint32_t option);
}  // namespace

uint32_t eval_path(const Cell* path_in, const Node& code, uint32_t pos, uint32_t end, bool set,
                   bool get, bool push, uint32_t option) {
  // word/integer read from a block: the block's pick without the step machinery; a call
  // word/refinement... by its plan; anything else (a function picked this way is called)
  // takes the general steps. A map head with a word or string key, read or set, takes the
  // map's own look-up.
  if (!switches.trace_enabled) {
    SeriesBuffer* pb = code_buf(path_in->w2);
    const Cell* pc = memory::head_cells(pb) + path_in->w1;
    if (path_in->w1 + 2 <= cell_units(pb) && cell::type(pc) == T_WORD) {
      if (!set && cell::type(pc + 1) == T_INTEGER) {
        Cell value;
        if (quick_path_pick(path_in, &value)) {
          deliver(&value, push, code, pos);
          return pos;
        }
      } else if (const Cell* slot = word_key_q(cell::type(pc + 1)) ? quick_slot(pc) : nullptr) {
        // (a key of another kind, x/(i) or b/1: v, leaves without looking the head up)
        uint32_t t = cell::type(slot);
        if (t == T_MAP) {
          Cell value;
          if (option == 0 && fast_paths_on() &&
              map_path_quick(path_in, slot, pb, set, get, &value)) {
            deliver(&value, push, code, pos);
            return pos;
          }
        } else if (!set && !get && cell::type(pc + 1) == T_WORD) {
          if (t == T_OBJECT) {
            // obj/word read: the field straight from the object's values.
            Cell value;
            if (option == 0 && path_in->w1 + 2 == cell_units(pb) && fast_paths_on() &&
                datatype::slot<datatype::action::EVAL_PATH>(T_OBJECT) == &object::eval_path &&
                object::path_read(slot, pc + 1, &value)) {
              deliver(&value, push, code, pos);
              return pos;
            }
          } else if (t == T_NATIVE || t == T_ACTION) {
            uint32_t after = refined_call(path_in, slot, pb, code, pos, end, push);
            if (after != NOT_REFINED) return after;
          } else if ((t == T_FUNCTION || t == T_ROUTINE) && fast_paths_on()) {
            return path_function_call(path_in, code, pos, end, push);
          }
        }
      }
    }
  }
  return eval_path_steps(path_in, code, pos, end, set, get, push, option);
}

namespace {
[[gnu::noinline]] uint32_t eval_path_steps(const Cell* path_in, const Node& code, uint32_t pos,
                                           uint32_t end, bool set, bool get, bool push,
                                           uint32_t option) {
  Cell* path = push_cell(path_in);  // a stack cell: its node is kept current
  uint32_t n = blk::count(path->w2);
  uint32_t head = path->w1 > n ? n : path->w1;
  if (head >= n) error::raise(err::script::empty_path);
  Cell hw = blk::cells(path->w2)[head];
  gc::Root hw_root(&hw);
  if (cell::type(&hw) != T_WORD) error::raise(err::script::word_first, path);
  uint32_t remembered = stack::index_of(path);  // the path copy stays below everything
  if (switches.trace_enabled) [[unlikely]]
    trace::fire_in(trace_ev::ENTER, path, head, nullptr, nullptr);
  Cell* current = push_cell(slot_of(&hw));
  if (function_type_q(cell::type(current))) {
    if (set) error::raise(err::script::invalid_path_set, path);
    if (get) error::raise(err::script::invalid_path_get, path);
    pos = call_value(current, code, pos, end, true, path, head + 1, &hw, nullptr, 0, false);
    if (switches.trace_enabled) [[unlikely]]
      trace::fire_in(trace_ev::EXIT, path, blk::count(path->w2), nullptr, last_pushed());
    Cell r = *last_pushed();
    S.top = stack::at_index(remembered);
    deliver(&r, push, code, pos);
    return pos;
  }
  if (cell::type(current) == T_UNSET) error::raise(err::script::unset_path, path, &hw);
  if (switches.trace_enabled) [[unlikely]]
    trace::fire_in(trace_ev::PUSH, path, head, nullptr, current);
  // The owner and the previous element live on the stack beside the current value.
  Cell* owner = reserve();
  *owner = Cell{T_NONE, 0, 0, 0};
  // The first element's owner: the head word's context's own value, unless that context
  // is the global one or belongs to an object.
  if (hw.w1 && hw.w1 != context::global && context::has_self_q(hw.w1)) {
    Cell* self = context::self_cell(hw.w1);
    if (cell::type(self) != T_OBJECT) *owner = *self;
  }
  Cell* previous = push_cell(&hw);
  Cell* el = reserve();
  *el = Cell{T_NONE, 0, 0, 0};
  // A set path keeps each step's container and element for the write-back.
  uint32_t steps = set ? n - head - 1 : 0;
  Cell* chain = S.top;
  for (uint32_t k = 0; k < steps * path_set::CELLS_PER_STEP; ++k) *reserve() = Cell{T_NONE, 0, 0, 0};
  Cell* work = S.top;
  int32_t index = 0;
  for (uint32_t i = head + 1; i < blk::count(path->w2); ++i, ++index) {
    *el = blk::cells(path->w2)[i];
    if (switches.trace_enabled) [[unlikely]] trace::fire_in(trace_ev::FETCH, path, i, nullptr, el);
    if (cell::type(el) == T_GET_WORD) {
      *el = *slot_of(el);
    } else if (cell::type(el) == T_PAREN) {
      stack::push_interp_native_frame(&words.anon);
      eval_block(el, true);
      stack::pop_frame();
      *el = *last_pushed();
      S.top = work;
    }
    if (switches.trace_enabled) [[unlikely]] trace::fire_in(trace_ev::PUSH, path, i, nullptr, el);
    if (cell::type(el) == T_UNSET) error::raise(err::script::invalid_path, path, el);
    bool last = i + 1 >= blk::count(path->w2);
    Cell* new_value = (set && last) ? base() : nullptr;
    uint32_t ct = cell::type(current);
    datatype::SlotFn<datatype::action::EVAL_PATH> fn =
        ct < datatype::TABLE_TYPES ? datatype::slot<datatype::action::EVAL_PATH>(ct) : nullptr;
    if (!fn) {
      Cell dt{T_DATATYPE, ct, 0, 0};
      Cell* cut = reserve();
      *cut = Cell{T_NONE, 0, 0, 0};
      blk::copy(cut, path, false);
      SeriesBuffer* cb = memory::node_buffer(cut->w2);
      uint32_t keep = uint32_t(index) + 1;
      if (cell_units(cb) > keep) cb->tail = cb->head + keep * 16;
      error::raise(err::script::bad_path_type, path, &dt, cut);
    }
    if (uint32_t(index) < steps) {
      chain[index * path_set::CELLS_PER_STEP] = *current;
      chain[index * path_set::CELLS_PER_STEP + 1] = *el;
    }
    Cell* r = fn(current, el, new_value, path, owner, previous, index, false, option != 0, last,
                 false);
    Cell* result = push_cell(r);
    Cell* from = push_cell(current);
    if (!get && !set && function_type_q(cell::type(result))) {
      pos = call_value(result, code, pos, end, true, path, i + 1, el, from, 0, false);
      *current = *last_pushed();
      break;
    }
    *current = *result;
    *owner = *from;
    *previous = *el;
    S.top = work;
  }
  if (set && uint32_t(index) == steps) path_set::write_back(&hw, path, chain, steps, owner);
  if (switches.trace_enabled) [[unlikely]]
    trace::fire_in(trace_ev::EXIT, path, blk::count(path->w2), nullptr, nullptr);
  Cell value = *current;
  S.top = stack::at_index(remembered);
  deliver(&value, push, code, pos);
  return pos;
}
}  // namespace

}  // namespace kel::interp

namespace kel::stack {
void init() {
  init(uint32_t(symbol::intern_c_text("<body>")), uint32_t(symbol::intern_c_text("<anon>")),
       uint32_t(symbol::intern_c_text("<not-found>")));
}
}  // namespace kel::stack
