// typeset!: a 96-bit set of datatypes in the cell's payload (MSB-first per byte), the
// default argument set, spec type blocks, set operations and the typeset! action slots.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::typeset {

// The bit of datatype t: byte 4 + t / 8 of the cell, mask 0x80 >> (t mod 8).
inline bool has_q(const Cell* ts, uint32_t t) {
  if (t >= 96) return false;
  return (reinterpret_cast<const uint8_t*>(ts)[4 + t / 8] & (0x80u >> (t & 7))) != 0;
}
inline void set_bit(Cell* ts, uint32_t t) {
  if (t < 96) reinterpret_cast<uint8_t*>(ts)[4 + t / 8] |= uint8_t(0x80u >> (t & 7));
}
inline void clear_bit(Cell* ts, uint32_t t) {
  if (t < 96) reinterpret_cast<uint8_t*>(ts)[4 + t / 8] &= uint8_t(~(0x80u >> (t & 7)));
}

void clear_bits(Cell* ts);
// Every bit set but unset!'s (arguments without a type block).
void init_default(Cell* ts);
// Appends the default typeset to the block.
void add_default_to_block(const Cell* block);
// Builds a typeset from a spec's type block into ts: words are looked up, datatypes set their
// bit, typesets are ORed, a word holding a word sets object!, nested blocks are skipped;
// anything else raises script/invalid-type-spec.
void from_type_block(Cell* ts, const Cell* type_block);
void add_from_type_block(const Cell* block, const Cell* type_block);
// ORs one value in (word looked up, typeset, datatype); else script/invalid-arg.
void add_type(Cell* ts, const Cell* value);
// Operation on the frame's first two cells: 5/9 or, 6/10 and, 7/12 xor, 11 exclude, 8 unique.
Cell* set_operation(int32_t op);
// Turns target into a block of the datatypes whose bits are set, in id order.
void list_types(const Cell* ts, Cell* target);

// Action slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* complement();
Cell* and_();
Cell* or_();
Cell* xor_();
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
void install_type();

}  // namespace kel::typeset
