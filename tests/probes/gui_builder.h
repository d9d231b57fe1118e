// A test builder of widgets: faces made from fixture objects (the face field order) get a
// widget each, window first, then its pane, the way the face tree will make them.
#pragma once
#include <cstdint>

#include "gui/face_fields.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"

namespace kel::testing {

// Face fields and the fixture object that has them in order, as Kel text.
inline const char* kFaceFixture =
    "face-fixture: object [type: 'base offset: 0x0 size: 1x1 text: none image: none "
    "color: none menu: none data: none enabled?: true visible?: true selected: none "
    "flags: none options: none parent: none pane: none state: none rate: none edge: none "
    "para: none font: none actors: none extra: none draw: none]\n"
    "face: func [spec] [make face-fixture spec]";

// The widget flags a face's flags facet gives.
inline uint32_t widget_flags_of(const Cell* face) {
  const Cell* f = gui::face_slot(face, gui::face_field::FLAGS);
  uint32_t bits = f ? gui::get_flags(f) : 0;
  uint32_t w = 0;
  if (bits & 0x1) w |= gui::wflag::ALL_OVER;
  if (bits & 0x2) w |= gui::wflag::FOCUSABLE;
  if (bits & 0x80000) w |= gui::wflag::PASSWORD;
  if (bits & 0x200000) w |= gui::wflag::FULLSCREEN;
  const Cell* v = gui::face_slot(face, gui::face_field::VISIBLE_Q);
  if (!v || cell::type(v) != T_LOGIC || !v->w1) w |= gui::wflag::HIDDEN;
  const Cell* e = gui::face_slot(face, gui::face_field::ENABLED_Q);
  if (!e || cell::type(e) != T_LOGIC || !e->w1) w |= gui::wflag::DISABLED;
  return w;
}

inline float pair_x(const Cell* p) {
  return p && cell::type(p) == T_PAIR ? float(pair::x_of(p)) : 0.0f;
}
inline float pair_y(const Cell* p) {
  return p && cell::type(p) == T_PAIR ? float(pair::y_of(p)) : 0.0f;
}

// Widgets for the face (rooted by the caller) and its pane; the face's id.
inline uint32_t build_widgets(Cell* face, uint32_t parent) {
  stack::TopGuard keep;
  uint32_t id = gui::create_widget(parent);
  gui::Widget* w = gui::widget(id);
  w->flags = widget_flags_of(face);
  const Cell* type = gui::face_slot(face, gui::face_field::TYPE);
  if (type && word::any_word_type_q(cell::type(type))) w->type = int32_t(type->w2);
  const Cell* offset = gui::face_slot(face, gui::face_field::OFFSET);
  const Cell* size = gui::face_slot(face, gui::face_field::SIZE);
  w->left = parent ? pair_x(offset) : 0;
  w->top = parent ? pair_y(offset) : 0;
  w->right = w->left + pair_x(size);
  w->bottom = w->top + pair_y(size);
  w->face = *face;
  // state: [handle]
  Cell* state = stack::reserve_cell();
  cell::set_none(state);
  block::init_cell(state, 2);
  Cell h;
  handle::init_cell(&h, int32_t(id), handle::KIND_WINDOW);
  *runtime::block_append_cell(state) = h;
  if (Cell* slot = gui::face_slot(face, gui::face_field::STATE)) *slot = *state;
  if (!parent) gui::setup_window(id);
  else gui::add_to_window(id);
  const Cell* pane = gui::face_slot(face, gui::face_field::PANE);
  int32_t n = pane && cell::type(pane) == T_BLOCK ? block::count_from_head(pane) : 0;
  Cell* held = stack::push_copy(pane ? pane : cell::none_value());
  for (int32_t i = 0; i < n; ++i) {
    Cell* child = stack::push_copy(block::head_cell(held) + i);
    if (cell::type(child) == T_OBJECT) build_widgets(child, id);
    stack::drop_cells(1);
  }
  return id;
}

}  // namespace kel::testing
