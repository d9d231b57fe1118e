// Field names of the face, font and para objects and the look-up of a field's value cell by
// its number (checked against the name at that position, so any object answers safely).
#include "gui/face_fields.h"

#include "runtime/context.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace kel::gui {

namespace {

constexpr const char* FACE_NAMES[face_field::COUNT] = {
    "type",  "offset",  "size",   "text",    "image",  "color",  "menu",
    "data",  "enabled?", "visible?", "selected", "flags", "options", "parent",
    "pane",  "state",   "rate",   "edge",    "para",   "font",   "actors",
    "extra", "draw",    "on-change*", "on-deep-change*"};
constexpr const char* FONT_NAMES[font_field::COUNT] = {
    "name",  "size",   "style",  "weight", "angle",     "color",
    "anti-alias?", "shadow", "state", "parent", "on-change*", "on-deep-change*"};
constexpr const char* PARA_NAMES[para_field::COUNT] = {
    "origin", "padding", "scroll", "align", "v-align", "wrap?", "parent", "on-change*"};

// Canonical symbol ids of the names, 0 until interned.
int32_t g_face[face_field::COUNT];
int32_t g_font[font_field::COUNT];
int32_t g_para[para_field::COUNT];

template <int32_t N>
void intern(const char* const (&names)[N], int32_t (&ids)[N]) {
  for (int32_t i = 0; i < N; ++i) ids[i] = symbol::canonical_id(symbol::intern_c_text(names[i]));
}

Cell* slot(const Cell* object, const int32_t* ids, int32_t count, int32_t field) {
  if (cell::type(object) != T_OBJECT || field < 0 || field >= count || !ids[field]) return nullptr;
  Node ctx = object->w1;
  Node values = context::values_node(ctx);
  if (!values) return nullptr;
  int32_t held = int32_t(memory::used_bytes(memory::node_buffer(values)) / sizeof(Cell));
  int32_t at = -1;
  if (field < held && field < context::word_count(ctx) &&
      symbol::canonical_id(int32_t(context::word_at(ctx, field)->w2)) == ids[field])
    at = field;
  else
    at = context::find_symbol(ctx, ids[field], true);
  if (at < 0 || at >= held) return nullptr;
  return reinterpret_cast<Cell*>(memory::node_head(values)) + at;
}

}  // namespace

void intern_field_names() {
  intern(FACE_NAMES, g_face);
  intern(FONT_NAMES, g_font);
  intern(PARA_NAMES, g_para);
}

Cell* face_slot(const Cell* face, int32_t field) { return slot(face, g_face, face_field::COUNT, field); }
Cell* font_slot(const Cell* font, int32_t field) { return slot(font, g_font, font_field::COUNT, field); }
Cell* para_slot(const Cell* para, int32_t field) { return slot(para, g_para, para_field::COUNT, field); }

}  // namespace kel::gui
