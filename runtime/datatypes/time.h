// time!: a duration in seconds (a double in w2-w3, child of float!): its fields, text form,
// construction, path access and the arithmetic that keeps a time a time.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::time {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;
// Display and parity tolerance.
constexpr double TOLERANCE = 1e-6;

// Field numbers for paths and pick.
constexpr int32_t FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3;

void install_type();

// Whole hours, rounded toward zero.
int32_t hours_of(double seconds);
// Whole minutes within the hour, 0 to 59.
int32_t minutes_of(double seconds);
// The field pushed as a new cell: integer! hours or minutes, float! seconds.
Cell* get_field(const Cell* value, int32_t field);
// 1, 2, 3 for hour, minute, second; -1 for another word, which raises script/cannot-use
// when value is a time!.
int32_t field_index(const Cell* word, const Cell* value);
// Writes [-]h:mm:ss[.fraction]; returns the limit left.
int32_t write_text(double seconds, Cell* buffer, int32_t limit);
// Every stored time passes here: a non-finite value or 2^31 hours or more raise math/overflow.
void check_range(double seconds);

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
Cell* add();
Cell* divide();
Cell* multiply();
Cell* subtract();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

// Cell API.
Cell* init_cell(Cell* c, double seconds);
Cell* push_new(double seconds);
Cell* add_to_block(Cell* block, double seconds);

}  // namespace kel::time
