// date!: calendar dates with an optional time of day and zone (packed word plus universal
// seconds), the day-number calendar, fields, setters, arithmetic, make/to, text and compare.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::date {

// Packed word: year bits 17-31 (signed), time flag 16, month 12-15, day 7-11, zone 0-6
// (sign 6, hours 2-5, quarter hours 0-1).
constexpr uint32_t TIME_FLAG = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_SIGN = 0x40;

void install_type();

// The calendar (floor division throughout: year 0 and negative years count right).
int64_t to_day_number(int32_t year, int32_t month, int32_t day);
int64_t day_number_of(uint32_t packed);
// Raises script/type-limit for a year outside -16384..16383.
uint32_t from_day_number(int64_t day_number, uint32_t zone, bool time);
bool leap_year_q(int32_t year);
int32_t zone_offset(uint32_t zone);  // seconds east of UTC
// Zone bits of an offset; false beyond 15:45 or for minutes that are not quarters.
bool zone_bits(bool negative, int32_t hours, int32_t minutes, uint32_t* bits);

// Cells. init_cell is the loader's constructor: seconds are local, stored universal.
void init_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
               uint32_t zone, bool has_time);
void init_cell_from_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                        int32_t minute, int32_t second, int32_t nanoseconds);
// Raw constructors (serialiser): null for a month, day, zone or seconds that no date has.
bool valid_q(uint32_t packed, double seconds);
Cell* push_new(uint32_t packed, double seconds);
Cell* add_to_block(Cell* block, uint32_t packed, double seconds);
double seconds_of(const Cell* d);
// Seconds since 1970 (to integer!); script/type-limit beyond 32 bits.
int32_t seconds_since_1970(const Cell* d);
// a becomes the time! between a and b (difference).
void time_between(Cell* a, const Cell* b);
// Field number (1-14) of a word, -1 when it names no field.
int32_t field_index(const Cell* word);

// date + integer or time (the number first), for integer! and time!.
Cell* add_number_first();

// Slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* add();
Cell* subtract();
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);

}  // namespace kel::date
