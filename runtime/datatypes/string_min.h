// Interim string unit: the four string functions the scalar datatypes write text with.
// Superseded by the string! unit (string.h), which defines the same functions.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::string {

// The cell made an empty string! of unit 1 with room for n characters (1 when n is 0).
Cell* init_cell(Cell* cell, int32_t n);
// Appends c at the tail; a 1-byte buffer widens from c > 127, a 2-byte one above 0xFFFF.
// Returns the buffer (it may have moved).
SeriesBuffer* add_codepoint(Cell* s, int32_t c);
// Each byte as a codepoint 0-255 through add_codepoint.
void add_c_text(Cell* s, const char* text);
// Appends c in molded form (caret escapes; all: everything above 127 in hex).
void mold_char(Cell* s, int32_t c, bool all);

}  // namespace kel::string
