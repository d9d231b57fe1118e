// Widgets: a table of records reached by id (index + generation, indices reused first in
// first out), geometry, hit testing, the paint walk, freeing, focus and the collector marker.
#include "gui/terminal/widgets.h"

#include <algorithm>
#include <deque>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/event_records.h"
#include "gui/terminal/paint.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/gc.h"

namespace kel::gui {

namespace {
struct Slot {
  Widget w;
  uint32_t generation;
  bool live;
};

// A deque keeps every slot where it is while the table grows (callbacks may create
// widgets while a caller holds one). Widgets still shown when the process ends let their
// kind data go with the table, as forget_widgets does.
struct SlotTable : std::deque<Slot> {
  ~SlotTable() {
    for (Slot& s : *this)
      if (s.live && s.w.free_data) s.w.free_data(s.w.data);
  }
};
SlotTable g_slots;
std::deque<uint32_t> g_free;  // indices to reuse, oldest first
uint32_t g_live = 0;
// New slots start here: an id of a table that was dropped never names a widget again.
uint32_t g_first_generation = 0;

constexpr uint32_t INDEX_MASK = (1u << WIDGET_INDEX_BITS) - 1;
constexpr uint32_t GENERATION_MASK = (1u << (32 - WIDGET_INDEX_BITS)) - 1;
constexpr int32_t EVENT_FOCUS = 17;
constexpr int32_t EVENT_UNFOCUS = 18;

uint32_t make_id(uint32_t index, uint32_t generation) {
  return (generation & GENERATION_MASK) << WIDGET_INDEX_BITS | (index + 1);
}

void default_paint(int32_t x, int32_t y, uint32_t id) { common_paint(x, y, id, STYLE_ESCAPES); }
void default_update(uint32_t) {}
int32_t default_event(uint32_t, int32_t, void*) { return 0; }

bool face_lookup(uint32_t id, Cell* out) {
  const Widget* w = widget(id);
  if (!w || cell::type(&w->face) != T_OBJECT) return false;
  *out = w->face;
  return true;
}

void remove_from(std::vector<uint32_t>& list, uint32_t id) {
  list.erase(std::remove(list.begin(), list.end(), id), list.end());
}
}  // namespace

uint32_t create_widget(uint32_t parent) {
  uint32_t index;
  if (!g_free.empty()) {
    index = g_free.front();
    g_free.pop_front();
  } else {
    if (g_slots.size() >= INDEX_MASK) return 0;
    index = uint32_t(g_slots.size());
    g_slots.push_back(Slot{Widget{}, g_first_generation, false});
  }
  Slot& s = g_slots[index];
  Widget& w = s.w;
  w.type = 0;
  w.flags = 0;
  w.left = w.top = w.right = w.bottom = 0;
  w.parent = parent;
  w.image_cells.reset();
  cell::set_none(&w.ui_text);
  w.data = nullptr;
  w.free_data = nullptr;
  w.on_update = default_update;
  w.on_paint = default_paint;
  w.on_event = default_event;
  cell::set_none(&w.face);
  s.live = true;
  ++g_live;
  return make_id(index, s.generation);
}

Widget* widget(uint32_t id) {
  uint32_t index = (id & INDEX_MASK);
  if (index == 0 || index > g_slots.size()) return nullptr;
  Slot& s = g_slots[index - 1];
  if (!s.live || (s.generation & GENERATION_MASK) != id >> WIDGET_INDEX_BITS) return nullptr;
  return &s.w;
}

bool widget_live_q(uint32_t id) { return widget(id) != nullptr; }
uint32_t live_widget_count() { return g_live; }

void free_widget(uint32_t id) {
  Widget* w = widget(id);
  if (!w) return;
  Slot& s = g_slots[(id & INDEX_MASK) - 1];
  bool window = is_window_q(id);
  void* data = w->data;
  void (*free_data)(void*) = w->free_data;
  // Gone before any handler can run: every later look-up of this id finds nothing.
  s.live = false;
  ++s.generation;
  --g_live;
  w->data = nullptr;
  w->free_data = nullptr;
  w->image_cells.reset();
  cell::set_none(&w->face);
  cell::set_none(&w->ui_text);
  Screen& sc = screen();
  if (sc.focused == id) sc.focused = 0;
  if (sc.hovered == id) sc.hovered = 0;
  if (sc.captured == id) sc.captured = 0;
  remove_from(sc.over_list, id);
  remove_timers_of(id);
  if (window) remove_window(id);
  if (free_data) free_data(data);
  g_free.push_back((id & INDEX_MASK) - 1);
}

void free_widget_tree(uint32_t id) {
  if (!widget(id)) return;
  for (int32_t i = 0; i < pane_count(id); ++i) {
    uint32_t child = face_handle_q(pane_head(id) + i);
    if (child && child != id) free_widget_tree(child);
  }
  free_widget(id);
}

int32_t widget_width(const Widget* w) { return int32_t(w->right - w->left); }
int32_t widget_height(const Widget* w) { return int32_t(w->bottom - w->top); }

void widget_origin(uint32_t id, int32_t* x, int32_t* y) {
  float ox = 0, oy = 0;
  for (int guard = 0; guard < 1 << 20; ++guard) {
    const Widget* w = widget(id);
    if (!w || !w->parent) break;  // the window's own place is not added
    ox += w->left;
    oy += w->top;
    id = w->parent;
  }
  *x = int32_t(ox);
  *y = int32_t(oy);
}

bool is_window_q(uint32_t id) {
  const Widget* w = widget(id);
  return w && !w->parent && w->free_data == free_window_record;
}

uint32_t face_handle_q(const Cell* face) {
  if (cell::type(face) != T_OBJECT) return 0;
  const Cell* state = face_slot(face, face_field::STATE);
  if (!state || !block::any_block_q(cell::type(state)) || cell::type(state) != T_BLOCK) return 0;
  if (block::count_from_head(state) < 1) return 0;
  const Cell* h = block::head_cell(const_cast<Cell*>(state));
  if (cell::type(h) != T_HANDLE || h->w1 != handle::KIND_WINDOW) return 0;
  return widget_live_q(h->w2) ? h->w2 : 0;
}

Cell get_face_handle(const Cell* face) {
  Cell out;
  cell::set_none(&out);
  const Cell* state = face_slot(face, face_field::STATE);
  if (state && block::any_block_q(cell::type(state)) && block::count_from_head(state) >= 1)
    out = *block::head_cell(const_cast<Cell*>(state));
  return out;
}

int32_t pane_count(uint32_t id) {
  const Widget* w = widget(id);
  if (!w) return 0;
  const Cell* pane = face_slot(&w->face, face_field::PANE);
  if (!pane || cell::type(pane) != T_BLOCK) return 0;
  return std::max(0, block::count_from_head(pane));
}

const Cell* pane_head(uint32_t id) {
  const Widget* w = widget(id);
  const Cell* pane = w ? face_slot(&w->face, face_field::PANE) : nullptr;
  if (!pane || cell::type(pane) != T_BLOCK) return nullptr;
  return block::head_cell(const_cast<Cell*>(pane));
}

uint32_t hit_test(uint32_t id, float x, float y) {
  for (int32_t i = pane_count(id); i-- > 0;) {
    uint32_t child = face_handle_q(pane_head(id) + i);
    const Widget* c = widget(child);
    if (!c || child == id || (c->flags & wflag::HIDDEN)) continue;
    if (c->left <= x && x < c->right && c->top <= y && y < c->bottom) return child;
  }
  return 0;
}

void paint_tree(uint32_t id) {
  Widget* w = widget(id);
  if (!w || (w->flags & wflag::HIDDEN)) return;
  int32_t x, y;
  widget_origin(id, &x, &y);
  if (w->on_paint) w->on_paint(x, y, id);
  // The pane is read again for each face: painting may run code that changes it.
  for (int32_t i = 0; i < pane_count(id); ++i) {
    uint32_t child = face_handle_q(pane_head(id) + i);
    if (child && child != id) paint_tree(child);
  }
}

void set_focus(uint32_t window_widget, uint32_t id, WindowRecord* record) {
  if (!window_widget) window_widget = window_of(id);
  if (!record) record = window_record(window_widget);
  if (!record || !widget(id)) return;
  Screen& sc = screen();
  if (window_widget != sc.active_window) {
    record->focus = id;
    return;
  }
  uint32_t old = sc.focused;
  if (old == id) {
    record->focus = id;
    return;
  }
  if (old) {
    sc.focused = 0;
    if (Widget* o = widget(old)) o->flags &= ~wflag::FOCUSED;
    make_event(EVENT_UNFOCUS, old, 0);
    // The handlers may have closed the window, freed the widget or moved the focus.
    record = window_record(window_widget);
    if (!record || !window_on_stack_q(window_widget)) return;
    if (!widget(id)) {
      if (!sc.focused) {
        sc.focused = window_widget;
        if (Widget* ww = widget(window_widget)) ww->flags |= wflag::FOCUSED;
      }
      return;
    }
    if (sc.focused || window_widget != sc.active_window) {
      if (record->focus == old) record->focus = id;
      return;
    }
  }
  record->focus = id;
  sc.focused = id;
  widget(id)->flags |= wflag::FOCUSED;
  make_event(EVENT_FOCUS, id, 0);
}

void free_window_record(void* record) { delete static_cast<WindowRecord*>(record); }

namespace {
void paint_nothing(int32_t, int32_t, uint32_t) {}
}  // namespace

WindowRecord* setup_window(uint32_t id) {
  Widget* w = widget(id);
  if (!w || w->parent) return nullptr;
  auto* r = new WindowRecord{w->left, w->top, w->right, w->bottom, id, 0, 0};
  w->data = r;
  w->free_data = free_window_record;
  w->on_paint = paint_nothing;
  if (w->flags & wflag::FULLSCREEN) console().full_screen = true;
  if (!screen().focused) {
    screen().focused = id;
    w->flags |= wflag::FOCUSED;
  }
  push_window(id);
  return r;
}

void add_to_window(uint32_t child) {
  const Widget* c = widget(child);
  if (!c || !c->parent) return;
  WindowRecord* r = window_record(c->parent);
  if (r) {
    r->left = std::min(r->left, c->left);
    r->top = std::min(r->top, c->top);
    r->right = std::max(r->right, c->right);
    r->bottom = std::max(r->bottom, c->bottom);
  }
  uint32_t win = window_of(child);
  WindowRecord* wr = window_record(win);
  if (!wr) return;
  if (c->flags & wflag::TEXT_CURSOR) ++wr->text_cursors;
  if ((c->flags & wflag::FOCUSABLE) && !widget_live_q(wr->focus)) set_focus(win, child, wr);
}

void init_widgets() {
  set_face_lookup(&face_lookup);
  gc::remove_root(&mark_widgets);
  gc::add_root(&mark_widgets);
}

void forget_widgets() {
  for (Slot& s : g_slots) {
    if (s.live && s.w.free_data) s.w.free_data(s.w.data);
    g_first_generation = std::max(g_first_generation, s.generation + 1);
  }
  g_slots.clear();
  g_free.clear();
  g_live = 0;
}

void mark_widgets() {
  for (Slot& s : g_slots) {
    if (!s.live) continue;
    gc::mark_cells(&s.w.face, &s.w.face + 1);
    gc::mark_cells(&s.w.ui_text, &s.w.ui_text + 1);
  }
}

}  // namespace kel::gui
