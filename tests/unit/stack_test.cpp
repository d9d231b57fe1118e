// Tests of the evaluation stacks, frame records, non-local exits, the stack and
// machine-stack overflow errors, and the argument checks and report of the error unit.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "tests/unit/memory_fixture.h"

using namespace kel;

namespace kel::error::detail {
std::string symbol_text(uint32_t symbol);
}

namespace {

constexpr uint32_t SYM_BODY = 1, SYM_ANON = 2, SYM_NOT_FOUND = 3;
constexpr uint32_t SYM_TRY = 10, SYM_LOOP = 11, SYM_BREAK = 12, SYM_F = 13, SYM_THROW = 14,
                   SYM_CATCH = 15, SYM_RETURN = 16, SYM_CONTINUE = 17;

Cell word(uint32_t symbol, uint32_t context = 0) { return Cell{T_WORD, context, symbol, 0xFFFFFFFF}; }
Cell integer(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
bool same(const Cell& a, const Cell& b) {
  return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

class StackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fresh_heap();  // automatic collection on; stress mode as the environment asks
    stack::init(SYM_BODY, SYM_ANON, SYM_NOT_FOUND);
  }
  void TearDown() override {
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
  }
  stack::State& s() { return stack::state(); }
  uint32_t top_index() { return stack::index_of(s().top); }
  uint32_t base_index() { return stack::index_of(s().base); }

  // A function context whose values live on the stack (two cells, kind 1).
  Node make_function_context() {
    Node n = memory::series_new_cells(2);
    Cell* c0 = runtime::series_append_cell_node(n);
    *c0 = Cell{T_CONTEXT | (1u << hdr::CONTEXT_KIND_SHIFT) | hdr::CONTEXT_ON_STACK, 0, 0, 0};
    Cell* c1 = runtime::series_append_cell_node(n);
    cell::set_unset(c1);
    return n;
  }
  uint32_t values_word(Node ctx) { return memory::head_cells(memory::node_buffer(ctx))->w2; }

  // Opens `try` the way the try native does: its own frame, then the try record.
  void open_try(bool all) {
    Cell w = word(SYM_TRY);
    stack::push_native_frame(&w);
    if (all) stack::push_try_all_frame(&w);
    else stack::push_try_frame(&w);
  }
  void push_native(uint32_t symbol) {
    Cell w = word(symbol);
    stack::push_native_frame(&w);
  }
};

// Runs f and answers the low-level code that left it (0 when none).
template <class F>
uint32_t code_of(F&& f) {
  try {
    f();
  } catch (const Unwind& u) {
    return u.code;
  }
  return 0;
}

// ---- Cells and frames ----

TEST_F(StackTest, InitLeavesBothStacksEmpty) {
  EXPECT_EQ(s().base, s().args_begin);
  EXPECT_EQ(s().top, s().args_begin);
  EXPECT_EQ(stack::top_frame(), nullptr);
  EXPECT_EQ(stack::last_pushed(), s().args_begin);
  EXPECT_EQ(s().args_end - s().args_begin, 20000);
  EXPECT_EQ(s().frames_end - s().frames_begin, 12000);
}

TEST_F(StackTest, CellOperations) {
  Cell a = integer(1), b = integer(2);
  stack::push_native_frame(nullptr);  // anon-named frame
  stack::push_copy(&a);
  stack::push_copy(&b);
  EXPECT_EQ(stack::last_pushed_type(), uint32_t(T_INTEGER));
  EXPECT_EQ(stack::last_pushed()->w2, 2u);
  Cell c = integer(9);
  stack::set_result(&c);
  EXPECT_EQ(s().base->w2, 9u);
  EXPECT_EQ(top_index(), 2u);
  stack::set_only_result(&a);
  EXPECT_EQ(top_index(), base_index() + 1);
  EXPECT_EQ(s().base->w2, 1u);
  EXPECT_EQ(stack::clear_frame(), s().base);
  EXPECT_EQ(s().top, s().base);
  stack::trim_to_result();
  EXPECT_EQ(top_index(), base_index() + 1);
  stack::drop_cells(100);  // never below the stack's begin
  EXPECT_EQ(s().top, s().args_begin);
}

TEST_F(StackTest, PushCopyOfTheCellAtTop) {
  Cell* c = stack::reserve_cell();
  *c = integer(5);
  stack::drop_cells(1);
  Cell* d = stack::push_copy(s().top);  // the source is the cell being reserved
  EXPECT_EQ(d->w2, 5u);
}

TEST_F(StackTest, FrameRecordLayout) {
  Cell w = word(70000, 0);  // a symbol id past 16 bits names the frame right
  Cell x = integer(1);
  stack::push_copy(&x);
  stack::push_interp_native_frame(&w);
  stack::Frame* f = stack::top_frame();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->symbol, 70000u);
  EXPECT_EQ(stack::frame_kind(f), stack::kind::NATIVE);
  EXPECT_TRUE(f->header & stack::fflag::INTERPRETED);
  EXPECT_EQ(f->caller_base, 0u);
  EXPECT_EQ(base_index(), 1u);
  EXPECT_EQ(stack::current_function_word().w2, 70000u);
}

