// Helpers of the compound values held whole in their cell (pair!, tuple!, point2D!,
// point3D!): the checked double-to-int32 conversion and the notice after a path set.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::immediate {

// The double truncated toward zero: NaN and infinities raise script/invalid-arg with arg,
// a result outside 32 bits script/out-of-range with arg (a float! of d when arg is null).
int32_t int32_of_double(double d, const Cell* arg = nullptr);

// A path set changed the value in place: with change_notice, an object holder's field
// handler sees the old and new value, any other holder the owner check with `set-path`.
// Callers push the old value first (old is null without change_notice).
void notify_path_set(const Cell* container, Cell* previous, const Cell* old, const Cell* now,
                     const Cell* value, int32_t index);

// The text spec loaded as one value, which must be of the type (else script/bad-to-arg).
Cell* from_text(Cell* out, const Cell* spec, uint32_t type);
// A word, lit-word, get-word or set-word (coordinate names in paths and pick).
inline bool word_like_q(uint32_t t) {
  return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_SET_WORD;
}
[[noreturn]] void raise_invalid_type(uint32_t t);
[[noreturn]] void raise_bad_to_arg(uint32_t target, const Cell* spec);

// A word cell over one of the runtime's own words (error arguments).
Cell runtime_word(size_t position);
// A datatype! cell (error arguments).
inline Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

}  // namespace kel::immediate
