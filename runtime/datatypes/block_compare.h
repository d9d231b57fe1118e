// block! comparison (the compare slot and the element walk shared by every block-like
// type), sort with its comparators, and the engine of the set-operation natives.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::block {

// Sort comparator flag word.
namespace sort_flag {
constexpr uint32_t REVERSE = 1;  // the comparator swaps its operands
constexpr uint32_t ALL = 2;      // every field of a record; bits 2-31 hold the record size
constexpr uint32_t SHIFT = 2;    // without ALL, bits 2-31 hold the 0-based field offset
}  // namespace sort_flag

// Set-operation codes.
namespace set_op {
constexpr int32_t UNIQUE = 8, UNION = 9, INTERSECT = 10, EXCLUDE = 11, DIFFERENCE = 12;
}  // namespace set_op

// The compare slot: -2 for values of different datatypes (but path! against lit-path!
// under the word-equality operators 10 and 11), else compare_cells.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// The element walk: negative, 0 or positive, or -2 from a pair that cannot be compared.
int32_t compare_cells(const Cell* a, const Cell* b, int32_t op);

// The sort action; the series is left in its cell as the result.
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
// The default comparator over two records; -2 from a field becomes the datatype ids'
// difference. Allocates nothing.
int32_t compare_records(const Cell* a, const Cell* b, int32_t op, uint32_t flags);
// The comparator's answer for a function comparator's result, as strings map it: true 1,
// false -1, integer n -n, float above 0 -1 and below 0 1 (0 and NaN 0), none -1, other 1.
int32_t order_from_result(const Cell* result);
// Calls a comparator function with (first, second) under a `<compare-callback>` frame and
// answers its result. The function gets exactly its own arguments (none past the two) and
// its local part; it may allocate and raise. Shared by every series sort with /compare.
Cell call_comparator(const Cell* first, const Cell* second, const Cell* function);
// The answer of a block sort's function comparator: true 1, false -1, integer n n, float
// above 0 1 and below 0 -1 (0 and NaN 0), none -1, any other value 1.
int32_t order_from_function_result(const Cell* result);
// The comparator of sort/compare with a function: the function gets b then a (a then b
// with the REVERSE flag), or with ALL each record as a block of its fields. `function` must
// stay where the collector sees it (a stack cell) while the sort runs.
int32_t compare_by_function(const Cell* a, const Cell* b, const Cell* function, uint32_t flags);

// unique, union, intersect, exclude and difference on the first two cells of the current
// frame (the second is not read for unique); skip is the /skip argument or null. The
// result is left in frame cell 0 and returned.
Cell* set_operation(bool case_, const Cell* skip, int32_t op);

}  // namespace kel::block
