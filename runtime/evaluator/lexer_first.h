// The lexer entries that words and contexts use: the first value's type and the first value
// loaded from text (for `to word!` and friends).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

// ---- lexer ----
namespace kel::lexer {
// Datatype id of the first value the lexer reads from UTF-8 text.
uint32_t scan_first_type(const uint8_t* text, int32_t length);
// Loads the string as source text and writes its first value into out.
void load_first_value(const Cell* string, Cell* out);
}  // namespace kel::lexer

