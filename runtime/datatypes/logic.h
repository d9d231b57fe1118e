// logic!: true and false, the truth rule every conditional uses, the logic! slots and the
// cell API of unset!, none! and logic! results.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::logic {

void install_type();

// The shared constant cells (logic! 1 and 0).
const Cell* true_value();
const Cell* false_value();

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* complement();
Cell* and_();
Cell* or_();
Cell* xor_();

// Cell API.
Cell* set_result(bool flag);
Cell* add_to_block(const Cell* block, bool flag);
Cell* push_new(bool flag);
int32_t get_flag(const Cell* c);
// Only none! and a logic! whose payload is not exactly 1 are false.
inline bool true_q(const Cell* v) {
  uint32_t t = cell::type(v);
  return t != T_NONE && (t != T_LOGIC || v->w1 == 1);
}
// The truth rule; with check, an unset! value raises script/no-value naming the word.
bool truth_of(const Cell* value, bool check, const Cell* word);
// Truth of the last value pushed in the current frame (its first cell when none was).
bool top_is_true();
bool top_is_false();
// Truth of the frame's first cell; unset! there raises script/no-return.
bool result_truth_checked();
bool result_truth();

}  // namespace kel::logic
