// char!: one Unicode codepoint (in w2), a child of integer! whose results stay valid codepoints;
// its slots and cell API.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::char_ {

constexpr int32_t MAX_CODEPOINT = 0x10FFFF;

void install_type();

// The arithmetic core on the frame's cells with the integer! op codes; result in cell 0.
Cell* do_math(int32_t op);

// Slots (make and to are one function).
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// Cell API.
Cell* push_new(int32_t codepoint);
Cell* add_to_block(const Cell* block, int32_t codepoint);

}  // namespace kel::char_
