// The path family (path!, lit-path!, set-path!, get-path!): block-shaped values with their
// own make, to, form, mold and copy, each child differing only in its mold.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::path {

// The cell becomes path! (flags cleared) and a copy of it is pushed.
Cell* push_as_path(Cell* cell);
// The cell becomes an empty path! (index 0) over a new cell series with room for capacity.
void init_cell(Cell* cell, int32_t capacity);

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
void install_type();

}  // namespace kel::path

namespace kel::lit_path {
Cell* push_as_path(Cell* cell);
void init_cell(Cell* cell, int32_t capacity);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
void install_type();
}  // namespace kel::lit_path

namespace kel::set_path {
Cell* push_as_path(Cell* cell);
void init_cell(Cell* cell, int32_t capacity);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
void install_type();
}  // namespace kel::set_path

namespace kel::get_path {
Cell* push_as_path(Cell* cell);
void init_cell(Cell* cell, int32_t capacity);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
void install_type();
}  // namespace kel::get_path
