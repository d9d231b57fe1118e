// Interim stand-ins used by the block and series units for services whose owners have not
// landed yet: registry and action table, direct mold/form, text writes, random, owner lookups.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

// Each group below is deleted once its owner's unit is merged; callers keep the same names.

namespace kel::datatype {
// A slot holds a function address cast to this type, or null (not supported).
using Slot = void (*)();
constexpr int32_t SLOT_COUNT = 62;
constexpr int32_t TABLE_IDS = 57;
// Marks a slot to take the parent's function at registration.
inline Slot inherit() { return reinterpret_cast<Slot>(intptr_t(-1)); }
// One type's registration: id, parent id (0 none), name with its "!", and its 62 slots.
struct Registration {
  uint32_t id;
  uint32_t parent;
  const char* name;
  Slot slots[SLOT_COUNT];  // index = action id - 1
};
void register_type(const Registration& r);
Slot slot(uint32_t type, uint32_t action_id);
const char* type_name(uint32_t type);
// Clears both tables (tests).
void reset_tables();
}  // namespace kel::datatype

namespace kel::slot_fn {
using Form = int32_t (*)(Cell* value, Cell* buffer, int32_t part, int32_t budget);
using Mold = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
                         int32_t budget, int32_t indent);
using Copy = Cell* (*)(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types);
using Random = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell* (*)(Cell* value, int32_t field);
using Series = Cell* (*)(Cell* series);
using Length = int32_t (*)(Cell* series);
using Pick = Cell* (*)(Cell* series, int32_t index, const Cell* index_cell);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* value, const Cell* index_cell);
using Remove = Cell* (*)(Cell* series, const Cell* part, const Cell* key);
using Reverse = Cell* (*)(Cell* series, const Cell* part, const Cell* skip);
using Take = Cell* (*)(Cell* series, const Cell* part, bool deep, bool last);
using Move = Cell* (*)(Cell* origin, Cell* target, const Cell* part);
using Modify = Cell* (*)(Cell* target, int32_t field, Cell* value, bool case_q);
using FrameOnly = void (*)();
using Find = Cell* (*)(Cell* series, Cell* value, const Cell* part, bool only, bool case_q,
                       bool same, bool any, const Cell* with, const Cell* skip, bool last,
                       bool reverse, bool tail, bool match);
}  // namespace kel::slot_fn

namespace kel::actions {
// The function in the cell's slot; an empty slot raises script/expect-arg.
datatype::Slot resolve_for_cell(const Cell* value, uint32_t action_id);
// Through the value's slot; an empty slot raises script/expect-arg.
int32_t direct_form(Cell* value, Cell* buffer, int32_t part, int32_t budget);
int32_t direct_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
                    int32_t budget, int32_t indent);
Cell* direct_copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types);
Cell* direct_find(Cell* series, Cell* value, const Cell* part, bool only, bool case_q, bool same,
                  bool any, const Cell* with, const Cell* skip, bool last, bool reverse,
                  bool tail, bool match);
}  // namespace kel::actions

namespace kel::string {
bool any_string_q(uint32_t type);
uint32_t unit_of(const Cell* s);
int32_t read_codepoint(const uint8_t* p, uint32_t unit);
SeriesBuffer* add_codepoint(Cell* s, int32_t c);
void add_c_text(Cell* s, const char* text);
uint8_t* store_codepoint(Cell* s, uint8_t* address, int32_t c);
void move_codepoints(Cell* source, Cell* target, int32_t index, int32_t length_bytes);
Cell* init_cell(Cell* cell, int32_t n);
}  // namespace kel::string

namespace kel::random {
void seed(uint32_t value);
int32_t pick_1_to_n(bool secure, int32_t n);
}  // namespace kel::random

namespace kel::owner {
// The owner cell (the field word follows it) or null when the value is not owned.
Cell* find(const Cell* value);
void disown(Cell* value);
void attach_flagged(Cell* value, Cell* owner, Cell* field);
}  // namespace kel::owner

namespace kel::vector {
Cell* push_element(const uint8_t* element, uint32_t unit, uint32_t element_type);
void store_element(uint8_t* element, const Cell* value, uint32_t unit);
}  // namespace kel::vector
namespace kel::binary {
void poke_byte(uint8_t* address, const Cell* value);
}  // namespace kel::binary
