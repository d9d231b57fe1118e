// Interim declarations of services that words, symbols and contexts take from units not
// merged yet (datatype registry, string API, lexer, object change records).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

// ---- datatype registry (its own unit replaces these) ----
namespace kel::datatype {

// A type-erased action slot; null = not supported.
using SlotFn = void (*)();
constexpr uint32_t SLOT_COUNT = 62;
// Action slot numbers used here.
namespace slot {
constexpr uint32_t MAKE = 1, TO = 4, FORM = 5, MOLD = 6, COMPARE = 9, INDEX_Q = 34;
}
// [id, parent, name, slots 1-62]; a slot of inherit_slot() takes the parent's slot as it is.
struct Registration {
  uint32_t id;
  uint32_t parent;
  const char* name;
  SlotFn slots[SLOT_COUNT];
};
SlotFn inherit_slot();
void register_type(const Registration& r);
// Slot k (1-62) of a type, null when not supported.
SlotFn action_slot(uint32_t type, uint32_t k);
// Name with its "!", or null when not registered.
const char* type_name(uint32_t type);
uint32_t highest_id();
// The type's global word: symbol and index kept; empty (header 0) until interned.
Cell type_word(uint32_t type);
void set_type_word(uint32_t type, const Cell& word);

}  // namespace kel::datatype

// Typed slot signatures.
namespace kel::slot_fn {
using Make = Cell* (*)(Cell* prototype, const Cell* spec, uint32_t type);
using Form = int32_t (*)(const Cell* value, Cell* buffer, const Cell* part, int32_t limit);
using Mold = int32_t (*)(const Cell* value, Cell* buffer, bool only, bool all, bool flat,
                         const Cell* part, int32_t limit, int32_t indent);
using Compare = int32_t (*)(const Cell* a, const Cell* b, int32_t op);
}  // namespace kel::slot_fn

// ---- string API (the string unit replaces these) ----
namespace kel::string {
Cell* init_cell(Cell* cell, int32_t n);
SeriesBuffer* concat_part(Cell* target, const Cell* source, int32_t limit, int32_t offset,
                          bool keep, int mode);
int32_t compare_strings(const Cell* a, const Cell* b, int32_t op, bool prefix);
int32_t count_from_head(Cell* s);
SeriesBuffer* add_codepoint(Cell* s, int32_t c);
}  // namespace kel::string

// ---- lexer (raises internal/not-done until it exists) ----
namespace kel::lexer {
// Datatype id of the first value the lexer reads from UTF-8 text.
uint32_t scan_first_type(const uint8_t* text, int32_t length);
// Loads the string as source text and writes its first value into out.
void load_first_value(const Cell* string, Cell* out);
}  // namespace kel::lexer

// ---- objects (raises internal/not-done until objects carry change records) ----
namespace kel::object {
void fire_change(const Cell* self, const Cell* word, const Cell* old, Cell* slot);
}  // namespace kel::object
