// routine! values: C++ functions of the routine registry exposed with their Kel specs;
// building them, their argument count, form, mold, compare and registration.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::routine {

// A registered routine: its word, its spec as Kel text, and the C++ function that does its
// work on the current frame's argument cells (result in cell 0).
using Fn = void (*)();
struct Entry {
  const char* name;
  const char* spec;
  Fn fn;
  int32_t result_type;  // the result's datatype id (extras cell 4); 0: the frame stays
};
// The registry, indexed from 0; an extras cell 2 holds the index.
int32_t registry_count();
namespace detail {
// The registry's cells and count as of its last change (constant-initialised, so right
// before any start-up code runs): every routine call reads its entry through them.
extern const Entry* entries;
extern int32_t entry_count;
}  // namespace detail
inline const Entry* registry_entry(int32_t index) {
  if (index < 0 || index >= detail::entry_count) return nullptr;
  return detail::entries + index;
}
// Adds a routine to the registry (name and spec are static text) and answers its index.
// Units register from their start-up entry; start-up binds every routine registered by
// then (`bind_registered`), and a routine registered later is bound at once.
int32_t register_routine(const Entry& entry);
// Start-up: binds every registered routine to its global word, each built from its spec
// text (the spec's contents, loaded and bound globally) with a none body, then runs the
// after-binding callbacks. An entry without a name is not bound: its unit places it.
void bind_registered();
// Runs fn after every binding of the registry (at once when it is bound already); units
// that keep routines in fields (the codec records) build them there.
void on_bound(void (*fn)());
// The runtime the registry was bound in is gone: routines registered from now on wait for
// the next bind_registered. The registry stays.
void forget_binding();
// Pushes a new routine! value built from registry entry index.
Cell* push_built(int32_t index);

// routine! (29): function! layout; header bit 15 the builder's flag, bits 25-29 the count
// of word! entries of the spec.
constexpr uint32_t FLAG = 0x8000;
constexpr uint32_t ARG_COUNT_SHIFT = 25;
constexpr uint32_t ARG_COUNT_MASK = 0x3E000000;

// Pushes a new routine! value and returns it. body is kept as given (none: no body); code is
// the registry index, code_ref the second code reference (start-up passes -1).
Cell* build(const Cell* spec, const Cell* body, int32_t code, int32_t code_ref, bool flag);
void set_arg_count(Cell* value);
int32_t arg_count(const Cell* value);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void install_type();

}  // namespace kel::routine
