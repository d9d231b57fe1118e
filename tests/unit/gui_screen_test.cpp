// The GUI's screen, widgets, painting and event loop: frame bytes from grids, faces painted
// into the grid, the loop's passes and timers, event makers, routing and dispatch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/terminal/backend.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/input.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/hooks.h"
#include "runtime/init.h"
#include "runtime/io/simple_io.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime/error.h"
#include "tests/probes/gui_builder.h"
#include "tests/unit/output_capture.h"
#include "tests/unit/gui_fixture.h"

namespace kel::test {
namespace {

using gui::ScreenCell;

// The routine handlers call to end loop levels, and one that frees a face's widget.
void post_quit_routine() {
  gui::post_quit_msg();
  cell::set_none(stack::state().base);
}
void free_face_widget_routine() {
  gui::free_widget(gui::face_handle_q(stack::state().base));
  cell::set_none(stack::state().base);
}
void register_test_routines() {
  static bool done = false;
  if (done) return;
  done = true;
  routine::register_routine({"gui-post-quit-msg", "", &post_quit_routine, int32_t(T_NONE)});
  routine::register_routine({"gui-free-widget", "face [object!]", &free_face_widget_routine, int32_t(T_NONE)});
}

// A fake clock that never moves, and a wait that counts and can end the loop.
int64_t still_clock() { return 1000; }
std::vector<int32_t> g_waits;
int32_t g_quit_after = 0;
void counting_wait(int32_t ms) {
  g_waits.push_back(ms);
  if (g_quit_after && int32_t(g_waits.size()) == g_quit_after) gui::post_quit_msg();
}

class GuiScreenTest : public GuiConsoleTest {
 protected:
  void SetUp() override {
    register_test_routines();
    start_console(80, 24);
    gui::screen().lines_used = 0;
    gui::set_loop_clock(still_clock);
    gui::set_loop_waiter(counting_wait);
    g_waits.clear();
    g_quit_after = 0;
    eval(testing::kFaceFixture);
    eval("log: copy [] answer: none "
         "system/view/awake: func [event /with face] ["
         "  append log event/type if object? event/face [append log event/face/text] answer]");
  }


  // A grid of the given size holding the cells, as the refresh would have it.
  void set_grid(int32_t w, int32_t h, std::vector<ScreenCell> cells) {
    cells.resize(size_t(w) * size_t(h));
    gui::screen().cells = cells;
    gui::screen().width = w;
    gui::screen().height = h;
  }
  std::string frame() {
    gui::screen().output.clear();
    gui::output_grid();
    return gui::screen().output;
  }

