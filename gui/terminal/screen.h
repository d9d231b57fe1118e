// The GUI's screen: the cell grid widgets paint into, the window stack and the screen state
// (focus, hover, capture, active window, display mode), and the refresh that writes a frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel::gui {

// One character cell: a code point (0 shows as a space), two colour words, attribute bits.
struct ScreenCell {
  uint32_t ch;
  uint32_t bg;
  uint32_t fg;
  uint32_t attrs;
};

// A colour word: the kind in the top byte, the value below it.
constexpr uint32_t COLOUR_BASIC = 0x01000000;    // one of 18 basic colours
constexpr uint32_t COLOUR_PALETTE = 0x02000000;  // a 256-colour palette index
constexpr uint32_t COLOUR_TRUE = 0x04000000;     // R bits 16-23, G 8-15, B 0-7

namespace attr {
constexpr uint32_t BLINK = 0x1;
constexpr uint32_t BOLD = 0x2;
constexpr uint32_t DIM = 0x4;
constexpr uint32_t INVERSE = 0x8;
constexpr uint32_t UNDERLINE = 0x10;
constexpr uint32_t STRIKE = 0x40;
constexpr uint32_t ITALIC = 0x100;
constexpr uint32_t HIDDEN = 0x200;
constexpr uint32_t WIDE_TAIL = 0x400;  // second column of a double-width character
constexpr uint32_t PASSWORD = 0x800;   // shown as "*"
constexpr uint32_t SGR_BITS = BLINK | BOLD | DIM | INVERSE | UNDERLINE | STRIKE | ITALIC | HIDDEN;
}  // namespace attr

// A window widget's record: its extent (the union of the window's rectangle and its direct
// children's), the widget, the widget that has the focus inside it, and how many of its
// widgets show a text cursor.
struct WindowRecord {
  float left, top, right, bottom;
  uint32_t widget;
  uint32_t focus;
  int32_t text_cursors;
};

// The screen state. Terminal size, display position and the full-screen flag live in the
// console state (console_io.h), which the input decoder shares.
struct Screen {
  std::vector<ScreenCell> cells;  // width x height, row-major
  int32_t width, height;
  std::vector<uint32_t> window_stack;  // window widget ids, bottom first
  std::vector<uint32_t> over_list;     // widgets pressed under the pointer
  std::string output;                  // one frame's bytes, reused
  uint32_t active_window;              // widget id, 0 when none
  uint32_t focused, hovered, captured;
  bool redraw_needed;
  bool screen_entered;
  bool something_shown;
  int32_t lines_used;
  int32_t cursor_column, cursor_row;  // set by the focused text widget's paint
};
Screen& screen();

// Start-up: the lists with their first capacities.
void init_screen();

// ---- Window stack ----
int32_t window_count();
bool window_on_stack_q(uint32_t window_widget);
// Whether the window is above the active one on the stack.
bool window_above_active_q(uint32_t window_widget);
void raise_window(uint32_t window_widget);  // left out when not on the stack
void push_window(uint32_t window_widget);
// The record of a window widget (null for another widget or a stale id).
WindowRecord* window_record(uint32_t window_widget);
// The window widget a widget belongs to (following parents), 0 when none.
uint32_t window_of(uint32_t widget);

// ---- Repaint and output ----
// Marks a repaint when the widget (0: the focused one) belongs to the active window.
void mark_redraw(uint32_t widget);
// One frame: only when a repaint is marked and the console is set up; all bytes in one write.
void refresh();
// Sizes the grid for the active window (while the console is set up).
void size_grid();
// Writes the grid as a frame into screen().output (no write; the refresh's step 5).
void output_grid();
// The inline display off the terminal, before a print; its bytes written at once.
void erase_inline_display();
void finish_inline_display();
void clear_screen();
// The terminal's screen mode for the GUI: the alternate screen in full-screen mode.
void enter_screen();
void leave_screen();
void on_terminal_resize(int32_t columns, int32_t rows);

// ---- Windows coming and going ----
void activate_window(uint32_t window_widget);
// After a window is hidden or closed.
void choose_active_window();
// A window widget being freed leaves the stack; its record is freed.
void remove_window(uint32_t window_widget);
// The end of the last loop with no window left: every window's tree freed, the state reset.
void shutdown_screen();
// The same state reset without freeing anything (the widgets are dropped on their own).
void forget_screen();

// ---- Tests ----
// The grid as text rows (characters only; a wide character's tail cell adds nothing).
std::string grid_text();

}  // namespace kel::gui
