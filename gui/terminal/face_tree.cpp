// The face tree: widgets for faces (flags, rectangle, kind, window, image cells, timer),
// change bits applied in their order, trees freed pane first, and the backend's start-up.
#include "gui/terminal/face_tree.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/face_fields.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/input.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widget_kinds.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/io/image_codec.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kel::gui {

namespace {

int32_t g_colour_level = 4;

constexpr int32_t BIT_OFFSET = 1, BIT_SIZE = 2, BIT_IMAGE = 4, BIT_ENABLED = 8, BIT_VISIBLE = 9,
                  BIT_SELECTED = 10, BIT_FLAGS = 11, BIT_RATE = 16;

double double_of(const Cell* c) {
  double d;
  uint64_t bits = uint64_t(c->w3) << 32 | c->w2;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool logic_true(const Cell* c) { return c && cell::type(c) == T_LOGIC && c->w1; }

bool coords_of(const Cell* c, float* x, float* y) {
  if (!c) return false;
  if (cell::type(c) == T_PAIR) {
    *x = float(pair::x_of(c));
    *y = float(pair::y_of(c));
    return true;
  }
  if (cell::type(c) == T_POINT2D) {
    *x = point::coordinate(c, 0);
    *y = point::coordinate(c, 1);
    return true;
  }
  return false;
}

// The widget flags a face's flag bits give.
uint32_t widget_flags_from(uint32_t bits) {
  uint32_t w = 0;
  if (bits & 0x1) w |= wflag::ALL_OVER;
  if (bits & 0x2) w |= wflag::FOCUSABLE;
  if (bits & 0x80000) w |= wflag::PASSWORD;
  if (bits & 0x200000) w |= wflag::FULLSCREEN;
  return w;
}

void set_timer(uint32_t id, int32_t interval) {
  remove_timers_of(id);
  if (interval > 0) add_timer(id, interval);
}

// Switches system/view/auto-sync? off for a scope, back to what it was on the way out
// (also when an error leaves).
struct AutoSyncOff {
  Cell saved;
  bool found;
  AutoSyncOff() {
    cell::set_none(&saved);
    found = system::find_field("view", "auto-sync?", &saved) && cell::type(&saved) == T_LOGIC;
    if (found) {
      Cell off{T_LOGIC, 0, 0, 0};
      system::set_field("view", "auto-sync?", &off);
    }
  }
  ~AutoSyncOff() {
    if (found) system::set_field("view", "auto-sync?", &saved);
  }
  AutoSyncOff(const AutoSyncOff&) = delete;
  AutoSyncOff& operator=(const AutoSyncOff&) = delete;
};

Cell* state_slot(const Cell* face) { return face_slot(face, face_field::STATE); }

}  // namespace

int32_t colour_level() { return g_colour_level; }
void set_colour_level(int32_t level) { g_colour_level = level; }

int32_t rate_interval(const Cell* rate) {
  if (!rate || cell::type(rate) == T_NONE) return -1;
  if (cell::type(rate) == T_INTEGER && int32_t(rate->w2) > 0) return 1000 / int32_t(rate->w2);
  if (cell::type(rate) == T_TIME) {
    double s = double_of(rate);
    if (s > 0 && s * 1000.0 < 2147483647.0) return std::max(1, int32_t(s * 1000.0));
  }
  error::raise(err::script::invalid_facet_type, rate);
}

void image_to_cells(uint32_t id, const Cell* image_in) {
  Widget* w = widget(id);
  if (!w) return;
  w->image_cells.reset();
  int32_t cw = widget_width(w), ch = widget_height(w);
  if (!image_in || cell::type(image_in) != T_IMAGE || cw <= 0 || ch <= 0) return;
  Cell image = *image_in;
  int32_t iw = image::width_of(&image), ih = image::height_of(&image);
  if (iw <= 0 || ih <= 0) return;
  // Pixels never move, so the lock holds while the cells are made (nothing here runs Kel).
  const uint32_t* pixels = image_codec::lock_pixels(&image, false);
  auto cells = std::make_unique<PreparedCells>();
  cells->reserve(size_t(cw) * size_t(ch));
  // Nearest-neighbour scaling to cw x 2ch pixels, sampled in place.
  auto sample = [&](int32_t x, int32_t y) {
    int32_t sx = int32_t(int64_t(x) * iw / cw);
    int32_t sy = int32_t(int64_t(y) * ih / (2 * int64_t(ch)));
    return pixels[size_t(sy) * size_t(iw) + size_t(sx)];
  };
  auto colour = [&](uint32_t p) {
    if (g_colour_level == 4) return COLOUR_TRUE | (p & 0xFFFFFF);
    // Pixels are 0xAARRGGBB with 255 opaque; the palette match wants R low and 0 opaque.
    uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return rgb_to_256(r | g << 8 | b << 16);
  };
  for (int32_t y = 0; y < ch; ++y)
    for (int32_t x = 0; x < cw; ++x) {
      uint32_t upper = sample(x, 2 * y), lower = sample(x, 2 * y + 1);
      if ((upper >> 24) == 0) cells->push_back(ScreenCell{' ', 0, 0, 0});
      else cells->push_back(ScreenCell{0x2584, colour(upper), colour(lower), 0});
    }
  w->image_cells = std::move(cells);
}

uint32_t os_make_view(const Cell* face_in, uint32_t parent) {
  stack::TopGuard keep;
  Cell* face = stack::push_copy(face_in);
  // The rate is checked first: a bad one must leave no widget (nor moved focus) behind.
  int32_t interval = rate_interval(face_slot(face, face_field::RATE));
  const Cell* flags_facet = face_slot(face, face_field::FLAGS);
  uint32_t bits = flags_facet ? get_flags(flags_facet) : 0;
  if (Cell* offset = face_slot(face, face_field::OFFSET); offset && cell::type(offset) == T_PAIR)
    pair_to_point(offset);
  uint32_t wflags = widget_flags_from(bits);
  float sx = 0, sy = 0;
  const Cell* size = face_slot(face, face_field::SIZE);
  if (size && cell::type(size) == T_PAIR) wflags |= wflag::SIZE_FROM_PAIR;
  coords_of(size, &sx, &sy);
  if (!logic_true(face_slot(face, face_field::VISIBLE_Q))) wflags |= wflag::HIDDEN;
  if (!logic_true(face_slot(face, face_field::ENABLED_Q))) wflags |= wflag::DISABLED;
  const Cell* type = face_slot(face, face_field::TYPE);
  int32_t type_symbol = type && word::any_word_type_q(cell::type(type)) ? int32_t(type->w2) : 0;

  uint32_t id = create_widget(parent);
  Widget* w = widget(id);
  if (!w) return 0;
  w->type = type_symbol;
  bool window = window_type_q(w);
  if (window) {
    // Windows sit at the display's top-left corner.
    if (Cell* offset = face_slot(face, face_field::OFFSET)) pair::init_cell(offset, 0, 0);
  }
  float ox = 0, oy = 0;
  coords_of(face_slot(face, face_field::OFFSET), &ox, &oy);
  w->flags = wflags;
  w->left = ox;
  w->top = oy;
  w->right = ox + sx;
  w->bottom = oy + sy;
  w->face = *face;
  setup_kind(id);
  if (!widget(id)) return 0;
  if (window) setup_window(id);
  if (parent) {
    add_to_window(id);
    const Cell* image = face_slot(face, face_field::IMAGE);
    if (image && cell::type(image) == T_IMAGE) image_to_cells(id, image);
  }
  if (interval > 0 && widget(id)) add_timer(id, interval);
  return id;
}

void os_update_view(const Cell* face_in) {
  stack::TopGuard keep;
  Cell* face = stack::push_copy(face_in);
  uint32_t id = face_handle_q(face);
  if (!id) return;
  Cell* state = state_slot(face);
  int32_t changes = 0;
  if (state && cell::type(state) == T_BLOCK && block::count_from_head(state) >= 2) {
    Cell* bits = block::head_cell(state) + 1;
    if (cell::type(bits) == T_INTEGER) changes = int32_t(bits->w2);
    cell::set_integer(bits, 0);
  }
  auto changed = [&](int32_t bit) { return (changes >> bit) & 1; };
  Widget* w = widget(id);
  bool was_active_window = false;
  if (changed(BIT_RATE)) {
    remove_timers_of(id);
    int32_t interval = rate_interval(face_slot(face, face_field::RATE));
    if (interval > 0) set_timer(id, interval);
  }
  w = widget(id);
  if (!w) return;
  if (changed(BIT_OFFSET)) {
    float x, y;
    if (coords_of(face_slot(face, face_field::OFFSET), &x, &y)) {
      float width = w->right - w->left, height = w->bottom - w->top;
      w->left = x;
      w->top = y;
      w->right = x + width;
      w->bottom = y + height;
    }
  }
  if (changed(BIT_SIZE)) {
    float x, y;
    if (coords_of(face_slot(face, face_field::SIZE), &x, &y)) {
      w->right = w->left + x;
      w->bottom = w->top + y;
      if (WindowRecord* r = window_record(id)) {
        r->left = w->left;
        r->top = w->top;
        r->right = w->right;
        r->bottom = w->bottom;
      }
    }
  }
  if (changed(BIT_SELECTED) && !field_or_area_q(w) && window_type_q(w)) {
    const Cell* selected = face_slot(face, face_field::SELECTED);
    uint32_t target = selected ? face_handle_q(selected) : 0;
    if (target) set_focus(id, target, nullptr);
    if (face_handle_q(face) != id) return;
    w = widget(id);
    if (!w) return;
  }
  if (changed(BIT_ENABLED)) {
    if (logic_true(face_slot(face, face_field::ENABLED_Q))) w->flags &= ~wflag::DISABLED;
    else w->flags |= wflag::DISABLED;
  }
  if (changed(BIT_VISIBLE)) {
    if (logic_true(face_slot(face, face_field::VISIBLE_Q))) {
      w->flags &= ~wflag::HIDDEN;
      if (is_window_q(id)) raise_window(id);
    } else {
      w->flags |= wflag::HIDDEN;
      was_active_window = screen().active_window == id;
    }
  }
  if (changed(BIT_FLAGS)) {
    const Cell* flags_facet = face_slot(face, face_field::FLAGS);
    uint32_t f = widget_flags_from(flags_facet ? get_flags(flags_facet) : 0);
    w = widget(id);
    if (!w) return;
    w->flags = (w->flags & ~(wflag::ALL_OVER | wflag::PASSWORD)) |
               (f & (wflag::ALL_OVER | wflag::PASSWORD));
  }
  if (changed(BIT_IMAGE)) image_to_cells(id, face_slot(face, face_field::IMAGE));
  {
    AutoSyncOff off;
    run_on_update(id);
  }
  if (!widget(id)) return;
  mark_redraw(id);
  if (was_active_window) {
    choose_active_window();
    screen().redraw_needed = true;
  }
}

void free_face_tree(const Cell* face_in) {
  stack::TopGuard keep;
  Cell* face = stack::push_copy(face_in);
  uint32_t id = face_handle_q(face);
  if (!id) return;
  // Freeing a widget drops all its timers, whatever `rate` says by now.
  remove_timers_of(id);
  // The face leaves its font's and para's lists of faces.
  for (int32_t which : {face_field::FONT, face_field::PARA}) {
    const Cell* obj = face_slot(face, which);
    if (!obj || cell::type(obj) != T_OBJECT) continue;
    Cell* o = stack::push_copy(obj);
    Cell* parent = which == face_field::FONT ? font_slot(o, font_field::PARENT)
                                             : para_slot(o, para_field::PARENT);
    if (!parent || cell::type(parent) != T_BLOCK) continue;
    Cell* list = stack::push_copy(parent);
    list->w1 = 0;
    block::remove_first_match(list, face, true);
    if (which == face_field::FONT && block::count_from_head(list) <= 0)
      if (Cell* st = font_slot(o, font_field::STATE)) cell::set_none(st);
  }
  const Cell* pane = face_slot(face, face_field::PANE);
  if (pane && cell::type(pane) == T_BLOCK) {
    Cell* held = stack::push_copy(pane);
    int32_t n = block::count_from_head(held);
    for (int32_t i = 0; i < n && i < block::count_from_head(held); ++i) {
      Cell* child = stack::push_copy(block::head_cell(held) + i);
      if (cell::type(child) == T_OBJECT && face_handle_q(child) != id) free_face_tree(child);
      stack::drop_cells(1);
    }
  }
  free_widget(id);
  if (Cell* st = state_slot(face)) cell::set_none(st);
}

void os_destroy_view(const Cell* face, bool empty) {
  free_face_tree(face);
  if (empty) post_quit_msg();
  if (window_count() > 0) {
    screen().redraw_needed = true;
    mark_redraw(screen().active_window);
  }
}

void start_up() {
  stack::TopGuard keep;
  Cell version;
  const uint8_t bytes[3] = {10, 10, 10};
  tuple::init_cell(&version, 3, bytes);
  system::set_field("view/platform", "version", &version);
  Cell build{T_INTEGER, 0, 1000, 0};
  system::set_field("view/platform", "build", &build);
  Cell product{T_INTEGER, 0, 0, 0};
  system::set_field("view/platform", "product", &product);
  Cell* level = stack::reserve_cell();
  cell::set_none(level);
  call_tui_helper(0, nullptr, level);
  g_colour_level = cell::type(level) == T_INTEGER ? int32_t(level->w2) : 4;
  init_kinds();
  init_screen();
  init_widgets();
  init_paint();
  init_event_loop();
  reset_input();
}

}  // namespace kel::gui
