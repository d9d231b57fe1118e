// The terminal backend's lowest layer: escape sequences out, console modes over the shared
// terminal layer, the terminal size, colours mapped to the palette and text measured in cells.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::gui {

// The console state, and the screen state this layer sets (the screen buffer's own fields
// come with it later).
struct Console {
  bool set_up;          // the GUI's modes are in force
  bool cursor_hidden;
  int32_t columns;      // terminal size, -1 before the first reading
  int32_t rows;
  int32_t display_row;  // where the inline display starts (cursor reports)
  int32_t display_column;
  bool full_screen;
};
Console& console();

// ---- Output primitives: each writes its bytes with one write_out ----

// All bytes, in order; short writes, EINTR and EAGAIN are handled below.
void write_out(const void* bytes, size_t length);
void set_mode(int32_t n);     // "\e[?%dh"
void reset_mode(int32_t n);   // "\e[?%dl"
void ask_cursor_position();   // "\e[6n"
void enter_alt_screen();      // mode 1049 set, then "\e[2J"
void leave_alt_screen();
void mouse_on();              // modes 1000 1003 1015 1006 set
void mouse_off();
void hide_cursor();           // mode 25 reset, once
void show_cursor();
void cursor_down(int32_t n);  // "\e[%dB" when n > 0

// ---- Console modes ----

// Not set up and standard input a terminal: raw input, the size read and applied, the flag
// set; then, when set up and not full screen, the cursor position asked for.
void enter_console_mode();
void leave_console_mode();
void setup_console();
void restore_console();
// Output modes are never changed on this platform.
void restore_output_mode();
void set_output_mode();
bool stdin_is_console_q();
// Columns and rows of the terminal: 0, or -1 with 80x24 when the query fails.
int32_t read_terminal_size();

// ---- Colour and text ----

// The xterm palette: entry i as 0xRRGGBB.
uint32_t palette_rgb(int32_t index);
int32_t cube_level(int32_t channel);
// A colour (R bits 0-7, G 8-15, B 16-23, alpha 24-31) as a palette colour word
// (0x02000000 | index); a fully transparent one (alpha 255) is the default colour 0.
uint32_t rgb_to_256(uint32_t colour);
int32_t char_width(int32_t cp);
// Cells of a string from its head until the limit: the widest line's width; the characters
// read and the lines seen go to chars and lines (when not null).
int32_t measure_text(Cell* text, int32_t limit, int32_t* chars, int32_t* lines);
int32_t measure_codepoints(const int32_t* text, size_t n, int32_t limit, int32_t* chars,
                           int32_t* lines);

// ---- Test seams ----

// write_out appends to the string instead of writing (null: writes again).
void capture_output(std::string* into);
// read_terminal_size answers this size (columns <= 0: the terminal's again).
void set_terminal_size(int32_t columns, int32_t rows);
// Puts the console state back to its start (tests).
void reset_console();

}  // namespace kel::gui
