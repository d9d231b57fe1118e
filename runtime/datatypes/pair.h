// pair!: two signed 32-bit integers (x in w2, y in w3; w1 unused) for sizes and offsets,
// whose arithmetic hands over to point2D! when a result leaves the integers.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::pair {

inline int32_t x_of(const Cell* c) { return int32_t(c->w2); }
inline int32_t y_of(const Cell* c) { return int32_t(c->w3); }

void install_type();

// Cell API.
Cell* init_cell(Cell* c, int32_t x, int32_t y);
Cell* push_new(int32_t x, int32_t y);
Cell* add_to_block(Cell* block, int32_t x, int32_t y);
// The pair cell becomes a point2D! with the same coordinates.
Cell* as_point2D_cell(Cell* c);

// Operation codes 0 add ... 7 xor; the pair is the frame's first cell, the result
// replaces it (a point2D! when a result leaves the integers or a float scales it).
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
Cell* absolute();
Cell* negate();
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* and_();
Cell* or_();
Cell* xor_();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

}  // namespace kel::pair
