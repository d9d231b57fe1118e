// The console line editor: the edit loop over the key table, history, completion, drawing
// with relative moves from the column the output writers counted, and its routines.
#include "console/editor.h"

#include <cstring>
#include <string>
#include <vector>

#include "console/measure.h"
#include "console/stdin_buffer.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/keys.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/terminal.h"

namespace kel::editor {

namespace {

// Values the editor keeps between routine calls; a collector root.
enum { LINE, PROMPT, HISTORY, SAVED, CELL_COUNT };
Cell g_cells[CELL_COUNT] = {{T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}, {T_NONE, 0, 0, 0}};

bool g_initialised = false;
bool g_console = false;
bool g_ended = false;
int32_t g_columns = -1;
int32_t g_rows = -1;
bool g_hidden = false;
bool g_first_draw = true;

// The screen, in columns from the start of the prompt's first row: where the prompt starts,
// where the terminal's cursor is (its row counted from the prompt's row; `g_wrap` when it
// sits on a row's last column with the next character due on the next row), and where the
// cursor and the end of the input were drawn.
int32_t g_origin = 0;
int32_t g_row = 0;
int32_t g_col = 0;
bool g_wrap = false;
int32_t g_pos = 0;
int32_t g_end = 0;
std::string g_out;  // the bytes of one repaint, written at once

// Codes of the key reader beside the keys'.
constexpr int32_t KEY_RESIZE = -1000;
constexpr int32_t KEY_END_OF_INPUT = -1001;
constexpr int64_t LONE_ESC_MS = 50;

void mark_cells() { gc::mark_cells(g_cells, g_cells + CELL_COUNT); }

// The root is registered with each collector (tests make the runtime again).
void ensure_root() {
  const gc::GcState& st = gc::state();
  for (uint32_t i = 0; i < st.callback_count; ++i)
    if (st.callbacks[i] == &mark_cells) return;
  for (Cell& c : g_cells) cell::set_none(&c);
  gc::add_root(&mark_cells);
}

inline Cell* arg(int i) { return stack::state().base + i; }
}  // namespace

void forget_cells() {
  for (Cell& c : g_cells) cell::set_none(&c);
}

namespace {

// ---- The console object's fields ----

// The cell of `system/console/<name>` when both exist; valid until the next allocation.
Cell* console_field(const char* name) {
  Cell sys = word::intern_global("system");
  Cell con = word::intern_global("console");
  Cell field = word::intern_global(name);
  sys.header = con.header = field.header = T_WORD;
  const Cell* s = word::value_slot(&sys);
  if (cell::type(s) != T_OBJECT) return nullptr;
  const Cell* c = object::value_of_word(s, &con);
  if (cell::type(c) != T_OBJECT) return nullptr;
  const Cell* v = object::value_of_word(c, &field);
  if (v == cell::none_value()) return nullptr;
  return const_cast<Cell*>(v);
}

// Columns and rows: first `system/console/size`, then the terminal's, written back into
// `size` in place.
void update_sizes() {
  if (Cell* size = console_field("size"); size && cell::type(size) == T_PAIR) {
    g_columns = int32_t(size->w2);
    g_rows = int32_t(size->w3);
  }
  int c, r;
  if (g_console && terminal::read_size(&c, &r)) {
    g_columns = c;
    g_rows = r;
    if (Cell* size = console_field("size")) pair::init_cell(size, c, r);
  }
  if (g_columns <= 0) g_columns = 80;
}

// ---- The edited line ----

Cell& line() { return g_cells[LINE]; }
int32_t cursor() { return int32_t(line().w1); }
void set_cursor(int32_t i) { line().w1 = uint32_t(i); }
int32_t length() { return string::count_from_start(&line()); }

// Characters of a string from index `from` (of its buffer) to its tail.
std::vector<int32_t> chars_of(const Cell* s, int32_t from) {
  std::vector<int32_t> out;
  int32_t n = string::count_from_start(s);
  for (int32_t i = from < 0 ? 0 : from; i < n; ++i) out.push_back(string::codepoint_at(s, i));
  return out;
}

// The line's text becomes `text`, the cursor `at`.
void set_text(const std::vector<int32_t>& text, int32_t at) {
  string::reset_empty(&line());
  for (int32_t c : text) string::add_codepoint(&line(), c);
  set_cursor(at < 0 ? 0 : at > int32_t(text.size()) ? int32_t(text.size()) : at);
}

// The whole text of a history entry or candidate; a value that is no string gives "".
std::vector<int32_t> whole_text(const Cell* v) {
  if (!string::any_string_q(cell::type(v))) return {};
  return chars_of(v, 0);
}

// ---- Drawing ----

void flush_out() {
  if (!g_out.empty()) platform::write_bytes(g_out.data(), g_out.size());
  g_out.clear();
}

void move_to(int32_t row, int32_t col) {
  if (row == g_row && col == g_col && !g_wrap) return;
  append_move(&g_out, g_row, row, col);
  g_row = row;
  g_col = col;
  g_wrap = false;
}

// Where the terminal's cursor is after text was written up to column `end`.
void written_up_to(int32_t end) {
  if (end > 0 && end % g_columns == 0) {
    g_row = end / g_columns - 1;
    g_col = g_columns - 1;
    g_wrap = true;
  } else {
    g_row = end / g_columns;
    g_col = end % g_columns;
    g_wrap = false;
  }
}

// Moves the cursor to `pos`. At a row's start with nothing after it, the terminal still waits
// on the row above: a line end takes it down (and scrolls when needed).
void place_cursor(int32_t pos, int32_t end, int32_t at_char) {
  int32_t row = pos / g_columns;
  int32_t col = pos % g_columns;
  // A wide character at the last column shows at the next row's start.
  if (pos < end && col == g_columns - 1 && char_columns(at_char) == 2) {
    ++row;
    col = 0;
  }
  if (pos == end && col == 0 && g_wrap && g_row == row - 1) {
    g_out += "\r\n";
    g_row = row;
    g_col = 0;
    g_wrap = false;
    return;
  }
  move_to(row, col);
}

// Measures prompt and line (writing them when `full`), then places the cursor.
void repaint(bool full) {
  std::vector<int32_t> prompt = chars_of(&g_cells[PROMPT], int32_t(g_cells[PROMPT].w1));
  std::vector<int32_t> text = chars_of(&line(), 0);
  int32_t cur = cursor();
  if (cur > int32_t(text.size())) set_cursor(cur = int32_t(text.size()));
  if (g_first_draw) {
    g_first_draw = false;
    g_origin = platform::output_column() % g_columns;
    g_row = 0;
    g_col = g_origin;
    g_wrap = false;
    full = true;
  } else if (full) {
    move_to(0, g_origin);
    g_out += "\x1b[J";
  }
  std::string* out = full ? &g_out : nullptr;
  int32_t c = g_origin + measure(prompt.data(), prompt.size(), g_columns - g_origin, g_columns, false, out);
  int32_t pos = c + measure(text.data(), size_t(cur), g_columns - c % g_columns, g_columns, g_hidden, out);
  int32_t end = pos + measure(text.data() + cur, text.size() - size_t(cur),
                              g_columns - pos % g_columns, g_columns, g_hidden, out);
  if (full) written_up_to(end);
  g_pos = pos;
  g_end = end;
  place_cursor(pos, end, cur < int32_t(text.size()) ? (g_hidden ? '*' : text[size_t(cur)]) : 0);
  flush_out();
}

// Leaves the cursor at the start of the row after the input.
void finish_rows() {
  int32_t last = g_end > 0 && g_end % g_columns == 0 ? g_end / g_columns - 1 : g_end / g_columns;
  if (g_row != last) append_move(&g_out, g_row, last, 0);
  g_out += "\r\n";
  g_row = last + 1;
  g_col = 0;
  g_wrap = false;
  flush_out();
}

// ---- Keys ----

int32_t read_key() {
  for (;;) {
    if (terminal::take_resize()) return KEY_RESIZE;
    size_t n = stdin_buffer::size();
    int32_t code = 0;
    if (n) {
      size_t used = keys::decode_editor_key(stdin_buffer::data(), n, false, &code);
      if (used) {
        stdin_buffer::consume(used);
        return code;
      }
    }
    if (terminal::input_hung_up_q()) return KEY_END_OF_INPUT;
    int w = terminal::wait(n ? LONE_ESC_MS : -1);
    if (w & terminal::WAIT_RESIZE) continue;
    if (w == 0) {
      if (n) {
        // Nothing more came: what is there is all of the key.
        stdin_buffer::consume(keys::decode_editor_key(stdin_buffer::data(), n, true, &code));
        return code;
      }
      continue;
    }
    if (stdin_buffer::fill() <= 0) return KEY_END_OF_INPUT;
  }
}

// ---- History and completion ----

void add_to_history() {
  if (g_hidden) return;
  std::vector<int32_t> text = chars_of(&line(), 0);
  if (text.empty()) return;
  Cell& hist = g_cells[HISTORY];
  if (!block::any_block_q(cell::type(&hist))) return;
  hist.w1 = 0;
  if (block::count_from_head(&hist) > 0 && whole_text(block::cell_at_index(&hist, 0)) == text) return;
  // A copy: the string `ask` returns is the caller's to change.
  Cell* copy = stack::reserve_cell();
  cell::set_none(copy);
  string::init_cell(copy, int32_t(text.size()));
  for (int32_t c : text) string::add_codepoint(copy, c);
  block::insert_cell(&hist, copy, false, true);
  stack::drop_cells(1);
}

// Asks `kel-complete-input` for the candidates of the text before the cursor. Without the
// function, or when it fails, there are none.
int32_t complete() {
  Cell name = word::intern_global("kel-complete-input");
  name.header = T_WORD;
  uint32_t t = cell::type(word::value_slot(&name));
  if (t != T_FUNCTION && t != T_NATIVE && t != T_ACTION && t != T_ROUTINE) return 0;
  Cell* top = stack::state().top;
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  blk::init(call, 3);
  *runtime::block_append_cell(call) = name;
  *runtime::block_append_cell(call) = line();
  *runtime::block_append_cell(call) = Cell{T_LOGIC, 1, 0, 0};
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  bool is_error = false;
  launcher::run_protected(call, result, &is_error);
  int32_t n = 0;
  if (!is_error && block::any_block_q(cell::type(result))) n = block::count_from_head(result);
  if (n == 1) {
    const Cell* entry = block::head_cell(result);
    set_text(whole_text(entry), int32_t(entry->w1));
  } else if (n > 1) {
    // The candidates on rows of their own, then the prompt again with the completed line.
    finish_rows();
    std::string list;
    for (int32_t i = 1; i < n; ++i) {
      for (int32_t c : whole_text(block::head_cell(result) + i)) {
        uint8_t buf[4];
        list.append(reinterpret_cast<char*>(buf), size_t(unicode::encode_utf8_raw(uint32_t(c), buf)));
      }
      list += ' ';
    }
    list += '\n';
    platform::write_bytes(list.data(), list.size());
    const Cell* first = block::head_cell(result);
    set_text(whole_text(first), int32_t(first->w1));
    g_first_draw = true;
  }
  stack::state().top = top;
  return n;
}

// ---- The edit ----

// Inserts a character at the cursor; at the end only the character itself is written.
void insert_key(int32_t key, int32_t at, int32_t n, bool* full) {
  if (at == n) {
    string::add_codepoint(&line(), key);
    set_cursor(at + 1);
    int32_t end = g_end + measure(&key, 1, g_columns - g_end % g_columns, g_columns, g_hidden, &g_out);
    written_up_to(end);
    *full = false;
  } else {
    string::insert_codepoint(&line(), at, key);
    set_cursor(at + 1);
  }
}

void edit() {
  Cell& hist = g_cells[HISTORY];
  int32_t entries = 0;
  if (block::any_block_q(cell::type(&hist))) {
    hist.w1 = 0;
    entries = block::count_from_head(&hist);
  }
  update_sizes();
  Cell& saved = g_cells[SAVED];
  if (cell::type(&saved) != T_STRING) string::init_cell(&saved, 1);
  if (string::count_from_start(&saved) > 0) {
    set_text(chars_of(&saved, 0), int32_t(saved.w1));
    string::reset_empty(&saved);
  }
  repaint(true);
  int32_t index = -1;
  for (;;) {
    bool full = true;
    int32_t key = read_key();
    int32_t n = length();
    int32_t at = cursor();
    switch (key) {
      case KEY_RESIZE:
        update_sizes();
        if (g_origin >= g_columns) g_origin = 0;
        break;
      case KEY_END_OF_INPUT:
        g_ended = true;
        set_text({}, 0);
        finish_rows();
        return;
      case 9:
        // Hidden text is never completed: its candidates would show it.
        if (!g_hidden && complete() > 0) break;
        insert_key(key, at, n, &full);
        break;
      case 13:
        finish_rows();
        add_to_history();
        string::reset_empty(&saved);
        set_cursor(0);
        return;
      case 8:
      case 127:
        if (at > 0) {
          set_cursor(--at);
          string::delete_codepoint(&line(), at);
          if (at == n - 1) full = false;
          repaint(full);
          if (!full) {
            g_out += "\x1b[J";
            flush_out();
          }
        }
        continue;
      case 2:
      case keys::LEFT:
        if (at > 0) {
          set_cursor(at - 1);
          repaint(false);
        }
        continue;
      case 6:
      case keys::RIGHT:
        if (at < n) {
          set_cursor(at + 1);
          repaint(false);
        }
        continue;
      case 16:
      case keys::UP:
        if (index < entries - 1) {
          ++index;
          std::vector<int32_t> t = whole_text(block::cell_at_index(&hist, index));
          set_text(t, int32_t(t.size()));
        } else {
          set_text({}, 0);
        }
        break;
      case 14:
      case keys::DOWN:
        if (index >= 0) {
          std::vector<int32_t> t = whole_text(block::cell_at_index(&hist, index));
          set_text(t, int32_t(t.size()));
          --index;
        } else {
          set_text({}, 0);
        }
        break;
      case 1:
      case keys::HOME:
        set_cursor(0);
        break;
      case 5:
      case keys::END:
        set_cursor(n);
        break;
      case keys::DELETE:
        if (at < n) string::delete_codepoint(&line(), at);
        break;
      case 11:
        if (at < n) string::delete_range(&line(), at, n - at);
        break;
      case 4:
        if (at < n) {
          string::delete_codepoint(&line(), at);
          break;
        }
        if (n > 0) continue;
        [[fallthrough]];
      case 3:
        set_text({'q'}, 0);
        finish_rows();
        return;
      case 27:
        string::reset_empty(&saved);
        string::add_codepoint(&line(), 27);
        set_cursor(0);
        finish_rows();
        return;
      default:
        if (key <= 31) continue;
        insert_key(key, at, n, &full);
        break;
    }
    repaint(full);
  }
}

// ---- Routines ----

void set_buffer_history_routine() {
  ensure_root();
  if (!g_initialised) init();
  g_cells[LINE] = *arg(0);
  g_cells[HISTORY] = *arg(1);
  if (g_console) terminal::enter_raw(terminal::Raw::Editor);
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

void read_input_routine() {
  ensure_root();
  if (!g_initialised) init();
  g_ended = false;
  if (!g_console) {
    g_hidden = false;
    if (!stdin_buffer::read_line(&line())) g_ended = true;
  } else {
    g_cells[PROMPT] = *arg(0);
    g_hidden = arg(1)->w1 != 0;
    g_first_draw = true;
    g_origin = 0;
    terminal::enter_raw(terminal::Raw::Editor);
    struct Leave {
      ~Leave() {
        terminal::leave_raw();
        std::string().swap(g_out);
      }
    } leave;
    edit();
  }
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

void input_stdin_routine() {
  Cell* s = stack::reserve_cell();
  cell::set_none(s);
  string::init_cell(s, 256);
  g_ended = !stdin_buffer::read_line(s);
  Cell r = *s;
  stack::set_only_result(&r);
}

void read_stdin_routine() {
  int32_t want = int32_t(arg(1)->w2);
  if (want > 0) {
    // One read, as the system gives it; at most 1 MB at a time.
    size_t n = size_t(want) < (size_t(1) << 20) ? size_t(want) : size_t(1) << 20;
    if (stdin_buffer::size() == 0 && stdin_buffer::fill() <= 0) n = 0;
    if (n > stdin_buffer::size()) n = stdin_buffer::size();
    if (n) {
      std::vector<uint8_t> bytes(stdin_buffer::data(), stdin_buffer::data() + n);
      stdin_buffer::consume(n);
      binary::append_bytes(arg(0), bytes.data(), int32_t(n));
    }
  }
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

void terminate_console_routine() {
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

void input_ended_routine() {
  Cell r{T_LOGIC, g_ended ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

}  // namespace

void init() {
  ensure_root();
  terminal::init();
  g_console = terminal::console_q();
  if (g_console) update_sizes();
  if (cell::type(&g_cells[SAVED]) != T_STRING) string::init_cell(&g_cells[SAVED], 1);
  g_initialised = true;
}

bool console_q() { return g_console; }
bool input_ended_q() { return g_ended; }
int columns() { return g_columns; }
int rows() { return g_rows; }

void register_routines() {
  static bool done = false;
  if (done) return;
  done = true;
  routine::register_routine({"_set-buffer-history", "\"Internal Use Only\" line [string!] hist [block!]",
                             &set_buffer_history_routine, int32_t(T_UNSET)});
  routine::register_routine({"_read-input", "\"Internal Use Only\" prompt [string!] hidden? [logic!]",
                             &read_input_routine, int32_t(T_UNSET)});
  routine::register_routine({"input-stdin", "\"Temporary function, internal use only\"",
                             &input_stdin_routine, int32_t(T_STRING)});
  routine::register_routine(
      {"read-stdin", "\"Temporary function, internal use only\" buffer [binary!] buflen [integer!]",
       &read_stdin_routine, int32_t(T_UNSET)});
  routine::register_routine({"_terminate-console", "\"Internal Use Only\"",
                             &terminate_console_routine, int32_t(T_UNSET)});
  routine::register_routine({"_input-ended?", "\"Internal Use Only\"", &input_ended_routine,
                             int32_t(T_LOGIC)});
}

}  // namespace kel::editor
