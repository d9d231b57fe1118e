// map! values: key/value entries in a block indexed by a map-kind hash table; key rules,
// the entry operations extend, foreach and the lexer build on, and the map! action slots.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::map {

// Cell: w1 0, w2 the entry block (key, value, key, value ... in insertion order, from the
// buffer's start), w3 the map-kind table. A removed entry keeps its key cell and bucket;
// its value cell's type is 0, and every reader skips it.

// The 24 key types.
bool key_type_allowed_q(uint32_t type);
// Canonicalises a new key held in a cell the collector sees: string-likes become copies from
// their head, the four word kinds set-word!, other allowed types stay; anything else raises
// script/invalid-path with the culprit and the key's datatype.
void prepare_key(Cell* key, const Cell* culprit);

// Turns the rooted cell into a map over the block (a fresh block the map may own: its keys
// are prepared, later duplicates win), or over a new block with room for size entries.
void init_cell(Cell* cell, const Cell* block, int32_t size);
// The table record's node, and the live entries.
Node hash_table_of(const Cell* map);
int32_t length_q(const Cell* map);
// extend's map branch: an even block of pairs (hash! and map! bodies too), added in order.
void add_pairs_from_block(Cell* map, Cell* block, bool case_);
// extend: the map gets the spec's pairs (block!, hash!, map!).
void extend(Cell* map, Cell* spec, bool case_);
// foreach's step: assigns the next live entry's key and value to the two loop words from
// the position in w1, moving it past the entry. False when no entry is left.
bool assign_next_entries(Cell* position, const Cell* words, int32_t count);
// `make map! entries`: an empty map with room for that many entries, in a rooted cell.
void make_with_room(Cell* out, int64_t entries);
// The position of a live entry's key cell in the entry block (case-sensitive or not), or -1.
int32_t live_position(const Cell* map, const Cell* key, bool case_);
// Pushes a copy of the cell.
Cell* push_copy(const Cell* map);
// The evaluator's short path for `map/key` and `map/:word` with a string! or word key (false,
// nothing done, for any other key): the read gives the value or none and allocates nothing;
// the write stores value (a stack cell) as the path step does, path being what a bad key's
// error names. Neither pushes anything.
bool path_read(const Cell* map, const Cell* key, Cell* out);
bool path_write(const Cell* map, const Cell* key, const Cell* value, const Cell* path);

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
Cell* clear(Cell* map);
Cell* copy(Cell* map, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* map, Cell* key, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_slot(Cell* map);
Cell* put(Cell* map, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* map, Cell* part, Cell* key);
Cell* select(Cell* map, Cell* key, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);

// Registers map! (40, no parent).
void install_type();

}  // namespace kel::map