TEST_F(StackTest, PushKindsAndFlags) {
  struct Row {
    void (*push)(const Cell*);
    uint32_t kind;
    bool interpreted;
  };
  const Row rows[] = {
      {stack::push_native_frame, stack::kind::NATIVE, false},
      {stack::push_try_frame, stack::kind::TRY, false},
      {stack::push_try_all_frame, stack::kind::TRY_ALL, false},
      {stack::push_catch_frame, stack::kind::CATCH, false},
      {stack::push_eval_frame, stack::kind::EVAL, true},
      {stack::push_loop_frame, stack::kind::LOOP, false},
      {stack::push_interp_native_frame, stack::kind::NATIVE, true},
      {stack::push_interp_function_frame, stack::kind::FUNCTION, true},
  };
  Cell w = word(SYM_F);
  for (const Row& r : rows) {
    r.push(&w);
    stack::Frame* f = stack::top_frame();
    EXPECT_EQ(stack::frame_kind(f), r.kind);
    EXPECT_EQ((f->header & stack::fflag::INTERPRETED) != 0, r.interpreted);
    EXPECT_EQ(f->header & stack::fflag::BODY, 0u);
    EXPECT_EQ(f->function_context, 0u);
  }
  EXPECT_EQ(stack::frame_count(), 8u);
  // interpreted-below?: from the top (interp function frame) down
  EXPECT_TRUE(stack::interpreted_below_q(nullptr, false));
  EXPECT_TRUE(stack::interpreted_below_q(stack::top_frame(), true));   // interp native below
  EXPECT_FALSE(stack::interpreted_below_q(s().frames_begin + 4, true));  // catch below eval
  EXPECT_FALSE(stack::interpreted_below_q(s().frames_begin + 4, false));
  // Body flags.
  stack::set_body_flag(true);
  EXPECT_TRUE(stack::top_frame()->header & stack::fflag::BODY);
  stack::set_body_flag(false);
  EXPECT_FALSE(stack::top_frame()->header & stack::fflag::BODY);
  stack::Frame* claimed = stack::claim_body_flag();
  ASSERT_EQ(claimed, stack::top_frame() - 1);
  EXPECT_EQ(stack::claim_body_flag(), nullptr);  // already has it
  stack::clear_body_flag(claimed);
  EXPECT_FALSE(claimed->header & stack::fflag::BODY);
}

TEST_F(StackTest, PopVariants) {
  // Each row: a caller frame holding two cells, a callee frame holding result + one cell.
  enum Op { POP, TO_RESULT, DISCARD, DROP_VALUES };
  struct Row {
    Op op;
    uint32_t top_after;     // index
    uint32_t caller_slot;   // w1 of the caller's result slot afterwards
  };
  const Row rows[] = {{POP, 4, 100}, {TO_RESULT, 4, 7}, {DISCARD, 1, 100}, {DROP_VALUES, 3, 100}};
  for (const Row& r : rows) {
    stack::reset();
    Cell first = integer(0);
    stack::push_copy(&first);  // index 0: outside any frame
    push_native(SYM_F);        // caller: base 1
    Cell v = integer(100);
    stack::push_copy(&v);
    stack::push_copy(&v);
    push_native(SYM_BREAK);    // callee: base 3
    Cell res = integer(7);
    stack::push_copy(&res);
    stack::push_copy(&res);
    switch (r.op) {
      case POP: stack::pop_frame(); break;
      case TO_RESULT: stack::pop_frame_to_result(); break;
      case DISCARD: stack::pop_frame_discard(); break;
      case DROP_VALUES: stack::pop_frame_drop_values(); break;
    }
    EXPECT_EQ(base_index(), 1u) << r.op;
    EXPECT_EQ(top_index(), r.top_after) << r.op;
    EXPECT_EQ(s().base->w2, r.caller_slot) << r.op;
    EXPECT_EQ(stack::frame_count(), 1u);
  }
}

TEST_F(StackTest, DropValuesOnTheLastRecordEmptiesTheStack) {
  Cell v = integer(1);
  stack::push_copy(&v);
  stack::push_copy(&v);
  push_native(SYM_F);
  stack::push_copy(&v);
  stack::pop_frame_drop_values();
  EXPECT_EQ(s().base, s().args_begin);
  EXPECT_EQ(s().top, s().args_begin);
  EXPECT_EQ(stack::frame_count(), 0u);
}

