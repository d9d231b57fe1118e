// Shared by the terminal GUI benches: the started runtime with the face fixture, Kel text
// evaluated in it, and the console as a set-up full-screen terminal of a given size.
#pragma once
#include <cstdint>
#include <string>

#include "gui/terminal/console_io.h"
#include "runtime/cell_api.h"
#include "runtime/evaluator/launch.h"
#include "runtime/init.h"
#include "runtime/stack.h"
#include "tests/probes/gui_builder.h"

namespace kel::bench {

// The result stays on the argument stack (a root) for the caller.
inline Cell* eval(const std::string& text) {
  Cell* block = stack::reserve_cell();
  cell::set_none(block);
  Cell* result = stack::reserve_cell();
  cell::set_none(result);
  launcher::load_text(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), block);
  bool is_error = false;
  launcher::run_protected(block, result, &is_error);
  return result;
}

inline void start_runtime_with_faces() {
  runtime::init_units();
  runtime::init();
  runtime::run_boot_library();
  eval(testing::kFaceFixture);
}

inline void full_screen_console(int32_t columns, int32_t rows) {
  gui::console().set_up = true;
  gui::console().full_screen = true;
  gui::console().columns = columns;
  gui::console().rows = rows;
}

}  // namespace kel::bench
