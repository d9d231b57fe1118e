// block! storage: the block cell layout and the block API the rest of the runtime calls
// directly (counting, stepping, inserting with growth, cloning, building, key lookup).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::block {

// Block cell: w1 head index in cells (signed), w2 the buffer's node, w3 0 (a hash! keeps
// its index node there). Cells passed in must be where the collector sees them (argument
// stack, a root guard or a collected buffer re-read after each allocation). Positions
// returned are valid only until the next allocation.

// block!, paren!, path!, lit-path!, set-path!, get-path!, hash!.
bool any_block_q(uint32_t type);

int32_t count_from_head(const Cell* block);   // negative when the head lies past the tail
bool step_head(Cell* block);                  // true when the head is now at the tail
Cell* head_cell(Cell* block);                 // clamps a head past the tail (written back)
Cell* tail_cell(const Cell* block);
bool head_at_tail(const Cell* block);
Cell* cell_at_index(const Cell* block, int32_t index);  // from the buffer's start
void truncate_at(Cell* block, int32_t index);
void truncate_at_head(Cell* block);

Cell* append_copy(Cell* block, const Cell* value);
void append_range(Cell* target, const Cell* source);
// Inserts one cell at the head (or the buffer's start); a full buffer grows to twice the
// room needed. Returns the new cell.
Cell* insert_cell(Cell* block, const Cell* value, bool advance, bool at_start);
void insert_range(Cell* target, const Cell* source);
// Frame forms: the block is the cell just below the frame's first argument cell.
void insert_result();
void append_result();
// Appends the frame's second cell to the block in its first cell.
void append_second_arg();

// The cell after the first word-family cell naming the word (case folded unless exact),
// or the shared none value.
const Cell* value_after_word(Cell* block, const Cell* word, bool exact);
const Cell* value_after_match(Cell* block, const Cell* value);
bool remove_first_match(Cell* block, const Cell* value, bool from_start);

// A copy of the block-like value pushed on the argument stack, typed by the source's id
// alone; deep clones nested blocks (and parens and paths with paths_too). Every series it
// makes takes the buffer flags series_flags (a library function's body is marked as made).
Cell* clone(Cell* value, bool deep, bool paths_too, uint32_t series_flags = 0);
// Cells [first, end) of the block's buffer (indexes from its start), stepping by step,
// whose type the kind selects are replaced by copies (deep with the same kind when deep).
void copy_typed_values(Cell* block, int32_t first, int32_t end, int32_t step, bool deep,
                       const Cell* kind);

void init_cell(Cell* cell, int32_t n);
void init_cell_alloc(Cell* cell, int32_t n, bool heap);
Cell* new_in(Cell* parent, int32_t n);
Cell* new_in_alloc(Cell* parent, int32_t n);
Cell* push_empty(int32_t n);
Cell* push_copy(const Cell* block);
// The fixed runtime cell used when new_in gets no parent (a collector root).
Cell* fixed_cell();

}  // namespace kel::block

namespace kel::block {
// Registers block! (5, parent series!): the series! actions plus form and mold.
void install_type();
}  // namespace kel::block
