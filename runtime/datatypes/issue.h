// issue! values: words of the global context that are never resolved (index -1), with
// their make/to, mold ("#" and the name), compare, and registration.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::issue {

Cell* init_from_text(Cell* cell, const char* text);
Cell* add_to_block(const char* text, const Cell* block);
// Pushed as a new cell; before the stacks exist, made in a cell of the unit (no root block).
Cell* from_c_text(const char* text);
Cell* push_from_word(const Cell* word);

Cell* make(Cell* prototype, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();

}  // namespace kel::issue
