// Widget kinds and the face tree through system/view/platform: field editing, checks,
// radios, text lists, group boxes, image cells, rich-text styles, timers, hiding, freeing
// and focus, read back from widgets, cells and the events the faces received.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/face_fields.h"
#include "gui/terminal/backend.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/face_tree.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widget_kinds.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/init.h"
#include "runtime/stack.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "tests/unit/gui_fixture.h"

namespace kel::test {
namespace {

using gui::ScreenCell;

int64_t still_clock() { return 1000; }
void no_wait(int32_t) {}

class GuiWidgetsTest : public GuiConsoleTest {
 protected:
  void SetUp() override {
    start_console(40, 12);
    gui::set_loop_clock(still_clock);
    gui::set_loop_waiter(no_wait);
    gui::set_colour_level(4);
    eval("p: system/view/platform "
         "face: func [spec] [make object! append copy [type: 'face offset: none size: none "
         "text: none image: none color: none menu: none data: none enabled?: true "
         "visible?: true selected: none flags: none options: none parent: none pane: none "
         "state: none rate: none edge: none para: none font: none actors: none extra: none "
         "draw: none] spec] "
         "realise: func [f parent] [f/state: reduce [p/make-view f parent 0 none false] "
         "  if block? f/pane [foreach kid f/pane [kid/parent: f realise kid f/state/1]] f] "
         "show-it: func [f] [realise f null-handle p/show-window f/state/1 f] "
         "log: copy [] "
         "system/view/awake: func [event /with face] [append log event/type none]");
  }

