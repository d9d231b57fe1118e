// Field numbers of the face, font and para objects (their prototypes' field order, from 0)
// and the one place where backend code finds such a field's value cell in an object.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

namespace face_field {
enum : int32_t {
  TYPE, OFFSET, SIZE, TEXT, IMAGE, COLOR, MENU, DATA, ENABLED_Q, VISIBLE_Q, SELECTED, FLAGS,
  OPTIONS, PARENT, PANE, STATE, RATE, EDGE, PARA, FONT, ACTORS, EXTRA, DRAW, ON_CHANGE,
  ON_DEEP_CHANGE, COUNT
};
}  // namespace face_field

namespace font_field {
enum : int32_t {
  NAME, SIZE, STYLE, WEIGHT, ANGLE, COLOR, ANTI_ALIAS_Q, SHADOW, STATE, PARENT, ON_CHANGE,
  ON_DEEP_CHANGE, COUNT
};
}  // namespace font_field

namespace para_field {
enum : int32_t { ORIGIN, PADDING, SCROLL, ALIGN, V_ALIGN, WRAP_Q, PARENT, ON_CHANGE, COUNT };
}  // namespace para_field

// Start-up (with the GUI vocabulary): interns the field names.
void intern_field_names();

// The value cell of a field of an object! value: at the field's number when the object
// has the prototype's layout, else wherever the object holds a field of that name; null
// when it has none (or the value is no object). Valid until the next allocation.
Cell* face_slot(const Cell* face, int32_t field);
Cell* font_slot(const Cell* font, int32_t field);
Cell* para_slot(const Cell* para, int32_t field);

}  // namespace kel::gui
