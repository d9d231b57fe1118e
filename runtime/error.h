// Raising errors by catalogue positions (category, id) with up to three argument cells,
// the argument checks that raise them, and the report printed when nothing catches one.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

#include "errors_gen.h"

namespace kel::error {

// Builds the error value, fires the trace event when tracing is on, and hands the error
// to stack::propagate_error; never returns. Null arguments are absent.
[[noreturn]] void raise(uint32_t category, uint32_t id, const Cell* arg1 = nullptr,
                        const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
[[noreturn]] inline void raise(ErrorPos e, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                               const Cell* arg3 = nullptr) {
  raise(e.category, e.id, arg1, arg2, arg3);
}
// script/bad-make-arg: "cannot MAKE" type "from:" spec.
[[noreturn]] void raise_bad_make_arg(const Cell* type, const Cell* spec);

// The record of the error on its way, until error values exist: positions, argument
// cells (none when absent), and the `where` and `stack` fields (none until filled).
// The stack unit marks its cells. The error datatype replaces it.
struct Pending {
  uint32_t category;
  uint32_t id;
  Cell args[3];
  Cell where;
  Cell stack;
};
Pending& pending();
// Empties the record: its cells name a heap that is gone (the stacks mark it).
void forget_pending();

// Builds the error value into out (provisional: an error! cell whose w2 holds
// category * 100 + id, its fields in pending()); replaced by the error datatype.
void new_from_ids(Cell* out, uint32_t category, uint32_t id, const Cell* arg1,
                  const Cell* arg2, const Cell* arg3);
// Copies the value into the error's `where` field while that field holds none.
void fill_where(Cell* error, const Cell* value);
// The error's `stack` field (null when the cell is no error).
Cell* stack_field(Cell* error);
// The word of the nth argument in the spec of the function being called, or none.
Cell nth_argument_word(int32_t n);

// Forms or molds a value for the report through the datatypes (installed by the evaluator
// once mold and form can run); false leaves the report's own short forms in use.
using ValueFormer = bool (*)(const Cell* value, bool mold, std::string* out);
void set_value_former(ValueFormer former);
// The error report: "*** " title ": " message, LF, "*** Where: " word.
std::string form_report(const Cell* error);
// Writes the report and a line feed to standard output.
void print_report(const Cell* error);

// The catalogue as Kel text, embedded at build time.
const char* catalogue_text();

}  // namespace kel::error

namespace kel::runtime {

// Returns the value when its datatype is in the typeset; otherwise raises
// script/expect-arg naming the current function, the datatype and the argument.
const Cell* verify_arg_type(const Cell* typeset, int32_t arg_number, const Cell* value);
// The same on cell n of the current frame; a negative slot (absent refinement) is not checked.
void verify_frame_arg_type(int32_t slot, const Cell* typeset, int32_t arg_number);
// Checks only when the refinement is used (its w1 is not 0).
const Cell* verify_refinement_arg_type(const Cell* refinement, const Cell* typeset,
                                       int32_t arg_number, const Cell* value);
// Raises script/expect-arg with unset! when the value is unset.
const Cell* verify_arg_set(int32_t arg_number, const Cell* value);
// Builds the error like error::raise but prints its report instead of raising it.
void print_error_value(uint32_t category, uint32_t id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

}  // namespace kel::runtime

namespace kel::stack {
// Unwinds to the nearest try frame with the error value (runtime/stack.h).
[[noreturn]] void propagate_error(Cell* error);
}  // namespace kel::stack
