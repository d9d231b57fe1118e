// Widget kinds: each face type's set-up and callbacks. Every call into Kel (a TUI-helpers
// function, an event handler) can free widgets and move buffers: ids and slots are looked
// up again after each.
#include "gui/terminal/widget_kinds.h"

#include <algorithm>
#include <cstring>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/rich_text.h"
#include "gui/terminal/screen.h"
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interp.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::gui {

const char* const TUI_HELPER_NAMES[TUI_HELPER_COUNT] = {
    "check-color-support", "focused?", "widget-data", "set-face-ui", "make-progress-ui",
    "make-text-list-ui", "make-checkbox-ui", "make-radio-ui", "get-files", "request-file",
    "request-dir"};

namespace {

constexpr int32_t HELPER_PROGRESS = 4, HELPER_TEXT_LIST = 5, HELPER_CHECK = 6, HELPER_RADIO = 7;
constexpr int32_t EVENT_FOCUS = 17, EVENT_SELECT = 25, EVENT_CHANGE = 26;
constexpr int32_t KEY_UP = -20, KEY_DOWN = -21, KEY_RIGHT = -22, KEY_LEFT = -23;

struct Words {
  int32_t field, button, base, progress, group_box, check, radio, text_list, rich_text, window,
      area, drop_down, drop_list, caret, border_corners, round, border_color;
} g_words{};

struct TextListData {
  int32_t first_row;
};

int32_t canonical(int32_t symbol) { return symbol ? symbol::canonical_id(symbol) : 0; }
bool type_is(const Widget* w, int32_t id) { return w && id && canonical(w->type) == id; }
bool word_is(const Cell* c, int32_t id) {
  return c && word::any_word_type_q(cell::type(c)) && symbol::canonical_id(int32_t(c->w2)) == id;
}

// The face's field cell (null when the widget or the field is missing); valid until the
// next allocation.
Cell* slot_of(uint32_t id, int32_t field) {
  Widget* w = widget(id);
  return w ? face_slot(&w->face, field) : nullptr;
}

// The face of a live widget on the stack (none when gone).
Cell* push_face(uint32_t id) {
  Widget* w = widget(id);
  return stack::push_copy(w ? &w->face : cell::none_value());
}

int32_t selected_of(uint32_t id) {
  const Cell* s = slot_of(id, face_field::SELECTED);
  return s && cell::type(s) == T_INTEGER ? int32_t(s->w2) : 0;
}
void set_selected(uint32_t id, int32_t n) {
  if (Cell* s = slot_of(id, face_field::SELECTED)) cell::set_integer(s, n);
}

// ---- Updates through the TUI helpers ----

void helper_update(uint32_t id, int32_t helper, bool keeps_ui_text) {
  stack::TopGuard keep;
  Cell* face = push_face(id);
  if (cell::type(face) != T_OBJECT) return;
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  call_tui_helper(helper, face, out);
  // At set-up state is not set yet, so set-face-ui could not store the text itself.
  if (keeps_ui_text && cell::type(out) == T_STRING)
    if (Widget* w = widget(id)) w->ui_text = *out;
}

void progress_update(uint32_t id) { helper_update(id, HELPER_PROGRESS, false); }
void text_list_update(uint32_t id) { helper_update(id, HELPER_TEXT_LIST, false); }
void check_update(uint32_t id) { helper_update(id, HELPER_CHECK, true); }
void radio_update(uint32_t id) { helper_update(id, HELPER_RADIO, true); }

void rich_text_update(uint32_t id) { rebuild_rich_text(id); }

// ---- Painting ----

void paint_plain(int32_t x, int32_t y, uint32_t id) { common_paint(x, y, id, 0); }

void paint_button(int32_t x, int32_t y, uint32_t id) {
  const Widget* w = widget(id);
  bool focused = w && (w->flags & wflag::FOCUSED);
  common_paint(x, y, id, focused ? STYLE_ESCAPES | attr::INVERSE : STYLE_ESCAPES);
}

void paint_mark(int32_t x, int32_t y, uint32_t id) {
  const Widget* w = widget(id);
  bool focused = w && (w->flags & wflag::FOCUSED);
  uint32_t bits = STYLE_ESCAPES | STYLE_NO_TEXT;
  common_paint(x, y, id, focused ? bits | attr::INVERSE : bits);
}

void paint_field(int32_t x, int32_t y, uint32_t id) {
  Widget* w = widget(id);
  if (!w) return;
  w->bottom = w->top + 1;  // a field is one row high
  common_paint(x, y, id, (w->flags & wflag::PASSWORD) ? STYLE_ESCAPES | attr::PASSWORD : STYLE_ESCAPES);
  w = widget(id);
  if (w && (w->flags & wflag::FOCUSED) && w->data) {
    screen().cursor_column = x + static_cast<FieldData*>(w->data)->caret_column;
    screen().cursor_row = y;
  }
}

// The `caret` options of a base: the base marks itself, the named face's widget shows a text
// cursor, and when that widget has the focus the cursor goes to the base's origin.
void caret_scan(int32_t x, int32_t y, uint32_t id) {
  const Cell* options = slot_of(id, face_field::OPTIONS);
  if (!options || cell::type(options) != T_BLOCK) return;
  int32_t n = block::count_from_head(options);
  if (n <= 0 || n % 2) return;
  for (int32_t i = 0; i + 1 < n; i += 2) {
    options = slot_of(id, face_field::OPTIONS);
    if (!options || cell::type(options) != T_BLOCK || block::count_from_head(options) != n) return;
    const Cell* pair = block::head_cell(const_cast<Cell*>(options)) + i;
    if (!word_is(pair, g_words.caret)) continue;
    if (Widget* w = widget(id)) w->flags |= wflag::CARET_BASE;
    uint32_t target = face_handle_q(pair + 1);
    if (Widget* t = widget(target)) {
      t->flags |= wflag::TEXT_CURSOR;
      if (screen().focused == target) {
        screen().cursor_column = x;
        screen().cursor_row = y;
      }
    }
  }
}

void paint_base(int32_t x, int32_t y, uint32_t id) {
  caret_scan(x, y, id);
  const Widget* w = widget(id);
  if (w && !(w->flags & wflag::CARET_BASE)) common_paint(x, y, id, STYLE_ESCAPES);
}

constexpr uint32_t FRAME_SQUARE[4] = {0x250C, 0x2510, 0x2514, 0x2518};
constexpr uint32_t FRAME_ROUND[4] = {0x256D, 0x256E, 0x2570, 0x256F};

void paint_group_box(int32_t x, int32_t y, uint32_t id) {
  common_paint(x, y, id, STYLE_NO_TEXT);
  Widget* w = widget(id);
  Screen& sc = screen();
  if (!w || sc.cells.empty()) return;
  bool round = false;
  bool coloured = false;
  uint32_t colour = 0;
  const Cell* options = face_slot(&w->face, face_field::OPTIONS);
  if (options && cell::type(options) == T_BLOCK) {
    int32_t n = block::count_from_head(options);
    const Cell* head = block::head_cell(const_cast<Cell*>(options));
    for (int32_t i = 0; i + 1 < n; ++i) {
      if (word_is(head + i, g_words.border_corners) && word_is(head + i + 1, g_words.round))
        round = true;
      if (word_is(head + i, g_words.border_color) && cell::type(head + i + 1) == T_TUPLE) {
        coloured = true;
        colour = rgb_to_256(tuple_to_rgb(head + i + 1));
      }
    }
  }
  const uint32_t* corner = round ? FRAME_ROUND : FRAME_SQUARE;
  int32_t width = widget_width(w), height = widget_height(w);
  // The frame is clipped as painting is: the immediate parent (not a window) and the grid.
  int32_t cl = x, ct = y, cr = x + width, cb = y + height;
  if (w->parent && !is_window_q(w->parent))
    if (const Widget* p = widget(w->parent)) {
      int32_t px = x - int32_t(w->left), py = y - int32_t(w->top);
      cl = std::max(cl, px);
      ct = std::max(ct, py);
      cr = std::min(cr, px + widget_width(p));
      cb = std::min(cb, py + widget_height(p));
    }
  cl = std::max(cl, 0);
  ct = std::max(ct, 0);
  cr = std::min(cr, sc.width);
  cb = std::min(cb, sc.height);
  auto put = [&](int32_t cx, int32_t cy, uint32_t ch) {
    if (cx < cl || cx >= cr || cy < ct || cy >= cb) return;
    ScreenCell& c = sc.cells[size_t(cy) * size_t(sc.width) + size_t(cx)];
    c.ch = ch;
    c.attrs &= ~attr::WIDE_TAIL;
    if (coloured) c.fg = colour;
  };
  if (width < 1 || height < 1) return;
  int32_t r = x + width - 1, b = y + height - 1;
  for (int32_t cx = x + 1; cx < r; ++cx) {
    put(cx, y, 0x2500);
    put(cx, b, 0x2500);
  }
  for (int32_t cy = y + 1; cy < b; ++cy) {
    put(x, cy, 0x2502);
    put(r, cy, 0x2502);
  }
  put(x, y, corner[0]);
  put(r, y, corner[1]);
  put(x, b, corner[2]);
  put(r, b, corner[3]);
  const Cell* text = face_slot(&w->face, face_field::TEXT);
  if (text && cell::type(text) == T_STRING) {
    Cell shown = *text;  // painting allocates nothing
    PaintStyle style = face_style(&w->face, STYLE_ESCAPES);
    ClipRect clip{std::max(cl, x + 1), ct, std::min(cr, r), std::min(cb, y + 1)};
    if (clip.right > clip.left && clip.bottom > clip.top)
      paint_text(&shown, nullptr, x + 1, y, clip, style);
  }
}

// ---- Input ----

// A select or change event to the face with the value; its dispatch result.
int32_t send(int32_t type, uint32_t id, int32_t value) { return make_value_event(type, id, value); }

int32_t key_of(int32_t code, void* argument) {
  if (code != evt::KEY || !argument) return 0;
  return static_cast<EventRecord*>(argument)->code;
}

int32_t button_event(uint32_t id, int32_t code, void* argument) {
  if (code != evt::KEY) return 0;
  int32_t key = key_of(code, argument);
  int32_t r = 0;
  if (key == 32 && make_value_event(evt::CLICK, id, 0) == 2) r = 2;
  if (key != 0) mark_redraw(id);
  return r;
}

int32_t after_mark_change(uint32_t id) {
  run_on_update(id);
  mark_redraw(id);
  return send(EVENT_CHANGE, id, 0) == 2 ? 2 : 1;
}

// A check or radio reacts to focus (a redraw) and to a click or Space: the data slot then.
Cell* pressed_data(uint32_t id, int32_t code, void* argument) {
  if (code == EVENT_FOCUS) {
    mark_redraw(id);
    return nullptr;
  }
  if (!(code == evt::CLICK || key_of(code, argument) == 32)) return nullptr;
  return slot_of(id, face_field::DATA);
}

int32_t check_event(uint32_t id, int32_t code, void* argument) {
  Cell* data = pressed_data(id, code, argument);
  if (!data) return 0;
  if (cell::type(data) == T_NONE) *data = Cell{T_LOGIC, 1, 0, 0};
  else if (cell::type(data) == T_LOGIC) *data = Cell{T_LOGIC, data->w1 ? 0u : 1u, 0, 0};
  else *data = Cell{T_LOGIC, 0, 0, 0};
  return after_mark_change(id);
}

int32_t radio_event(uint32_t id, int32_t code, void* argument) {
  Cell* data = pressed_data(id, code, argument);
  if (!data) return 0;
  *data = Cell{T_LOGIC, 1, 0, 0};
  return after_mark_change(id);
}

int32_t row_count(uint32_t id) {
  const Cell* data = slot_of(id, face_field::DATA);
  if (!data) return 0;
  uint32_t t = cell::type(data);
  if (t == T_BLOCK || t == T_HASH) return std::max(0, block::count_from_head(data));
  if (t == T_MAP) return std::max(0, map::length_q(data));
  return 0;
}

int32_t text_list_event(uint32_t id, int32_t code, void* argument) {
  Widget* w = widget(id);
  if (!w || !w->data) return 0;
  auto* d = static_cast<TextListData*>(w->data);
  int32_t old = selected_of(id);
  int32_t now = old;
  if (code == EVENT_FOCUS) {
    run_on_update(id);
    mark_redraw(id);
    return 0;
  }
  if (code == evt::CLICK) {
    auto* r = static_cast<EventRecord*>(argument);
    now = d->first_row + int32_t(r ? r->y : 0) + 1;
    Cell* s = slot_of(id, face_field::SELECTED);
    if (s && cell::type(s) != T_INTEGER) {
      cell::set_integer(s, old);  // an integer from now on
    }
  } else if (code == evt::KEY) {
    int32_t key = key_of(code, argument);
    if (key == KEY_UP) {
      if (now > 1) --now;
      if (now - 1 < d->first_row && d->first_row > 0) --d->first_row;
    } else if (key == KEY_DOWN) {
      if (now < row_count(id)) ++now;
      if (d->first_row < now - widget_height(w)) ++d->first_row;
    } else {
      return 0;
    }
  } else {
    return 0;
  }
  if (now == old) return 1;
  int32_t r = send(EVENT_SELECT, id, now);
  if (r == 2 || !widget(id)) return 2;
  if (selected_of(id) == old) set_selected(id, now);
  run_on_update(id);
  mark_redraw(id);
  if (r == 0 && widget(id)) return send(EVENT_CHANGE, id, now) == 2 ? 2 : 1;
  return 1;
}

// The face's text as a string (made an empty one when it is not); on the stack.
Cell* field_text(uint32_t id) {
  Cell* text = slot_of(id, face_field::TEXT);
  if (!text) return nullptr;
  if (cell::type(text) != T_STRING) {
    Cell* made = stack::reserve_cell();
    cell::set_none(made);
    string::init_cell(made, 8);
    text = slot_of(id, face_field::TEXT);
    if (!text) return nullptr;
    *text = *made;
    return made;
  }
  return stack::push_copy(text);
}

int32_t field_event(uint32_t id, int32_t code, void* argument) {
  if (code != evt::CLICK && code != evt::KEY) return 0;
  auto* r = static_cast<EventRecord*>(argument);
  if (!r) return 0;
  int32_t key = code == evt::KEY ? r->code : 0;
  if (code == evt::KEY && (key == 0 || key == 9 || key == 13)) return 0;
  stack::TopGuard keep;
  Cell* text = field_text(id);
  Widget* w = widget(id);
  if (!text || !w || !w->data) return 0;
  auto* d = static_cast<FieldData*>(w->data);
  int32_t length = string::count_from_head(text);
  int32_t head = int32_t(text->w1);
  if (code == evt::CLICK) {
    int32_t chars = 0;
    int32_t column = measure_text(text, std::max(0, int32_t(r->x)), &chars, nullptr);
    d->caret_index = std::min(chars, length);
    d->caret_column = column;
    mark_redraw(id);
    return 1;
  }
  d->caret_index = std::clamp(d->caret_index, 0, length);
  if (key == 2 || key == KEY_LEFT) {
    if (d->caret_index > 0) {
      --d->caret_index;
      d->caret_column -= char_width(string::codepoint_at(text, head + d->caret_index));
    }
  } else if (key == 6 || key == KEY_RIGHT) {
    if (d->caret_index < length) {
      d->caret_column += char_width(string::codepoint_at(text, head + d->caret_index));
      ++d->caret_index;
    }
  } else if (key == 8 || key == 127) {
    if (d->caret_index > 0) {
      int32_t at = d->caret_index - 1;
      int32_t cw = char_width(string::codepoint_at(text, head + at));
      // The owner hears of the edit as of any series change, so the face syncs its data.
      owner::notify_change(text, "remove", nullptr, at, 1);
      string::delete_codepoint(text, head + at);
      owner::notify_change(text, "removed", nullptr, at, 1);
      if (!(w = widget(id)) || !w->data) return 2;
      d = static_cast<FieldData*>(w->data);
      --d->caret_index;
      d->caret_column -= cw;
      d->text_width -= cw;
    }
  } else if (key == 10 || key < 32) {
    return 1;
  } else {
    int32_t cw = char_width(key);
    if (cw > 0 && widget_width(w) - cw >= d->text_width) {
      int32_t at = d->caret_index;
      Cell* ch = stack::push_copy(cell::none_value());
      *ch = Cell{T_CHAR, 0, uint32_t(key), 0};
      owner::notify_change(text, "insert", ch, at, 1);
      if (at >= length) string::add_codepoint(text, key);
      else string::insert_codepoint(text, head + at, key);
      owner::notify_change(text, "inserted", ch, at, 1);
      if (!(w = widget(id)) || !w->data) return 2;
      d = static_cast<FieldData*>(w->data);
      ++d->caret_index;
      d->caret_column += cw;
      d->text_width += cw;
    }
  }
  mark_redraw(id);
  return 1;
}

void free_field_data(void* data) { delete static_cast<FieldData*>(data); }
void free_text_list_data(void* data) { delete static_cast<TextListData*>(data); }

void setup_field(uint32_t id) {
  Widget* w = widget(id);
  w->flags |= wflag::TEXT_CURSOR;
  auto* d = new FieldData{0, 0, 0};
  w->data = d;
  w->free_data = free_field_data;
  w->on_paint = paint_field;
  w->on_event = field_event;
  Cell* text = face_slot(&w->face, face_field::TEXT);
  if (text && cell::type(text) == T_STRING) {
    Cell t = *text;  // measuring allocates nothing
    int32_t chars = 0;
    int32_t width = measure_text(&t, widget_width(w), &chars, nullptr);
    d->caret_index = chars;
    d->caret_column = width;
    d->text_width = width;
  }
}

}  // namespace

void init_kinds() {
  auto id = [](const char* name) { return symbol::canonical_id(symbol::intern_c_text(name)); };
  g_words = Words{id("field"),     id("button"),    id("base"),      id("progress"),
                  id("group-box"), id("check"),     id("radio"),     id("text-list"),
                  id("rich-text"), id("window"),    id("area"),      id("drop-down"),
                  id("drop-list"), id("caret"),     id("border-corners"), id("round"),
                  id("border-color")};
  init_rich_text();
}

bool window_type_q(const Widget* w) { return type_is(w, g_words.window); }
bool field_or_area_q(const Widget* w) { return type_is(w, g_words.field) || type_is(w, g_words.area); }
bool text_list_q(const Widget* w) { return type_is(w, g_words.text_list); }
bool rich_text_q(const Widget* w) { return type_is(w, g_words.rich_text); }
bool drop_list_q(const Widget* w) {
  return type_is(w, g_words.drop_down) || type_is(w, g_words.drop_list);
}

void setup_kind(uint32_t id) {
  Widget* w = widget(id);
  if (!w) return;
  if (type_is(w, g_words.field)) {
    setup_field(id);
  } else if (type_is(w, g_words.button)) {
    w->on_paint = paint_button;
    w->on_event = button_event;
  } else if (type_is(w, g_words.base)) {
    w->on_paint = paint_base;
    caret_scan(0, 0, id);
  } else if (type_is(w, g_words.progress)) {
    w->on_paint = paint_plain;
    w->on_update = progress_update;
    run_on_update(id);
  } else if (type_is(w, g_words.group_box)) {
    w->on_paint = paint_group_box;
  } else if (type_is(w, g_words.check)) {
    w->on_paint = paint_mark;
    w->on_event = check_event;
    w->on_update = check_update;
    run_on_update(id);
  } else if (type_is(w, g_words.radio)) {
    w->on_paint = paint_mark;
    w->on_event = radio_event;
    w->on_update = radio_update;
    run_on_update(id);
  } else if (type_is(w, g_words.text_list)) {
    w->data = new TextListData{0};
    w->free_data = free_text_list_data;
    w->on_event = text_list_event;
    w->on_update = text_list_update;
    run_on_update(id);
  } else if (type_is(w, g_words.rich_text)) {
    w->data = nullptr;
    w->free_data = free_rich_text_data;
    w->on_paint = paint_plain;
    w->on_update = rich_text_update;
    run_on_update(id);
  }
}

void run_on_update(uint32_t id) {
  Widget* w = widget(id);
  if (w && w->on_update) w->on_update(id);
}

bool widget_focused_q(uint32_t id) { return id && screen().focused == id && widget(id); }

int32_t widget_data_word(uint32_t id) {
  const Widget* w = widget(id);
  if (!w || !text_list_q(w) || !w->data) return 0;
  return static_cast<const TextListData*>(w->data)->first_row;
}

void set_ui_text(uint32_t id, const Cell* text) {
  if (Widget* w = widget(id)) w->ui_text = *text;
}

const FieldData* field_data(uint32_t id) {
  const Widget* w = widget(id);
  if (!w || !type_is(w, g_words.field)) return nullptr;
  return static_cast<const FieldData*>(w->data);
}

void text_list_pull_back(uint32_t id, int32_t index, int32_t part) {
  Widget* w = widget(id);
  if (!w || !text_list_q(w) || !w->data) return;
  auto* d = static_cast<TextListData*>(w->data);
  int32_t length = row_count(id);
  if (index < d->first_row) d->first_row = std::max(0, index);
  if (index == 0 && part >= length) d->first_row = 0;
  Cell* s = slot_of(id, face_field::SELECTED);
  if (s && cell::type(s) == T_INTEGER)
    cell::set_integer(s, std::min(int32_t(s->w2), std::max(0, length - part)));
}

const PreparedCells* rich_text_cells(uint32_t id) {
  const Widget* w = widget(id);
  if (!w || !rich_text_q(w) || !w->data) return nullptr;
  return static_cast<const PreparedCells*>(w->data);
}

void call_tui_helper(int32_t index, const Cell* face, Cell* out) {
  stack::TopGuard keep;
  Cell* arg = stack::push_copy(face ? face : cell::none_value());
  Cell helpers = word::intern_global("TUI-helpers");
  Cell* object = stack::push_copy(word::value_slot(&helpers));
  cell::set_none(out);
  if (cell::type(object) != T_OBJECT || index < 0 || index >= TUI_HELPER_COUNT) return;
  Node values = context::values_node(object->w1);
  if (!values || context::word_count(object->w1) <= index) return;
  Cell* fn = stack::push_copy(reinterpret_cast<Cell*>(memory::node_head(values)) + index);
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  block::init_cell(call, 2);
  block::append_copy(call, fn);
  if (face) block::append_copy(call, arg);
  interp::eval_block(call, false);
  *out = call[1];
}

}  // namespace kel::gui
