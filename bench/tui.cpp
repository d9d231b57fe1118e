// The terminal GUI's costs: `refresh` paints and writes frames of a 200x60 window of 20 text
// faces whose every cell changes each frame (µs and bytes per frame); `idle` runs the event
// loop on a window with no input for 10 s and reports the CPU it took (getrusage).
// Run by hand: build/bench/bench-tui refresh | idle   (figures go to standard error)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/gui_bench.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"

namespace {
using kel::bench::eval;

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Two looks of the same window: texts and colours differ in every cell.
const char* kWindow =
    "make-window: func [c t] [face [type: 'window size: 200x60 pane: collect [repeat i 20 ["
    "  keep face [offset: as-pair 0 i - 1 * 3 size: 200x3 color: c + i font: object [name: none"
    "    size: none style: none weight: none angle: none color: 255.255.255 - c - i]"
    "    para: object [origin: none padding: none scroll: none align: none v-align: none wrap?: true]"
    "    text: append/dup copy \"\" t 600]]]]]\n"
    "a: make-window 10.20.30 \"ab\" b: make-window 200.100.50 \"中\"";

int32_t quit_on_time(uint32_t, int32_t code, void*) {
  if (code == kel::gui::evt::TIME) kel::gui::post_quit_msg();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "refresh";
  kel::bench::start_runtime_with_faces();
  if (what == "refresh") {
    eval(kWindow);
    kel::Cell* a = eval("a");
    kel::Cell* b = eval("b");
    uint32_t wa = kel::testing::build_widgets(a, 0);
    uint32_t wb = kel::testing::build_widgets(b, 0);
    kel::bench::full_screen_console(200, 60);
    std::string out;
    kel::gui::capture_output(&out);
    const int frames = argc > 2 ? std::atoi(argv[2]) : 2000;
    size_t bytes = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
      kel::gui::screen().active_window = i % 2 ? wb : wa;  // no focus events in the timing
      kel::gui::mark_redraw(i % 2 ? wb : wa);
      kel::gui::refresh();
      bytes += out.size();
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fprintf(stderr, "refresh 200x60, 20 faces, every cell changing: %.1f us and %zu bytes per frame\n",
                 s / frames * 1e6, bytes / size_t(frames));
    kel::gui::capture_output(nullptr);
  } else {
    kel::Cell* w = eval("face [type: 'window size: 20x2 text: \"idle\"]");
    uint32_t id = kel::testing::build_widgets(w, 0);
    kel::gui::activate_window(id);
    kel::gui::widget(id)->on_event = quit_on_time;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    kel::gui::add_timer(id, seconds * 1000);
    double c0 = cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    kel::gui::do_events(false);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpu_seconds() - c0;
    std::fprintf(stderr, "idle loop: %.1f s wall, %.3f s CPU (%.2f%%), %d passes (%.1f a second)\n", wall, cpu,
                 cpu / wall * 100, kel::gui::loop_state().passes, kel::gui::loop_state().passes / wall);
  }
}
