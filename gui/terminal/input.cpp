// The GUI's input queue and its decoder: control bytes, UTF-8, escape sequences (keys, SGR
// mouse reports, cursor reports), cut-off pieces kept for the next pass.
#include "gui/terminal/input.h"

#include <poll.h>

#include <vector>

#include "console/stdin_buffer.h"
#include "gui/terminal/console_io.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/word.h"
#include "runtime/keys.h"
#include "runtime/output.h"
#include "runtime/system.h"
#include "runtime/terminal.h"

namespace kel::gui {

namespace {
constexpr uint8_t ESC = 0x1B;
constexpr size_t QUEUE_START = 100;

std::vector<uint8_t> g_queue;
size_t g_read = 1;          // 1-based position of the next byte to decode
bool g_incomplete = false;
size_t g_count_after = 0;   // bytes queued when the last pass ended
bool g_last_release = true;
const InputSink* g_sink = nullptr;

bool active_window() { return g_sink && g_sink->active_window && g_sink->active_window(); }

void make_key(int32_t character, int32_t special) {
  if (g_sink && g_sink->key) g_sink->key(character, special);
}

// The cell of the `size` field of the first face of `system/view/screens`, or null.
Cell* screen_size_field() {
  if (!system::built_q()) return nullptr;
  Cell sys = word::intern_global("system");
  Cell view = word::intern_global("view");
  Cell screens = word::intern_global("screens");
  Cell size = word::intern_global("size");
  sys.header = view.header = screens.header = size.header = T_WORD;
  const Cell* s = word::value_slot(&sys);
  if (cell::type(s) != T_OBJECT) return nullptr;
  const Cell* v = object::value_of_word(s, &view);
  if (cell::type(v) != T_OBJECT) return nullptr;
  Cell list = *object::value_of_word(v, &screens);
  if (!block::any_block_q(cell::type(&list)) || block::count_from_head(&list) <= 0) return nullptr;
  const Cell* face = block::head_cell(&list);
  if (cell::type(face) != T_OBJECT) return nullptr;
  const Cell* f = object::value_of_word(face, &size);
  return f == cell::none_value() ? nullptr : const_cast<Cell*>(f);
}

// Decodes the escape sequence at the read position (n > 1 bytes queued). A sequence cut off
// by the end of the queue stays, unless this pass brought no new byte: then it is dropped.
void decode_escape(size_t start, size_t n, bool stale) {
  const uint8_t* p = g_queue.data() + start - 1;
  size_t avail = n - start + 1;
  if (avail < 2) {
    if (!stale) {
      g_incomplete = true;
      return;
    }
    g_read = start + 1;  // nothing followed: the Esc key
    make_key(27, 0);
    return;
  }
  uint8_t kind = p[1];
  if (kind == '[' || kind == 'P' || kind == ']') {
    keys::Sequence s = keys::scan(p, avail);
    if (s.kind == keys::Seq::Incomplete) {
      if (stale) g_read = n + 1;
      else g_incomplete = true;
      return;
    }
    g_read = start + s.length;
    if (s.kind != keys::Seq::Control) return;  // strings and abandoned sequences: nothing
    if (s.final_byte == 'M' && s.param_count == 3) {
      mouse_report(false, s.params[0], s.params[1], s.params[2]);
    } else if (s.final_byte == 'm' && s.param_count == 3) {
      mouse_report(true, s.params[0], s.params[1], s.params[2]);
    } else if (s.final_byte == 'R' && s.param_count == 2) {
      cursor_report(s.params[0], s.params[1]);
    } else {
      // The key decoder looks at the bytes from "[" to the final byte.
      std::vector<uint8_t> seq(p + 1, p + s.length);
      decode_key(seq.data(), seq.size(), s.final_byte);
    }
    return;
  }
  if (avail < 3) {
    if (stale) g_read = n + 1;
    else g_incomplete = true;
    return;
  }
  g_read = start + 3;
  uint8_t pair[2] = {p[1], p[2]};
  decode_key(pair, 2, p[2]);
}
}  // namespace

void set_input_sink(const InputSink* sink) { g_sink = sink; }

size_t queued_count() { return g_queue.size(); }
size_t read_position() { return g_read; }
bool incomplete_q() { return g_incomplete; }
bool& last_button_release() { return g_last_release; }
bool input_exhausted_q() { return g_read > g_queue.size(); }

void reset_input() {
  g_queue.clear();
  if (g_queue.capacity() < QUEUE_START) g_queue.reserve(QUEUE_START);
  g_incomplete = false;
  g_read = 1;
  g_count_after = 0;
}

void queue_byte(uint8_t byte) { g_queue.push_back(byte); }

void queue_char(int32_t cp) {
  uint8_t buf[4];
  int n = unicode::encode_utf8_raw(uint32_t(cp), buf);
  g_queue.insert(g_queue.end(), buf, buf + n);
}

int32_t poll_console(bool queue) {
  if (!stdin_is_console_q()) return 0;
  int32_t count = 0;
  // Bytes the line editor's reader holds came first.
  if (size_t held = stdin_buffer::size()) {
    if (queue) g_queue.insert(g_queue.end(), stdin_buffer::data(), stdin_buffer::data() + held);
    stdin_buffer::consume(held);
    count += int32_t(held);
  }
  uint8_t buf[4096];
  for (;;) {
    struct pollfd in {0, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0 || !(in.revents & POLLIN)) break;
    int64_t r = terminal::read_input(buf, sizeof buf);
    if (r < 0) return 0;
    if (r == 0) break;
    if (queue) g_queue.insert(g_queue.end(), buf, buf + r);
    count += int32_t(r);
    if (size_t(r) < sizeof buf) break;
  }
  if (terminal::take_resize()) {
    resize_console();
    ++count;
  }
  return count;
}

void decode_input() {
  size_t n = g_queue.size();
  // A pass that begins past the queued bytes starts the queue again.
  if (g_read > n) {
    g_queue.clear();
    g_read = 1;
    g_count_after = 0;
    g_incomplete = false;
    return;
  }
  bool stale = n == g_count_after;  // nothing new since the last pass
  g_incomplete = false;
  while (g_read <= (n = g_queue.size())) {
    size_t start = g_read;
    uint8_t b = g_queue[start - 1];
    if (n > 1 && b == ESC) {
      decode_escape(start, n, stale);
    } else if (b < 32 || b == 127) {
      g_read = start + 1;
      make_key(b == 8 ? 127 : b == 10 ? 13 : b, 0);
    } else {
      size_t used = 0;
      int32_t cp = keys::decode_utf8(g_queue.data() + start - 1, n - start + 1, &used);
      if (cp == keys::UTF8_CUT) {
        g_incomplete = true;
      } else if (cp == keys::UTF8_BAD) {
        g_read = start + 1;  // the bad byte goes; what follows is decoded
      } else {
        g_read = start + used;
        make_key(cp, 0);
      }
    }
    if (g_read > g_queue.size()) break;
    if (g_incomplete) {
      // The cut piece moves to the front and waits for its other bytes.
      if (start > 1 && start <= g_queue.size()) {
        g_queue.erase(g_queue.begin(), g_queue.begin() + ptrdiff_t(start - 1));
        g_read = 1;
      }
      break;
    }
  }
  g_count_after = g_queue.size();
}

void decode_key(const uint8_t* seq, size_t length, uint8_t final_byte) {
  int32_t code = 0;
  uint8_t second = length > 1 ? seq[1] : 0;
  uint8_t third = length > 2 ? seq[2] : 0;
  if (seq[0] == '[') {
    switch (final_byte) {
      case 'A': case 'B': case 'C': case 'D': case 'F': case 'H': case 'Z':
        if (second == final_byte) {
          static const char letters[] = "ABCDFHZ";
          static const int32_t codes[] = {-20, -21, -22, -23, -24, -25, 10};
          for (int i = 0; i < 7; ++i)
            if (letters[i] == final_byte) code = codes[i];
        }
        break;
      case '~':
        switch (second) {
          case '3': code = -27; break;
          case '5': code = -28; break;
          case '6': code = -29; break;
          case '1':
            code = third == '5' ? -35 : third == '7' ? -36 : third == '8' ? -37 : third == '9' ? -38
                 : third == '~' ? -25 : 0;
            break;
          case '2':
            code = third == '0' ? -39 : third == '1' ? -40 : third == '3' ? -41 : third == '4' ? -42
                 : third == '~' ? -26 : 0;
            break;
          case '4': case '8': code = third == '~' ? -24 : 0; break;
          case '7': code = third == '~' ? -25 : 0; break;
          default: break;
        }
        break;
      default:
        break;
    }
  } else if (seq[0] == 'O') {
    switch (final_byte) {
      case 'P': code = -31; break;
      case 'Q': code = -32; break;
      case 'R': code = -33; break;
      case 'S': code = -34; break;
      case 'A': code = -20; break;
      case 'B': code = -21; break;
      case 'C': code = -22; break;
      case 'D': code = -23; break;
      case 'H': code = -25; break;
      case 'F': code = -24; break;
      default: break;
    }
  }
  if (code) make_key(0, code);
}

void cursor_report(int32_t row, int32_t column) {
  console().display_row = row - 1;
  console().display_column = column - 1;
}

void mouse_report(bool release, int32_t b, int32_t x, int32_t y) {
  if (!active_window()) return;
  int32_t button = (b & 3) + ((b & 64) >> 4);
  float fx = float(x - 1);
  float fy = float(y - console().display_row - 1);
  uint32_t flags = (b & 4 ? FLAG_SHIFT : 0) | (b & 8 ? FLAG_ALT : 0) | (b & 16 ? FLAG_CONTROL : 0);
  if (button <= 2) {
    int32_t type = button * 2 + (release ? 2 : 1);
    if (release != g_last_release) {
      g_last_release = release;
      if (g_sink->mouse_button) g_sink->mouse_button(type, fx, fy, flags);
    } else if (g_sink->route_over) {
      g_sink->route_over(EVT_OVER, fx, fy, flags | FLAG_DOWN);  // a drag
    }
  } else if (button == 3) {
    if (g_sink->route_over) g_sink->route_over(EVT_OVER, fx, fy, flags);
  } else if (button == 4 || button == 5) {
    if (g_sink->route_wheel) g_sink->route_wheel(button == 4 ? 1 : -1, fx, fy, flags);
  }
}

void resize_console() {
  read_terminal_size();
  if (Cell* size = screen_size_field()) pair::init_cell(size, console().columns, console().rows);
  if (console().set_up && g_sink && g_sink->terminal_resized)
    g_sink->terminal_resized(console().columns, console().rows);
}

}  // namespace kel::gui