TEST_F(StackTest, FunctionContextValuesPointerSetAndRestored) {
  Node ctx = make_function_context();
  Cell f = word(SYM_F);
  // Outer call.
  stack::push_function_frame(&f, ctx);
  EXPECT_EQ(stack::top_frame()->saved_values, 0u);
  Cell arg = integer(1);
  stack::push_copy(&arg);
  uint32_t outer_base = base_index();
  stack::push_body_frame(&f, ctx);
  EXPECT_EQ(values_word(ctx), outer_base + 1);
  EXPECT_TRUE(stack::top_frame()->header & stack::fflag::BODY);
  // Recursive call from the body.
  stack::push_function_frame(&f, ctx);
  EXPECT_EQ(stack::top_frame()->saved_values, outer_base + 1);
  stack::push_copy(&arg);
  stack::push_body_frame(&f, ctx);
  EXPECT_NE(values_word(ctx), outer_base + 1);
  stack::pop_frame();
  stack::pop_function_frame();
  EXPECT_EQ(values_word(ctx), outer_base + 1);
  stack::pop_frame();
  stack::pop_function_frame_to_result();
  EXPECT_EQ(values_word(ctx), 0u);
  EXPECT_EQ(stack::frame_count(), 0u);
}

TEST_F(StackTest, UnwindToKindWithResult) {
  push_native(SYM_F);
  stack::push_loop_frame(nullptr);
  uint32_t loop_base = base_index();
  Cell v = integer(3);
  stack::push_copy(&v);
  push_native(SYM_BREAK);
  Cell r = integer(42);
  stack::push_copy(&r);
  stack::push_copy(&r);
  stack::unwind_to_kind_with_result(stack::kind::LOOP);
  EXPECT_EQ(stack::frame_kind(stack::top_frame()), stack::kind::LOOP);
  EXPECT_EQ(base_index(), loop_base);
  EXPECT_EQ(s().top, s().base);
  EXPECT_EQ(s().base->w2, 42u);
}

TEST_F(StackTest, UnwindToLoop) {
  for (bool cont : {false, true}) {
    stack::reset();
    push_native(SYM_F);
    uint32_t caller = base_index();
    Cell c = integer(0);
    stack::push_copy(&c);
    stack::push_loop_frame(nullptr);
    uint32_t loop_base = base_index();
    Cell v = integer(3);
    stack::push_copy(&v);
    push_native(SYM_BREAK);
    uint32_t before = base_index();
    stack::unwind_to_loop(cont);
    EXPECT_EQ(stack::frame_kind(stack::top_frame()), stack::kind::LOOP);
    EXPECT_EQ(base_index(), cont ? loop_base : caller);
    EXPECT_EQ(top_index(), before + 1);
  }
}

// ---- Non-local exits ----

TEST_F(StackTest, BreakWithAndWithoutValue) {
  for (bool with_value : {true, false}) {
    stack::reset();
    push_native(SYM_F);
    stack::push_loop_frame(nullptr);
    uint32_t loop_base = base_index();
    Cell junk = integer(1);
    stack::push_copy(&junk);
    push_native(SYM_F);  // a native inside the loop body
    push_native(SYM_BREAK);
    Cell v = integer(77);
    stack::push_copy(&v);
    uint32_t code = code_of([&] { stack::exit_loop(with_value, false); });
    EXPECT_EQ(code, unwind_code::BREAK);
    EXPECT_EQ(stack::frame_kind(stack::top_frame()), stack::kind::LOOP);
    EXPECT_EQ(base_index(), loop_base);
    EXPECT_EQ(s().top, s().base);
    if (with_value) EXPECT_TRUE(same(*s().base, v));
    else EXPECT_EQ(cell::type(s().base), uint32_t(T_UNSET));
  }
}

TEST_F(StackTest, ContinueKeepsTheLoopCurrent) {
  stack::push_loop_frame(nullptr);
  push_native(SYM_CONTINUE);
  EXPECT_EQ(code_of([] { stack::exit_loop(false, true); }), unwind_code::CONTINUE);
  EXPECT_EQ(stack::frame_kind(stack::top_frame()), stack::kind::LOOP);
}

