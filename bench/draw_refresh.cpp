// Draw blocks in the terminal GUI: a 200x60 window of 20 faces, each with a draw block of 50
// commands (boxes, lines, triangles, circles, ellipses, text, pens and fills), repainted whole
// every frame; µs per refresh, and the same window without draw blocks for the difference.
// Run by hand: build/bench/bench-draw_refresh [frames]   (figures go to standard error)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/gui_bench.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"

namespace {
using kel::bench::eval;

// Ten groups of five commands per face: 50 commands.
const char* kWindow =
    "commands: func [i /local b] [b: copy [] repeat k 10 ["
    "  append b reduce ["
    "    'pen as-color 20 * k 100 i * 10"
    "    'fill-pen as-color i * 10 20 * k 50"
    "    'box as-pair k * 18 - 18 0 as-pair k * 18 - 4 2"
    "    'line as-pair k * 18 - 18 1 as-pair k * 18 - 2 1 as-pair k * 18 - 10 0"
    "    either odd? k [reduce ['circle as-pair k * 18 - 9 1 1]]"
    "      [reduce ['text as-pair k * 18 - 16 1 \"draw\"]]"
    "  ]] b]\n"
    "window: func [draw?] [face [type: 'window size: 200x60 pane: collect [repeat i 20 ["
    "  keep face [offset: as-pair 0 i - 1 * 3 size: 200x3 color: 10.20.30"
    "    draw: either draw? [commands i] [none]]]]]]\n"
    "with-draw: window true plain: window false";

double time_frames(uint32_t window, int frames) {
  std::string out;
  kel::gui::capture_output(&out);
  kel::gui::activate_window(window);
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) {
    kel::gui::mark_redraw(window);
    kel::gui::refresh();
    out.clear();
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  kel::gui::capture_output(nullptr);
  return s / frames * 1e6;
}
}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 2000;
  kel::bench::start_runtime_with_faces();
  eval(kWindow);
  uint32_t drawn = kel::testing::build_widgets(eval("with-draw"), 0);
  uint32_t plain = kel::testing::build_widgets(eval("plain"), 0);
  kel::bench::full_screen_console(200, 60);
  double with = time_frames(drawn, frames);
  double without = time_frames(plain, frames);
  std::fprintf(stderr, "refresh 200x60, 20 faces of 50 Draw commands: %.1f us a frame (%.1f us without the draw blocks)\n",
               with, without);
}
