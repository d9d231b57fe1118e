// The lexer's memory of the words it loads: spelling to symbol id and to the global context's
// index, kept for one scan, so a word repeated through a data file is interned and bound once.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kel::lexer::words {

// The cell of a loaded word of the type (any word, issue or refinement) spelled by the text:
// the same cell interning and binding to the global context make, new words added to the
// global context in the same order. The text may lie in a buffer that moves.
Cell make(State* s, uint32_t type, const uint8_t* text, int32_t length);

}  // namespace kel::lexer::words
