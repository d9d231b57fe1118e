// binary! (id 41, parent string!): the byte API other units build and read binaries with,
// the bytes of a value, and the datatype's own actions (to, form, mold, compare, edits, bits).
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::binary {

// A binary cell: w1 head index in bytes from the buffer's first byte, w2 the buffer's node
// (unit 1), w3 unused. Functions taking a cell re-read the node after every allocation and
// write a changed node back into the cell, which the caller keeps where the collector sees it.

// ---- Byte API ----

// Bytes from the head to the tail (0 for a head past the tail).
int32_t byte_count(const Cell* b);
// Address of the byte at the head; valid only until the next allocation.
uint8_t* head_byte_pointer(const Cell* b);
// The byte at an absolute index from the buffer's first byte (not from the head).
uint8_t byte_at_index(const Cell* b, int32_t index);
// Copies n bytes to the tail, growing when they do not fit. Returns the offset of the copy
// from the buffer's first byte (an address would not outlive the next allocation). The
// source may lie in collected memory: it is copied out before anything grows.
int32_t append_bytes(Cell* b, const uint8_t* source, int32_t n);
// Inserts n bytes at offset bytes after the head (clamped to the tail); a buffer too small
// grows to n + twice its capacity. Returns the offset of the inserted bytes.
int32_t insert_bytes(Cell* b, int32_t offset, const uint8_t* source, int32_t n);
// Writes value as 4 bytes, most significant first, at the tail and advances it; the caller
// has reserved the room (a fault otherwise: fatal 98).
void append_int32_be(int32_t value, Cell* b);
// The cell made an empty binary at head 0 with room for n bytes (16 when n is 0).
Cell* init_cell(Cell* cell, int32_t n);
// A new binary holding a copy of the n bytes, in a new cell at the tail of block (when not
// null), else in a new stack cell. Returns the cell (a block cell is valid until the next
// allocation).
Cell* new_from_bytes(const uint8_t* source, int32_t n, Cell* block);
Cell* push_new_from_bytes(const uint8_t* source, int32_t n);
// Removes the zero bytes at the head and/or the tail; the kept bytes move to the head.
void trim_zero_bytes(Cell* b, bool head, bool tail);

// The bytes of a value (append, insert, change, to binary! of a block). Modes: 0 measure
// for append/insert, 1 write for append/insert, 2 change (write when out is given).
// part below 0: no limit; part_bytes: the part counts bytes rather than items or characters.
// Unsupported types raise script/bad-to-arg in modes 0 and 1 and are formed in mode 2; an
// integer outside -128..255 raises script/invalid-arg only when writing. Returns the count.
constexpr int MODE_MEASURE = 0;
constexpr int MODE_WRITE = 1;
constexpr int MODE_CHANGE = 2;
int32_t value_to_bytes(std::string* out, Cell* value, int32_t part, bool part_bytes, int mode);

// -1, 0 or 1, or -2 when other is not string-like. match: other is a pattern at the head.
int32_t compare_bytes(const Cell* b, const Cell* other, int32_t op, bool match);
// Parse tests at the head.
bool match_at_head_q(const Cell* b, const Cell* pattern, int32_t op);
bool head_byte_in_bitset_q(const Cell* b, const Cell* bitset);
// Stores the low 8 bits of an integer! or char!; any other value raises script/invalid-arg.
void poke_byte(uint8_t* address, const Cell* value);

// ---- Base encodings (binary_base.cpp) ----

// Encoders write ASCII into out, which holds at least encoded_capacity(base, n) bytes; they
// return the characters written. A base other than 2, 16, 58, 64 is a caller fault.
// Capacity for n input bytes; false when it does not fit 32 bits.
bool encoded_capacity(int32_t base, int64_t n, int64_t* capacity);
int64_t to_base_text(int32_t base, const uint8_t* in, int64_t n, uint8_t* out);
// Decoders read n characters of the given unit (1, 2 or 4 bytes each) and append the bytes
// to out; false when the text is not valid in that base.
bool from_base_text(int32_t base, const uint8_t* chars, int64_t n, uint32_t unit,
                    std::string* out);

// ---- Actions ----

Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Writes "#{", the digits and "}" (both braces left out with only); the budget rules of
// mold with /part. Returns the budget left.
int32_t mold_bytes(const Cell* value, Cell* out, bool only, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// Frame slots: cells 0 and 1 of the current frame; the result goes into cell 0.
Cell* and_();
Cell* or_();
Cell* xor_();
Cell* complement();
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
// string!'s swap; a character above 255 coming into the binary raises script/invalid-arg
// before anything changes.
Cell* swap(Cell* a, Cell* b);

// Registers binary! (after string!: its inherited slots are string!'s at that moment).
void install_type();

}  // namespace kel::binary
