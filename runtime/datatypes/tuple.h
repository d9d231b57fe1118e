// tuple!: 3 to 12 unsigned bytes held whole in the cell (length in header bits 19-22, bytes
// in payload bytes 0-11, zero past the length), with saturating byte-wise arithmetic.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::tuple {

constexpr uint32_t LENGTH_SHIFT = 19;
constexpr uint32_t LENGTH_MASK = 0xF << LENGTH_SHIFT;
constexpr int32_t MIN_LENGTH = 3, MAX_LENGTH = 12;

inline int32_t length_of(const Cell* c) { return int32_t((c->header & LENGTH_MASK) >> LENGTH_SHIFT); }
// The twelve payload bytes, in order (bytes past the length are 0).
void bytes_of(const Cell* c, uint8_t out[12]);
// Makes c a tuple of length bytes (3..12; the bytes past it are stored as 0).
Cell* init_cell(Cell* c, int32_t length, const uint8_t* bytes);

void install_type();

// Cell API.
Cell* push_new_packed(int32_t length, uint32_t w1, uint32_t w2, uint32_t w3);
// A new tuple of max(count, 3) bytes, the missing ones 0.
Cell* push_new_from_bytes(int32_t count, const uint8_t* bytes);
// A 3-byte tuple, or 4 bytes when a is not -1.
Cell* init_cell_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t a);
bool all_zero_q(const Cell* c);
// Sets byte index (1-based) to an integer (clamped to 0..255), or with none clears the
// bytes from index on and shortens the tuple to index - 1 bytes (never below 3).
void poke_byte(Cell* c, int32_t index, const Cell* value);

// Operation codes 0 add ... 7 xor on the frame's first two cells; either may be the tuple
// (a scalar first is swapped; its subtract and divide are refused). Result in cell 0.
Cell* apply_math_op(int32_t op);

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* and_();
Cell* or_();
Cell* xor_();
Cell* complement();
int32_t length_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

}  // namespace kel::tuple