TEST_F(StackTest, ReturnAndExitLandOnTheBody) {
  Node ctx = make_function_context();
  Cell f = word(SYM_F);
  for (bool with_value : {true, false}) {
    stack::reset();
    stack::push_function_frame(&f, ctx);
    stack::push_body_frame(&f, ctx);
    uint32_t body_base = base_index();
    stack::push_loop_frame(nullptr);
    push_native(SYM_RETURN);
    Cell v = integer(5);
    stack::push_copy(&v);
    uint32_t code = code_of([&] { stack::exit_function(with_value); });
    EXPECT_EQ(code, with_value ? unwind_code::RETURN : unwind_code::EXIT);
    EXPECT_EQ(stack::top_frame()->header & stack::fflag::BODY, stack::fflag::BODY);
    EXPECT_EQ(base_index(), body_base);
    EXPECT_EQ(s().top, s().base);
    if (with_value) EXPECT_EQ(s().base->w2, 5u);
    else EXPECT_EQ(cell::type(s().base), uint32_t(T_UNSET));
  }
  EXPECT_EQ(unwind_code::EXIT, 0x7FFFFFFBu);
}

TEST_F(StackTest, ThrowLandsOnCatchWithValueAndName) {
  push_native(SYM_CATCH);
  stack::push_catch_frame(nullptr);
  uint32_t catch_base = base_index();
  push_native(SYM_F);
  push_native(SYM_THROW);
  Cell v = integer(9);
  stack::push_copy(&v);
  EXPECT_EQ(code_of([] { stack::propagate_throw(unwind_code::THROW); }), unwind_code::THROW);
  EXPECT_EQ(stack::frame_kind(stack::top_frame()), stack::kind::CATCH);
  EXPECT_EQ(base_index(), catch_base);
  EXPECT_EQ(top_index(), catch_base + 2);
  EXPECT_EQ(s().base[0].w2, 9u);
  EXPECT_EQ(cell::type(&s().base[1]), uint32_t(T_NONE));
  stack::clear_throw_origin();
}

// loop > try/all > native: every exit becomes an error at the try/all, raised from the
// exiting native with the stack pointers as they were, and the function context between
// is restored by the unwinding.
TEST_F(StackTest, ExitsThroughTryAllBecomeErrors) {
  struct Row {
    int exit;  // 0 break, 1 continue, 2 return, 3 throw
    uint32_t symbol;
    ErrorPos error;
  };
  const Row rows[] = {{0, SYM_BREAK, err::throw_::break_},
                      {1, SYM_CONTINUE, err::throw_::continue_},
                      {2, SYM_RETURN, err::throw_::return_},
                      {3, SYM_THROW, err::throw_::throw_}};
  Node ctx = make_function_context();
  Cell f = word(SYM_F);
  for (const Row& r : rows) {
    stack::reset();
    stack::push_loop_frame(nullptr);
    open_try(true);
    uint32_t try_base = base_index();
    stack::push_function_frame(&f, ctx);
    Cell a = integer(1);
    stack::push_copy(&a);
    stack::push_interp_function_frame(&f);  // no context of its own
    push_native(r.symbol);
    Cell v = integer(33);
    stack::push_copy(&v);
    // What the raiser sees: the pointers before the exit was attempted.
    stack::Frame* frames_before = s().frames_top;
    uint32_t code = code_of([&] {
      switch (r.exit) {
        case 0: stack::exit_loop(false, false);
        case 1: stack::exit_loop(false, true);
        case 2: stack::exit_function(true);
        default: stack::propagate_throw(unwind_code::THROW);
      }
    });
    EXPECT_EQ(code, unwind_code::ERROR);
    (void)frames_before;
    error::Pending& p = error::pending();
    EXPECT_EQ(p.category, r.error.category);
    EXPECT_EQ(p.id, r.error.id);
    EXPECT_EQ(p.where.w2, r.symbol);                  // reported from the exiting native
    EXPECT_EQ(p.stack.w2, 6u);                        // frames top when raised
    EXPECT_EQ(stack::frame_count(), 2u);              // loop, try native
    EXPECT_EQ(base_index(), try_base);
    EXPECT_EQ(values_word(ctx), 0u);
    stack::take_caught_error();
    EXPECT_EQ(cell::type(s().base), uint32_t(T_ERROR));
    EXPECT_EQ(top_index(), try_base + 1);
    if (r.exit == 3) {
      EXPECT_EQ(p.args[0].w2, 33u);  // the thrown value
    }
    stack::clear_throw_origin();
  }
}

TEST_F(StackTest, ExitsWithNoTargetRaise) {
  // Nothing but the exiting native under a try: the same errors.
  open_try(false);
  push_native(SYM_BREAK);
  EXPECT_EQ(code_of([] { stack::exit_loop(false, false); }), unwind_code::ERROR);
  EXPECT_EQ(error::pending().id, err::throw_::break_.id);
  EXPECT_EQ(stack::frame_count(), 1u);
}

