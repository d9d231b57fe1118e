// Probe: interpreter checks that Kel text cannot reach, run in the real runtime on the
// evaluation thread: refinement integers of natives, apply flags, compiled bodies against
// their interpreted twins, eval-next-index. Prints one line per check, exit 1 on a failure.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/context.h"
#include "runtime/error.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/blk.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

using namespace kel;

namespace {

int failures = 0;

void check(bool ok, const char* name, const std::string& detail = "") {
  std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
  if (!ok) ++failures;
}

// Evaluates text; the result lands in *out (a stack cell the caller keeps).
bool eval(const char* text, Cell* out) {
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
  bool is_error = false;
  launcher::run_protected(block, out, &is_error);
  return !is_error;
}

// The test native: records its check flag, its refinement integers and its argument cells.
int32_t seen_check;
int32_t seen_refs[2];
int32_t seen_cells[6];
int32_t seen_count;

void test_native(int32_t check_flag, const int32_t* refs) {
  seen_check = check_flag;
  seen_refs[0] = refs[0];
  seen_refs[1] = refs[1];
  Cell* b = stack::state().base;
  seen_count = int32_t(stack::state().top - b);
  for (int32_t i = 0; i < seen_count && i < 6; ++i)
    seen_cells[i] = cell::type(b + i) == T_INTEGER ? cell::get_int(b + i) : -99;
  Cell r{T_INTEGER, 0, 0, 0};
  stack::set_only_result(&r);
}

int32_t int_of(const Cell* c) { return cell::type(c) == T_INTEGER ? cell::get_int(c) : -1000; }

void refinement_integers(Cell* out) {
  natives::NativeFn fn = &test_native;
  natives::append_entries(1, &fn);
  check(natives::next_id == 109, "next id after one more entry");
  check(eval("tn: make native! [[x /a y /b z w] 108] tn 7", out), "make and call native 108");
  check(seen_refs[0] == -1 && seen_refs[1] == -1 && seen_count == 1 && seen_cells[0] == 7,
        "no refinement: -1 -1");
  eval("tn/b 1 2 3", out);
  check(seen_check == 0 && seen_refs[0] == -1 && seen_refs[1] == 1 && seen_count == 3,
        "only /b: -1 and the count of required arguments");
  eval("tn/b/a 1 2 3 4", out);
  check(seen_refs[1] == 1 && seen_refs[0] == 3 && seen_cells[1] == 2 && seen_cells[2] == 3 &&
            seen_cells[3] == 4,
        "path order: /b's arguments first, then /a's",
        std::to_string(seen_refs[0]) + " " + std::to_string(seen_refs[1]));
  // Compiled code: check flag 1 and every refinement in spec order.
  stack::push_native_frame(&interp::words.body);
  Cell* b = stack::state().base;
  for (int i = 0; i < 4; ++i) *stack::reserve_cell() = Cell{T_INTEGER, 0, uint32_t(i), 0};
  int32_t refs[2] = {-1, 2};
  natives::call_builtin_by_number(0, 108, refs);
  check(seen_check == 1 && seen_refs[1] == 2 && int_of(b) == 0, "call by number: check flag 1");
  stack::pop_frame();
}

void apply_flags(Cell* out) {
  check(eval("af: func [x /r y] [either r [y] [x]] 'af", out), "apply target");
  Cell* fn = stack::push_copy(word::value_slot(out));
  Cell* name = stack::push_copy(out);
  struct Case {
    const char* args;
    uint32_t flags;
    int32_t expect;
  } cases[] = {
      {"[10 true 20]", 1, 20},      // /all: every slot in order
      {"[10 false 20]", 1, 10},     // an inactive refinement's argument is taken and dropped
      {"[10]", 1, 10},              // completed with false and none
      {"[10 /r true 20]", 2, 20},   // refinements named in the block
      {"[10 /r false 20]", 2, 10},  // a false refinement's argument is still consumed
      {"[10]", 2, 10},
  };
  for (auto& c : cases) {
    Cell* args = stack::reserve_cell();
    *args = Cell{T_NONE, 0, 0, 0};
    launcher::load_text(reinterpret_cast<const uint8_t*>(c.args), int32_t(std::strlen(c.args)), args);
    Cell inner = blk::cells(args->w2)[0];
    *args = inner;
    stack::push_interp_native_frame(&interp::words.body);
    interp::call_value(fn, args->w2, 0, blk::count(args->w2), true, nullptr, 0, name, nullptr,
                       c.flags, false);
    int32_t got = int_of(stack::last_pushed());
    stack::pop_frame();
    stack::state().top = args;
    check(got == c.expect, "apply flags", std::string(c.args) + " -> " + std::to_string(got));
  }
}

// The compiled twin of `func [x] [x * 2]`: reads its argument through the frame.
void double_body(Node) {
  Cell* b = stack::state().base;
  if (cell::type(b) != T_INTEGER) error::raise(err::script::invalid_arg, b);
  Cell r{T_INTEGER, 0, uint32_t(cell::get_int(b) * 2), 0};
  stack::set_only_result(&r);
}

void compiled_bodies(Cell* out) {
  int32_t index = interp::register_compiled_body(&double_body);
  eval("cf: func [x] [x * 2] twin: func [x] [x * 2] 'cf", out);
  Cell* word_cf = stack::push_copy(out);
  *blk::extras(word::value_slot(word_cf), 2) = Cell{T_INTEGER, 0, uint32_t(index), 0};
  uint32_t before = context::cell_of(word::value_slot(word_cf)->w1)->w2;
  eval("cf 21", out);
  int32_t compiled = int_of(out);
  eval("twin 21", out);
  check(compiled == 42 && int_of(out) == 42, "compiled body matches its interpreted twin");
  check(!eval("cf \"a\"", out), "an error in a compiled body travels");
  check(!eval("twin \"a\"", out), "the same error in the interpreted twin");
  uint32_t after = context::cell_of(word::value_slot(word_cf)->w1)->w2;
  check(before == after, "context values pointer restored after the error");
}

void next_index(Cell* out) {
  eval("[1 + 2 3]", out);
  Cell* block = stack::push_copy(out);
  stack::push_native_frame(&interp::words.body);
  uint32_t i = interp::eval_next_index(block);
  int32_t v = int_of(stack::state().base);
  stack::pop_frame();
  check(i == 3 && v == 3, "eval-next-index: the index after 1 + 2");
  block->w1 = 4;
  stack::push_native_frame(&interp::words.body);
  i = interp::eval_next_index(block);
  bool unset = cell::type(stack::state().base) == T_UNSET;
  stack::pop_frame();
  check(i == 4 && unset, "eval-next-index at the tail: unset");
}

// A Kel callback on the lexer's events: counts load events, and an error callback that
// moves the input one character on.
void lexer_callbacks(Cell* out) {
  eval("seen: 0 cb: func [event input type line token] [[load] seen: seen + 1 true] 'cb", out);
  Cell* cb = stack::push_copy(word::value_slot(out));
  Cell* result = stack::reserve_cell();
  *result = Cell{T_NONE, 0, 0, 0};
  const char* text = "1 2 [3]";
  lexer_scan(result, reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), false,
             true, true, false, nullptr, cb, nullptr, nullptr);
  eval("seen", out);
  check(int_of(out) == 3, "load events reach the Kel callback", std::to_string(int_of(out)));
  eval("last-event: none cb2: func [event input type line token] [last-event: event line = 1] 'cb2", out);
  *cb = *word::value_slot(out);
  lexer_scan(result, reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), false,
             true, true, false, nullptr, cb, nullptr, nullptr);
  eval("last-event", out);
  check(cell::type(out) == T_WORD, "every event without a mask block");
}

