// string! actions beyond storage: find, select and path steps, append/insert/change, sort and
// set operations, trim, swap; and the codepoint-range helpers they share.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kel::string {

// ---- Shared helpers (string_edit.cpp) ----

// Characters [from, from + count) of a series buffer (any-string, binary! bytes), copied out
// so nothing moves under the caller; count is cut to the characters there.
std::vector<int32_t> read_chars(const Cell* s, int32_t from, int32_t count);
// Replaces the removed characters at index (from the buffer start) by the codepoints, copies
// times; min_unit is the unit the new characters ask for (the buffer never narrows);
// min_unit_fits: it holds every one of them already (they are not measured again). Every
// size is checked (internal/no-memory) before anything changes.
void replace_chars(Cell* s, int32_t index, int32_t removed, const std::vector<int32_t>& cps,
                   int64_t copies, uint32_t min_unit,
                   bool min_unit_fits = false);
// The unit a codepoint asks for when appended: 1 up to 127, 2 up to 0xFFFF, else 4.
uint32_t char_unit(int32_t c);
// Owner notice when the series is owned (the action word's spelling).
bool notify(const Cell* s, const char* action, const Cell* value, int32_t index, int32_t part);
// Folding used by search, sort and set operations.
int32_t fold(int32_t c);

// ---- Slots ----

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* swap(Cell* series1, Cell* series2);

// The set-operation engine: the two sets are the current frame's first two cells; op 8
// unique, 9 union, 10 intersect, 11 exclude, 12 difference. The result replaces cell 0.
Cell* set_operation(bool case_, Cell* skip, int32_t op);

}  // namespace kel::string
