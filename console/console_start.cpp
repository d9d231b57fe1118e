// The console's start-up routines: `system/console/init` (title, editor, size) and the
// internal routines the console library needs (terminal input or both ends, replacing a file).
#include "console/console_start.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/editor.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/routine.h"
#include "runtime/io/simple_io.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/terminal.h"

namespace kel::console_start {

namespace {

int32_t g_init = -1;

inline Cell* arg(int i) { return stack::state().base + i; }

void set_unset_result() {
  Cell r{T_UNSET, 0, 0, 0};
  stack::set_only_result(&r);
}

// The title goes to the terminal as an OSC 2 sequence, only when output is a terminal.
// Control bytes are left out: they would end the sequence early or write to the screen.
void init_routine() {
  if (platform::console_flag()) {
    std::string text = simple_io::utf8_text(arg(0));
    std::string seq = "\x1b]2;";
    for (char c : text)
      if (uint8_t(c) >= 0x20 && uint8_t(c) != 0x7F) seq += c;
    seq += '\a';
    platform::write_bytes(seq.data(), seq.size());
  }
  editor::init();
  Cell size;
  if (system::find_field("console", "size", &size) &&
      (cell::type(&size) != T_PAIR || size.w2 == 0 || size.w3 == 0)) {
    Cell* p = stack::reserve_cell();
    pair::init_cell(p, 80, 50);
    system::set_field("console", "size", p);
    stack::drop_cells(1);
  }
  set_unset_result();
}

void terminal_input_routine() {
  Cell r{T_LOGIC, isatty(0) ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

// Both ends a terminal: help shows an image in a window only where a person can close it.
void console_terminal_routine() {
  Cell r{T_LOGIC, terminal::console_q() ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

// rename(2) puts the new file in place of the old one at once: a crash leaves one or the
// other, never a file cut short.
void replace_file_routine() {
  std::string from = file::to_local_text(arg(0));
  std::string to = file::to_local_text(arg(1));
  Cell r{T_LOGIC, std::rename(from.c_str(), to.c_str()) == 0 ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

}  // namespace

void register_routines() {
  if (g_init >= 0) return;
  g_init = routine::register_routine(
      {nullptr, "str [string!]", &init_routine, int32_t(T_UNSET)});
  routine::register_routine({"_terminal-input?", "\"Internal Use Only\" return: [logic!]",
                             &terminal_input_routine, int32_t(T_LOGIC)});
  routine::register_routine({"_console-terminal?", "\"Internal Use Only\" return: [logic!]",
                             &console_terminal_routine, int32_t(T_LOGIC)});
  routine::register_routine(
      {"_replace-file", "\"Internal Use Only\" from [file!] to [file!] return: [logic!]",
       &replace_file_routine, int32_t(T_LOGIC)});
}

void place_init() {
  if (g_init < 0) return;
  Cell console;
  if (!system::find_field("", "console", &console) || cell::type(&console) != T_OBJECT) return;
  Cell* built = routine::push_built(g_init);
  system::set_field("console", "init", built);
  stack::drop_cells(1);
}

}  // namespace kel::console_start
