// Shared by the GUI unit tests: a booted runtime that evaluates and molds Kel text, and the
// terminal backend on a console of a set size with what it writes captured.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>

#include "gui/terminal/backend.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/launch.h"
#include "runtime/init.h"
#include "runtime/io/simple_io.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::test {

class BootedTest : public ::testing::Test {
 protected:
  void SetUp() override { boot(); }
  static void boot() {
    runtime::init_units();
    runtime::init();
    runtime::run_boot_library();
  }
  // Evaluates Kel text; the result stays on the argument stack (a root) for the test.
  Cell* eval(const char* text) {
    Cell* block = stack::reserve_cell();
    cell::set_none(block);
    Cell* result = stack::reserve_cell();
    cell::set_none(result);
    launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
    bool is_error = false;
    launcher::run_protected(block, result, &is_error);
    EXPECT_FALSE(is_error) << text;
    return result;
  }
  std::string mold_of(const std::string& text) {
    Cell* top = stack::state().top;
    Cell* v = eval(text.c_str());
    std::string s = simple_io::utf8_text(actions::mold(v, false, false, false, nullptr));
    stack::state().top = top;
    return s;
  }
};

// The window's widget tree painted into a fresh grid, as a refresh of a set-up console does.
inline void paint_grid(uint32_t window) {
  gui::console().set_up = true;  // the grid is sized only for a set-up console
  struct Back {
    ~Back() { gui::console().set_up = false; }
  } back;
  gui::screen().redraw_needed = true;
  gui::size_grid();
  std::fill(gui::screen().cells.begin(), gui::screen().cells.end(), gui::ScreenCell{0, 0, 0, 0});
  gui::paint_tree(window);
}
inline const gui::ScreenCell& grid_at(int32_t x, int32_t y) {
  return gui::screen().cells[size_t(y) * size_t(gui::screen().width) + size_t(x)];
}
// Row y of the grid's text.
inline std::string grid_row(int32_t y) {
  std::string text = gui::grid_text();
  size_t start = 0;
  for (int32_t i = 0; i < y; ++i) start = text.find('\n', start) + 1;
  return text.substr(start, text.find('\n', start) - start);
}

// Each test starts from a fresh console, loop and screen so none sees another's state.
class GuiConsoleTest : public BootedTest {
 protected:
  std::string written;

  void start_console(int32_t columns, int32_t rows) {
    boot();
    gui::reset_console();
    gui::reset_loop_state();
    gui::shutdown_screen();
    gui::init_backend();
    gui::console().columns = columns;
    gui::console().rows = rows;
    gui::capture_output(&written);
  }
  void paint(uint32_t window) { paint_grid(window); }
  const gui::ScreenCell& at(int32_t x, int32_t y) { return grid_at(x, y); }
  std::string row(int32_t y) { return grid_row(y); }
  void TearDown() override {
    gui::shutdown_screen();
    gui::capture_output(nullptr);
    gui::set_loop_clock(nullptr);
    gui::set_loop_waiter(nullptr);
    gui::reset_console();
  }
};

}  // namespace kel::test
