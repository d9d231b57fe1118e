// event! (id 54): what face handlers receive. A made event keeps its own values; a backend
// event is a view of a dispatch-time record. Fields, make, path and pick access, routines.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::event {

// Event cell: w1 the type code; w3 the flag bits (gui::event_flag). Made by `make`: header
// bit MADE, the key in the low 21 bits of w3, w2 the node of the block [face window offset
// picked] or 0. From the backend: no MADE bit, w2 an event record id (never a node).
constexpr uint32_t MADE = hdr::EVENT_HAS_BLOCK;
constexpr uint32_t KEY_MASK = 0x1FFFFF;

// Field numbers: the order of `pick`.
enum Field : int32_t {
  TYPE = 1, FACE, WINDOW, OFFSET, KEY, PICKED, FLAGS, AWAY_Q, DOWN_Q, MID_DOWN_Q, ALT_DOWN_Q,
  AUX_DOWN_Q, CTRL_Q, SHIFT_Q, ORIENTATION
};
constexpr int32_t FIELD_COUNT = 15;

// A backend event over a record registered with gui::register_event_record.
Cell* init_backend(Cell* cell, uint32_t type_code, uint32_t flags, uint32_t record_id);
// The field a word names (any word type, case ignored), 1-15; 0 for none.
int32_t field_of_word(const Cell* word);
// Pushes the field's value on the argument stack. A backend event whose record has been
// released reads `type`, `flags` and the logic fields from its cell and none otherwise.
Cell* push_field(const Cell* event, int32_t field);

// Start-up, once `system` exists (with collect_into_root set): registers the datatype, its
// type word (kept in the root block) and the routines event?, send-event-os, find-flag?.
void register_type();

// Slots.
void install_type();
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

}  // namespace kel::event