TEST_F(StackTest, ErrorUnwindsToTheNearestTryAndRestoresContexts) {
  Node ctx = make_function_context();
  Cell f = word(SYM_F);
  stack::push_loop_frame(nullptr);
  open_try(false);
  uint32_t try_base = base_index();
  stack::push_function_frame(&f, ctx);
  stack::push_body_frame(&f, ctx);
  EXPECT_NE(values_word(ctx), 0u);
  push_native(SYM_BREAK);
  Cell junk = integer(1);
  for (int i = 0; i < 10; ++i) stack::push_copy(&junk);
  uint32_t top_before = top_index();
  uint32_t code = code_of([] { error::raise(err::script::no_value); });
  EXPECT_EQ(code, unwind_code::ERROR);
  EXPECT_EQ(values_word(ctx), 0u);
  EXPECT_EQ(base_index(), try_base);
  EXPECT_EQ(top_index(), top_before + 1);  // the error pushed above the remembered top
  EXPECT_EQ(stack::last_pushed_type(), uint32_t(T_ERROR));
  stack::take_caught_error();
  EXPECT_EQ(top_index(), try_base + 1);
  EXPECT_EQ(cell::type(s().base), uint32_t(T_ERROR));
}

TEST_F(StackTest, LandingTakesItsCodesAndPassesOthers) {
  EXPECT_EQ(stack::land(unwind_code::BREAK, [] { throw_code(unwind_code::CONTINUE); }),
            unwind_code::CONTINUE);
  EXPECT_EQ(stack::take_pending_code(), unwind_code::CONTINUE);
  EXPECT_EQ(stack::take_pending_code(), 0u);
  EXPECT_EQ(code_of([] { stack::land(unwind_code::BREAK, [] { throw_code(unwind_code::ERROR); }); }),
            unwind_code::ERROR);
  EXPECT_EQ(stack::land(unwind_code::ERROR, [] {}), 0u);
}

// ---- Current function word ----

TEST_F(StackTest, CurrentFunctionWord) {
  Cell body = word(SYM_BODY), anon = word(SYM_ANON);
  stack::push_native_frame(&body);
  stack::push_eval_frame(&anon);
  stack::push_native_frame(&body);
  Cell w = stack::current_function_word();
  EXPECT_EQ(w.w2, SYM_NOT_FOUND);
  EXPECT_EQ(cell::type(&w), uint32_t(T_WORD));
  stack::reset();
  push_native(SYM_F);
  stack::push_native_frame(&body);
  EXPECT_EQ(stack::current_function_word().w2, SYM_F);
}

TEST_F(StackTest, ThrowOriginNamesWhereTheThrowStarted) {
  // catch (no name match) > f > throw: the origin is the throw's record, used once.
  push_native(SYM_CATCH);
  stack::push_catch_frame(nullptr);
  push_native(SYM_F);
  push_native(SYM_THROW);
  Cell v = integer(1);
  stack::push_copy(&v);
  code_of([] { stack::propagate_throw(unwind_code::THROW); });
  push_native(SYM_CONTINUE);
  EXPECT_EQ(stack::current_function_word().w2, SYM_THROW);
  // Used once: the next answer starts at the top again.
  EXPECT_EQ(stack::current_function_word().w2, SYM_CONTINUE);
}

// ---- Overflow ----

TEST_F(StackTest, ArgumentStackOverflow) {
  open_try(false);
  uint32_t try_base = base_index();
  for (uint32_t i = 1; i < stack::ARG_CAPACITY; ++i) stack::reserve_cell();  // 19,999 cells
  EXPECT_EQ(top_index(), stack::ARG_CAPACITY - 1);
  uint32_t code = code_of([] { stack::reserve_cell(); });  // the 20,000th
  EXPECT_EQ(code, unwind_code::ERROR);
  EXPECT_EQ(error::pending().category, err::internal::stack_overflow.category);
  EXPECT_EQ(error::pending().id, err::internal::stack_overflow.id);
  // 5 cells back, then the error pushed by the unwinding.
  EXPECT_EQ(top_index(), stack::ARG_CAPACITY - 1 - stack::OVERFLOW_BACKOFF + 1);
  EXPECT_EQ(stack::last_pushed_type(), uint32_t(T_ERROR));
  EXPECT_EQ(s().args_limit, s().args_end);  // the headroom is closed again
  stack::take_caught_error();
  EXPECT_EQ(top_index(), try_base + 1);
  // The stack works again.
  for (int i = 0; i < 100; ++i) stack::reserve_cell();
}

TEST_F(StackTest, OverflowWithAnEmptyFrameAtTheLimitUsesTheHeadroom) {
  open_try(false);
  for (uint32_t i = 1; i < stack::ARG_CAPACITY; ++i) stack::reserve_cell();
  push_native(SYM_F);  // base = top = the last cell: nothing to back off
  EXPECT_EQ(code_of([] { stack::reserve_cell(); }), unwind_code::ERROR);
  // The error copy went to the cell the limit keeps back.
  EXPECT_EQ(top_index(), stack::ARG_CAPACITY);
  EXPECT_EQ(stack::last_pushed_type(), uint32_t(T_ERROR));
  EXPECT_EQ(s().args_limit, s().args_end);
  stack::take_caught_error();
  EXPECT_EQ(top_index(), 1u);
}

