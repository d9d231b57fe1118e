// block! actions that know their elements are value cells: make, to, path steps, find,
// select, put, append/insert, change, take, swap, trim and copy.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kel::block {

// make and to: the result is written into proto (a datatype! or prototype cell).
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);

// One path step into a block: a get (value null) leaves the element in parent and returns
// it; a set stores value and returns it.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);

// Refinement arguments are null when the refinement is absent. find and select leave
// their result (the series at a position, the element, or none) in the series cell.
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);

// append and insert: part is a count (negative without /part), dup a count (1 without
// /dup); append_q tells append from insert. The result is left in the series cell.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* swap(Cell* series1, Cell* series2);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

// Position search shared by find, select, put, the path steps and the set operations.
struct FindSpec {
  const Cell* part = nullptr;
  const Cell* skip = nullptr;
  bool only = false;
  bool case_ = false;
  bool same = false;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};
struct Found {
  int32_t at;      // match position (cells from the buffer start), -1 when none
  int32_t result;  // the position find answers (after the match with /tail)
};
Found find_position(Cell* series, const Cell* value, const FindSpec& spec);

// Fills block!'s own action slots (and comparison and sort) into its row; block.cpp's
// install function calls it before registering.
void install_actions(datatype::Row& row);

}  // namespace kel::block
