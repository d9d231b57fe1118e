// Probe: loop-support and exit operations that compiled code calls and Kel text cannot
// reach, run in the real runtime: switch's lookup in both modes, the loop count conversion,
// the foreach and remove-each steps, and the landing of a compiled try.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/block.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/evaluator/natives_control.h"
#include "runtime/evaluator/natives_exit.h"
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

// Loads text holding one value; that value is pushed on the stack.
Cell* load(const char* text) {
  Cell* block = stack::reserve_cell();
  *block = Cell{T_NONE, 0, 0, 0};
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
  *block = *block::cell_at_index(block, int32_t(block->w1));
  return block;
}

int32_t int_of(const Cell* c) { return cell::type(c) == T_INTEGER ? cell::get_int(c) : -1000; }

}  // namespace

// The object unit's field access, when it is linked in (error values are objects then).
namespace kel::object {
Cell* values_start(const Cell* object) __attribute__((weak));
}

namespace {

// category x 100 + catalogue position of an error value: the provisional error cell holds
// it in w2; an error object's first field (code) holds it less 2.
int32_t error_code(const Cell* e) {
  if (cell::type(e) != T_ERROR) return -2;
  if (e->w1 == 0 || !object::values_start) return int32_t(e->w2);
  return cell::get_int(object::values_start(e)) + 2;
}

// Runs body under a try frame; the error id's code (category x 100 + id) or -1.
template <class Body>
int32_t raised(Body&& body) {
  Cell* mark = stack::state().top;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(unwind_code::ERROR, body);
  int32_t id = -1;
  if (code) {
    stack::take_pending_code();
    Cell* e = stack::last_pushed();
    id = error_code(e);
  } else {
    stack::pop_frame();
  }
  stack::state().top = mark;
  return id;
}

constexpr int32_t code_of(ErrorPos p) { return int32_t(p.category * 100 + p.id); }

// switch's lookup on a fresh frame: value, then the cases.
Cell select(const char* value_text, const char* cases_text, bool push, bool block, bool* matched) {
  Cell* mark = stack::state().top;
  Cell* v = load(value_text);
  Cell* c = load(cases_text);
  Cell value = *v;
  Cell cases = *c;
  stack::push_native_frame(&interp::words.body);
  stack::push_copy(&value);
  stack::push_copy(&cases);
  Cell r = *natives::switch_lookup(push, block, matched);
  stack::pop_frame_drop_values();
  stack::state().top = mark;
  return r;
}

void switch_select_modes() {
  bool m = false;
  Cell r = select("2", "[1 10 2 20]", false, false, &m);
  check(m && int_of(&r) == 20, "compiled mode: the cell after the match");
  r = select("10", "[1 10 2 20]", false, false, &m);
  check(!m && cell::type(&r) == T_NONE, "compiled mode: odd offsets are not searched");
  r = select("3", "[1 10 3]", false, false, &m);
  check(m && int_of(&r) == 3, "compiled mode: a last case gives itself");
  r = select("2", "[1 [a] 2 3 [b]]", true, true, &m);
  check(m && cell::type(&r) == T_BLOCK, "native mode: the first block after the match");
  r = select("3", "[1 [a] 3]", true, true, &m);
  check(m && cell::type(&r) == T_NONE, "native mode: a match without a block is none");
  r = select("[1]", "[[1] [a]]", true, true, &m);
  check(!m && cell::type(&r) == T_NONE, "a block value matches nothing");
}

void count_conversion() {
  struct Row {
    double d;
    int32_t want;  // -1000: out-of-range
  } rows[] = {{2.9, 2}, {-0.5, 0}, {-3.9, -3}, {2147483647.0, 2147483647},
              {2147483647.5, -1000}, {-2147483648.5, -1000}, {1e10, -1000}, {0.0 / 0.0, -1000}};
  for (const Row& row : rows) {
    Cell c{T_FLOAT, 0, 0, 0};
    cell::put_double(&c, row.d);
    Cell* at = stack::push_copy(&c);
    int32_t id = raised([&] { natives::count_to_integer(at); });
    bool ok = row.want == -1000 ? id == code_of(err::script::out_of_range)
                                : id == -1 && int_of(at) == row.want;
    check(ok, "loop count conversion", std::to_string(row.d));
    stack::drop_cells(1);
  }
}

void steps() {
  Cell* mark = stack::state().top;
  Cell* series = load("[1 2 3]");
  Cell* words = load("[a b]");
  check(!natives::foreach_step_q(series, words, 0), "foreach step of 0 words: false");
  check(natives::foreach_step_q(series, words, 2) && series->w1 == 2, "foreach step moves by n");
  check(natives::foreach_step_q(series, words, 2) && series->w1 == 4, "past the tail: none");
  check(!natives::foreach_step_q(series, words, 2), "no value left: false");
  check(!natives::series_has_more_q(series), "series-has-more? at the tail");
  // remove-each: a truthy body value removes the values just visited.
  Cell* data = load("[1 2 3 4]");
  Cell* copy = stack::push_copy(data);
  copy->w1 = 2;
  Cell yes{T_LOGIC, 1, 0, 0};
  natives::remove_each_apply(data, copy, &yes, 2);
  check(block::count_from_head(data) == 2 && copy->w1 == 0 &&
            int_of(block::cell_at_index(data, 0)) == 3,
        "remove-each-apply removes and moves back");
  Cell no{T_NONE, 0, 0, 0};
  copy->w1 = 1;
  natives::remove_each_apply(data, copy, &no, 1);
  check(block::count_from_head(data) == 2 && copy->w1 == 1, "a falsy body value keeps them");
  stack::state().top = mark;
}

void word_operations() {
  Cell* mark = stack::state().top;
  Cell* word = load("probe-loop-word");
  Cell* series = load("[1 2 3]");
  natives::forall_set_word(word, series);
  check(!natives::forall_at_end_q(word, false), "forall-at-end? at the head: false");
  check(!natives::forall_at_end_q(word, true) && !natives::forall_at_end_q(word, true),
        "forall-at-end? advances");
  check(natives::forall_at_end_q(word, true), "forall-at-end? past the last value");
  Cell* saved = stack::push_copy(series);
  natives::forall_sync_index(word, saved);
  check(saved->w1 == 3, "forall-sync-index copies the word's index");
  Cell* counter = stack::reserve_cell();
  natives::foreach_word_count(load("[a b c]"), counter);
  check(int_of(counter) == 3, "foreach-word-count");
  Cell one{T_INTEGER, 0, 1, 0};
  natives::forall_set_word(word, &one);
  natives::repeat_increment(word);
  natives::repeat_increment(word);
  stack::state().top = mark;
  Cell* again = load("probe-loop-word");
  check(int_of(word::value_slot(again)) == 3, "repeat-increment adds 1 through the setter");
  stack::state().top = mark;
}

void compiled_try_landing() {
  Cell* mark = stack::state().top;
  stack::push_native_frame(&interp::words.body);
  Cell* e = stack::reserve_cell();
  error::new_from_ids(e, err::math::zero_divide.category, err::math::zero_divide.id, nullptr,
                      nullptr, nullptr);
  natives::try_keep_or_rethrow(false);
  Cell* base = stack::state().base;
  check(error_code(base) == code_of(err::math::zero_divide),
        "a caught error becomes the result");
  stack::pop_frame_drop_values();
  stack::state().top = mark;
  int32_t id = raised([&] {
    stack::push_native_frame(&interp::words.body);
    Cell* t = stack::reserve_cell();
    error::new_from_ids(t, err::throw_::throw_.category, err::throw_::throw_.id, nullptr,
                        nullptr, nullptr);
    natives::try_keep_or_rethrow(false);
  });
  check(id == code_of(err::throw_::throw_), "an uncaught throw is passed on");
  check(stack::state().pending_code == 0, "no code left pending");
}

void checks() {
  Cell* mark = stack::state().top;
  switch_select_modes();
  stack::state().top = mark;
  count_conversion();
  stack::state().top = mark;
  steps();
  stack::state().top = mark;
  word_operations();
  stack::state().top = mark;
  compiled_try_landing();
  std::fflush(stdout);
  rt::exit_process(failures ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) { boot::start(argc, argv, &checks); }
