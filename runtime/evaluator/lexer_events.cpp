// The lexer's Kel callbacks: a function! called with [event input type line token] under a
// frame named `<lexer-callback>`; a moved input index moves the scan.
#include "runtime/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kel::interp {

namespace {

Cell event_word(uint32_t bit) {
  const char* name = "error";
  switch (bit) {
    case lexer::ev::PRESCAN: name = "prescan"; break;
    case lexer::ev::SCAN: name = "scan"; break;
    case lexer::ev::LOAD: name = "load"; break;
    case lexer::ev::OPEN: name = "open"; break;
    case lexer::ev::CLOSE: name = "close"; break;
    default: break;
  }
  return word::intern_global(name);
}

int32_t extra_locals(const Cell* callback) {
  if (cell::type(callback) != T_FUNCTION) return 0;
  return function::count_locals(callback->w2, 0, false);
}

bool call_kel(lexer::State* s, lexer::EventArgs* a) {
  Cell* callback = stack::push_copy(&s->callback);
  if (cell::type(callback) != T_FUNCTION) {
    if (cell::type(callback) == T_ROUTINE) error::raise(err::internal::not_done);
    stack::state().top = callback;
    return true;
  }
  Cell name = word::intern_global("<lexer-callback>");
  stack::push_function_frame(&name, callback->w1);
  stack::set_interpreted_flag();
  Cell* base = stack::state().base;
  Cell ev = event_word(a->event);
  stack::push_copy(&ev);
  Cell input = s->source;
  if (cell::type(&input) != T_NONE) input.w1 = uint32_t(a->input_index);
  stack::push_copy(&input);
  stack::push_copy(&a->type_value);
  *stack::reserve_cell() = Cell{T_INTEGER, 0, uint32_t(a->line), 0};
  if (a->value) stack::push_copy(a->value);
  else *stack::reserve_cell() = Cell{T_PAIR, 0, uint32_t(a->start), uint32_t(a->end)};
  function::push_defaults(extra_locals(callback));
  call_function_body(callback, context::global, &name, 1);
  bool truth = natives::truthy_q(base);
  // Only a series input can be moved (the source may be none for raw bytes).
  if (cell::type(&input) != T_NONE && cell::type(base + 1) == cell::type(&input) &&
      base[1].w1 != uint32_t(a->input_index))
    a->input_index = int32_t(base[1].w1);
  stack::pop_frame();
  stack::state().top = callback;  // the kept callback copy and the result go
  return truth;
}

}  // namespace

// The value at slot (from 0) of system/lexer/exit-states: the datatype or word an event
// names for a token kind that is no datatype of its own.
bool exit_state_word(int32_t slot, Cell* out) {
  Cell states;
  if (!system::find_field("lexer", "exit-states", &states) || cell::type(&states) != T_BLOCK)
    return false;
  if (slot < 0 || states.w1 + uint32_t(slot) >= blk::count(states.w2)) return false;
  *out = blk::cells(states.w2)[states.w1 + uint32_t(slot)];
  return true;
}

void connect_lexer() {
  lexer::Connections& c = lexer::connections();
  c.exit_state_word = &exit_state_word;
  c.call_kel = &call_kel;
  c.kel_mask = &lexer::event_mask_of;
  c.kel_extra_locals = &extra_locals;
}

}  // namespace kel::interp
