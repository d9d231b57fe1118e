// The natives table and calling convention, and the natives of the evaluator core: either,
// loop, the function makers and the comparison natives.
#include "runtime/evaluator/natives.h"

#include <array>
#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/natives_codec.h"
#include "runtime/evaluator/natives_compare.h"
#include "runtime/evaluator/natives_control.h"
#include "runtime/evaluator/natives_encoding.h"
#include "runtime/evaluator/natives_eval.h"
#include "runtime/evaluator/natives_sets.h"
#include "runtime/evaluator/natives_system.h"
#include "runtime/evaluator/natives_exit.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/natives_math.h"
#include "runtime/gc.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::natives {


namespace {

Cell g_print_buffer{T_NONE, 0, 0, 0};

void mark_print_buffer() { gc::mark_cells(&g_print_buffer, &g_print_buffer + 1); }

inline Cell* arg(int i) { return stack::state().base + i; }

void set_logic(bool v) {
  Cell c{T_LOGIC, v ? 1u : 0u, 0, 0};
  stack::set_only_result(&c);
}

void compare_native(int32_t op) { set_logic(actions::compare(arg(0), arg(1), op)); }

// A block argument whose index lies past its tail is moved back to its tail.
void clamp_block(Cell* b) {
  uint32_t n = blk::count(b->w2);
  if (b->w1 > n) b->w1 = n;
}

void make_function(Cell* spec, Cell* body) {
  clamp_block(spec);
  clamp_block(body);
  uint32_t flags = function::check_spec(spec);
  function::build(spec, body, 0, 0, 0, flags);
  Cell r = *stack::last_pushed();
  stack::set_only_result(&r);
}

}  // namespace

namespace {

// The 107 entries in id order.
constexpr std::array<NativeFn, NATIVE_COUNT> entries() {
  std::array<NativeFn, NATIVE_COUNT> e{};
  e[3 - 1] = &either;
  e[8 - 1] = &loop;
  e[14 - 1] = &func;
  e[15 - 1] = &function;
  e[16 - 1] = &does;
  e[17 - 1] = &has;
  e[23 - 1] = &print;
  e[24 - 1] = &prin;
  e[25 - 1] = &equal_q;
  e[26 - 1] = &not_equal_q;
  e[27 - 1] = &strict_equal_q;
  e[28 - 1] = &lesser_q;
  e[29 - 1] = &greater_q;
  e[30 - 1] = &lesser_or_equal_q;
  e[31 - 1] = &greater_or_equal_q;
  install_control(e.data());
  install_exit(e.data());
  install_compare(e.data());
  install_eval(e.data());
  install_parse(e.data());
  install_encoding(e.data());
  install_system(e.data());
  install_sets(e.data());
  install_math(e.data());
  install_codec(e.data());
  return e;
}

constexpr std::array<NativeFn, CAPACITY> filled_table() {
  std::array<NativeFn, CAPACITY> t{};
  auto e = entries();
  for (int32_t i = 0; i < NATIVE_COUNT; ++i) t[size_t(i)] = e[size_t(i)];
  return t;
}

}  // namespace

// Filled at compile time as start-up would fill it, so value makers can ask it at any time;
// build_table runs the start-up steps over it again.
std::array<NativeFn, CAPACITY> table = filled_table();
int32_t next_id = NATIVE_COUNT + 1;

void append_entries(int32_t count, const NativeFn* entries) {
  if (count < 1) return;
  for (int32_t i = 0; i < count && next_id <= CAPACITY; ++i) table[next_id++ - 1] = entries[i];
}

void build_table() {
  constexpr auto list = entries();
  // Every native has its entry: a missing one would be called through a null address.
  for (NativeFn f : list)
    if (!f) rt::fatal_error(101, 0);
  for (auto& e : table) e = nullptr;
  next_id = 1;
  append_entries(NATIVE_COUNT, list.data());
  // The print buffer: 32 cells, reused by print and prin.
  g_print_buffer = Cell{T_NONE, 0, 0, 0};
  register_roots();
  blk::init(&g_print_buffer, 32);
}

void register_roots() {
  gc::remove_root(&mark_print_buffer);
  gc::add_root(&mark_print_buffer);
}

bool has_code_q(int32_t id) { return id >= 1 && id < next_id && table[id - 1]; }

bool entry_filled_q(int32_t id) { return has_code_q(id); }

bool action_has_code_q(int32_t id) {
  return id >= 1 && id <= 62 && actions::entry_table[id - 1] != nullptr;
}

}  // namespace kel::natives

namespace kel::actions {
bool entry_filled_q(int32_t id) { return natives::action_has_code_q(id); }
}  // namespace kel::actions

