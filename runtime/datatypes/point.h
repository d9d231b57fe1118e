// point2D! and point3D!: coordinates as IEEE singles in w1-w3 (z for point3D! only),
// computed in double and stored back as singles; one family with one set of slots.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::point {

// Number of coordinates of a point cell (2 or 3).
inline int32_t count_of(const Cell* c) { return (c->header & 0xFF) == T_POINT3D ? 3 : 2; }
// Coordinate i (0-based) as a float.
float coordinate(const Cell* c, int32_t i);
void set_coordinate(Cell* c, int32_t i, float v);
// The coordinate words x, y, z: 1-based index, or 0 for another word.
int32_t component_of_word(const Cell* word);

// The arithmetic of both types, operation codes 0 add ... 4 remainder: the point is the
// frame's first cell, the result replaces it.
Cell* apply_math_op(int32_t op);

// Slots (shared by point2D! and point3D!).
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
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

}  // namespace kel::point

namespace kel::point2D {
void install_type();
Cell* init_cell(Cell* c, float x, float y);
Cell* push_new(float x, float y);
Cell* apply_math_op(int32_t op);
}  // namespace kel::point2D

namespace kel::point3D {
void install_type();
Cell* init_cell(Cell* c, float x, float y, float z);
Cell* push_new(float x, float y, float z);
Cell* apply_math_op(int32_t op);
}  // namespace kel::point3D
