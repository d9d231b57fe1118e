// Probe: tracing and fast-path checks that Kel text cannot reach, in the real runtime:
// functions built as library code under the scoped switch, and the fast-* toolkit for C++
// bodies. Prints one line per check, exit 1 on a failure; `bad-selector` ends in the fatal
// report of a selector outside the list.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/compiled_support.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/trace.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

using namespace kel;

namespace {

int failures = 0;
bool bad_selector = false;

void check(bool ok, const char* name) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", name);
  if (!ok) ++failures;
}

bool eval(const char* text, Cell* out) {
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
  bool is_error = false;
  launcher::run_protected(block, out, &is_error);
  return !is_error;
}

// Kel text whose value must be true.
void check_true(const char* text, const char* name) {
  Cell* out = stack::reserve_cell();
  *out = Cell{T_NONE, 0, 0, 0};
  Cell* mark = stack::state().top;
  bool ok = eval(text, out);
  check(ok && cell::type(out) == T_LOGIC && out->w1 == 1, name);
  stack::state().top = mark - 1;
}

void library_code() {
  Cell* out = stack::reserve_cell();
  {
    trace::LibraryScope library;
    eval("lf: func [x] [x + 1] ld: func [b] [do b] lc: func [f] [f] lt: func [[trace]] [1]", out);
  }
  check_true("t: func [e c o v rf fr] [append r reduce [e :c o]]  true",
             "a tracer that records event, code and offset");
  check_true("r: copy [] do/trace [lf 1] :t  r = reduce ['init none -1 'enter [lf 1] 0 'fetch [lf 1] 0 "
             "'open [lf 1] 1 'fetch [lf 1] 1 'push [lf 1] 1 'call [lf 1] 2 'return [lf 1] 2 "
             "'expr [lf 1] 2 'exit [lf 1] 2 'end none -1]",
             "a library function shows its call from outside, nothing inside");
  check_true("r: copy [] do/trace [ld [1 + 1]] func [e c o v rf fr] [[fetch] append/only r :v]  "
             "r = [ld [1 + 1] 1 + 1]",
             "code a library function runs stays traced");
  check_true("u: func [] [5] r: copy [] do/trace [lc :u] func [e c o v rf fr] "
             "[[call return prolog fetch] append r reduce [e :c o]]  "
             "r = reduce ['fetch [lc :u] 0 'fetch [lc :u] 1 'call [lc :u] 2 'call none -1 "
             "'prolog [5] -1 'fetch [5] 0 'return none -1 'return [lc :u] 2]",
             "a call from library code: call and return without code, then the callee's events");
  check_true("r: copy [] do/trace [lt] func [e c o v rf fr] [[prolog] append r e]  r = [prolog]",
             "a function with the trace attribute is not library code");
  check_true("r: copy [] f: func [x] [x] do/trace [f 1] func [e c o v rf fr] [[prolog] append r e]  "
             "r = [prolog]",
             "functions built afterwards are not library code");
}

Cell word(const char* text) { return word::intern_global(text); }

void toolkit() {
  Cell plus = word("+"), lt = word("<"), w = word("next");
  Cell* mark = stack::state().top;
  Cell big = Cell{T_INTEGER, 0, uint32_t(2147483647), 0}, one = Cell{T_INTEGER, 0, 1, 0};
  Cell* r = actions::fast_math_cells(0, &plus, &big, &one);
  check(cell::type(r) == T_FLOAT && cell::get_double(r) == 2147483648.0 &&
            stack::state().top == mark + 1,
        "fast-math-cells: integer overflow gives the float!, one cell pushed");
  stack::state().top = mark;
  r = actions::fast_math_cell_int(7, &plus, &one, 3);
  check(cell::type(r) == T_INTEGER && cell::get_int(r) == 2, "fast-math-cell-int xor~");
  stack::state().top = mark;
  Cell half = Cell{T_FLOAT, 0, 0, 0};
  cell::put_double(&half, 0.5);
  r = actions::fast_math_cells(2, &plus, &half, &one);  // mixed: through the action
  check(cell::type(r) == T_FLOAT && cell::get_double(r) == 0.5 && stack::state().top == mark + 1,
        "fast-math-cells: mixed operands through the action");
  stack::state().top = mark;
  *stack::reserve_cell() = one;
  r = actions::fast_math_top_int(1, &plus, 5);
  check(r == mark && cell::get_int(r) == -4 && stack::state().top == mark + 1,
        "fast-math-top-int replaces the top cell");
  stack::state().top = mark;
  check(actions::fast_test_cells_q(3, &lt, &one, &big, 0) == 1 &&
            actions::fast_test_cell_int_q(3, &lt, &one, 1, 1) == 1 && stack::state().top == mark,
        "fast-test-cells? leaves the stack top unchanged");
  check(actions::fast_test_cells_q(0, &lt, &one, &half, 0) == 0 && stack::state().top == mark,
        "fast-test-cells? on unlike values through compare-logic");
  *stack::reserve_cell() = half;
  r = actions::fast_compare_top_int(5, &lt, 0);
  check(r == mark && cell::type(r) == T_LOGIC && r->w1 == 1, "fast-compare-top-int");
  stack::state().top = mark;

  Cell* blockc = stack::reserve_cell();
  *blockc = Cell{T_NONE, 0, 0, 0};
  eval("[a b c]", blockc);
  Cell* base = stack::state().top;
  bool none3 = true;
  for (int32_t n : {0, -1, 4}) {
    Cell* p = actions::fast_pick_path_int(blockc, n, &w);
    none3 = none3 && cell::type(p) == T_NONE;
  }
  Cell* c = actions::fast_pick_path_int(blockc, 3, &w);
  check(none3 && cell::type(c) == T_WORD, "fast-pick-path-int: 0, -1, 4 give none, 3 gives c");
  stack::state().top = base;
  Cell at_tail = *blockc;
  at_tail.w1 = 3;
  Cell* nx = actions::fast_series_nav(&at_tail, 5, &w);
  Cell* bk = actions::fast_series_nav(blockc, 6, &w);
  Cell* len = actions::fast_series_nav(&at_tail, 1, &w);
  check(nx->w1 == 3 && bk->w1 == 0 && cell::get_int(len) == 0,
        "fast-series-nav: next at the tail and back at the head stay; length? at the tail");
  stack::state().top = base;
  Cell text = Cell{T_NONE, 0, 0, 0};
  eval("\"ab\"", &text);
  Cell* sl = actions::fast_series_nav(&text, 1, &w);
  check(cell::type(sl) == T_INTEGER && cell::get_int(sl) == 2, "fast-series-nav on a string: the action");
  stack::state().top = mark;
}

void checks() {
  if (bad_selector) {
    Cell plus = word::intern_global("+"), one{T_INTEGER, 0, 1, 0};
    actions::fast_math_cells(3, &plus, &one, &one);
    rt::exit_process(0);
  }
  library_code();
  toolkit();
  check(!interp::switches.trace_enabled && !trace::active, "tracing off afterwards");
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "bad-selector") == 0) {
    bad_selector = true;
    argc = 1;
  }
  boot::start(argc, argv, &checks);
}
