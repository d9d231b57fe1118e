// Widgets: the backend's record of each shown face in a table reached by id (index and
// generation), their geometry, hit testing, the paint walk, freeing, focus and the marker.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "gui/terminal/screen.h"
#include "runtime/cell.h"

namespace kel::gui {

// Widget flag bits.
namespace wflag {
constexpr uint32_t SIZE_FROM_PAIR = 0x10000;
constexpr uint32_t HIDDEN = 0x20000;
constexpr uint32_t DISABLED = 0x40000;
constexpr uint32_t LEFT_CAPTURED = 0x80000;  // the pointer left it while it was captured
constexpr uint32_t ALL_OVER = 0x100000;
constexpr uint32_t TEXT_CURSOR = 0x200000;
constexpr uint32_t FOCUSABLE = 0x400000;
constexpr uint32_t FOCUSED = 0x2000000;
constexpr uint32_t PASSWORD = 0x10000000;
constexpr uint32_t FULLSCREEN = 0x40000000;
constexpr uint32_t CARET_BASE = 0x80000000;
}  // namespace wflag

// Paint style bits beyond the cell attributes.
constexpr uint32_t STYLE_ESCAPES = 0x1000;  // escape sequences in the text are interpreted
constexpr uint32_t STYLE_NO_TEXT = 0x2000;  // the face text is not painted

// Event codes the widget callbacks see beside the input ones.
constexpr int32_t EVENT_RESIZE = 30;

struct EventRecord;

// A prepared run of cells (image cells, rich text), painted like text.
using PreparedCells = std::vector<ScreenCell>;

struct Widget {
  int32_t type;  // symbol id of the face's type word (0: none)
  uint32_t flags;
  float left, top, right, bottom;  // relative to the parent's top-left corner
  uint32_t parent;                 // widget id, 0 for a window
  std::unique_ptr<PreparedCells> image_cells;
  Cell ui_text;  // string! or none
  void* data;    // the kind's state; a window's WindowRecord
  void (*free_data)(void* data);
  void (*on_update)(uint32_t widget);
  void (*on_paint)(int32_t x, int32_t y, uint32_t widget);
  // The kind's input handling: 0 not handled, 2 the widget is gone; the argument is an
  // EventRecord for input events, the new size (two int32) for resize.
  int32_t (*on_event)(uint32_t widget, int32_t code, void* argument);
  Cell face;  // the face object, or none
};

// Ids: bits 0-19 the table index + 1, bits 20-31 the slot's generation (bumped on free).
constexpr uint32_t WIDGET_INDEX_BITS = 20;

// A new widget under the parent (0: none) with the default callbacks; its id.
uint32_t create_widget(uint32_t parent);
// The live widget of an id; null for 0, a freed or a stale id. Valid until the next
// create_widget.
Widget* widget(uint32_t id);
bool widget_live_q(uint32_t id);
// Frees the widget alone (its pane's widgets are the face tree's business): focus, hover,
// capture, over list, the window stack, its kind data, image cells and timers.
void free_widget(uint32_t id);
uint32_t live_widget_count();
// The widgets of the pane faces first, then the widget itself.
void free_widget_tree(uint32_t id);

int32_t widget_width(const Widget* w);
int32_t widget_height(const Widget* w);
// Origin relative to the window: the sums of left and top below the window.
void widget_origin(uint32_t id, int32_t* x, int32_t* y);
bool is_window_q(uint32_t id);

// `gui/face-handle?`: the widget of a face (state a block! whose first value is a handle!)
// when that widget is live, else 0.
uint32_t face_handle_q(const Cell* face);
// `gui/get-face-handle`: state/1 of the face without checks (none when there is none).
Cell get_face_handle(const Cell* face);
// Faces in the widget's face `pane` (0 when not a block); the first pane cell.
int32_t pane_count(uint32_t id);
const Cell* pane_head(uint32_t id);  // valid until the next allocation
// The last visible child under (x, y) in the widget's cells, 0 when none.
uint32_t hit_test(uint32_t id, float x, float y);
// The widget and its pane's widgets, each at its origin relative to the window.
void paint_tree(uint32_t id);

// Focus moves to the widget (its window record found when null).
void set_focus(uint32_t window_widget, uint32_t widget, WindowRecord* record);

// A window's set-up: its record (the extent its rectangle) on the window stack, a paint
// that does nothing, the focus when no widget has it; full screen when it asks for it.
WindowRecord* setup_window(uint32_t id);
void free_window_record(void* record);
// A widget placed in its window: a direct child grows the extent; a text-cursor widget is
// counted; a focusable one takes the focus when the window has none yet.
void add_to_window(uint32_t child);

// Start-up: the table, the face look-up for events, the collector marker.
void init_widgets();
// Drops every widget without a handler or the heap: their faces name a runtime that is
// gone. Kind data is freed; ids handed out before stay stale.
void forget_widgets();
// Marks each live widget's face and user text (collector callback).
void mark_widgets();

}  // namespace kel::gui
