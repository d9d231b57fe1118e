// Escape-sequence output, the GUI's console modes over the shared terminal layer, the size,
// the 256-colour palette and text measure of the terminal backend.
#include "gui/terminal/console_io.h"

#include <unistd.h>

#include <charconv>
#include <climits>

#include "gui/terminal/input.h"
#include "runtime/charwidth.h"
#include "runtime/datatypes/string.h"
#include "runtime/output.h"
#include "runtime/terminal.h"

namespace kel::gui {

namespace {
Console g_console{false, false, -1, -1, 0, 0, false};
std::string* g_capture = nullptr;
int32_t g_fixed_columns = 0;
int32_t g_fixed_rows = 0;

// "\e[?" n and the final byte, or "\e[" n and the final byte.
void write_csi(int32_t n, char final_byte, bool private_mode) {
  char buf[24];
  size_t k = 0;
  buf[k++] = '\x1b';
  buf[k++] = '[';
  if (private_mode) buf[k++] = '?';
  auto r = std::to_chars(buf + k, buf + sizeof buf - 1, n);
  *r.ptr++ = final_byte;
  write_out(buf, size_t(r.ptr - buf));
}

constexpr int32_t MOUSE_MODES[] = {1000, 1003, 1015, 1006};
constexpr uint8_t CUBE_VALUES[] = {0, 95, 135, 175, 215, 255};
constexpr uint32_t BASIC[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
}  // namespace

Console& console() { return g_console; }

void write_out(const void* bytes, size_t length) {
  if (g_capture) g_capture->append(static_cast<const char*>(bytes), length);
  else platform::write_bytes(bytes, length);
}

void set_mode(int32_t n) { write_csi(n, 'h', true); }
void reset_mode(int32_t n) { write_csi(n, 'l', true); }
void ask_cursor_position() { write_out("\x1b[6n", 4); }

void enter_alt_screen() {
  set_mode(1049);
  write_out("\x1b[2J", 4);
  terminal::set_screen_state(terminal::SCREEN_ALTERNATE, true);
}

void leave_alt_screen() {
  reset_mode(1049);
  terminal::set_screen_state(terminal::SCREEN_ALTERNATE, false);
}

void mouse_on() {
  for (int32_t m : MOUSE_MODES) set_mode(m);
  terminal::set_screen_state(terminal::SCREEN_MOUSE, true);
}

void mouse_off() {
  for (int32_t m : MOUSE_MODES) reset_mode(m);
  terminal::set_screen_state(terminal::SCREEN_MOUSE, false);
}

void hide_cursor() {
  if (g_console.cursor_hidden) return;
  reset_mode(25);
  g_console.cursor_hidden = true;
  terminal::set_screen_state(terminal::SCREEN_CURSOR_HIDDEN, true);
}

void show_cursor() {
  if (!g_console.cursor_hidden) return;
  set_mode(25);
  g_console.cursor_hidden = false;
  terminal::set_screen_state(terminal::SCREEN_CURSOR_HIDDEN, false);
}

void cursor_down(int32_t n) {
  if (n > 0) write_csi(n, 'B', false);
}

void enter_console_mode() {
  if (!g_console.set_up && stdin_is_console_q()) {
    setup_console();
    resize_console();
    g_console.set_up = true;
  }
  // Only a terminal can answer.
  if (g_console.set_up && !g_console.full_screen) ask_cursor_position();
}

void leave_console_mode() {
  if (!g_console.set_up) return;
  restore_console();
  g_console.set_up = false;
}

void setup_console() {
  terminal::init();
  terminal::enter_raw(terminal::Raw::Gui);
  // Colours may be set from here on: an exit puts the attributes back.
  terminal::set_screen_state(terminal::SCREEN_ATTRIBUTES, true);
}

void restore_console() {
  terminal::set_screen_state(terminal::SCREEN_ATTRIBUTES, false);
  terminal::leave_raw();
}

void restore_output_mode() {}
void set_output_mode() {}

bool stdin_is_console_q() { return terminal::stdin_tty_q(); }

int32_t read_terminal_size() {
  int c = g_fixed_columns, r = g_fixed_rows;
  if (c > 0 || terminal::read_size(&c, &r)) {
    if (c > 0 && r > 0) {
      g_console.columns = c;
      g_console.rows = r;
      return 0;
    }
  }
  g_console.columns = 80;
  g_console.rows = 24;
  return -1;
}

uint32_t palette_rgb(int32_t i) {
  if (i < 0 || i > 255) return 0;
  if (i < 16) return BASIC[i];
  if (i < 232) {
    int32_t k = i - 16;
    return uint32_t(CUBE_VALUES[k / 36]) << 16 | uint32_t(CUBE_VALUES[k / 6 % 6]) << 8 | CUBE_VALUES[k % 6];
  }
  uint32_t g = uint32_t(8 + 10 * (i - 232));
  return g << 16 | g << 8 | g;
}

int32_t cube_level(int32_t c) {
  if (c < 48) return 0;
  if (c < 115) return 1;
  return (c - 35) / 40;
}

uint32_t rgb_to_256(uint32_t colour) {
  if ((colour >> 24) == 255) return 0;
  int32_t r = int32_t(colour & 0xFF), g = int32_t(colour >> 8 & 0xFF), b = int32_t(colour >> 16 & 0xFF);
  int32_t cube = 16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b);
  int32_t avg = (r + g + b) / 3;
  int32_t grey = 232 + (avg > 238 ? 23 : (avg - 3) / 10);
  auto distance = [&](int32_t index) {
    uint32_t p = palette_rgb(index);
    int32_t dr = r - int32_t(p >> 16), dg = g - int32_t(p >> 8 & 0xFF), db = b - int32_t(p & 0xFF);
    return dr * dr + dg * dg + db * db;
  };
  int32_t index = distance(cube) < distance(grey) ? cube : grey;
  return 0x02000000u | uint32_t(index);
}

int32_t char_width(int32_t cp) { return unicode::char_width(cp); }

namespace {
template <class Next>
int32_t measure_with(Next next, int32_t limit, int32_t* chars, int32_t* lines) {
  int32_t line_count = 1, current = 0, widest = 0, count = 0, last = 0;
  int32_t cp;
  while (current < limit && next(&cp)) {
    ++count;
    if (cp == '\n') {
      ++line_count;
      if (current > widest) widest = current;
      current = 0;
    } else {
      last = char_width(cp);
      current += last;
    }
  }
  if (current > widest) widest = current;
  if (widest > limit) {
    widest -= last;
    --count;
  }
  if (chars) *chars = count;
  if (lines) *lines = line_count;
  return widest;
}
}  // namespace

int32_t measure_codepoints(const int32_t* text, size_t n, int32_t limit, int32_t* chars, int32_t* lines) {
  size_t i = 0;
  return measure_with([&](int32_t* cp) { return i < n ? (*cp = text[i++], true) : false; }, limit, chars, lines);
}

int32_t measure_text(Cell* text, int32_t limit, int32_t* chars, int32_t* lines) {
  int32_t i = int32_t(text->w1);
  int32_t n = string::count_from_start(text);
  return measure_with([&](int32_t* cp) { return i < n ? (*cp = string::codepoint_at(text, i++), true) : false; },
                      limit, chars, lines);
}

void capture_output(std::string* into) { g_capture = into; }

void set_terminal_size(int32_t columns, int32_t rows) {
  g_fixed_columns = columns;
  g_fixed_rows = rows;
}

void reset_console() {
  g_console = Console{false, false, -1, -1, 0, 0, false};
  g_fixed_columns = g_fixed_rows = 0;
}

}  // namespace kel::gui
