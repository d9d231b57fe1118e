// bitset! values: a byte series of bits, most significant bit first, with a complemented
// flag; spec processing, the set operations, text forms and the bitset actions.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::bitset {

// Bitset cell: w2 the node of a byte series (unit 1); w1 and w3 hold 0. Bit n lives in byte
// n >> 3 under 0x80 >> (n & 7). sflag::COMPLEMENT on the buffer: every value beyond the
// stored bytes is a member, and the stored bytes are still the membership itself.

// process_spec operations.
constexpr int32_t MEASURE = 0;  // the highest value named (-1 when none)
constexpr int32_t SET = 1;
constexpr int32_t TEST = 2;     // 1 when every named value is a member, else 0
constexpr int32_t CLEAR = 3;
// Who asks, for the error an unusable value raises.
constexpr int32_t MODE_MAKE = 0;
constexpr int32_t MODE_TO = 1;
constexpr int32_t MODE_ACTION = 2;

// Applies a spec value (char!, integer!, float!, any string, block with "-" ranges) to the
// bitset (null for measure).
int32_t process_spec(Cell* spec, Cell* bits, int32_t op, int32_t mode);

// Set operation codes: the action slots and the set natives.
constexpr int32_t OP_OR = 5;
constexpr int32_t OP_AND = 6;
constexpr int32_t OP_XOR = 7;
constexpr int32_t OP_UNIQUE = 8;
constexpr int32_t OP_UNION = 9;
constexpr int32_t OP_INTERSECT = 10;
constexpr int32_t OP_EXCLUDE = 11;
constexpr int32_t OP_DIFFERENCE = 12;
// On the current frame's cells 0 and 1; the new bitset goes into cell 0, which is returned.
Cell* set_operation(int32_t code);

// Address of the first stored byte (valid until the next allocation).
uint8_t* bytes_start(const Cell* bits);
int32_t stored_bytes(const Cell* bits);
bool complemented_q(const Cell* bits);
// Membership of one value.
bool member_q(const Cell* bits, int64_t n);

// ---- Slots ----
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* complement();  // also negate
Cell* and_();
Cell* or_();
Cell* xor_();
Cell* append(Cell* bits, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* clear(Cell* bits);
Cell* copy(Cell* bits, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* bits, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* bits);
Cell* pick(Cell* bits, int32_t index, Cell* index_cell);
Cell* poke(Cell* bits, int32_t index, Cell* value, Cell* index_cell);
Cell* remove(Cell* bits, Cell* part, Cell* key);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

void install_type();

}  // namespace kel::bitset
