// The word family (word!, set-word!, lit-word!, get-word!, refinement!): the word cell, its
// cell operations, make/to, form and mold, compare, index?, and their registrations.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::word {

// Word cell: w1 context node (0: unbound refinement), w2 symbol id as written, w3 index
// or 0xFFFFFFFF when unresolved. Returned Cell* into series are valid until the next
// allocation; stack cells stay put.

bool any_word_type_q(uint32_t type);  // ids 15 to 20

Cell intern_global(const char* text);
Cell* init_cell(int32_t symbol, Cell* cell);
Cell* push_new(int32_t symbol);
Cell* add_to_block(int32_t symbol, const Cell* block);
Cell* add_text_to_block(const char* text, const Cell* block);
Cell* push_copy(const Cell* word);
Cell* bound_word_at(Node ctx, int32_t index);
Cell* push_bound_word(Node ctx, int32_t index);
Cell lookup_or_add(Node ctx, int32_t symbol);
Cell* slot_at_node(Node ctx, int32_t index);
Cell* push_value_at(Node ctx, int32_t index);
Cell* push_value_checked(const Cell* word);
// Set-word evaluation on the current frame: cell 0 the set-word, cell 1 the value.
Cell* assign_frame_value();
void set_slot_from_top(Node ctx, int32_t index);
void swap_slot_with_top(Node ctx, int32_t index);
Cell* symbol_cell(const Cell* word);
// Pushes a string! holding its own copy of the name.
Cell* form_to_string(const Cell* word);
uint32_t scan_type(const Cell* word);
// The word's own context, with notification.
void assign_value(Cell* word, const Cell* value);
Cell* value_slot(const Cell* word);

// Frame operations shared by the child types: cell 0 the word, cell 1 the value.
Cell* set_frame();
Cell* get_frame();

// Action slots.
Cell* make(Cell* prototype, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// index? on the current frame's first cell.
Cell* index_q();
void install_type();

// Shared by the children: the word with another type, flags kept.
Cell* push_as(const Cell* word, uint32_t type);
Cell* add_text_as(const char* text, const Cell* block, uint32_t type);
Cell intern_global_as(const char* text, uint32_t type);

}  // namespace kel::word

namespace kel::lit_word {
inline Cell* add_text_to_block(const char* t, const Cell* b) { return word::add_text_as(t, b, T_LIT_WORD); }
inline Cell intern_global(const char* t) { return word::intern_global_as(t, T_LIT_WORD); }
inline Cell* push_from_word(const Cell* w) { return word::push_as(w, T_LIT_WORD); }
Cell* push_bound_word(Node ctx, int32_t index);
inline Cell* set() { return word::set_frame(); }
inline Cell* get() { return word::get_frame(); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
void install_type();
}  // namespace kel::lit_word

namespace kel::set_word {
inline Cell* add_text_to_block(const char* t, const Cell* b) { return word::add_text_as(t, b, T_SET_WORD); }
inline Cell intern_global(const char* t) { return word::intern_global_as(t, T_SET_WORD); }
inline Cell* push_from_word(const Cell* w) { return word::push_as(w, T_SET_WORD); }
Cell* push_bound_word(Node ctx, int32_t index);
inline Cell* set() { return word::set_frame(); }
inline Cell* get() { return word::get_frame(); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
void install_type();
}  // namespace kel::set_word

namespace kel::get_word {
inline Cell* add_text_to_block(const char* t, const Cell* b) { return word::add_text_as(t, b, T_GET_WORD); }
inline Cell intern_global(const char* t) { return word::intern_global_as(t, T_GET_WORD); }
inline Cell* push_from_word(const Cell* w) { return word::push_as(w, T_GET_WORD); }
Cell* push_bound_word(Node ctx, int32_t index);
inline Cell* set() { return word::set_frame(); }
// Pushes a copy of the word's value.
Cell* push_value(const Cell* word);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
void install_type();
}  // namespace kel::get_word

namespace kel::refinement {
inline Cell* add_text_to_block(const char* t, const Cell* b) { return word::add_text_as(t, b, T_REFINEMENT); }
// An unbound refinement (context 0) of the interned text.
Cell add_global(const char* text);
inline Cell* push_from_word(const Cell* w) { return word::push_as(w, T_REFINEMENT); }
Cell* push_bound_word(Node ctx, int32_t index);
inline Cell* set() { return word::set_frame(); }
inline Cell* get() { return word::get_frame(); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
void install_type();
}  // namespace kel::refinement