TEST_F(StackTest, FrameStackOverflow) {
  open_try(false);  // 2 records
  Cell v = integer(1);
  for (uint32_t i = 2; i < stack::FRAME_CAPACITY; ++i) {
    push_native(SYM_F);
    stack::push_copy(&v);
  }
  EXPECT_EQ(stack::frame_count(), stack::FRAME_CAPACITY);
  uint32_t base_before = base_index();
  stack::Frame* top_before = s().frames_top;
  uint32_t code = code_of([&] { push_native(SYM_F); });  // the 12,001st
  EXPECT_EQ(code, unwind_code::ERROR);
  EXPECT_EQ(error::pending().id, err::internal::stack_overflow.id);
  EXPECT_EQ(error::pending().where.w2, SYM_F);
  EXPECT_EQ(stack::frame_count(), 1u);  // unwound to the try
  EXPECT_EQ(s().frames_limit, s().frames_end);
  // The argument top went back (not below the last frame's base) before unwinding.
  EXPECT_EQ(top_index(), base_before + 1);
  (void)top_before;
  stack::take_caught_error();
  push_native(SYM_F);  // works again
  EXPECT_EQ(stack::frame_count(), 2u);
}

// Frameless C++ recursion that only checks the machine stack, run on a thread of its own
// like the evaluation thread.
int g_depth = 0;
int deep(int n) {
  stack::check_machine_stack();
  volatile char pad[512];
  pad[0] = char(n);
  ++g_depth;
  // The machine-stack check ends the recursion; the count's end only keeps it finite.
  if (n == INT32_MAX) return pad[0];
  return deep(n + 1) + pad[0];
}

struct DeepResult {
  uint32_t code;
  uint32_t id;
  uintptr_t left;
};

void* deep_thread(void* out) {
  auto* r = static_cast<DeepResult*>(out);
  Cell w = word(SYM_TRY);
  stack::push_native_frame(&w);
  stack::push_try_frame(&w);
  r->left = stack::machine_stack_left();
  r->code = code_of([] { deep(0); });
  r->id = error::pending().id;
  return nullptr;
}

TEST_F(StackTest, MachineStackGuardRaisesStackOverflow) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 16u << 20);
  pthread_t t;
  DeepResult r{};
  ASSERT_EQ(pthread_create(&t, &attr, deep_thread, &r), 0);
  pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_GT(r.left, 14u << 20);
  EXPECT_EQ(r.code, unwind_code::ERROR);
  EXPECT_EQ(r.id, err::internal::stack_overflow.id);
  EXPECT_GT(g_depth, 1000);
}

// ---- Argument checks ----

// A typeset cell with the given datatypes.
Cell typeset_of(std::initializer_list<uint32_t> types) {
  Cell c{T_TYPESET, 0, 0, 0};
  auto* bytes = reinterpret_cast<uint8_t*>(&c.w1);
  for (uint32_t t : types) bytes[t / 8] |= uint8_t(0x80u >> (t % 8));
  return c;
}

TEST_F(StackTest, VerifyArgType) {
  Cell ts = typeset_of({T_INTEGER});
  Cell i = integer(4);
  EXPECT_EQ(runtime::verify_arg_type(&ts, 1, &i), &i);
  open_try(false);
  push_native(SYM_F);
  Cell blk{T_BLOCK, 0, 0, 0};
  EXPECT_EQ(code_of([&] { runtime::verify_arg_type(&ts, 1, &blk); }), unwind_code::ERROR);
  error::Pending& p = error::pending();
  EXPECT_EQ(p.category, err::script::expect_arg.category);
  EXPECT_EQ(p.id, err::script::expect_arg.id);
  EXPECT_EQ(cell::type(&p.args[0]), uint32_t(T_WORD));
  EXPECT_EQ(p.args[0].w2, SYM_F);
  EXPECT_EQ(cell::type(&p.args[1]), uint32_t(T_DATATYPE));
  EXPECT_EQ(p.args[1].w1, uint32_t(T_BLOCK));
  EXPECT_EQ(cell::type(&p.args[2]), uint32_t(T_NONE));
}