  // The widget of a face named by a Kel expression.
  uint32_t id_of(const char* face) {
    Cell* top = stack::state().top;
    uint32_t id = gui::face_handle_q(eval(face));
    stack::state().top = top;
    return id;
  }
  void key(uint32_t id, int32_t character, int32_t special = 0) {
    gui::make_key_event(id, character, special);
  }
};

constexpr int32_t LEFT = -23, RIGHT = -22, UP = -20, DOWN = -21;

// ---- Fields ----

TEST_F(GuiWidgetsTest, AFieldNeverGrowsPastItsWidth) {
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce [f: face [type: 'field size: 10x1 text: copy \"0123456789\"]]]");
  uint32_t f = id_of("f");
  ASSERT_TRUE(f);
  key(f, 'x');
  EXPECT_EQ(mold_of("f/text"), "\"0123456789\"");
  key(f, 8);
  EXPECT_EQ(mold_of("f/text"), "\"012345678\"");
  key(f, 'x');
  EXPECT_EQ(mold_of("f/text"), "\"012345678x\"");
  key(f, 127);
  key(f, 0x4E2D);  // a wide character needs two free cells
  EXPECT_EQ(mold_of("f/text"), "\"012345678\"");
}

TEST_F(GuiWidgetsTest, CaretMovesByCharactersAndCells) {
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce [f: face [type: 'field size: 10x1 text: copy \"漢a\"]]]");
  uint32_t f = id_of("f");
  const gui::FieldData* d = gui::field_data(f);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->caret_index, 2);
  EXPECT_EQ(d->caret_column, 3);
  struct Step {
    int32_t special, character;
    int32_t index, column;
  } steps[] = {{LEFT, 0, 1, 2}, {LEFT, 0, 0, 0}, {RIGHT, 0, 1, 2}, {0, 2, 0, 0}, {0, 2, 0, 0},
               {0, 6, 1, 2}, {0, 6, 2, 3}, {0, 6, 2, 3}};
  for (const Step& s : steps) {
    key(f, s.character, s.special);
    d = gui::field_data(f);
    EXPECT_EQ(d->caret_index, s.index);
    EXPECT_EQ(d->caret_column, s.column);
  }
  // Typing at the caret inserts there; the text width follows.
  key(f, 0, LEFT);
  key(f, 'b');
  EXPECT_EQ(mold_of("f/text"), "\"漢ba\"");
  EXPECT_EQ(gui::field_data(f)->text_width, 4);
}

TEST_F(GuiWidgetsTest, EditsReachTheTextsOwner) {
  eval("notes: copy [] o: make object! [t: none on-deep-change*: func [owner word target action new index part] [append notes action]] "
       "w: show-it face [type: 'window size: 20x3 pane: reduce [f: face [type: 'field size: 10x1]]]");
  uint32_t f = id_of("f");
  key(f, 'a');  // a field without text gets an empty string first
  EXPECT_EQ(mold_of("f/text"), "\"a\"");
  eval("modify f/text 'owned reduce [o 't]");
  key(f, 'b');
  key(f, 8);
  EXPECT_EQ(mold_of("notes"), "[insert inserted remove removed]");
}

TEST_F(GuiWidgetsTest, PasswordFieldsShowStars) {
  eval("w: show-it face [type: 'window size: 8x2 pane: reduce [f: face [type: 'field size: 6x1 text: \"abc\" flags: [password]]]]");
  uint32_t win = id_of("w");
  paint(win);
  EXPECT_EQ(gui::grid_text().substr(0, 8), "abc     ");
  for (int32_t x = 0; x < 3; ++x) EXPECT_TRUE(at(x, 0).attrs & gui::attr::PASSWORD) << x;
  EXPECT_FALSE(at(3, 0).attrs & gui::attr::PASSWORD);
  gui::screen().output.clear();
  gui::output_grid();
  EXPECT_NE(gui::screen().output.find("***"), std::string::npos);
}

// ---- Checks, radios, buttons ----

TEST_F(GuiWidgetsTest, ChecksAndRadiosToggleAndTellTheirFaces) {
  struct Case {
    const char* data;
    const char* after;
  } cases[] = {{"5", "false"}, {"none", "true"}, {"true", "false"}, {"false", "true"}, {"\"x\"", "false"}};
  for (const Case& c : cases) {
    std::string spec = std::string("w: show-it face [type: 'window size: 20x3 pane: reduce [k: face [type: 'check size: 6x1 text: \"go\" data: ") + c.data + "]]] clear log";
    eval(spec.c_str());
    uint32_t k = id_of("k");
    gui::make_mouse_event(gui::evt::CLICK, k, 0, 0, 0);
    EXPECT_EQ(mold_of("k/data"), c.after) << c.data;
    // The widget handles the click before the face hears of it.
    EXPECT_EQ(mold_of("log"), "[change click]") << c.data;
    eval("p/destroy-view w false");
  }
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce ["
       "r1: face [type: 'radio size: 6x1 data: true] r2: face [type: 'radio offset: 0x1 size: 6x1] "
       "c: face [type: 'check offset: 0x2 size: 6x1 data: true]]] clear log");
  key(id_of("r2"), ' ');
  EXPECT_EQ(mold_of("reduce [r1/data r2/data c/data]"), "[false true true]");
  EXPECT_EQ(mold_of("log"), "[key-down key change]");
  // The face model updates the sibling whose data changed.
  eval("r1/state/2: 128 p/update-view r1");
  uint32_t win = id_of("w");
  paint(win);
  EXPECT_EQ(row(0).substr(0, 4), "○ ");
  EXPECT_EQ(row(1).substr(0, 4), "◉ ");
}

TEST_F(GuiWidgetsTest, SpaceOnAButtonClicksIt) {
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce [b: face [type: 'button size: 6x1 text: \"ok\"]]] clear log");
  key(id_of("b"), ' ');
  EXPECT_EQ(mold_of("log"), "[key-down key click]");
  eval("clear log");
  key(id_of("b"), 'x');
  EXPECT_EQ(mold_of("log"), "[key-down key]");
}

// ---- Text lists ----

TEST_F(GuiWidgetsTest, TextListNavigationSendsSelectThenChange) {
  eval("w: show-it face [type: 'window size: 20x5 pane: reduce [l: face [type: 'text-list size: 8x3 "
       "data: [\"a\" \"b\" \"c\" \"d\" \"e\"] selected: 1 flags: [focusable]]]] clear log");
  uint32_t l = id_of("l");
  EXPECT_EQ(gui::screen().focused, l);
  key(l, 0, UP);
  EXPECT_EQ(mold_of("reduce [l/selected log]"), "[1 [key-down key]]");
  eval("clear log");
  for (int i = 0; i < 3; ++i) key(l, 0, DOWN);
  EXPECT_EQ(mold_of("l/selected"), "4");
  EXPECT_EQ(mold_of("log"),
            "[key-down key select change key-down key select change key-down key select change]");
  EXPECT_EQ(gui::widget_data_word(l), 1);  // scrolled so that row 4 shows
  eval("l/selected: 9");
  gui::run_on_update(l);
  EXPECT_EQ(mold_of("l/selected"), "5");
  EXPECT_EQ(mold_of("l/text"), "{b^/c^/d^/^[[7me^/^[[27m}");
  for (int i = 0; i < 5; ++i) key(l, 0, UP);
  EXPECT_EQ(mold_of("l/selected"), "1");
  EXPECT_EQ(gui::widget_data_word(l), 0);
  uint32_t win = id_of("w");
  paint(win);
  EXPECT_EQ(row(0).substr(0, 8), "a       ");
  EXPECT_EQ(at(0, 0).attrs & gui::attr::INVERSE, gui::attr::INVERSE);
  EXPECT_EQ(at(0, 1).attrs & gui::attr::INVERSE, 0u);
  // A click selects the row under the pointer.
  eval("clear log");
  gui::make_mouse_event(gui::evt::CLICK, l, 1, 2, 0);
  EXPECT_EQ(mold_of("reduce [l/selected log]"), "[3 [select change click]]");
}

TEST_F(GuiWidgetsTest, ASelectHandlerThatSetsSelectedKeepsItsValue) {
  eval("system/view/awake: func [event /with face] [append log event/type if event/type = 'select [event/face/selected: 5 'done]] "
       "w: show-it face [type: 'window size: 20x5 pane: reduce [l: face [type: 'text-list size: 8x3 "
       "data: [\"a\" \"b\" \"c\" \"d\" \"e\"] selected: 1 flags: [focusable]]]] clear log");
  key(id_of("l"), 0, DOWN);
  EXPECT_EQ(mold_of("reduce [l/selected log]"), "[5 [key-down key select]]");
}

// ---- Group boxes, images, rich text ----

TEST_F(GuiWidgetsTest, GroupBoxFrames) {
  struct Case {
    const char* options;
    const char* top;
    uint32_t fg;
  } cases[] = {
      {"[border-corners: round border-color: 255.0.0]", "╭ab──╮", gui::COLOUR_PALETTE | 196},
      {"none", "┌ab──┐", 0},
      {"[border-color: red]", "┌ab──┐", 0},
  };
  for (const Case& c : cases) {
    std::string spec = std::string("w: show-it face [type: 'window size: 8x4 pane: reduce [g: face [type: 'group-box size: 6x3 text: \"ab\" options: ") + c.options + "]]]";
    eval(spec.c_str());
    paint(id_of("w"));
    EXPECT_EQ(row(0).substr(0, std::strlen(c.top)), c.top) << c.options;
    EXPECT_EQ(row(1).substr(0, std::strlen("│    │")), "│    │") << c.options;
    EXPECT_EQ(at(0, 0).fg, c.fg) << c.options;
    EXPECT_EQ(at(5, 2).fg, c.fg) << c.options;
    EXPECT_EQ(at(1, 0).ch, uint32_t('a')) << c.options;
    eval("p/destroy-view w false");
  }
}

TEST_F(GuiWidgetsTest, ImagesBecomeHalfBlockCells) {
  struct Case {
    int32_t level;
    uint32_t bg, fg;
  } cases[] = {{2, gui::COLOUR_PALETTE | 196, gui::COLOUR_PALETTE | 21}, {4, 0x04FF0000, 0x040000FF}};
  for (const Case& c : cases) {
    gui::set_colour_level(c.level);
    eval("w: show-it face [type: 'window size: 4x2 pane: reduce [b: face [type: 'base size: 1x1 image: make image! [1x2 #{FF00000000FF}]]]]");
    const gui::Widget* b = gui::widget(id_of("b"));
    ASSERT_TRUE(b && b->image_cells);
    ASSERT_EQ(b->image_cells->size(), 1u);
    const ScreenCell& cell = (*b->image_cells)[0];
    EXPECT_EQ(cell.ch, 0x2584u);
    EXPECT_EQ(cell.bg, c.bg) << c.level;
    EXPECT_EQ(cell.fg, c.fg) << c.level;
    eval("p/destroy-view w false");
  }
  // A transparent upper pixel leaves the cell blank; a new image is converted on update.
  eval("w: show-it face [type: 'window size: 4x2 pane: reduce [b: face [type: 'base size: 2x1 image: make image! [2x2 #{FF0000}]]]] "
       "b/image/1: 0.0.0.255 b/state/2: 16 p/update-view b");
  const gui::Widget* b = gui::widget(id_of("b"));
  ASSERT_TRUE(b && b->image_cells);
  EXPECT_EQ((*b->image_cells)[0].ch, uint32_t(' '));
  EXPECT_EQ((*b->image_cells)[1].ch, 0x2584u);
  eval("b/image: none b/state/2: 16 p/update-view b");
  EXPECT_FALSE(gui::widget(id_of("b"))->image_cells);
}

TEST_F(GuiWidgetsTest, RichTextStylesStayInsideTheText) {
  struct Case {
    const char* styles;
    std::vector<uint32_t> attrs;  // of the five characters
  } cases[] = {
      {"[bold 1x5 bold]", {2, 2, 2, 2, 2}},
      {"[1x2 bold]", {2, 2, 0, 0, 0}},
      {"[0x5 italic]", {0x100, 0x100, 0x100, 0x100, 0}},
      {"[-3x5 underline]", {0x10, 0, 0, 0, 0}},
      {"[1x100 italic]", {0x100, 0x100, 0x100, 0x100, 0x100}},
      {"[4x0 bold 4x-2 bold 9x2 bold]", {0, 0, 0, 0, 0}},
      {"[2x1 strike 255.0.0 'x underline bold]", {0, 0x52, 0, 0, 0}},
      {"[1x1 \"Mono\" 12 3.5 border]", {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::string spec = std::string("w: show-it face [type: 'window size: 8x2 pane: reduce [t: face [type: 'rich-text size: 8x1 text: \"abcde\" data: ") + c.styles + "]]]";
    eval(spec.c_str());
    const gui::PreparedCells* cells = gui::rich_text_cells(id_of("t"));
    ASSERT_TRUE(cells) << c.styles;
    ASSERT_EQ(cells->size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ((*cells)[i].attrs, c.attrs[i]) << c.styles << " at " << i;
    eval("p/destroy-view w false");
  }
  eval("w: show-it face [type: 'window size: 8x2 pane: reduce [t: face [type: 'rich-text size: 8x1 text: \"abc\" color: 0.0.255 data: [1x3 255.0.0 2x1 backdrop 0.255.0]]]]");
  const gui::PreparedCells* cells = gui::rich_text_cells(id_of("t"));
  ASSERT_TRUE(cells);
  EXPECT_EQ((*cells)[0].fg, gui::COLOUR_PALETTE | 196);
  EXPECT_EQ((*cells)[0].bg, gui::COLOUR_PALETTE | 21);
  EXPECT_EQ((*cells)[1].bg, gui::COLOUR_PALETTE | 46);
  paint(id_of("w"));
  EXPECT_EQ(row(0).substr(0, 3), "abc");
  EXPECT_EQ(at(1, 0).bg, gui::COLOUR_PALETTE | 46);
  Cell* top = stack::state().top;
  Cell* block = stack::reserve_cell();
  cell::set_none(block);
  Cell* result = stack::reserve_cell();
  const char* bad = "p/make-view face [type: 'rich-text size: 4x1 text: \"ab\" data: [1x1 blink]] null-handle";
  launcher::load_text(reinterpret_cast<const uint8_t*>(bad), int32_t(std::strlen(bad)), block);
  bool is_error = false;
  launcher::run_protected(block, result, &is_error);
  EXPECT_TRUE(is_error);
  stack::state().top = top;
}

// ---- Timers ----

TEST_F(GuiWidgetsTest, RateGivesTheTimerInterval) {
  struct Case {
    const char* rate;
    int32_t ms;
  } cases[] = {{"3", 333}, {"0:00:02", 2000}, {"1000", 1}, {"none", -1}, {"0:00:00.0001", 1}};
  for (const Case& c : cases) {
    Cell* top = stack::state().top;
    EXPECT_EQ(gui::rate_interval(eval(c.rate)), c.ms) << c.rate;
    stack::state().top = top;
  }
  int32_t before = gui::timer_count();
  eval("w: show-it face [type: 'window size: 4x2 pane: reduce [b: face [type: 'base size: 1x1 rate: 3]]]");
  EXPECT_EQ(gui::timer_count(), before + 1);
  eval("b/rate: 10 b/state/2: 65536 p/update-view b");
  EXPECT_EQ(gui::timer_count(), before + 1);
  // The rate went none without an update: freeing the face still drops its timer.
  eval("b/rate: none p/destroy-view w false");
  EXPECT_EQ(gui::timer_count(), before);
}

// ---- Windows, freeing, focus ----

TEST_F(GuiWidgetsTest, HidingTheActiveWindowActivatesTheTopmostVisibleOne) {
  eval("w1: show-it face [type: 'window size: 4x2] w2: show-it face [type: 'window size: 4x2] "
       "w3: show-it face [type: 'window size: 4x2]");
  EXPECT_EQ(gui::screen().active_window, id_of("w3"));
  eval("w2/visible?: false w2/state/2: 512 p/update-view w2");
  EXPECT_EQ(gui::screen().active_window, id_of("w3"));
  eval("w3/visible?: false w3/state/2: 512 p/update-view w3");
  EXPECT_EQ(gui::screen().active_window, id_of("w1"));
  eval("w2/visible?: true w2/state/2: 512 p/update-view w2 p/show-window w2/state/1");
  EXPECT_EQ(gui::screen().active_window, id_of("w2"));
  EXPECT_EQ(mold_of("w2/state/2"), "0");
}

TEST_F(GuiWidgetsTest, DestroyFreesThePaneFirstAndIgnoresKeptHandles) {
  eval("w: show-it face [type: 'window size: 6x2 pane: reduce [b: face [type: 'base size: 1x1]]]");
  uint32_t win = id_of("w"), b = id_of("b");
  eval("kept: w/state/1 kept-b: b/state/1 p/destroy-view w false");
  EXPECT_FALSE(gui::widget(win));
  EXPECT_FALSE(gui::widget(b));
  EXPECT_EQ(mold_of("reduce [w/state b/state]"), "[none none]");
  // Freed indices come back oldest first: the pane's widget went first.
  uint32_t next = gui::create_widget(0);
  EXPECT_EQ(next & ((1u << gui::WIDGET_INDEX_BITS) - 1), b & ((1u << gui::WIDGET_INDEX_BITS) - 1));
  EXPECT_NE(next, b);
  gui::free_widget(next);
  EXPECT_EQ(mold_of("reduce [p/show-window kept p/refresh-window kept p/make-view face [size: 1x1] kept-b]"),
            "[none none handle!]");
  EXPECT_EQ(mold_of("reduce [p/update-view w p/destroy-view w true p/redraw b]"), "[none none none]");
}

TEST_F(GuiWidgetsTest, AnUnfocusHandlerThatFreesTheNextFocusLeavesItToTheWindow) {
  eval("w: show-it face [type: 'window size: 10x3 pane: reduce ["
       "a: face [type: 'field size: 4x1 flags: [focusable]] b: face [type: 'field offset: 0x1 size: 4x1 flags: [focusable]]]]");
  uint32_t win = id_of("w"), a = id_of("a"), b = id_of("b");
  EXPECT_EQ(gui::screen().focused, a);
  eval("system/view/awake: func [event /with face] [append log event/type if event/type = 'unfocus [p/destroy-view b false] none] clear log");
  gui::set_focus(win, b, nullptr);
  EXPECT_FALSE(gui::widget(b));
  EXPECT_EQ(gui::screen().focused, win);
  EXPECT_EQ(mold_of("log"), "[unfocus]");
  // Selecting a face in the window's `selected` moves the focus.
  eval("w/selected: a w/state/2: 1024 p/update-view w");
  EXPECT_EQ(gui::screen().focused, a);
}

TEST_F(GuiWidgetsTest, UpdateViewAppliesOffsetSizeAndFlags) {
  eval("w: show-it face [type: 'window size: 10x4 pane: reduce [b: face [type: 'base offset: 1x1 size: 2x1]]] "
       "b/offset: 3x2 b/size: 4x2 b/enabled?: false b/flags: [all-over password] b/state/2: 2822 p/update-view b");
  const gui::Widget* b = gui::widget(id_of("b"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->left, 3.0f);
  EXPECT_EQ(b->top, 2.0f);
  EXPECT_EQ(b->right, 7.0f);
  EXPECT_EQ(b->bottom, 4.0f);
  EXPECT_TRUE(b->flags & gui::wflag::DISABLED);
  EXPECT_TRUE(b->flags & gui::wflag::ALL_OVER);
  EXPECT_TRUE(b->flags & gui::wflag::PASSWORD);
  EXPECT_EQ(mold_of("system/view/auto-sync?"), "true");
}

// A runtime shut down with a window still shown, then made again in the same process (an
// embedder's or a test binary's restart): the new one starts with no widget of the old,
// its builders and routines are its own, and the collector never sees the old faces.
TEST_F(GuiWidgetsTest, ARuntimeMadeAgainAfterAShownWindowStartsClean) {
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce [f: face [type: 'field size: 10x1 text: copy \"ab\"]]]");
  uint32_t old_window = id_of("w"), old_field = id_of("f");
  ASSERT_TRUE(old_window && old_field);
  key(old_field, 'c');
  EXPECT_EQ(mold_of("f/text"), "\"abc\"");
  runtime::shutdown();
  boot();
  EXPECT_EQ(gui::live_widget_count(), 0u);
  EXPECT_FALSE(gui::widget(old_window));
  EXPECT_FALSE(gui::widget(old_field));
  EXPECT_TRUE(gui::screen().window_stack.empty());
  gc::collect();
  SetUp();  // the console and the helper functions, in the new runtime
  // The builders of `system` ran for this runtime, and the routines are bound in it.
  EXPECT_EQ(mold_of("reduce [in system/standard/port 'spec  object? system/locale  routine? :p/make-view]"),
            "[spec true true]");
  eval("w: show-it face [type: 'window size: 20x3 pane: reduce [f: face [type: 'field size: 10x1 text: copy \"x\"]]]");
  uint32_t field = id_of("f");
  ASSERT_TRUE(field);
  EXPECT_NE(field, old_field);
  key(field, 'y');
  gc::collect();
  EXPECT_EQ(mold_of("f/text"), "\"xy\"");
  EXPECT_EQ(gui::live_widget_count(), 2u);
}

}  // namespace
}  // namespace kel::test
