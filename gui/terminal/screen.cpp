// The GUI's screen: the cell grid, window stack and screen state, repaint marking, the
// refresh that turns the grid into one write of escape sequences, resize and shutdown.
#include "gui/terminal/screen.h"

#include <algorithm>
#include <charconv>

#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/widgets.h"
#include "runtime/output.h"

namespace kel::gui {

namespace {
Screen g_screen{};

constexpr size_t OUTPUT_START = 2000;

// The basic colour table: background and foreground parameters by colour number.
constexpr const char* BASIC_BG[18] = {"40", "41", "42", "43", "44", "45", "46", "47", "0",
                                      "49", "100", "101", "102", "103", "104", "105", "106", "107"};
constexpr const char* BASIC_FG[18] = {"30", "31", "32", "33", "34", "35", "36", "37", "0",
                                      "39", "90", "91", "92", "93", "94", "95", "96", "97"};

void put_number(std::string& out, int64_t n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, size_t(r.ptr - buf));
}

void put_csi_number(std::string& out, int64_t n, char final_byte) {
  out += "\x1b[";
  put_number(out, n);
  out += final_byte;
}

void put_sgr(std::string& out, const char* parameter) {
  out += "\x1b[";
  out += parameter;
  out += 'm';
}

void put_colour(std::string& out, uint32_t word, bool foreground) {
  uint32_t kind = word >> 24;
  out += "\x1b[";
  switch (kind) {
    case 0: out += foreground ? "39" : "49"; break;
    case 1: {
      uint32_t n = word & 0xFFFFFF;
      out += n < 18 ? (foreground ? BASIC_FG[n] : BASIC_BG[n]) : "0";
      break;
    }
    case 2:
      out += foreground ? "38;5;" : "48;5;";
      put_number(out, word & 0xFF);
      break;
    case 4:
      out += foreground ? "38;2;" : "48;2;";
      put_number(out, word >> 16 & 0xFF);
      out += ';';
      put_number(out, word >> 8 & 0xFF);
      out += ';';
      put_number(out, word & 0xFF);
      break;
    default: out += '0'; break;
  }
  out += 'm';
}

// The attribute and colour changes from the previous cell to this one. Bold and dim share
// their off code, so the one that stays on is sent again after it.
void put_changes(std::string& out, const ScreenCell& prev, const ScreenCell& cell) {
  uint32_t was = prev.attrs, now = cell.attrs;
  auto on = [&](uint32_t bit) { return (now & bit) && !(was & bit); };
  auto off = [&](uint32_t bit) { return !(now & bit) && (was & bit); };
  if (on(attr::DIM)) put_sgr(out, "2");
  if (off(attr::DIM)) {
    put_sgr(out, "22");
    was &= ~attr::BOLD;  // bold went with it; sent again below when the cell has it
  }
  if (on(attr::INVERSE)) put_sgr(out, "7");
  if (off(attr::INVERSE)) put_sgr(out, "27");
  if (on(attr::BOLD)) put_sgr(out, "1");
  if (off(attr::BOLD)) {
    put_sgr(out, "22");
    if (now & attr::DIM) put_sgr(out, "2");
  }
  if (on(attr::ITALIC)) put_sgr(out, "3");
  if (off(attr::ITALIC)) put_sgr(out, "23");
  if (on(attr::STRIKE)) put_sgr(out, "9");
  if (off(attr::STRIKE)) put_sgr(out, "29");
  if (on(attr::UNDERLINE)) put_sgr(out, "4");
  if (off(attr::UNDERLINE)) put_sgr(out, "24");
  if (cell.fg != prev.fg) put_colour(out, cell.fg, true);
  if (cell.bg != prev.bg) put_colour(out, cell.bg, false);
}

// A cell's character: C0, DEL and C1 controls would drive the terminal, so they show as a
// space; a password cell is "*" (with a space for a wide character's second column).
void put_char(std::string& out, const ScreenCell& cell) {
  if (cell.attrs & attr::PASSWORD) {
    out += char_width(int32_t(cell.ch)) >= 2 ? "* " : "*";
    return;
  }
  uint32_t c = cell.ch;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = ' ';
  uint8_t buf[4];
  int n = unicode::encode_utf8_raw(c, buf);
  out.append(reinterpret_cast<const char*>(buf), size_t(n));
}

bool cursor_position_set() { return g_screen.cursor_column >= 0 || g_screen.cursor_row >= 0; }

bool focused_shows_cursor() {
  const Widget* f = widget(g_screen.focused);
  return f && (f->flags & wflag::TEXT_CURSOR);
}

void flush_output() {
  if (g_screen.output.empty()) return;
  write_out(g_screen.output.data(), g_screen.output.size());
  g_screen.output.clear();
}

void remove_from(std::vector<uint32_t>& list, uint32_t id) {
  list.erase(std::remove(list.begin(), list.end(), id), list.end());
}
}  // namespace

Screen& screen() { return g_screen; }