void statistics(Cell* out) {
  double level1 = actions::stats_walk(nullptr, 1);
  check(level1 > 0, "stats level 1: bytes in use");
  eval("[]", out);
  Cell* block = stack::push_copy(out);
  uint32_t collections = gc::state().collection_count;
  actions::stats_walk(block, 2);
  check(blk::count(block->w2) == 5 && cell::type(blk::cells(block->w2)) == T_BLOCK,
        "stats level 2: pools, arenas, large blocks and two totals");
  check(gc::state().collection_count == collections, "the walk collects nothing");
}

// Every datatype with a filled action slot is admitted by that action's first argument.
void action_typesets(Cell* out) {
  static const char* const names[] = {
      "make", "random", "reflect", "to", "form", "mold", nullptr, nullptr, nullptr, "absolute",
      "add", "divide", "multiply", "negate", "power", "remainder", "round", "subtract", "even?",
      "odd?", "and~", "complement", "or~", "xor~", "append", "at", "back", "change", "clear",
      "copy", "find", "head", "head?", "index?", "insert", "length?", "move", "next", "pick",
      "poke", "put", "remove", "reverse", "select", "sort", "skip", "swap", "tail", "tail?",
      "take", "trim", "create", "close", "delete", "modify", "open", "open?", "query", "read",
      "rename", "update", "write"};
  std::string missing;
  for (uint32_t k = 1; k <= 62; ++k) {
    const char* name = names[k - 1];
    if (!name || k == 1 || k == 4) continue;  // make and to dispatch on the named type
    Cell w = word::intern_global(name);
    Cell* fn = stack::push_copy(word::value_slot(&w));
    if (cell::type(fn) != T_ACTION || fn->w1 != k) {
      missing += std::string(" ") + name + "(not bound)";
      continue;
    }
    Node cache = interp::build_argument_cache(fn);
    Cell ts = blk::cells(cache)[0];
    for (uint32_t t = 1; t <= datatype::highest_registered; ++t) {
      // series! is abstract: no value has it, its slots are only inherited.
      if (t == T_SERIES || !datatype::type_table[t].name || !datatype::any_slot(t, k)) continue;
      if (!typeset::has_q(&ts, t)) missing += std::string(" ") + name + "/" + datatype::type_table[t].name;
    }
    stack::drop_cells(1);
  }
  (void)out;
  check(missing.empty(), "action specs admit every type with the slot", missing);
}

