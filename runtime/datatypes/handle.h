// handle! (id 46): an operating-system or backend handle with a small kind number, carried
// through Kel code, which can only print and compare it.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::handle {

// A handle cell: w1 the kind, w2 the value (a descriptor or a table index, never an
// address), w3 -1 (the collector marks nothing for it).
constexpr uint32_t KIND_NULL = 0;
constexpr uint32_t KIND_FD = 1;
constexpr uint32_t KIND_MONITOR = 2;
constexpr uint32_t KIND_WINDOW = 3;
constexpr uint32_t KIND_FONT = 4;
constexpr uint32_t KIND_RICH_TEXT = 5;
constexpr uint32_t KIND_PORT_ACTOR = 6;  // value: a port actor table (port::register_actor_table)

Cell* init_cell(Cell* cell, int32_t value, uint32_t kind);
// A new stack cell.
Cell* push_new(int32_t value, uint32_t kind);
// Writes the current frame's result.
void set_result(int32_t value, uint32_t kind);
Cell* push_null();
// The kind's name ("null", "fd", ...); "" for a kind outside the table.
const char* kind_name(uint32_t kind);

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Two handles compare their values as signed integers; anything else is not comparable.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void install_type();

}  // namespace kel::handle
