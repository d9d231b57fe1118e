// Face values in the backend's own forms: the flags facet as bits, colour tuples as 32-bit
// colours, pairs as points, a font's list of faces, UTF-16 counts of text ranges.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

// The bits of a face's `flags` facet: a word gives its bit, a block the OR of its words'
// bits; any other value 0. A word that is not a face flag raises script/invalid-arg.
uint32_t get_flags(const Cell* facet);
// A tuple's first four bytes, the first in bits 0-7; a 3-byte tuple has 0 in bits 24-31.
uint32_t tuple_to_rgb(const Cell* tuple);
// Turns a pair! cell into a point2D! with the same coordinates, in place; returns it.
Cell* pair_to_point(Cell* cell);
// Puts the face into the font's `parent` list of faces (see face_values.cpp). Both must be
// objects, else nothing happens. May allocate.
void link_font(const Cell* face, const Cell* font);
// count, plus step for each character at or above U+10000 within the count characters from
// start (counted from the string's head); with a negative step the range's end also moves
// back by one for each. Only strings of 4-byte units have such characters.
int32_t utf16_count(const Cell* string, int32_t start, int32_t count, int32_t step);
void zero_fill(void* memory, size_t length);

}  // namespace kel::gui