namespace kel::natives {

void call_builtin_by_number(int32_t kind, int32_t id, const int32_t* refinements) {
  if (kind == 0) {
    if (!has_code_q(id)) error::raise(err::internal::not_done);
    table[id - 1](1, refinements);
  } else {
    if (!action_has_code_q(id)) error::raise(err::internal::not_done);
    actions::entry_table[id - 1](refinements);
  }
}

Cell* print_buffer() { return &g_print_buffer; }

bool truthy_q(const Cell* v) {
  uint32_t t = cell::type(v);
  return !(t == T_NONE || (t == T_LOGIC && v->w1 == 0));
}

bool truthy_strict_q(const Cell* v) {
  if (cell::type(v) == T_UNSET) error::raise(err::script::no_return);
  return truthy_q(v);
}

void either(int32_t check, const int32_t*) {
  Cell chosen = truthy_strict_q(arg(0)) ? *arg(1) : *arg(2);
  if (check == 0) stack::mark_branch_frame();
  interp::eval_branch(&chosen);
  stack::state().top = arg(1);
}

void loop(int32_t check, const int32_t*) {
  Cell* count_cell = arg(0);
  loop_count_to_integer();
  int32_t n = cell::get_int(count_cell);
  if (n < 1) {
    Cell none{T_NONE, 0, 0, 0};
    stack::set_only_result(&none);
    return;
  }
  Cell* body = arg(1);  // a frame cell: kept current by the collector
  // As the loops of natives_control open theirs (open_loop): flagged when the interpreter
  // called, so exits in the body may stop it through fast_exit.
  uint32_t branch = check == 0 ? stack::fflag::BRANCH : 0;
  if (branch) stack::mark_branch_frame();  // the native's own record (check 0: on top)
  stack::detail::push_record(&interp::words.body, (stack::kind::LOOP << stack::fflag::KIND_SHIFT) |
                                                      stack::fflag::INTERPRETED | branch);
  cell::set_unset(stack::state().base);
  // The loop record stays on top between body runs: its base is read once.
  Cell* frame = stack::state().base;
  for (int32_t i = 0; i < n; ++i) {
    stack::state().top = frame;  // the frame emptied (stack::clear_frame, without its call)
    uint32_t code = stack::land(unwind_code::BREAK, [&] { interp::eval_branch(body); });
    if (code) {
      stack::take_pending_code();
      if (code == unwind_code::BREAK) break;
      if (code != unwind_code::CONTINUE) throw_code(code);
    } else if (interp::fast_exit) [[unlikely]] {
      code = loop_take_fast_exit();
      if (code != unwind_code::CONTINUE) break;  // break, or an exit passing on
    }
  }
  stack::pop_frame_to_result();
  stack::state().top = arg(1);
}

void func(int32_t, const int32_t*) { make_function(arg(0), arg(1)); }

void function(int32_t, const int32_t* refs) {
  (void)refs;
  Cell* spec = arg(0);
  clamp_block(spec);
  clamp_block(arg(1));
  Cell* copy = stack::reserve_cell();
  *copy = Cell{T_NONE, 0, 0, 0};
  blk::copy(copy, spec, false);
  function::collect_locals(copy, arg(1));
  Cell body = *arg(1);
  Cell* b = stack::push_copy(&body);
  make_function(copy, b);
}

void does(int32_t, const int32_t*) {
  Cell* spec = stack::reserve_cell();
  *spec = Cell{T_NONE, 0, 0, 0};
  blk::init(spec, 1);
  make_function(spec, arg(0));
}

void has(int32_t, const int32_t*) {
  Cell* vars = arg(0);
  clamp_block(vars);
  Cell* spec = stack::reserve_cell();
  *spec = Cell{T_NONE, 0, 0, 0};
  blk::init(spec, blk::count(vars->w2) - vars->w1 + 1);
  *runtime::block_append_cell(spec) = refinement::add_global("local");
  for (uint32_t i = arg(0)->w1; i < blk::count(arg(0)->w2); ++i) {
    Cell* dst = runtime::block_append_cell(spec);
    *dst = blk::cells(arg(0)->w2)[i];
  }
  make_function(spec, arg(1));
}

void equal_q(int32_t, const int32_t*) { compare_native(0); }
void not_equal_q(int32_t, const int32_t*) { compare_native(1); }
void strict_equal_q(int32_t, const int32_t*) { compare_native(2); }
void lesser_q(int32_t, const int32_t*) { compare_native(3); }
void greater_q(int32_t, const int32_t*) { compare_native(5); }
void lesser_or_equal_q(int32_t, const int32_t*) { compare_native(4); }
void greater_or_equal_q(int32_t, const int32_t*) { compare_native(6); }

}  // namespace kel::natives
