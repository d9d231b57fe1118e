// hash! values: a block with an index of the hash kind; its own make, to, mold and copy,
// and the checker that an index names every cell once.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::hash {

// Cell: a block cell of type 36 whose w3 is the table node (kind 0). The block actions keep
// the index in step; sort and trim re-index after they run.

// The index of a hash! cell: every position below the tail is in exactly one bucket or
// duplicate list, the one positions[p] names; nothing points at or past the tail. On a
// fault, why (when given) says what.
bool verify_index(const Cell* hash, std::string* why);

// ---- Slots ----
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

// Registers hash! (36, parent block!).
void install_type();

}  // namespace kel::hash