  // Widgets for a window face given as Kel text, activated, painted into a fresh grid.
  uint32_t show(const char* window_text) {
    Cell* face = eval(window_text);
    uint32_t id = testing::build_widgets(face, 0);
    gui::activate_window(id);
    return id;
  }
};

constexpr uint32_t B = gui::COLOUR_BASIC, P = gui::COLOUR_PALETTE, T = gui::COLOUR_TRUE;

// ---- Frames from grids ----

struct FrameCase {
  const char* what;
  bool full;
  int32_t w, h;
  std::vector<ScreenCell> cells;
  const char* bytes;
};

TEST_F(GuiScreenTest, FramesAreByteExact) {
  const FrameCase cases[] = {
      {"plain row", true, 3, 1, {{'a', 0, 0, 0}, {'b', 0, 0, 0}, {'c', 0, 0, 0}}, "\x1b[Habc"},
      {"bright basic colours", true, 1, 1, {{'x', B | 17, B | 16, 0}},
       "\x1b[H\x1b[96m\x1b[107mx\x1b[39m\x1b[49m"},
      {"palette, true colour, unknown kind", true, 3, 1,
       {{'a', 0, P | 196, 0}, {'b', T | 0xFF8000, P | 196, 0}, {'c', T | 0xFF8000, 0x03000001, 0}},
       "\x1b[H\x1b[38;5;196ma\x1b[48;2;255;128;0mb\x1b[0mc\x1b[39m\x1b[49m"},
      {"attributes on and off in their order", true, 3, 1,
       {{'a', 0, 0, 0}, {'b', 0, 0, gui::attr::INVERSE | gui::attr::BOLD | gui::attr::UNDERLINE}, {'c', 0, 0, 0}},
       "\x1b[Ha\x1b[7m\x1b[1m\x1b[4mb\x1b[27m\x1b[22m\x1b[24mc"},
      {"dim off keeps bold", true, 2, 1,
       {{'a', 0, 0, gui::attr::BOLD | gui::attr::DIM}, {'b', 0, 0, gui::attr::BOLD}},
       "\x1b[H\x1b[2m\x1b[1ma\x1b[22m\x1b[1mb\x1b[22m"},
      {"bold off keeps dim", true, 2, 1, {{'a', 0, 0, gui::attr::BOLD}, {'b', 0, 0, gui::attr::DIM}},
       "\x1b[H\x1b[1ma\x1b[2m\x1b[22m\x1b[2mb\x1b[22m"},
      {"italic and strike", true, 1, 1, {{'i', 0, 0, gui::attr::ITALIC | gui::attr::STRIKE}},
       "\x1b[H\x1b[3m\x1b[9mi\x1b[23m\x1b[29m"},
      {"empty cell, wide tail, password, wide password", true, 5, 1,
       {{0, 0, 0, 0}, {0, 0, 0, gui::attr::WIDE_TAIL}, {'x', 0, 0, gui::attr::PASSWORD},
        {0x4E2D, 0, 0, gui::attr::PASSWORD}, {0, 0, 0, gui::attr::WIDE_TAIL}},
       "\x1b[H ** "},
      {"controls never reach the terminal", true, 5, 1,
       {{27, 0, 0, 0}, {'\t', 0, 0, 0}, {'\r', 0, 0, 0}, {0x9B, 0, 0, 0}, {0x7F, 0, 0, 0}}, "\x1b[H     "},
      {"a wide character", true, 3, 1, {{0x4E2D, 0, 0, 0}, {0, 0, 0, gui::attr::WIDE_TAIL}, {'z', 0, 0, 0}},
       "\x1b[H\xe4\xb8\xadz"},
      {"inline rows: only the background resets", false, 2, 2,
       {{'a', B | 1, B | 2, gui::attr::BOLD}, {'b', B | 1, B | 2, gui::attr::BOLD}, {'c', B | 1, B | 2, gui::attr::BOLD}, {'d', 0, 0, 0}},
       "\r\x1b[0J\x1b[1m\x1b[32m\x1b[41mab\x1b[49m\r\n\x1b[41mc\x1b[22m\x1b[39m\x1b[49md"},
  };
  for (const FrameCase& c : cases) {
    gui::console().full_screen = c.full;
    gui::screen().lines_used = 0;
    set_grid(c.w, c.h, c.cells);
    EXPECT_EQ(frame(), c.bytes) << c.what;
  }
}

TEST_F(GuiScreenTest, InlineFramesMoveBackOverTheLastOne) {
  set_grid(2, 2, {{'a', 0, 0, 0}, {'b', 0, 0, 0}, {'c', 0, 0, 0}, {'d', 0, 0, 0}});
  EXPECT_EQ(frame(), "\r\x1b[0Jab\x1b[49m\r\ncd");
  EXPECT_EQ(gui::screen().lines_used, 1);
  EXPECT_EQ(frame().substr(0, 9), "\r\x1b[1A\x1b[0J");
  // Erasing always clears below, also for one row; lines used goes back to 0.
  gui::screen().something_shown = true;
  gui::screen().output.clear();
  written.clear();
  gui::erase_inline_display();
  EXPECT_EQ(written, "\r\x1b[1A\x1b[0J");
  written.clear();
  gui::erase_inline_display();
  EXPECT_EQ(written, "\r\x1b[0J");
  EXPECT_EQ(gui::screen().lines_used, 0);
}

TEST_F(GuiScreenTest, TextCursorEndsTheFrame) {
  uint32_t win = show("face [type: 'window size: 10x5 pane: reduce [face [type: 'field size: 5x1]]]");
  // The field: a text-cursor widget with the focus and a cursor position.
  uint32_t child = gui::hit_test(win, 0, 0);
  ASSERT_NE(child, 0u);
  gui::widget(child)->flags |= gui::wflag::TEXT_CURSOR;
  gui::set_focus(win, child, nullptr);
  set_grid(10, 5, {});
  gui::screen().cursor_column = 3;
  gui::screen().cursor_row = 2;
  std::string f = frame();
  EXPECT_EQ(f.substr(f.size() - 9), "\r\x1b[2A\x1b[3C") << f;
  EXPECT_EQ(gui::screen().lines_used, 2);
}

// ---- Sizing, display row, windows closing ----

TEST_F(GuiScreenTest, GridIsCutToTheTerminalAndTheDisplayFollowsScrolling) {
  gui::console().columns = 10;
  uint32_t win = show("face [type: 'window size: 15x2 text: \"abcdefghijklmno\"]");
  gui::widget(win)->on_paint = [](int32_t x, int32_t y, uint32_t id) { gui::common_paint(x, y, id, gui::STYLE_ESCAPES); };
  paint(win);
  EXPECT_EQ(gui::screen().width, 10);
  EXPECT_EQ(row(0), "abcdefghij");
  // Inline at row 22 of 24, five rows high: the display moves up to row 19.
  gui::console().columns = 80;
  gui::console().display_row = 22;
  gui::screen().height = 5;
  gui::refresh();
  EXPECT_EQ(gui::console().display_row, 19);
}

TEST_F(GuiScreenTest, GridGrowsOnlyWhenADimensionGrows) {
  uint32_t win = show("face [type: 'window size: 6x4]");
  paint(win);
  const ScreenCell* first = gui::screen().cells.data();
  gui::widget(win)->right = 3;
  gui::window_record(win)->right = 3;
  paint(win);
  EXPECT_EQ(gui::screen().width, 3);
  EXPECT_EQ(gui::screen().cells.data(), first);
  gui::window_record(win)->bottom = 8;
  paint(win);
  EXPECT_EQ(gui::screen().height, 8);
  EXPECT_EQ(gui::screen().cells.size(), 24u);
}

TEST_F(GuiScreenTest, ClosingTheLastWindowLeavesNothingActive) {
  uint32_t a = show("face [type: 'window size: 4x1]");
  uint32_t b = show("face [type: 'window size: 4x1]");
  EXPECT_EQ(gui::screen().active_window, b);
  gui::free_widget(b);
  EXPECT_EQ(gui::screen().active_window, a);
  gui::mark_redraw(a);
  gui::free_widget(a);
  EXPECT_EQ(gui::screen().active_window, 0u);
  EXPECT_FALSE(gui::screen().redraw_needed);
  EXPECT_EQ(gui::window_count(), 0);
}

TEST_F(GuiScreenTest, StaleIdsFindNoWidgetAndIndicesComeBackOldestFirst) {
  uint32_t a = gui::create_widget(0);
  uint32_t b = gui::create_widget(0);
  gui::free_widget(a);
  gui::free_widget(b);
  EXPECT_EQ(gui::widget(a), nullptr);
  uint32_t c = gui::create_widget(0);
  EXPECT_EQ(c & 0xFFFFF, a & 0xFFFFF);  // a's index first
  EXPECT_NE(c, a);
  EXPECT_EQ(gui::widget(a), nullptr);
  EXPECT_NE(gui::widget(c), nullptr);
  gui::free_widget(a);  // stale: nothing happens to c
  EXPECT_NE(gui::widget(c), nullptr);
  EXPECT_EQ(gui::widget(0), nullptr);
}

// ---- Painting faces ----

struct PaintCase {
  const char* what;
  const char* window;  // Kel text of the window face
  std::vector<const char*> rows;
};

TEST_F(GuiScreenTest, FacesPaintIntoTheGrid) {
  const PaintCase cases[] = {
      {"a child is cut at its parent's edge", "face [type: 'window size: 12x1 pane: reduce [face [type: 'panel size: 5x1 pane: reduce [face [offset: 3x0 size: 10x1 text: \"abcdefghij\"]]]]]",
       {"   ab       "}},
      {"a grandchild is cut by its own parent only", "face [type: 'window size: 12x3 pane: reduce [face [type: 'panel size: 4x3 pane: reduce [face [type: 'panel size: 10x3 pane: reduce [face [offset: 6x1 size: 3x1 text: \"xyz\"]]]]]]]",
       {"            ", "      xyz   ", "            "}},
      {"a wide character that does not fit", "face [type: 'window size: 3x1 pane: reduce [face [size: 3x1 text: \"ab中\"]]]", {"ab "}},
      {"lines and the right edge", "face [type: 'window size: 3x2 pane: reduce [face [size: 3x2 text: \"abcdef^/xy\"]]]", {"abc", "xy "}},
      {"wrapping", "face [type: 'window size: 3x2 pane: reduce [face [size: 3x2 text: \"abcdef^/xy\" para: object [origin: none padding: none scroll: none align: none v-align: none wrap?: true]]]]", {"abc", "def"}},
      {"centred", "face [type: 'window size: 6x1 pane: reduce [face [size: 6x1 text: \"ab\" para: object [origin: none padding: none scroll: none align: 'center v-align: none wrap?: false]]]]", {"  ab  "}},
      {"middle", "face [type: 'window size: 4x3 pane: reduce [face [size: 4x3 text: \"ab\" para: object [origin: none padding: none scroll: none align: none v-align: 'middle wrap?: false]]]]", {"    ", "ab  ", "    "}},
      {"right and bottom", "face [type: 'window size: 4x2 pane: reduce [face [size: 4x2 text: \"ab\" para: object [origin: none padding: none scroll: none align: 'right v-align: 'bottom wrap?: false]]]]", {"    ", "  ab"}},
      {"later siblings paint over earlier ones", "face [type: 'window size: 4x1 pane: reduce [face [size: 4x1 text: \"aaaa\"] face [offset: 1x0 size: 2x1 text: \"b\"]]]", {"ab a"}},
      {"a hidden face and its pane are skipped", "face [type: 'window size: 3x1 pane: reduce [face [size: 3x1 visible?: false text: \"abc\" pane: reduce [face [size: 1x1 text: \"z\"]]]]]", {"   "}},
      {"a wide character cut by a later sibling", "face [type: 'window size: 4x1 pane: reduce [face [size: 4x1 text: \"中中\"] face [offset: 1x0 size: 1x1 text: \"q\"]]]", {" q中"}},
      {"escape sequences are not shown", "face [type: 'window size: 8x1 pane: reduce [face [size: 8x1 text: \"^[[31mabc^[[0m^[[5Cd\"]]]", {"abcd    "}},
  };
  for (const PaintCase& c : cases) {
    uint32_t win = show(c.window);
    paint(win);
    for (size_t y = 0; y < c.rows.size(); ++y) EXPECT_EQ(row(int32_t(y)), c.rows[y]) << c.what << " row " << y;
    gui::free_widget_tree(win);
  }
}

struct CellCase {
  const char* what;
  const char* text;  // the face's text (Kel)
  int32_t x;
  uint32_t ch, fg, bg, attrs;
};

TEST_F(GuiScreenTest, StylesAndEscapesReachTheCells) {
  const CellCase cases[] = {
      {"basic foreground", "\"^[[31mabc^[[0m\"", 2, 'c', B | 1, 0, 0},
      {"background codes are read, never applied", "\"^[[41mX\"", 0, 'X', 0, 0, 0},
      {"palette foreground", "\"^[[38;5;200mZ\"", 0, 'Z', P | 200, 0, 0},
      {"attribute group", "\"^[[1;4mB\"", 0, 'B', 0, 0, 0x12},
      {"cleared attribute", "\"^[[1;2;3;23mC\"", 0, 'C', 0, 0, 0x6},
      {"default and bright", "\"^[[95m^[[39mD\"", 0, 'D', B | 9, 0, 0},
      {"reset after colour", "\"^[[92;7ma^[[0mb\"", 1, 'b', 0, 0, 0},
      {"a lone escape is a character", "\"^[x\"", 0, 27, 0, 0, 0},
  };
  for (const CellCase& c : cases) {
    std::string text = std::string("face [type: 'window size: 6x1 pane: reduce [face [size: 6x1 text: ") + c.text + "]]]";
    uint32_t win = show(text.c_str());
    paint(win);
    const ScreenCell& cell = at(c.x, 0);
    EXPECT_EQ(cell.ch, c.ch) << c.what;
    EXPECT_EQ(cell.fg, c.fg) << c.what;
    EXPECT_EQ(cell.bg, c.bg) << c.what;
    EXPECT_EQ(cell.attrs, c.attrs) << c.what;
    gui::free_widget_tree(win);
  }
}

TEST_F(GuiScreenTest, FaceColoursAndTheHint) {
  struct Case {
    const char* what;
    const char* face;
    uint32_t ch, fg, bg, attrs;
  } cases[] = {
      {"colour and font colour", "face [size: 3x1 text: \"a\" color: 255.0.0 font: object [name: none size: none style: none weight: none angle: none color: 0.0.255]]",
       'a', 0x02000015, 0x020000C4, 0},
      {"a font without a colour is black", "face [size: 3x1 text: \"a\" font: object [name: none size: none style: none weight: none angle: none color: none]]",
       'a', 0x02000010, 0, 0},
      {"without a font the terminal's colours", "face [size: 3x1 text: \"a\"]", 'a', 0, 0, 0},
      {"the hint, dim", "face [size: 10x1 text: \"\" options: [hint \"type here\"]]", 't', 0, 0, gui::attr::DIM},
      {"no hint in options", "face [size: 3x1 text: \"\" options: [other \"x\"]]", ' ', 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string text = std::string("face [type: 'window size: 10x1 pane: reduce [") + c.face + "]]";
    uint32_t win = show(text.c_str());
    paint(win);
    const ScreenCell& cell = at(0, 0);
    EXPECT_EQ(cell.ch, c.ch) << c.what;
    EXPECT_EQ(cell.fg, c.fg) << c.what;
    EXPECT_EQ(cell.bg, c.bg) << c.what;
    EXPECT_EQ(cell.attrs, c.attrs) << c.what;
    gui::free_widget_tree(win);
  }
  uint32_t win = show("face [type: 'window size: 10x1 pane: reduce [face [size: 10x1 text: \"\" options: [hint \"type here\"]]]]");
  paint(win);
  EXPECT_EQ(row(0), "type here ");
}

TEST_F(GuiScreenTest, HitTestTakesTheLastVisibleChildHalfOpen) {
  uint32_t win = show("face [type: 'window size: 10x3 pane: reduce ["
                      "face [text: \"a\" offset: 0x0 size: 4x2] face [text: \"b\" offset: 2x0 size: 4x2] "
                      "face [text: \"c\" offset: 3x0 size: 2x2 visible?: false]]]");
  auto text_of = [&](uint32_t id) -> std::string {
    if (!id) return "-";
    Cell f = gui::widget(id)->face;
    return simple_io::utf8_text(gui::face_slot(&f, gui::face_field::TEXT));
  };
  EXPECT_EQ(text_of(gui::hit_test(win, 0, 0)), "a");
  EXPECT_EQ(text_of(gui::hit_test(win, 3, 1)), "b");  // b is later; c hidden
  EXPECT_EQ(text_of(gui::hit_test(win, 5.5f, 0)), "b");
  EXPECT_EQ(text_of(gui::hit_test(win, 6, 0)), "-");  // right edge is outside
  EXPECT_EQ(text_of(gui::hit_test(win, 1, 2)), "-");
}

// ---- Dispatch, makers, routing ----

TEST_F(GuiScreenTest, DispatchResults) {
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  struct Case {
    const char* handler;
    int32_t result;
  } cases[] = {
      {"answer: 'done", 1},
      {"answer: 'stop", 0},
      {"answer: none", 0},
      {"system/view/awake: func [event /with face] [1 / 0]", 0},
      {"system/view/awake: func [event /with face] [throw 'x]", 0},
      {"system/view/awake: func [event /with face] [gui-free-widget event/face 'done]", 1},
      {"system/view/awake: func [event /with face] [gui-free-widget event/face none]", 2},
      {"system/view/awake: 42", 0},
  };
  for (const Case& c : cases) {
    eval(c.handler);
    uint32_t target = gui::widget(win) ? win : show("face [type: 'window size: 4x1 text: \"w\"]");
    win = target;
    Cell* top = stack::state().top;
    EXPECT_EQ(gui::make_event(gui::evt::TIME, target, 0), c.result) << c.handler;
    EXPECT_EQ(stack::state().top, top) << c.handler;
    EXPECT_EQ(stack::state().pending_code, 0u) << c.handler;
  }
}

int32_t g_callback_keys = 0;
int32_t count_keys(uint32_t, int32_t code, void*) {
  if (code == gui::evt::KEY) ++g_callback_keys;
  return 0;
}

TEST_F(GuiScreenTest, KeyEventsReachHandlersThenTheWidget) {
  struct Case {
    const char* handler;
    int32_t result;
    const char* log;
    int32_t callbacks;
  } cases[] = {
      {"system/view/awake: func [event /with face] [append log event/type if event/type = 'key-down ['done]]", 1, "[key-down]", 0},
      {"system/view/awake: func [event /with face] [append log event/type gui-free-widget event/face none]", 2, "[key-down]", 0},
      {"system/view/awake: func [event /with face] [append log event/type none]", 0, "[key-down key]", 1},
  };
  for (const Case& c : cases) {
    uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
    gui::widget(win)->on_event = count_keys;
    g_callback_keys = 0;
    eval("clear log");
    eval(c.handler);
    EXPECT_EQ(gui::make_key_event(0, 'a', 0), c.result) << c.handler;
    EXPECT_EQ(mold_of("log"), c.log) << c.handler;
    EXPECT_EQ(g_callback_keys, c.callbacks) << c.handler;
    gui::free_widget_tree(win);
  }
  // Back-tab is a tab with shift; a special key carries its flag; no focus, no event.
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  eval("clear log system/view/awake: func [event /with face] [append log reduce [event/type event/key event/flags] 'done]");
  gui::make_key_event(0, 0, 10);
  gui::make_key_event(0, 0, -20);
  EXPECT_EQ(mold_of("log"), "[key-down #\"^-\" [shift] key-down up []]");
  gui::free_widget(win);
  eval("clear log");
  EXPECT_EQ(gui::make_key_event(0, 'a', 0), 0);
  EXPECT_EQ(mold_of("log"), "[]");
}

TEST_F(GuiScreenTest, ClicksAndDoubleClicks) {
  uint32_t win = show("face [type: 'window size: 10x3 text: \"w\" pane: reduce [face [text: \"b\" offset: 2x1 size: 4x1]]]");
  eval("system/view/awake: func [event /with face] [if find [click dbl-click] event/type [append log reduce [event/type event/face/text]] none]");
  auto click = [&] {
    gui::route_over(gui::evt::OVER, win, 3, 1, 0, true);
    gui::mouse_button(gui::evt::DOWN, win, 3, 1, 0);
    gui::mouse_button(gui::evt::UP, win, 3, 1, 0);
  };
  click();
  EXPECT_EQ(mold_of("log"), "[click \"b\" click \"w\"]");
  // Nine passes later: a double click.
  eval("clear log");
  g_quit_after = 9;
  gui::do_events(false);
  EXPECT_EQ(gui::loop_state().click_timer, 9 * 33);
  click();
  EXPECT_EQ(mold_of("log"), "[click \"b\" dbl-click \"b\" click \"w\" dbl-click \"w\"]");
  // At once again: a click only.
  eval("clear log");
  click();
  EXPECT_EQ(mold_of("log"), "[click \"b\" click \"w\"]");
}

TEST_F(GuiScreenTest, WheelBubblesAndDragsReachTheCapturedWidget) {
  uint32_t win = show("face [type: 'window size: 10x3 text: \"w\" pane: reduce ["
                      "face [text: \"p\" size: 8x3 pane: reduce [face [text: \"b\" offset: 1x1 size: 4x1]]]]]");
  eval("system/view/awake: func [event /with face] [append log reduce [event/type event/face/text] none]");
  gui::route_wheel(1, win, 2, 1, 0);
  EXPECT_EQ(mold_of("log"), "[wheel \"b\" wheel \"p\" wheel \"w\"]");
  eval("clear log system/view/awake: func [event /with face] [append log reduce [event/type event/face/text] if event/face/text = \"b\" ['done]]");
  gui::route_wheel(1, win, 2, 1, 0);
  EXPECT_EQ(mold_of("log"), "[wheel \"b\"]");
  gui::free_widget_tree(win);

  // Through the decoder: a press, a drag and a release on an all-over button.
  win = show("face [type: 'window size: 10x3 pane: reduce [face [text: \"b\" offset: 2x0 size: 4x1 flags: 'all-over]]]");
  eval("clear log system/view/awake: func [event /with face] ["
       " if event/face/text = \"b\" [append log event/type if event/type = 'over [append log event/down?]] none]");
  for (const char* report : {"\x1b[<0;4;1M", "\x1b[<32;5;1M", "\x1b[<0;5;1m"})
    for (const char* p = report; *p; ++p) gui::queue_byte(uint8_t(*p));
  gui::decode_input();
  EXPECT_EQ(mold_of("log"), "[down over true up click]");
}

// ---- The loop ----

int32_t g_fired_passes[8];
int32_t g_fired = 0;
int32_t note_time(uint32_t, int32_t code, void*) {
  if (code == gui::evt::TIME && g_fired < 8) g_fired_passes[g_fired++] = gui::loop_state().passes;
  return 0;
}

TEST_F(GuiScreenTest, TimersFireOnTheirPasses) {
  uint32_t win = show("face [type: 'window size: 4x1]");
  gui::widget(win)->on_event = note_time;
  gui::add_timer(win, 100);
  g_fired = 0;
  g_quit_after = 12;
  gui::do_events(false);
  ASSERT_EQ(g_fired, 3);
  EXPECT_EQ(g_fired_passes[0], 4);
  EXPECT_EQ(g_fired_passes[1], 8);
  EXPECT_EQ(g_fired_passes[2], 12);
  for (int32_t ms : g_waits) EXPECT_EQ(ms, 33);
  // Removing frees; a freed widget's timers go with it.
  gui::add_timer(win, 50);
  gui::remove_timer(win);
  EXPECT_EQ(gui::timer_count(), 1);
  gui::free_widget(win);
  EXPECT_EQ(gui::timer_count(), 0);
}

int32_t start_nested(uint32_t id, int32_t code, void*) {
  if (code == gui::evt::TIME) {
    gui::remove_timer(id);  // removed while the list is walked
    gui::do_events(false);
  }
  return 0;
}

TEST_F(GuiScreenTest, QuitTwiceFromAHandlerEndsBothLevels) {
  uint32_t outer = show("face [type: 'window size: 4x1 text: \"outer\"]");
  uint32_t inner = show("face [type: 'window size: 4x1 text: \"inner\"]");
  gui::widget(outer)->on_event = start_nested;
  gui::add_timer(outer, 30);
  gui::add_timer(inner, 60);
  eval("system/view/awake: func [event /with face] [if event/face/text = \"inner\" [gui-post-quit-msg gui-post-quit-msg] none]");
  gui::do_events(false);
  EXPECT_EQ(gui::loop_state().depth, 0);
  EXPECT_EQ(gui::timer_count(), 1);
}

TEST_F(GuiScreenTest, ErrorsInHandlersLeaveTheLoopRunning) {
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  gui::add_timer(win, 33);
  eval("n: 0 system/view/awake: func [event /with face] [n: n + 1 if n = 3 [gui-post-quit-msg] 1 / 0]");
  gui::do_events(false);
  EXPECT_EQ(mold_of("n"), "3");
  EXPECT_EQ(gui::loop_state().depth, 0);
}

int32_t raise_on_time(uint32_t, int32_t code, void*) {
  if (code == gui::evt::TIME) {
    Cell v{T_INTEGER, 0, 7, 0};
    error::raise(err::script::invalid_arg, &v);
  }
  return 0;
}

TEST_F(GuiScreenTest, AnErrorEscapingAPassEndsTheLevelAndIsTold) {
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  gui::widget(win)->on_event = raise_on_time;
  gui::add_timer(win, 66);
  g_quit_after = 20;
  testing::OutputCapture out;
  gui::do_events(false);
  EXPECT_EQ(g_waits.size(), 2u);  // ended on the second pass
  EXPECT_EQ(gui::loop_state().depth, 0);
  EXPECT_EQ(out.take().substr(0, 30), "*** Script Error: invalid argu");
  EXPECT_EQ(stack::state().pending_code, 0u);
}

TEST_F(GuiScreenTest, PrintHooksTakeTheDisplayOffAndBack) {
  struct Case {
    bool set_up, full, shown;
    int32_t lines;
    const char* before;
    const char* after;
  } cases[] = {
      {false, false, true, 2, "", ""},
      {true, false, true, 2, "\r\x1b[2A\x1b[0J", "\x1b[6n"},
      {true, false, false, 2, "", "\x1b[6n"},
      {true, true, true, 0, "\x1b[?1049l", "\x1b[?1049h\x1b[2J"},
  };
  for (const Case& c : cases) {
    gui::console().set_up = c.set_up;
    gui::console().full_screen = c.full;
    gui::screen().screen_entered = true;
    gui::screen().something_shown = c.shown;
    gui::screen().lines_used = c.lines;
    gui::screen().redraw_needed = false;
    written.clear();
    tui::suspend_for_print();
    EXPECT_EQ(written, c.before);
    written.clear();
    tui::resume_after_print();
    EXPECT_EQ(written, c.after);
    EXPECT_EQ(gui::screen().redraw_needed, c.set_up);
  }
  gui::screen().screen_entered = false;
  gui::console().set_up = false;
}

int32_t g_resized[2];
int32_t note_resize(uint32_t, int32_t code, void* argument) {
  if (code == gui::EVENT_RESIZE) std::memcpy(g_resized, argument, sizeof g_resized);
  return 0;
}

TEST_F(GuiScreenTest, ResizeReachesEachWindowOnceAndTheFace) {
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  gui::widget(win)->on_event = note_resize;
  g_resized[0] = g_resized[1] = 0;
  eval("system/view/awake: func [event /with face] [append log reduce [event/type event/offset] none]");
  gui::on_terminal_resize(90, 30);
  EXPECT_EQ(g_resized[0], 90);
  EXPECT_EQ(g_resized[1], 30);
  EXPECT_EQ(mold_of("log"), "[resize 90x30]");
}

TEST_F(GuiScreenTest, AnIdleLoopWritesNothingAndWaitsEachFrame) {
  uint32_t win = show("face [type: 'window size: 4x1 text: \"w\"]");
  (void)win;
  g_quit_after = 5;
  written.clear();
  gui::do_events(false);
  EXPECT_EQ(written, "");
  EXPECT_EQ(g_waits, (std::vector<int32_t>{33, 33, 33, 33, 33}));
  // One pass without input returns at once; without a set-up console the pass is nothing.
  g_waits.clear();
  EXPECT_FALSE(gui::do_events(true));
  EXPECT_TRUE(g_waits.empty());
}

TEST_F(GuiScreenTest, FacesHeldByWidgetsSurviveCollections) {
  uint32_t win = show("face [type: 'window size: 6x1 pane: reduce [face [size: 6x1 text: append copy \"ab\" \"cd\"]]]");
  eval("recycle");
  gc::collect();
  paint(win);
  EXPECT_EQ(row(0), "abcd  ");
}

}  // namespace
}  // namespace kel::test
