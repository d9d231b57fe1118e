// Interim declarations of services that words and contexts take from units not built yet:
// the lexer's first value and scan, and object change records.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

// ---- lexer (raises internal/not-done until it exists) ----
namespace kel::lexer {
// Datatype id of the first value the lexer reads from UTF-8 text.
uint32_t scan_first_type(const uint8_t* text, int32_t length);
// Loads the string as source text and writes its first value into out.
void load_first_value(const Cell* string, Cell* out);
}  // namespace kel::lexer

// ---- objects (raises internal/not-done until objects carry change records) ----
namespace kel::object {
void fire_change(const Cell* self, const Cell* word, const Cell* old, Cell* slot);
}  // namespace kel::object
