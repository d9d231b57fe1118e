// The exit natives (break, continue, exit, return, throw) and the catchers (catch, try),
// with the landing compiled code uses for its own try.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void break_(int32_t check, const int32_t* refs);
void continue_(int32_t check, const int32_t* refs);
void exit_(int32_t check, const int32_t* refs);
void return_(int32_t check, const int32_t* refs);
void throw_(int32_t check, const int32_t* refs);
void catch_(int32_t check, const int32_t* refs);
void try_(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1); runs at
// compile time for the table's static fill.
constexpr void install_exit(NativeFn* entries) {
  entries[70 - 1] = &try_;
  entries[77 - 1] = &break_;
  entries[78 - 1] = &continue_;
  entries[79 - 1] = &exit_;
  entries[80 - 1] = &return_;
  entries[81 - 1] = &throw_;
  entries[82 - 1] = &catch_;
}

// The exit whose cheap path set interp::fast_exit: unwind_code::BREAK or CONTINUE, 0 for
// return and exit (the loop that takes a break or continue puts it back to 0). The
// evaluations between the exit and its target stop after their current step, each native
// among them returns at once with the value as its result.
extern uint32_t fast_exit_code;
// What a loop does when its body run stopped on interp::fast_exit: break and continue are its
// own (the flag is cleared, the value in the loop frame's result slot as the exception's
// landing leaves it) and their code is returned; return and exit pass on
// (FAST_EXIT_PASSES, the flag stays set): the loop pops its frame to the result and returns.
constexpr uint32_t FAST_EXIT_PASSES = 1;
uint32_t loop_take_fast_exit();

// The landing of a compiled try: the error the unwinding left as the last pushed cell;
// with keep its call stack is recorded; an uncaught throw (type and id both `throw`) is
// passed on again; otherwise it becomes the frame's result.
void try_keep_or_rethrow(bool keep);

}  // namespace kel::natives

namespace kel::error {
// Replaces an integer `stack` field of an error by the block of call words up to that
// frame position (level 1: words whose value is a function!).
void record_call_stack(Cell* value);
// Symbols of an error's type and id words (-1 when they hold no word).
int32_t type_symbol(const Cell* error);
int32_t id_symbol(const Cell* error);
}  // namespace kel::error
