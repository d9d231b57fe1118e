// The backend routines of system/view/platform and the three of TUI-helpers: each checks
// its arguments and calls one backend operation. They are registered without a name and
// put in their fields once gui/backend.kel has made the two objects.
#include "gui/terminal/platform.h"

#include <climits>
#include <cstring>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face_tree.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/rich_text.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widget_kinds.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"

namespace kel::gui {

namespace {

Cell* arg(int32_t i) { return stack::state().base + i; }
void answer(const Cell& c) { stack::set_only_result(&c); }
void answer_none() { answer(Cell{T_NONE, 0, 0, 0}); }
void answer_logic(bool v) { answer(Cell{T_LOGIC, v ? 1u : 0u, 0, 0}); }
void answer_integer(int32_t v) { answer(Cell{T_INTEGER, 0, uint32_t(v), 0}); }

bool word_named(const Cell* c, const char* name) {
  return c && word::any_word_type_q(cell::type(c)) &&
         symbol::canonical_id(int32_t(c->w2)) == symbol::canonical_id(symbol::intern_c_text(name));
}

// ---- Routines of the platform object ----

void make_null_handle() { answer(*handle::push_null()); }
void fetch_all_screens() { answer_none(); }

void get_screen_size() {
  read_terminal_size();
  Cell r;
  pair::init_cell(&r, console().columns, console().rows);
  answer(r);
}

void size_text() {
  Cell* face = arg(0);
  Cell* value = arg(1);
  const Cell* text = value;
  if (cell::type(value) == T_NONE) text = face_slot(face, face_field::TEXT);
  else if (cell::type(value) != T_STRING) immediate::raise_invalid_type(cell::type(value));
  if (!text || cell::type(text) != T_STRING) return answer_none();
  Cell t = *text;  // measuring allocates nothing
  int32_t lines = 0;
  int32_t widest = measure_text(&t, INT32_MAX, nullptr, &lines);
  Cell r;
  point2D::init_cell(&r, float(widest), float(lines));
  answer(r);
}

void update_view_of(Cell* face) {
  const Cell* type = face_slot(face, face_field::TYPE);
  if (word_named(type, "screen")) return;
  const Cell* state = face_slot(face, face_field::STATE);
  if (state && cell::type(state) == T_BLOCK) os_update_view(face);
}

void update_view() {
  Cell* value = arg(0);
  if (cell::type(value) == T_OBJECT) {
    update_view_of(value);
    return answer_none();
  }
  if (cell::type(value) != T_BLOCK) immediate::raise_invalid_type(cell::type(value));
  int32_t n = block::count_from_head(value);
  for (int32_t i = 0; i < n; ++i) {
    const Cell* c = block::head_cell(value) + i;
    if (cell::type(c) != T_OBJECT) immediate::raise_invalid_type(cell::type(c));
  }
  for (int32_t i = 0; i < n && i < block::count_from_head(value); ++i) {
    Cell* face = stack::push_copy(block::head_cell(value) + i);
    update_view_of(face);
    stack::drop_cells(1);
  }
  answer_none();
}

void on_change_facet() {
  Cell* owner = arg(0);
  Cell* word = arg(1);
  Cell* value = arg(2);
  Cell* action = arg(3);
  int32_t index = int32_t(arg(5)->w2);
  int32_t part = int32_t(arg(6)->w2);
  uint32_t id = face_handle_q(owner);
  if (word_named(word, "data")) {
    if (!id) return answer_none();
    const Widget* w = widget(id);
    // The changed series is what tells a removal apart: `new` is none for those.
    if (text_list_q(w) && cell::type(value) == T_BLOCK &&
        (word_named(action, "remove") || word_named(action, "clear") ||
         word_named(action, "move") || word_named(action, "take")))
      text_list_pull_back(id, index, part);
    else if (drop_list_q(w) && part == 0)
      return answer_none();
  } else if (!word_named(word, "pane")) {
    return answer_none();
  }
  update_view_of(owner);
  answer_none();
}

void update_text() { answer_none(); }

void update_font() {
  int32_t flags = int32_t(arg(1)->w2);
  if (flags == 0 || flags == 1 || flags == 2 || flags == 4 || flags == 6)
    if (Cell* st = font_slot(arg(0), font_field::STATE)) cell::set_none(st);
  answer_none();
}

void update_para() {
  Cell* state = face_slot(arg(0), face_field::STATE);
  if (state && cell::type(state) == T_BLOCK && block::count_from_head(state) >= 2) {
    Cell* bits = block::head_cell(state) + 1;
    if (cell::type(bits) == T_INTEGER) bits->w2 |= 1u << 18;
  }
  answer_none();
}

void destroy_view() {
  os_destroy_view(arg(0), arg(1)->w1 != 0);
  answer_none();
}

void detach_image() {
  owner::disown(arg(0));
  answer_none();
}

// The window of a handle! that names a live widget; 0 otherwise.
uint32_t widget_of_handle(const Cell* h) {
  if (cell::type(h) != T_HANDLE || h->w1 != handle::KIND_WINDOW) return 0;
  return widget_live_q(h->w2) ? h->w2 : 0;
}

void refresh_window() {
  if (uint32_t id = widget_of_handle(arg(0))) {
    if (uint32_t win = window_of(id)) {
      if (win == screen().active_window) screen().redraw_needed = true;
    }
  }
  answer_none();
}

void redraw() {
  if (uint32_t id = face_handle_q(arg(0)))
    if (window_of(id) == screen().active_window) screen().redraw_needed = true;
  answer_none();
}

void show_window() {
  uint32_t id = widget_of_handle(arg(0));
  if (id && window_on_stack_q(id)) {
    Screen& sc = screen();
    if (id != sc.active_window && (!sc.active_window || window_above_active_q(id)))
      activate_window(id);
    sc.redraw_needed = true;
  }
  answer_none();
}

void make_view() {
  uint32_t parent = widget_of_handle(arg(1));
  uint32_t id = os_make_view(arg(0), parent);
  Cell r;
  handle::init_cell(&r, int32_t(id), handle::KIND_WINDOW);
  answer(r);
}

void draw_image() {
  Cell* image = arg(0);
  if (image::width_of(image) > 0 && image::height_of(image) > 0) do_draw(image, arg(1));
  answer_none();
}

void draw_face() {
  const Cell* flags = face_slot(arg(0), face_field::FLAGS);
  if (flags) get_flags(flags);  // checked; faces draw their `draw` block when painted
  answer_none();
}

void do_event_loop() { answer_logic(do_events(arg(0)->w1 != 0)); }

void exit_event_loop() {
  post_quit_msg();
  answer_none();
}

void request_font() { answer(*arg(0)); }

// Calls the TUI-helpers requester (9 file, 10 folder) with the routine's five arguments.
void call_requester(int32_t index) {
  Cell* top = stack::state().top;
  Cell helpers = word::intern_global("TUI-helpers");
  Cell* object = stack::push_copy(word::value_slot(&helpers));
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  block::init_cell(call, 6);
  Node values = cell::type(object) == T_OBJECT ? context::values_node(object->w1) : 0;
  if (!values || context::word_count(object->w1) <= index) {
    stack::state().top = top;
    return answer_none();
  }
  Cell* fn = stack::push_copy(reinterpret_cast<Cell*>(memory::node_head(values)) + index);
  block::append_copy(call, fn);
  for (int32_t i = 0; i < 5; ++i) block::append_copy(call, arg(i));
  Cell* held = stack::push_copy(call);
  interp::eval_block(held, false);
  Cell r = held[1];
  stack::state().top = top;
  answer(r);
}

void request_file() { call_requester(9); }
void request_dir() { call_requester(10); }
void request_color() { answer_none(); }

void text_box_metrics_routine() {
  Cell* box = arg(0);
  const Cell* type = face_slot(box, face_field::TYPE);
  if (!word_named(type, "rich-text")) {
    Cell t = type ? *type : Cell{T_NONE, 0, 0, 0};
    error::raise(err::script::face_type, &t);
  }
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  text_box_metrics(box, arg(1), int32_t(arg(2)->w2), out);
  answer(*out);
}

void update_scroller() { answer_none(); }
void set_dark_mode() { answer_none(); }
void support_dark_mode_q() { answer_logic(false); }
void toggle_gpu() { answer_none(); }

// ---- Routines of TUI-helpers ----

void focused_q() { answer_logic(widget_focused_q(face_handle_q(arg(0)))); }
void widget_data() { answer_integer(widget_data_word(face_handle_q(arg(0)))); }
void set_face_ui() {
  if (uint32_t id = face_handle_q(arg(0))) set_ui_text(id, arg(1));
  answer_none();
}

// ---- The start-up routine init calls ----

void start_up_routine() {
  start_up();
  answer_none();
}

struct Placed {
  const char* field;
  routine::Entry entry;
};

Placed g_platform[] = {
    {"make-null-handle", {nullptr, "return: [handle!]", make_null_handle, T_HANDLE}},
    {"fetch-all-screens", {nullptr, "", fetch_all_screens, T_NONE}},
    {"get-screen-size", {nullptr, "id [integer!] return: [pair!]", get_screen_size, T_PAIR}},
    {"size-text", {nullptr, "face [object!] value [any-type!]", size_text, T_POINT2D}},
    {"on-change-facet",
     {nullptr,
      "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] "
      "index [integer!] part [integer!]",
      on_change_facet, T_NONE}},
    {"update-text", {nullptr, "face [object!]", update_text, T_NONE}},
    {"update-font", {nullptr, "font [object!] flags [integer!]", update_font, T_NONE}},
    {"update-para", {nullptr, "face [object!] flags [integer!]", update_para, T_NONE}},
    {"destroy-view", {nullptr, "face [object!] empty? [logic!]", destroy_view, T_NONE}},
    {"detach-image", {nullptr, "img [image!]", detach_image, T_NONE}},
    {"update-view", {nullptr, "face [any-type!]", update_view, T_NONE}},
    {"refresh-window", {nullptr, "h [handle!]", refresh_window, T_NONE}},
    {"redraw", {nullptr, "face [object!]", redraw, T_NONE}},
    {"show-window", {nullptr, "id [handle!]", show_window, T_NONE}},
    {"make-view", {nullptr, "face [object!] parent [handle!] return: [handle!]", make_view, T_HANDLE}},
    {"draw-image", {nullptr, "image [image!] cmds [block!]", draw_image, T_NONE}},
    {"draw-face", {nullptr, "face [object!] cmds [block!]", draw_face, T_NONE}},
    {"do-event-loop", {nullptr, "no-wait? [logic!] return: [logic!]", do_event_loop, T_LOGIC}},
    {"exit-event-loop", {nullptr, "", exit_event_loop, T_NONE}},
    {"request-font",
     {nullptr, "font [object!] selected [any-type!] mono? [logic!]", request_font, T_OBJECT}},
    {"request-file",
     {nullptr,
      "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]",
      request_file, T_NONE}},
    {"request-dir",
     {nullptr,
      "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]",
      request_dir, T_NONE}},
    {"request-color", {nullptr, "color [tuple!] recent [block!]", request_color, T_NONE}},
    {"text-box-metrics",
     {nullptr, "box [object!] arg0 [any-type!] type [integer!]", text_box_metrics_routine, T_NONE}},
    {"update-scroller", {nullptr, "scroller [object!] flags [integer!]", update_scroller, T_NONE}},
    {"set-dark-mode", {nullptr, "face [object!] dark? [logic!]", set_dark_mode, T_NONE}},
    {"support-dark-mode?", {nullptr, "return: [logic!]", support_dark_mode_q, T_LOGIC}},
    {"toggle-GPU", {nullptr, "", toggle_gpu, T_NONE}},
};
constexpr int32_t PLATFORM_COUNT = int32_t(sizeof g_platform / sizeof g_platform[0]);
int32_t g_platform_index[PLATFORM_COUNT];

Placed g_helpers[] = {
    {"focused?", {nullptr, "face [object!] return: [logic!]", focused_q, T_LOGIC}},
    {"widget-data", {nullptr, "face [object!] return: [integer!]", widget_data, T_INTEGER}},
    {"set-face-ui", {nullptr, "face [object!] ui [string!]", set_face_ui, T_NONE}},
};
constexpr int32_t HELPER_COUNT = int32_t(sizeof g_helpers / sizeof g_helpers[0]);
int32_t g_helper_index[HELPER_COUNT];
int32_t g_start_up_index = -1;

void register_once() {
  static bool registered = false;  // the registry outlives a runtime made again
  if (registered) return;
  registered = true;
  for (int32_t i = 0; i < PLATFORM_COUNT; ++i)
    g_platform_index[i] = routine::register_routine(g_platform[i].entry);
  for (int32_t i = 0; i < HELPER_COUNT; ++i)
    g_helper_index[i] = routine::register_routine(g_helpers[i].entry);
  g_start_up_index = routine::register_routine({nullptr, "", start_up_routine, T_NONE});
}

// The value cell of an object's field by name (null when it has none); valid until the
// next allocation.
Cell* field_cell(const Cell* object, const char* name) {
  if (cell::type(object) != T_OBJECT) return nullptr;
  int32_t at = context::find_symbol(object->w1, symbol::canonical_id(symbol::intern_c_text(name)), true);
  Node values = context::values_node(object->w1);
  if (at < 0 || !values) return nullptr;
  return reinterpret_cast<Cell*>(memory::node_head(values)) + at;
}

// TUI-helpers as the widget code expects it: the fields in their order, else an error.
void check_helpers_layout(const Cell* helpers) {
  bool ok = cell::type(helpers) == T_OBJECT && context::word_count(helpers->w1) >= TUI_HELPER_COUNT;
  for (int32_t i = 0; ok && i < TUI_HELPER_COUNT; ++i)
    ok = symbol::canonical_id(int32_t(context::word_at(helpers->w1, i)->w2)) ==
         symbol::canonical_id(symbol::intern_c_text(TUI_HELPER_NAMES[i]));
  // A start-up fault of the library itself: raised where start-up reports its errors.
  if (!ok) error::raise(err::script::invalid_arg, helpers);
}

// The word gui-start-up in init's body becomes the start-up routine.
void place_start_up(Cell* platform) {
  Cell* init = field_cell(platform, "init");
  if (!init || cell::type(init) != T_FUNCTION) return;
  Cell* body = reinterpret_cast<Cell*>(memory::node_head(init->w3)) + function::extras::BODY;
  if (cell::type(body) != T_BLOCK) return;
  Cell* held = stack::push_copy(body);
  Cell* built = routine::push_built(g_start_up_index);
  int32_t n = block::count_from_head(held);
  for (int32_t i = 0; i < n; ++i) {
    Cell* c = block::head_cell(held) + i;
    if (cell::type(c) == T_WORD && word_named(c, "gui-start-up")) {
      *c = *built;
      break;
    }
  }
}

}  // namespace

void place_routines() {
  register_once();
  stack::TopGuard keep;
  Cell* platform = stack::reserve_cell();
  cell::set_none(platform);
  if (!system::find_field("view", "platform", platform) || cell::type(platform) != T_OBJECT) return;
  for (int32_t i = 0; i < PLATFORM_COUNT; ++i) {
    Cell* top = stack::state().top;
    Cell* built = routine::push_built(g_platform_index[i]);
    if (Cell* slot = field_cell(platform, g_platform[i].field)) *slot = *built;
    stack::state().top = top;
  }
  place_start_up(platform);
  Cell name = word::intern_global("TUI-helpers");
  Cell* helpers = stack::push_copy(word::value_slot(&name));
  check_helpers_layout(helpers);
  for (int32_t i = 0; i < HELPER_COUNT; ++i) {
    Cell* top = stack::state().top;
    Cell* built = routine::push_built(g_helper_index[i]);
    if (Cell* slot = field_cell(helpers, g_helpers[i].field)) *slot = *built;
    stack::state().top = top;
  }
}

void run_platform_init() {
  stack::TopGuard keep;
  Cell* platform = stack::reserve_cell();
  cell::set_none(platform);
  if (!system::find_field("view", "platform", platform) || cell::type(platform) != T_OBJECT) return;
  Cell* init = field_cell(platform, "init");
  if (!init) return;
  Cell* fn = stack::push_copy(init);
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  block::init_cell(call, 1);
  block::append_copy(call, fn);
  interp::eval_block(call, false);
}

}  // namespace kel::gui
