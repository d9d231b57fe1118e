// none!: the explicit absence of a value; its slots (it answers the series actions with
// none) and cell API.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::none {

void install_type();

Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
int32_t length_q(Cell* series);

// Writes none! into the current frame's first cell.
Cell* set_result();
Cell* add_to_block(const Cell* block);
Cell* push_new();

}  // namespace kel::none
