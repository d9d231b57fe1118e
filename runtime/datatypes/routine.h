// routine! values: C++ functions of the routine registry exposed with their Kel specs;
// building them, their argument count, form, mold, compare and registration.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

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

// The arguments a routine's spec names before its first refinement or set-word, and where
// its first refinement stands (n without one).
inline int32_t spec_arg_count(const Cell* sc, uint32_t n, uint32_t* refinement_at) {
  int32_t args = 0;
  bool counting = true;
  *refinement_at = n;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t t = cell::type(sc + i);
    if (t == T_REFINEMENT) {
      *refinement_at = i;
      break;
    }
    if (t == T_SET_WORD) counting = false;
    else if (counting && (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD)) ++args;
  }
  return args;
}

// The walk every routine argument check makes: the spec's argument words from the last to
// the first, each with the type block written after it, as f(k, word, types) with k the
// argument's frame index. f answers whether to go on; false when it stopped the walk. Words
// past the first refinement (refinement arguments, locals) are no arguments: the walk
// starts before it.
template <class F> inline bool each_arg_types(const Cell* sc, uint32_t n, F&& f) {
  uint32_t from;
  int32_t k = spec_arg_count(sc, n, &from);
  for (uint32_t i = from; i-- > 0;) {
    uint32_t t = cell::type(sc + i);
    if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD) continue;
    --k;
    if (k < 0 || i + 1 >= n || cell::type(sc + i + 1) != T_BLOCK) continue;
    if (!f(k, sc + i, sc + i + 1)) return false;
  }
  return true;
}

// `any-type!` in a type block, by its spelling or another case of it.
inline bool any_type_word_q(const Cell* type_word, int32_t any_type_id) {
  return type_word->w2 == uint32_t(any_type_id) ||
         symbol::canonical_id(int32_t(type_word->w2)) == symbol::canonical_id(any_type_id);
}

// The argument checks of a call of the routine whose spec is given, on the frame's cells,
// by a plan kept per spec block: the frame index of each checked argument and the value cells of
// its type words (global words), good while the spec and its type blocks keep their write
// stamps and no cell moved. True when every check passes; false when one fails or no plan
// can be made (a type word of another context, a long spec): the caller then runs the
// full checks, which report. Nothing here allocates or raises.
bool args_pass_q(Node spec, const Cell* frame);

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