TEST_F(StackTest, VerifyFrameRefinementAndSet) {
  Cell ts = typeset_of({T_INTEGER, T_STRING});
  open_try(false);
  push_native(SYM_F);
  Cell blk{T_BLOCK, 0, 0, 0}, str{T_STRING, 0, 0, 0};
  stack::push_copy(&str);
  stack::push_copy(&blk);
  runtime::verify_frame_arg_type(-1, &ts, 2);  // absent refinement: no check
  runtime::verify_frame_arg_type(0, &ts, 1);
  EXPECT_EQ(code_of([&] { runtime::verify_frame_arg_type(1, &ts, 2); }), unwind_code::ERROR);
  open_try(false);
  push_native(SYM_F);
  Cell unused{T_REFINEMENT, 0, 0, 0}, used{T_REFINEMENT, 1, 0, 0};
  EXPECT_EQ(runtime::verify_refinement_arg_type(&unused, &ts, 3, &blk), &blk);
  EXPECT_EQ(code_of([&] { runtime::verify_refinement_arg_type(&used, &ts, 3, &blk); }),
            unwind_code::ERROR);
  open_try(false);
  push_native(SYM_F);
  Cell u{T_UNSET, 0, 0, 0};
  EXPECT_EQ(runtime::verify_arg_set(1, &blk), &blk);
  EXPECT_EQ(code_of([&] { runtime::verify_arg_set(1, &u); }), unwind_code::ERROR);
  EXPECT_EQ(error::pending().args[1].w1, uint32_t(T_UNSET));
}

TEST_F(StackTest, BadMakeArg) {
  open_try(false);
  Cell type{T_DATATYPE, T_BLOCK, 0, 0}, spec = integer(3);
  EXPECT_EQ(code_of([&] { error::raise_bad_make_arg(&type, &spec); }), unwind_code::ERROR);
  EXPECT_EQ(error::pending().id, err::script::bad_make_arg.id);
  EXPECT_TRUE(same(error::pending().args[0], type));
  EXPECT_TRUE(same(error::pending().args[1], spec));
}

// ---- Report ----

TEST_F(StackTest, ReportTitleMessageAndWhere) {
  struct Row {
    ErrorPos e;
    std::string expected;
  };
  Cell n = integer(12);
  Cell dt{T_DATATYPE, T_BLOCK, 0, 0};
  const Row rows[] = {
      {err::throw_::break_, "*** Throw Error: no loop to break\n*** Where: ???"},
      {err::internal::stack_overflow, "*** Internal Error: stack overflow\n*** Where: ???"},
      {err::script::out_of_range, "*** Script Error: value out of range: 12\n*** Where: ???"},
      {err::script::bad_make_arg,
       "*** Script Error: cannot MAKE 12 from: block!\n*** Where: ???"},
  };
  for (const Row& r : rows) {
    Cell e;
    error::new_from_ids(&e, r.e.category, r.e.id, &n, &dt, nullptr);
    EXPECT_EQ(error::form_report(&e), r.expected);
  }
  Cell e;
  error::new_from_ids(&e, err::throw_::break_.category, err::throw_::break_.id, nullptr, nullptr,
                      nullptr);
  Cell w = word(SYM_F);
  error::fill_where(&e, &w);
  Cell w2 = word(SYM_THROW);
  error::fill_where(&e, &w2);  // only the first fills it
  EXPECT_EQ(error::pending().where.w2, SYM_F);
}

TEST_F(StackTest, PrintErrorValueLeavesTheStackAsItWas) {
  push_native(SYM_F);
  Cell v = integer(1);
  stack::push_copy(&v);
  uint32_t top = top_index(), base = base_index();
  uint32_t frames = stack::frame_count();
  // Output goes to stdout; the stack is what matters here.
  runtime::print_error_value(err::script::out_of_range.category, err::script::out_of_range.id,
                             &v);
  EXPECT_EQ(top_index(), top);
  EXPECT_EQ(base_index(), base);
  EXPECT_EQ(stack::frame_count(), frames);
}

// ---- Call words for reports and tools ----

