// Action dispatch through the action table: resolving a cell's slot function, the direct
// forms of form, mold and compare, the generic compare, and the form/mold entry rules.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kel::actions {

// The function that the action table holds for the cell's datatype at that slot. An empty
// slot raises script/expect-arg (the current function, the datatype, its first argument).
datatype::AnySlot resolve_for_cell(const Cell* value, uint32_t action);
template <uint32_t K>
inline datatype::SlotFn<K> resolve(const Cell* value) {
  return reinterpret_cast<datatype::SlotFn<K>>(resolve_for_cell(value, K));
}
// The type make and to dispatch on: the id a datatype! names, else the value's own type.
uint32_t make_type_of(const Cell* proto);

// Append the value's text to the string! buffer through its form or mold slot; return the
// budget left (negative: the text ran past it).
int32_t direct_form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t direct_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t budget, int32_t indent);
// The compare slot's answer: negative, 0, positive, or -2 when not comparable.
int32_t direct_compare(const Cell* a, const Cell* b, int32_t op);
// The truth of a comparison by op code (0-6, 9-12); -2 under an ordering raises
// script/invalid-compare with both values.
bool compare(const Cell* a, const Cell* b, int32_t op);

// The form and mold actions: a new string! pushed on the argument stack (room for 16
// characters), filled through the slot and cut to the /part count. part is the /part
// argument cell or null; a count below 1 gives the empty string without calling the slot.
Cell* form(Cell* value, Cell* part);
Cell* mold(Cell* value, bool only, bool all, bool flat, Cell* part);

}  // namespace kel::actions

// ---- Action entry points (runtime/evaluator/action_entries.cpp) ----
namespace kel::actions {
// Stack form: the refinement integers of the action (-1 absent, else the frame index of
// the refinement's first argument); arguments in the current frame, result in its cell 0.
using EntryFn = void (*)(const int32_t* refinements);
// The 62 entry points by id - 1; entry 8 (set-path) is empty.
extern EntryFn entry_table[62];
void build_table();
// The direct form of action K: the slot of the first argument's datatype, called with the
// same arguments.
template <uint32_t K, class... A>
inline auto direct(Cell* first, A... rest) {
  return resolve<K>(first)(first, rest...);
}
// Memory statistics for `stats`: the bytes in use (level 1); at level 2 or more the node
// pools, arenas and large blocks and two totals are appended to out (a stack cell).
// Automatic collection is off during the walk.
double stats_walk(Cell* out, int32_t level);
// pick/poke index: integer value, char code, true 1, false 2, else 0.
int32_t pick_index(const Cell* index);
// The `/part` count of append, insert and change against the reference argument; false
// when the action has nothing to do.
bool part_count_for(Cell* reference, const Cell* part, bool value_is_reference, int32_t* count);
}  // namespace kel::actions
