// error!: error values (copies of system/standard/error), the catalogue objects loaded at
// start-up, making errors from codes, ids, blocks and strings, the report, and `try`.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::error {

// Field positions of an error object.
namespace field {
constexpr int32_t CODE = 0, TYPE = 1, ID = 2, ARG1 = 3, ARG2 = 4, ARG3 = 5, NEAR = 6,
                  WHERE = 7, STACK = 8, FILES = 9;
}

// Start-up: loads the catalogue text into system/catalog/errors and makes
// system/standard/error and (when missing) system/state. Raises nothing: a catalogue that
// disagrees with the generated positions is a fatal fault.
void load_catalogue();
bool catalogue_loaded_q();
// Forgets the loaded objects (a fresh heap in tests).
void unload_catalogue();
// Start-up, after the system module laid `system` out again: the kept objects are read
// again from system/catalog/errors, system/standard/error and system/state (each kept as it
// was when that field does not hold an object).
void take_system_objects();

// The error object made for (category, id) positions with the arguments (null: none), into
// out (a rooted cell). Needs the loaded catalogue.
void new_error_value(Cell* out, uint32_t category, uint32_t id, const Cell* arg1,
                     const Cell* arg2, const Cell* arg3);
// Symbols of the type and id fields (-1 when they hold no word).
int32_t type_symbol(const Cell* error);
int32_t id_symbol(const Cell* error);
// Replaces an integer `stack` by the block of call words (and fills `files`).
void record_call_stack(Cell* value);
// The report text (no final line feed) of a real error value.
std::string report_text(const Cell* error);

// Action slots of error!.
Cell* make(Cell* prototype, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();

}  // namespace kel::error
