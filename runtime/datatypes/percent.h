// percent!: a float! shown as a percentage (the cell holds the fraction; 50% is 0.5); only
// its text is its own, every numeric slot is float!'s.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::percent {

void install_type();

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);

// Cell API.
Cell* init_cell(Cell* c, double fraction);
Cell* set_result(double fraction);
Cell* add_to_block(Cell* block, uint32_t low, uint32_t high);

}  // namespace kel::percent