// Compiled bodies that leave the nearest loop the way break, break/return and continue do.
void body_break(Node) { stack::exit_loop(false, false); }
void body_break_value(Node) { stack::exit_loop(true, false); }  // the argument is the value
void body_continue(Node) { stack::exit_loop(false, true); }

void set_code(const char* name, void (*body)(Node), Cell* out) {
  Cell w = word::intern_global(name);
  Cell* fn = word::value_slot(&w);
  *blk::extras(fn, 2) = Cell{T_INTEGER, 0, uint32_t(interp::register_compiled_body(body)), 0};
  (void)out;
}

void loop_exits(Cell* out) {
  eval("brk: func [] [] brk-val: func [v] [] cont: func [] []", out);
  set_code("brk", &body_break, out);
  set_code("brk-val", &body_break_value, out);
  set_code("cont", &body_continue, out);
  eval("n: 0 loop 5 [n: n + 1 brk] n", out);
  check(int_of(out) == 1, "break ends the loop");
  eval("loop 5 [brk]", out);
  check(cell::type(out) == T_UNSET, "a loop ended by break gives unset");
  eval("loop 5 [brk-val 7]", out);
  check(int_of(out) == 7, "break with a value gives that value");
  eval("n: 0 loop 5 [n: n + 1 cont n: 100] n", out);
  check(int_of(out) == 5, "continue goes on with the next iteration");
  eval("f: func [] [loop 3 [brk] 9] f", out);
  check(int_of(out) == 9, "a break inside a function stops at the loop in it");
}

// A routine with no result type keeps its first argument as the result; its body
// allocates, which under stress moves the argument's series while the routine runs.
void allocating_routine() {
  for (int i = 0; i < 4; ++i) memory::series_new_cells(8);
}

void routine_first_cell(Cell* out) {
  routine::register_routine({"probe-allocating", "a [block!]", &allocating_routine, 0});
  bool ok = eval("b: [1 2 3] r: probe-allocating b  recycle  append r 4  r = [1 2 3 4]", out);
  check(ok && cell::type(out) == T_LOGIC && out->w1 == 1,
        "a routine without result type keeps its first argument");
  // Without arguments there is no first cell: what lies past the top is not kept.
  routine::register_routine({"probe-allocating-none", "", &allocating_routine, 0});
  check(eval("b: [1 2] probe-allocating-none recycle append b 3 b = [1 2 3]", out) &&
            cell::type(out) == T_LOGIC && out->w1 == 1,
        "a routine without arguments and result type");
}

// Write stamps: every writer of a block's cells gives it a new stamp, readers never do.
// Each row's setup makes b; the stamp is read through b before and after the step.
uint32_t stamp_of_b(Cell* out) {
  if (!eval("b", out) || !block::any_block_q(cell::type(out))) return 0;
  return memory::stamp_of(out->w2);
}

