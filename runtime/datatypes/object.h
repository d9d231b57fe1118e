// object!: the record type over an object context, its class ids and change records, the
// change-handler protocol (on-change*, on-deep-change*), copying, and the object actions.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::object {

// Object cell: w1 context node (kind object, with self), w2 class id, w3 change record
// node or 0. Cells passed in must be where the collector sees them; returned addresses
// are valid until the next allocation.

// Change record: two pair! cells (on-change*, on-deep-change*), w2 = position << 16 |
// local count (0xFFFF.... when the handler is absent), w3 = the handler's spec node.
constexpr uint32_t NO_HANDLER = 0xFFFF0000u;
constexpr uint32_t FIRST_CLASS_ID = 1000000;
// Owner mark on an object's context! cell: the object owns its field values.
constexpr uint32_t CONTEXT_OWNER = 0x10000;

uint32_t next_class_id();
Cell* word_at(Node ctx, int32_t position);
int32_t index_of_word(const Cell* object, const Cell* word);
// The field's value, or the shared none value when the object lacks the field.
const Cell* value_of_word(const Cell* object, const Cell* word);
// The word at the same position as the value cell, or null when the cell is not a field.
Cell* word_of_value_slot(const Cell* object, const Cell* slot);
Cell* first_word(const Cell* object);
Cell* values_start(const Cell* object);
int32_t field_count(const Cell* object);
void clear_new_lines(Node values);
void clear_assigned_flags(Node ctx);
bool word_holds_object(Node ctx, const Cell* word, Node target);
bool field_holds_object(Node ctx, int32_t position, Node target);
// Copies the object value into its context's self cell.
void refresh_self(const Cell* object);

Cell* push_new(Node ctx, uint32_t class_id);
Cell* push_with_change_info(Node ctx, uint32_t class_id, Node record);
void init_empty(Cell* cell, int32_t size);
// Positions -1 mean no such handler. Works on the object on the stack top.
void attach_change_info(Node ctx, int32_t change_locals, int32_t change_position,
                        int32_t deep_locals, int32_t deep_position);
Node new_change_record(int32_t change_position, int32_t change_locals, Node change_spec,
                       int32_t deep_position, int32_t deep_locals, Node deep_spec);
void build_change_record(Cell* object);
bool has_deep_handler_q(const Cell* object);

// Handlers: on-change* with (word, old, new); on-deep-change* with (owner, word, target,
// action, new, index, part). The handler gets exactly its own argument count.
void fire_change(const Cell* object, const Cell* word, const Cell* old, const Cell* new_value);
void fire_change_top(const Cell* object, const Cell* word);
void fire_change_word(const Cell* holder, const Cell* field);
void fire_deep_change(const Cell* owner, const Cell* word, const Cell* target,
                      const Cell* action, const Cell* new_value, int32_t index, int32_t part);

void set_fields(Cell* target, const Cell* value, bool any, bool only, bool some);
void copy_into(const Cell* source, Cell* result, bool deep, const Cell* types, bool clear_record);
// Stores a re-bound copy of the function into the slot (the function bound to the object).
void rebind_function(Cell* slot, Node object_ctx);
// construct: pushes the new object.
Cell* make_from_proto(const Cell* spec, const Cell* prototype, bool only);

// Action slots.
Cell* make(Cell* prototype, Cell* spec, uint32_t type);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
int32_t mold_fields(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t budget, bool indent_each, int32_t indent, bool lead_newline);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
// obj/word read by the evaluator's short path: the field's value into out, with nothing
// allocated or raised; false (the general steps then run) for a word the object lacks, a
// field without a value yet, unset, and a function (which the steps call).
bool path_read(const Cell* obj, const Cell* key, Cell* out);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* select(Cell* value, Cell* key, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* put(Cell* value, Cell* key, Cell* new_value, bool case_);
Cell* modify(Cell* value, Cell* field, Cell* new_value, bool case_);

void install_type();

}  // namespace kel::object