TEST_F(StackTest, CallWordsAndTrace) {
  Cell body = word(SYM_BODY);
  push_native(SYM_F);                 // 0, caller base 0
  stack::push_native_frame(&body);    // 1: not named
  Cell v = integer(1);
  stack::push_copy(&v);
  push_native(SYM_LOOP);              // 2, caller base 0
  stack::push_copy(&v);
  push_native(SYM_BREAK);             // 3, caller base 1
  Node n = memory::series_new_cells(0);
  Cell* blk = stack::push_copy(&v);
  cell::set_block(blk, n);
  stack::collect_call_words(0, blk, s().frames_begin + 3);
  SeriesBuffer* b = memory::node_buffer(blk->w2);
  ASSERT_EQ(memory::units(b), 2u);
  EXPECT_EQ(memory::head_cells(b)[0].w2, SYM_F);
  EXPECT_EQ(memory::head_cells(b)[1].w2, SYM_LOOP);
  // Level 1 keeps only words whose value is a function!: none are known here.
  stack::collect_call_words(1, blk, nullptr);
  EXPECT_EQ(memory::units(memory::node_buffer(blk->w2)), 2u);

  Cell* trace = stack::push_copy(&v);
  cell::set_block(trace, memory::series_new_cells(0));
  stack::collect_trace(trace);  // top down to the second record: BREAK, LOOP
  b = memory::node_buffer(trace->w2);
  ASSERT_EQ(memory::units(b), 4u);
  Cell* c = memory::head_cells(b);
  EXPECT_EQ(c[0].w2, SYM_BREAK);
  EXPECT_EQ(c[1].w2, 1u);
  EXPECT_EQ(c[2].w2, SYM_LOOP);
  EXPECT_EQ(c[3].w2, 0u);

  std::string out;
  Cell mark = integer(3);  // as record_error_stack stores it
  int32_t left = stack::form_call_words(0, out, &mark, 100);
  std::string expect = error::detail::symbol_text(SYM_F) + " " +
                       error::detail::symbol_text(SYM_LOOP) + " ";
  EXPECT_EQ(out, expect);
  EXPECT_EQ(left, 100 - int32_t(expect.size()));
  out.clear();
  EXPECT_LT(stack::form_call_words(0, out, &mark, 2), 0);
  EXPECT_EQ(out.size(), 2u);
}

// ---- Collector roots ----

TEST_F(StackTest, StackCellsAndFrameContextsAreRoots) {
  Node ctx = make_function_context();
  Cell f = word(SYM_F);
  stack::push_function_frame(&f, ctx);
  Node blk = memory::series_new_cells(4);
  Cell b;
  cell::set_block(&b, blk);
  Cell* on_stack = stack::push_copy(&b);
  runtime::series_append_cell_node(on_stack->w2);
  gc::collect();
  gc::collect();
  // Both survive (nodes may have moved: read them back through the stack).
  Cell* again = s().top - 1;
  EXPECT_FALSE(memory::node_free_q(again->w2));
  EXPECT_EQ(memory::units(memory::node_buffer(again->w2)), 1u);
  EXPECT_FALSE(memory::node_free_q(stack::top_frame()->function_context));
}

TEST_F(StackTest, RootsSurviveNodeRelocation) {
  uint32_t saved = gc::stress_period();
  gc::set_stress(1);  // every allocation collects, moves buffers and relocates nodes
  // A series-held context whose values node is saved in the record.
  Node ctx = memory::series_new_cells(2);
  gc::Root hold_ctx(&ctx);
  const Node first_ctx = ctx;
  Node values = memory::series_new_cells(1);
  gc::Root hold_values(&values);
  Cell* c0 = runtime::series_append_cell_node(ctx);
  *c0 = Cell{T_CONTEXT | (2u << hdr::CONTEXT_KIND_SHIFT), 0, values, 0};
  cell::set_unset(runtime::series_append_cell_node(ctx));
  Cell f{T_WORD, ctx, SYM_F, 0};  // named by a word of that context
  gc::Root hold_f(&f);
  stack::push_function_frame(&f, ctx);
  Node stack_ctx = make_function_context();
  stack::push_function_frame(&f, stack_ctx);
  Cell b;
  cell::set_block(&b, memory::series_new_cells(1));
  stack::push_copy(&b);
  for (int i = 0; i < 50; ++i) runtime::series_append_cell_node((s().top - 1)->w2);
  memory::series_new_cells(8);
  EXPECT_NE(ctx, first_ctx);  // the context's node was relocated meanwhile
  stack::Frame* outer = s().frames_begin;
  stack::Frame* inner = outer + 1;
  EXPECT_TRUE(test::alive(outer->word_context));
  EXPECT_EQ(outer->word_context, outer->function_context);
  EXPECT_TRUE(test::alive(outer->saved_values));
  EXPECT_EQ(memory::head_cells(memory::node_buffer(outer->function_context))->w2, outer->saved_values);
  EXPECT_TRUE(test::alive(inner->function_context));
  EXPECT_EQ(memory::units(memory::node_buffer((s().top - 1)->w2)), 50u);
  stack::pop_function_frame();
  stack::pop_function_frame();
  gc::set_stress(saved);
}

// ---- A process with no frame ----

std::string self_dir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, size_t(n));
  return p.substr(0, p.rfind('/'));
}

TEST(StackProbe, ErrorWithNoFramePrintsAndExits254) {
  std::string cmd = self_dir() + "/probe-stack_noframe";
  if (access(cmd.c_str(), X_OK) != 0) GTEST_SKIP() << "probe not built";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {0};
  ASSERT_NE(fgets(line, sizeof line, p), nullptr);
  int status = pclose(p);
  EXPECT_EQ(std::string(line), "*** Internal Error: stack overflow\n");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 254);
}

}  // namespace
