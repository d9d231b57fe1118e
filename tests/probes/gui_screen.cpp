// Probe: the GUI's screen and event loop in a real terminal, driven from outside (tmux):
// the real start-up, then a scenario in Kel with test routines that show a window of
// fixture faces, run the loop, end it, and dump the grid.
#include <cstdio>
#include <cstring>
#include <string>

#include "gui/terminal/event_loop.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/datatypes/routine.h"
#include "runtime/error.h"
#include "runtime/evaluator/launch.h"
#include "runtime/stack.h"
#include "runtime/startup.h"
#include "tests/probes/gui_builder.h"

namespace {
std::string g_scenario;
std::string g_dump_path;

void none_result() { kel::cell::set_none(kel::stack::state().base); }

void view_routine() {
  uint32_t id = kel::testing::build_widgets(kel::stack::state().base, 0);
  kel::gui::activate_window(id);
  none_result();
}
void do_events_routine() {
  kel::gui::do_events(false);
  none_result();
}
void quit_routine() {
  kel::gui::post_quit_msg();
  none_result();
}
void dump_routine() {
  if (FILE* f = std::fopen(g_dump_path.c_str(), "w")) {
    std::string text = kel::gui::grid_text();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  none_result();
}

// Escape ends the loop (after the grid is dumped); h prints a line.
const char* kHandlers =
    "system/view/awake: func [event /with face] ["
    "  if event/type = 'key ["
    "    if event/key = #\"h\" [print \"hit\"]"
    "    if event/key = #\"^[\" [gui-dump-grid gui-post-quit-msg]"
    "  ] none]\n";

const char* scenario_text(const std::string& s) {
  if (s == "colours")
    return "gui-view face [type: 'window size: 20x5 flags: 'fullscreen pane: reduce ["
           "  face [offset: 0x0 size: 20x1 text: \"^[[31mred^[[0m plain\"]"
           "  face [offset: 0x1 size: 20x1 text: \"^[[1;4mbold^[[0m ^[[7minv\"]"
           "  face [offset: 0x2 size: 8x1 text: \"wide中x\" color: 0.0.255]"
           "  face [offset: 0x3 size: 20x1 text: \"^[[38;5;196mpalette\"]"
           "  face [offset: 0x4 size: 20x1 text: \"end\" para: object [origin: none padding: none"
           "    scroll: none align: 'right v-align: none wrap?: false]]]]\n";
  if (s == "inline")
    return "print \"before\"\n"
           "gui-view face [type: 'window size: 12x2 pane: reduce ["
           "  face [size: 12x1 text: \"display\"] face [offset: 0x1 size: 12x1 text: \"row two\"]]]\n";
  if (s == "full")
    return "gui-view face [type: 'window size: 12x2 flags: 'fullscreen pane: reduce ["
           "  face [size: 12x1 text: \"full screen\"]]]\n";
  if (s == "draw")
    return "gui-view face [type: 'window size: 30x10 flags: 'fullscreen pane: reduce ["
           "  face [offset: 10x0 size: 20x3 draw: [box 0x0 4x2 text 6x1 \"boxed\"]]"
           "  face [offset: 0x3 size: 30x7 draw: [pen 255.0.0 box 0x0 3x2"
           "    pen off fill-pen 0.0.255 box 5x0 7x1 pen 255.0.0 text 1x4 \"drawn\""
           "    fill-pen off circle 20x3 2 line 9x6 40x6]]]]\n";
  return nullptr;
}

void launch() {
  const char* text = scenario_text(g_scenario);
  if (!text) {
    std::fprintf(stderr, "unknown scenario\n");
    return;
  }
  std::string script = std::string(kel::testing::kFaceFixture) + "\n" + kHandlers + text +
                       "gui-do-events\nprint \"loop ended\"\n";
  kel::Cell* block = kel::stack::reserve_cell();
  kel::cell::set_none(block);
  kel::Cell* result = kel::stack::reserve_cell();
  kel::cell::set_none(result);
  kel::launcher::load_text(reinterpret_cast<const uint8_t*>(script.data()), int32_t(script.size()), block);
  bool is_error = false;
  kel::launcher::run_protected(block, result, &is_error);
  if (is_error) kel::error::print_report(result);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_scenario = argv[1];
  if (argc > 2) g_dump_path = argv[2];
  using kel::routine::register_routine;
  register_routine({"gui-view", "face [object!]", &view_routine, int32_t(kel::T_NONE)});
  register_routine({"gui-do-events", "", &do_events_routine, int32_t(kel::T_NONE)});
  register_routine({"gui-post-quit-msg", "", &quit_routine, int32_t(kel::T_NONE)});
  register_routine({"gui-dump-grid", "", &dump_routine, int32_t(kel::T_NONE)});
  kel::boot::start(argc, argv, launch);
}