void init_screen() {
  g_screen.window_stack.reserve(4);
  g_screen.over_list.reserve(16);
  g_screen.output.reserve(OUTPUT_START);
  g_screen.cursor_column = g_screen.cursor_row = -1;
}

// ---- Window stack ----

int32_t window_count() { return int32_t(g_screen.window_stack.size()); }

bool window_on_stack_q(uint32_t w) {
  return w && std::find(g_screen.window_stack.begin(), g_screen.window_stack.end(), w) !=
                  g_screen.window_stack.end();
}

bool window_above_active_q(uint32_t w) {
  auto& s = g_screen.window_stack;
  auto at = std::find(s.begin(), s.end(), w);
  auto active = std::find(s.begin(), s.end(), g_screen.active_window);
  return at != s.end() && active != s.end() && at > active;
}

void raise_window(uint32_t w) {
  if (!window_on_stack_q(w)) return;
  remove_from(g_screen.window_stack, w);
  g_screen.window_stack.push_back(w);
}

void push_window(uint32_t w) { g_screen.window_stack.push_back(w); }

WindowRecord* window_record(uint32_t w) {
  Widget* x = widget(w);
  if (!x || x->parent || !x->data || !is_window_q(w)) return nullptr;
  return static_cast<WindowRecord*>(x->data);
}

uint32_t window_of(uint32_t id) {
  for (int guard = 0; id && guard < 1 << 20; ++guard) {
    Widget* w = widget(id);
    if (!w) return 0;
    if (!w->parent) return is_window_q(id) ? id : 0;
    id = w->parent;
  }
  return 0;
}

// ---- Repaint and output ----

void mark_redraw(uint32_t id) {
  uint32_t w = window_of(id ? id : g_screen.focused);
  if (w && w == g_screen.active_window) g_screen.redraw_needed = true;
}

void size_grid() {
  if (!console().set_up) return;
  WindowRecord* r = window_record(g_screen.active_window);
  if (!r) return;
  int32_t w = std::min(console().columns, int32_t(r->right - r->left));
  int32_t h = std::min(console().rows, int32_t(r->bottom - r->top));
  if (w < 0) w = 0;
  if (h < 0) h = 0;
  if (w == g_screen.width && h == g_screen.height) return;
  if (w > g_screen.width || h > g_screen.height) {
    // A new grid of exactly the size; a smaller one keeps the allocation.
    std::vector<ScreenCell> grown(size_t(w) * size_t(h));
    g_screen.cells.swap(grown);
  }
  g_screen.width = w;
  g_screen.height = h;
}

void output_grid() {
  std::string& out = g_screen.output;
  int32_t width = g_screen.width, height = g_screen.height;
  if (width < 1 || height < 1) return;
  // Never read past the cells (a size set without the grid sized for it).
  if (g_screen.cells.size() < size_t(width) * size_t(height)) return;
  if (console().full_screen) {
    out += "\x1b[H";
  } else {
    out += '\r';
    if (g_screen.lines_used > 0) put_csi_number(out, g_screen.lines_used, 'A');
    out += "\x1b[0J";
  }
  ScreenCell prev{0, 0, 0, 0};
  const ScreenCell* row = g_screen.cells.data();
  for (int32_t y = 0; y < height; ++y, row += width) {
    for (int32_t x = 0; x < width; ++x) {
      const ScreenCell& cell = row[x];
      if (cell.attrs & attr::WIDE_TAIL) continue;
      put_changes(out, prev, cell);
      put_char(out, cell);
      prev = cell;
    }
    if (y + 1 < height) {
      prev.bg = 0;
      out += "\x1b[49m\r\n";
    }
  }
  put_changes(out, prev, ScreenCell{0, 0, 0, 0});
  if (focused_shows_cursor() && cursor_position_set()) {
    out += '\r';
    int32_t up = height - (g_screen.cursor_row + 1);
    if (up > 0) put_csi_number(out, up, 'A');
    if (g_screen.cursor_column > 0) put_csi_number(out, g_screen.cursor_column, 'C');
    g_screen.lines_used = g_screen.cursor_row;
  } else {
    g_screen.lines_used = height - 1;
  }
}

void refresh() {
  Console& con = console();
  if (con.full_screen) {
    con.display_column = con.display_row = 0;
  } else if (con.display_row + g_screen.height > con.rows && con.rows > 0) {
    con.display_row = std::max(0, con.rows - g_screen.height);  // the terminal scrolled
  }
  if (!g_screen.redraw_needed) return;
  if (!window_record(g_screen.active_window)) {
    g_screen.redraw_needed = false;
    return;
  }
  size_grid();
  if (g_screen.width < 1 || g_screen.height < 1) {
    // Nothing to show (or no terminal to show it on): no cursor or mode changes either.
    g_screen.redraw_needed = false;
    return;
  }
  std::fill(g_screen.cells.begin(), g_screen.cells.end(), ScreenCell{0, 0, 0, 0});
  g_screen.cursor_column = g_screen.cursor_row = -1;
  paint_tree(g_screen.active_window);
  if (!focused_shows_cursor()) hide_cursor();
  output_grid();
  flush_output();
  g_screen.something_shown = true;
  g_screen.redraw_needed = false;
  if (focused_shows_cursor()) show_cursor();
}

