// vector! values: packed numbers or characters of one element type and width; element
// conversion, making, insertion and change, text forms, comparison and element arithmetic.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::vector {

// Cell: w1 head (elements), w2 the node, w3 the element type (char! 10, integer! 11,
// float! 12, percent! 38). The width is the buffer's unit: 1, 2 or 4 bytes for chars and
// integers, 4 or 8 for floats and percents. Integer elements read sign-extended, char
// elements (codes) zero-extended; 32-bit floats read widened; writes keep the low bytes or
// narrow.

// A new empty vector in the rooted cell with room for count elements of the unit.
void init_cell(Cell* cell, int64_t count, uint32_t element_type, uint32_t unit);
// Pushes the element as a char!, integer!, float! or percent! cell.
Cell* push_element(const uint8_t* element, uint32_t unit, uint32_t element_type);
// The element as a cell.
Cell element_cell(const uint8_t* element, uint32_t unit, uint32_t element_type);
// Writes a char!, integer!, float! or percent! value into an element (the caller checked
// it against the element type); other values raise script/invalid-type.
void store_element(uint8_t* element, const Cell* value, uint32_t unit);
// Appends one value of exactly the element type (else script/invalid-arg).
void append_value(Cell* vector, const Cell* value);
// Turns the cell into a block! of the elements from the head.
void elements_into_block(const Cell* vector, Cell* cell);
// Element arithmetic in place with a scalar: op 0 add, 1 subtract, 2 multiply, 3 divide,
// 4 remainder, 5 or, 6 and, 7 xor. Returns the vector cell.
Cell* apply_math_op(int32_t op, Cell* vector, const Cell* scalar);
// The arithmetic actions with the vector first (frame cells 0 and 1; the result in 0).
Cell* combine(int32_t op);
// A number first and the vector second (frame cells 0 and 1): the vector's elements stay
// the left operands and change in place; the vector becomes the result in cell 0.
Cell* scalar_first(int32_t op);

// ---- Slots ----
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* append(Cell* vector, Cell* value, int32_t part, bool only, int32_t dup, bool append_q);
Cell* change(Cell* vector, Cell* value, int32_t part, bool only, int32_t dup);

// Registers vector! (35, parent string!).
void install_type();

}  // namespace kel::vector
