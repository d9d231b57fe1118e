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
