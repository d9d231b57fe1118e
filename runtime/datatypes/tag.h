// tag! (44), email! (45) and ref! (50): string types that differ from string! in their text
// forms, the actions they refuse, and (email!) path access to the user and host parts.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::tag {
// "<", the characters, ">" (form and mold alike).
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// A new stack cell holding a copy of the cell (the series is shared).
Cell* push_copy(const Cell* value);
void install_type();
}  // namespace kel::tag

namespace kel::email {
// The bare characters, no quotes.
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Path steps: an integer as for string!, the words user and host (any case) get or set
// the parts before and after the first "@".
Cell* user_host_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                     Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                     bool change_notice);
void install_type();
}  // namespace kel::email

namespace kel::ref {
// "@" and the characters (form gives the characters alone).
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Cell* push_copy(const Cell* value);
void install_type();
}  // namespace kel::ref