void erase_inline_display() {
  if (!g_screen.something_shown) return;
  std::string& out = g_screen.output;
  out += '\r';
  if (g_screen.lines_used > 0) put_csi_number(out, g_screen.lines_used, 'A');
  out += "\x1b[0J";  // also for a display of one row
  g_screen.lines_used = 0;
  flush_output();
}

void finish_inline_display() {
  if (!g_screen.something_shown || console().full_screen) return;
  // With the cursor left inside the display, below it first (also from its top row).
  if (cursor_position_set() && focused_shows_cursor()) cursor_down(g_screen.height - g_screen.lines_used);
  write_out("\r\n", 2);
}

void clear_screen() {
  if (!g_screen.screen_entered) return;
  write_out("\x1b[2J", 4);
}

void enter_screen() {
  if (g_screen.screen_entered) return;
  if (console().full_screen && console().set_up) enter_alt_screen();
  g_screen.screen_entered = true;
}

void leave_screen() {
  if (!g_screen.screen_entered) return;
  if (console().full_screen && console().set_up) leave_alt_screen();
  g_screen.screen_entered = false;
}

void on_terminal_resize(int32_t columns, int32_t rows) {
  std::vector<uint32_t> windows = g_screen.window_stack;
  int32_t size[2] = {columns, rows};
  for (uint32_t w : windows) {
    if (!window_on_stack_q(w)) continue;
    Widget* x = widget(w);
    if (!x) continue;
    if (x->on_event) x->on_event(w, EVENT_RESIZE, size);
    x = widget(w);
    if (x && cell::type(&x->face) == T_OBJECT)
      dispatch_event(EVENT_RESIZE, EventRecord{w, float(columns), float(rows), 0, 0}, 0);
  }
  // What was on the terminal is no longer where the grid says.
  mark_redraw(g_screen.active_window);
  if (g_screen.screen_entered) refresh();
}

// ---- Windows coming and going ----

void activate_window(uint32_t w) {
  WindowRecord* r = window_record(w);
  if (!r) return;
  raise_window(w);
  g_screen.active_window = w;
  uint32_t focus = widget_live_q(r->focus) ? r->focus : w;
  set_focus(w, focus, r);
  r = window_record(w);
  if (r && r->text_cursors == 0 && console().set_up) hide_cursor();
  g_screen.hovered = g_screen.captured = 0;
  g_screen.over_list.clear();
}

void choose_active_window() {
  auto& s = g_screen.window_stack;
  for (size_t i = s.size(); i-- > 0;) {
    const Widget* x = widget(s[i]);
    if (x && !(x->flags & wflag::HIDDEN)) {
      if (s[i] != g_screen.active_window) activate_window(s[i]);
      return;
    }
  }
  if (window_on_stack_q(g_screen.active_window)) return;
  if (!s.empty()) {
    activate_window(s.back());
    return;
  }
  g_screen.active_window = 0;
  g_screen.redraw_needed = false;
}

void remove_window(uint32_t w) {
  if (!window_on_stack_q(w) && g_screen.active_window != w) return;
  remove_from(g_screen.window_stack, w);
  if (g_screen.active_window == w) g_screen.active_window = 0;
  choose_active_window();
}

void shutdown_screen() {
  std::vector<uint32_t> windows = g_screen.window_stack;
  for (uint32_t w : windows) free_widget_tree(w);
  forget_screen();
}

void forget_screen() {
  g_screen.width = g_screen.height = 0;
  g_screen.focused = g_screen.hovered = g_screen.captured = g_screen.active_window = 0;
  g_screen.window_stack.clear();
  g_screen.over_list.clear();
  g_screen.output.clear();
  std::vector<ScreenCell>().swap(g_screen.cells);
  g_screen.redraw_needed = g_screen.something_shown = false;
  g_screen.lines_used = 0;
  g_screen.cursor_column = g_screen.cursor_row = -1;
  console().display_row = console().display_column = 0;
}

// ---- Tests ----

std::string grid_text() {
  std::string out;
  for (int32_t y = 0; y < g_screen.height; ++y) {
    for (int32_t x = 0; x < g_screen.width; ++x) {
      const ScreenCell& c = g_screen.cells[size_t(y) * size_t(g_screen.width) + size_t(x)];
      if (c.attrs & attr::WIDE_TAIL) continue;
      uint8_t buf[4];
      int n = unicode::encode_utf8_raw(c.ch ? c.ch : ' ', buf);
      out.append(reinterpret_cast<const char*>(buf), size_t(n));
    }
    out += '\n';
  }
  return out;
}

}  // namespace kel::gui
