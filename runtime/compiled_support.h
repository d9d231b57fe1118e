// Runtime support for compiled code and natives: stores of the last pushed value, slots, calls
// by number, path steps, switch selection, first-value loading, integer args, indents, bytes.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::runtime {

// All work on the current frame: its base is the result slot, the last pushed value is
// the cell just below the stack top. Failing stores raise before they store.
void set_word_from_last(Cell* word);
void set_word_from_last_and_clear(Cell* word);
void set_context_slot_from_last(Node ctx, int32_t n);
void set_context_slot_from_last_and_clear(Node ctx, int32_t n);
void set_object_field_from_last(Node ctx, int32_t n);
Cell* get_word_checked(const Cell* word);
Cell* context_value_slot(Node ctx, int32_t n);

void set_refinement_from_value(const Cell* value, int32_t n, int32_t count);

// One refinement a call site mentions: its value, 1-based position among the callee's
// refinements, the frame slot of its first argument and its argument count.
struct RefinementGroup {
  const Cell* value;
  int32_t position;
  int32_t slot;
  int32_t count;
};
void call_builtin_by_number(int32_t number, bool native, int32_t refinement_count,
                            const RefinementGroup* groups, int32_t group_count);

// items: the path's items, head first. The final value lands in the frame's result slot.
void eval_path_steps(bool set, const Cell* path, const Cell* items, int32_t count);

// push: push the result (else the frame's result slot); block: the first block after the
// match (else the cell after it). With block set and no block after the match: none.
Cell* switch_select(bool push, bool block);

Cell* load_first_value(Cell* block, const Cell* string);
Cell* load_first_value_to_result(const Cell* string);
int32_t get_integer_arg(const Cell* value);
int32_t append_indent(Cell* string, int32_t n, int32_t budget);
uint8_t* repeat_bytes(uint8_t* buffer, uint32_t unit, uint32_t count);

}  // namespace kel::runtime

// ---- Fast paths for C++ bodies (runtime/compiled_fast.cpp) ----
// Arithmetic, comparisons, integer picks and block navigation with the commonest operand
// types inline; anything else through the action in a native-call frame named by `word`,
// so errors name the operator. Bad selectors or operators are fatal (101).
namespace kel::actions {
// Math selectors: 0 add, 1 subtract, 2 multiply, 5 or~, 6 and~, 7 xor~.
Cell* fast_math_cells(int32_t selector, const Cell* word, const Cell* left, const Cell* right);
Cell* fast_math_cell_int(int32_t selector, const Cell* word, const Cell* left, int32_t right);
Cell* fast_math_top_cell(int32_t selector, const Cell* word, const Cell* right);
Cell* fast_math_top_int(int32_t selector, const Cell* word, int32_t right);
// Comparison operators: 0 =, 1 <>, 2 ==, 3 <, 4 <=, 5 >, 6 >=.
Cell* fast_compare_cells(int32_t op, const Cell* word, const Cell* left, const Cell* right);
Cell* fast_compare_cell_int(int32_t op, const Cell* word, const Cell* left, int32_t right);
int32_t fast_test_cells_q(int32_t op, const Cell* word, const Cell* left, const Cell* right,
                          int32_t invert);
int32_t fast_test_cell_int_q(int32_t op, const Cell* word, const Cell* left, int32_t right,
                             int32_t invert);
int32_t fast_compare_cells_to_result(int32_t op, const Cell* word, const Cell* left,
                                     const Cell* right);
int32_t fast_compare_cell_int_to_result(int32_t op, const Cell* word, const Cell* left,
                                        int32_t right);
Cell* fast_compare_top_cell(int32_t op, const Cell* word, const Cell* right);
Cell* fast_compare_top_int(int32_t op, const Cell* word, int32_t right);
// The current frame's first two cells compared; the logic! replaces the first.
void compare_logic(int32_t op);
// value/n with an integer n: a block's value or none inline.
Cell* fast_pick_path_int(const Cell* value, int32_t n, const Cell* word);
// Navigation selectors: 1 length?, 2 index?, 3 head?, 4 tail?, 5 next, 6 back, 7 head, 8 tail.
Cell* fast_series_nav(const Cell* value, int32_t selector, const Cell* word);
}  // namespace kel::actions