void write_stamps(Cell* out) {
  struct Row {
    const char* setup;
    const char* step;
    bool writes;
  };
  const Row rows[] = {
      {"b: [1 2 3]", "append b 4", true},
      {"b: [1 2 3]", "append/only b [4]", true},
      {"b: [1 2 3]", "append/dup b 0 2", true},
      {"b: [1 2 3]", "insert b 0", true},
      {"b: [1 2 3]", "insert next b [7 8]", true},
      {"b: [1 2 3]", "change b 9", true},
      {"b: [1 2 3]", "change/part b [4 5 6 7] 2", true},
      {"b: [1 2 3]", "poke b 2 9", true},
      {"b: [1 2 3]", "b/2: 9", true},
      {"b: [x 1]", "b/x: 5", true},
      {"b: [1 2 3]", "put b 1 5", true},
      {"b: [1 2 3]", "remove b", true},
      {"b: [1 2 3]", "remove/part next b 2", true},
      {"b: [1 2 3]", "clear next b", true},
      {"b: [3 1 2]", "sort b", true},
      {"b: [3 1 2]", "sort/compare b func [x y] [x > y]", true},
      {"b: [1 2 3]", "reverse b", true},
      {"b: [1 2 3]", "take b", true},
      {"b: [1 2 3]", "take/last b", true},
      {"b: [1 2 3]", "move b tail b", true},
      {"b: [1 2 3]", "swap b next b", true},
      {"b: [1 2 3]", "random b", true},
      {"b: [1 none 3]", "trim b", true},
      {"b: [1 2 3]", "alter b 2", true},
      {"b: [1 2 3]", "replace b 2 7", true},
      {"b: [1 2 3]", "remove-each x b [x = 2]", true},
      {"b: [1 2 3]", "reduce/into [1 + 1] b", true},
      {"b: [1 2 3]", "compose/into [(1 + 1)] b", true},
      {"b: [1 2 3]", "collect/into [keep 5] b", true},
      {"b: [1 2 3]", "transcode/into \"a b\" b", true},
      {"b: [x + 1]", "bind b context [x: 1]", true},
      {"b: [[x] y]", "bind b context [y: 1]", true},
      {"b: make hash! [a 1]", "append b [c 3]", true},
      {"b: quote (1 + 2)", "append b 3", true},
      {"f: func [n] [n + 1] b: body-of :f", "change next b '-", true},
      {"o: make object! [x: [1] on-deep-change*: func [o w t a n i p] []] b: o/x", "append b 2", true},
      // Readers and evaluations leave it.
      {"b: [1 2 3]", "pick b 2", false},
      {"b: [1 2 3]", "b/2", false},
      {"b: [1 2 3]", "mold b", false},
      {"b: [1 2 3]", "copy b", false},
      {"b: [1 2 3]", "find b 2", false},
      {"b: [1 2 3]", "select b 1", false},
      {"b: [1 2 3]", "sort copy b", false},
      {"b: [1 + 2]", "do b", false},
      {"b: [x: 1 + 2]", "foreach x b []", false},
      {"b: [1 2 3]", "length? next b", false},
      {"b: [a 1]", "parse b ['a integer!]", false},
      {"b: [1 2 3]", "recycle", false},
  };
  for (const Row& r : rows) {
    eval(r.setup, out);
    uint32_t before = stamp_of_b(out);
    bool ran = eval(r.step, out);
    uint32_t after = stamp_of_b(out);
    check(ran && before != 0 && (after != before) == r.writes,
          r.writes ? "the step gives the block a new stamp" : "the step leaves the stamp",
          std::string(r.setup) + " " + r.step);
  }
  // Made with a stamp of their own: two blocks made one after another differ.
  eval("b: copy [1]", out);
  uint32_t first = stamp_of_b(out);
  eval("b: copy [1]", out);
  check(first != stamp_of_b(out), "every new series takes a new stamp");
}

void checks() {
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  Cell* mark = stack::state().top;
  refinement_integers(out);
  stack::state().top = mark;
  apply_flags(out);
  stack::state().top = mark;
  compiled_bodies(out);
  stack::state().top = mark;
  next_index(out);
  stack::state().top = mark;
  lexer_callbacks(out);
  stack::state().top = mark;
  statistics(out);
  stack::state().top = mark;
  loop_exits(out);
  stack::state().top = mark;
  action_typesets(out);
  stack::state().top = mark;
  routine_first_cell(out);
  stack::state().top = mark;
  write_stamps(out);
  check(!interp::switches.trace_enabled, "tracing off by default");
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) { boot::start(argc, argv, &checks); }
