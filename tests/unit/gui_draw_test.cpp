// The Draw dialect: argument checks, labels, nesting and errors through Kel text over the
// image entry, and faces' draw blocks painted into the grid with character cells.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/terminal/backend.h"
#include "gui/terminal/console_io.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/paint.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/launch.h"
#include "runtime/init.h"
#include "runtime/stack.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "tests/probes/gui_builder.h"
#include "tests/unit/gui_fixture.h"

namespace kel::test {
namespace {

using gui::ScreenCell;

uint32_t g_window = 0;

void paint_window() { paint_grid(g_window); }

// The image entry as the backend's routine calls it (images of no cells are left alone),
// and painting the shown window from Kel, so errors reach a try.
void draw_image_routine() {
  Cell* base = stack::state().base;
  if (image::width_of(base) > 0 && image::height_of(base) > 0) gui::do_draw(base, base + 1);
  cell::set_none(base);
}
void paint_routine() {
  paint_window();
  cell::set_none(stack::state().base);
}
void register_test_routines() {
  static bool done = false;
  if (done) return;
  done = true;
  routine::register_routine({"test-draw-image", "image [image!] cmds [block!]", &draw_image_routine, int32_t(T_NONE)});
  routine::register_routine({"test-paint", "", &paint_routine, int32_t(T_NONE)});
}

constexpr uint32_t P = gui::COLOUR_PALETTE;
constexpr uint32_t BLOCK = 0x2588;

class GuiDrawTest : public GuiConsoleTest {
 protected:
  void SetUp() override {
    register_test_routines();
    start_console(80, 24);
    eval(testing::kFaceFixture);
    eval("draw: func [size cmd /local i] [i: make image! size test-draw-image i cmd i]");
  }
  void TearDown() override {
    GuiConsoleTest::TearDown();
    eval("system/view/silent?: false");
  }

  // The error id the text raises, or "ok".
  std::string outcome(const std::string& text) {
    return mold_of("e: try [" + text + "] either error? :e [e/id] ['ok]");
  }

  // A window of the size with one base face at the offset holding the draw block.
  void show_draw(const char* draw, const char* offset = "0x0", const char* size = "20x10",
                 const char* window = "30x10") {
    std::string text = std::string("face [type: 'window size: ") + window + " pane: reduce [face [offset: " +
                       offset + " size: " + size + " draw: " + draw + "]]]";
    Cell* face = eval(text.c_str());
    g_window = testing::build_widgets(face, 0);
    gui::activate_window(g_window);
    for (int32_t i = 0; i < gui::pane_count(g_window); ++i) {
      uint32_t child = gui::face_handle_q(gui::pane_head(g_window) + i);
      if (child) gui::widget(child)->on_paint = [](int32_t x, int32_t y, uint32_t id) {
        gui::common_paint(x, y, id, gui::STYLE_ESCAPES);
      };
    }
  }
  void hide() {
    gui::free_widget_tree(g_window);
    g_window = 0;
  }
  // The columns of row y whose background is bg, as "a-b" runs.
  std::string bg_runs(int32_t y, uint32_t bg) {
    std::string out;
    int32_t w = gui::screen().width;
    for (int32_t x = 0; x < w; ++x) {
      if (at(x, y).bg != bg) continue;
      int32_t end = x;
      while (end + 1 < w && at(end + 1, y).bg == bg) ++end;
      if (!out.empty()) out += ' ';
      out += std::to_string(x) + (end > x ? "-" + std::to_string(end) : "");
      x = end;
    }
    return out;
  }
};

// ---- The dialect through images ----

TEST_F(GuiDrawTest, BadInputIsNamedWithTheRestOfTheBlock) {
  struct Case {
    const char* draw;
    const char* error;
    const char* rest;
  } cases[] = {
      {"[foo]", "draw-invalid", "[foo]"},
      {"[line 0x0]", "draw-invalid", "[]"},
      {"[circle 1x1]", "draw-invalid", "[]"},
      {"[text 0x0 42]", "draw-invalid", "[42]"},
      {"[box 0x0 1x1 foo 1]", "draw-invalid", "[foo 1]"},
      {"[box 0x0]", "draw-invalid", "[]"},
      {"[box (0x0) 1x1]", "draw-invalid", "[(0x0) 1x1]"},
      {"[pen no-such-colour-word box 0x0 1x1]", "draw-invalid", "[no-such-colour-word box 0x0 1x1]"},
      {"[pen 1.2.3.4.5]", "draw-invalid", "[1.2.3.4.5]"},
      {"[polygon 0x0 1x1]", "draw-invalid", "[]"},
      {"[curve 0x0 1x1 box]", "draw-invalid", "[box]"},
      {"[matrix [1 2 3]]", "draw-invalid", "[[1 2 3]]"},
      {"[shape [move]]", "draw-invalid", "[]"},
      {"[shape [move 0x0 jump 1x1]]", "draw-invalid", "[jump 1x1]"},
      {"[push]", "draw-invalid", "[]"},
      {"[rotate 'pen]", "draw-invalid", "[]"},
      {"[line-join 3]", "draw-invalid", "[3]"},
      {"[42]", "draw-invalid", "[42]"},
      {"[box 0x0 1x1 [pen] box]", "draw-invalid", "[]"},
      {"[pen linear]", "draw-invalid", "[]"},
      {"[fill-pen 0x0 1 2 255.0.0]", "draw-invalid", "[]"},
      {"['box 0x0 1x1]", "draw-invalid", "['box 0x0 1x1]"},
  };
  for (const auto& c : cases) {
    std::string text = std::string("draw 2x2 ") + c.draw;
    EXPECT_EQ(outcome(text), c.error) << c.draw;
    EXPECT_EQ(mold_of("e: try [" + text + "] e/arg1"), c.rest) << c.draw;
  }
}

TEST_F(GuiDrawTest, EveryCommandFormIsAccepted) {
  eval("img: make image! 2x2 red: 255.0.0 f: object [name: none size: none style: none weight: none angle: none color: 0.0.255]");
  const char* blocks[] = {
      "[]",
      "[pen red fill-pen off pen off fill-pen 0.0.255.128]",
      "[pen linear 255.0.0 0.0 0.0.255 1.0 0x0 10x10 pad]",
      "[fill-pen radial 255.0.0 0.0.255 5x5 3 reflect]",
      "[fill-pen diamond 255.0.0 0.0.255]",
      "[pen 0x0 0 10 255.0.0 0.0.255 0.255.0]",
      "[pen pattern 4x4 0x0 4x4 tile [box 0x0 1x1]]",
      "[fill-pen bitmap img 0x0 2x2 flip-x]",
      "[line-width 3 line-width 1.5 line-join round line-cap square line-pattern 1 2 3 line-pattern]",
      "[box 0x0 1x1 box 0x0 1x1 3 line 0x0 1x1 2x2 3x3 triangle 0x0 1x1 0x1]",
      "[polygon 0x0 1x1 2x0 3x3 circle 1x1 1 circle 1x1 2 3.5 ellipse 0x0 3x2]",
      "[anti-alias off anti-alias on font f text 0x0 \"a\" text (1.5, 0.5) f]",
      "[arc 1x1 2x2 0 90 arc 1x1 2x2 0 90 closed curve 0x0 1x1 2x2 curve 0x0 1x1 2x2 3x3]",
      "[spline 0x0 1x1 spline 0x0 1x1 2x2 closed]",
      "[image img image img 0x0 image img 0x0 2x2 255.0.0 border image img crop 0x0 1x1]",
      "[shadow off shadow 2x2 shadow 2x2 3 4 0.0.0 inset]",
      "[clip 0x0 2x2 clip 0x0 2x2 intersect [box 0x0 1x1] clip [move 0x0 line 1x1 2x2 close] xor]",
      "[shape [move 0x0 'line 1x1 hline 3 vline 2.5 arc 4x4 2 2 0 sweep large curve 1x1 2x2 3x3 curv 1x1 2x2 qcurve 1x1 2x2 qcurv 3x3 close]]",
      "[rotate 30 rotate 30 1x1 [box 0x0 1x1] rotate 'pen 45 scale 2 2 [pen off] scale 'fill-pen 1 2]",
      "[translate 1x1 translate 'pen 2x2 [box 0x0 1x1] skew 10 skew 10 20 [pen off]]",
      "[transform 30 1 1 0x0 transform 1x1 30 1 1 0x0 [box 0x0 1x1]]",
      "[push [pen off box 0x0 1x1] matrix [1 0 0 1 0 0] matrix 'pen [1 0 0 1 0 0.5] reset-matrix invert-matrix 'fill-pen]",
      "[[pen 255.0.0] [[box 0x0 1x1]]]",
  };
  for (const char* b : blocks) EXPECT_EQ(outcome(std::string("draw 2x2 ") + b), "ok") << b;
}

TEST_F(GuiDrawTest, ImagesKeepTheirPixels) {
  EXPECT_EQ(mold_of("i: draw 2x2 [pen 255.0.0 fill-pen 0.0.255 box 0x0 1x1 line-width 3 rotate 30 [circle 1x1 1]] pick i 1"),
            "255.255.255.0");
  EXPECT_EQ(mold_of("i: draw 0x3 [nonsense] i/size"), "0x3");
  EXPECT_EQ(mold_of("i: draw 2x2 [] i/size"), "2x2");
}

TEST_F(GuiDrawTest, LabelsAndWordsAreLookedUpNotEvaluated) {
  EXPECT_EQ(mold_of("p: 1x1 i: draw 2x2 blk: [box 0x0 p lbl: text 0x0 \"a\"] reduce [i/size index? lbl]"), "[2x2 5]");
  EXPECT_EQ(mold_of("blk: [box 0x0 1x1 end-label:] draw 2x2 blk tail? end-label"), "true");
  // A word is replaced by its value: a function is not called.
  EXPECT_EQ(outcome("called?: false p: does [called?: true 1x1] draw 2x2 [box 0x0 p]"), "draw-invalid");
  EXPECT_EQ(mold_of("called?"), "false");
  EXPECT_EQ(outcome("c: 255.0.0 n: 3 draw 2x2 [pen c line-width n]"), "ok");
}

TEST_F(GuiDrawTest, NestingIsCheckedAndBounded) {
  struct Case {
    const char* text;
    const char* result;
  } cases[] = {
      {"b: copy [box 0x0 1x1] append/only b b draw 2x2 b", "draw-infinite"},
      {"b: copy [box 0x0 1x1] draw 2x2 reduce [b b reduce [b]]", "ok"},
      {"b: copy [] c: reduce [b] append/only b c draw 2x2 c", "draw-infinite"},
      {"b: copy [] loop 900 [b: reduce [b]] draw 2x2 b", "ok"},
      {"b: copy [] loop 5000 [b: reduce [b]] draw 2x2 b", "draw-infinite"},
      {"b: copy [box 0x0 1x1] append/only b b draw 2x2 reduce ['push b]", "draw-infinite"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.text), c.result) << c.text;
  EXPECT_EQ(mold_of("b: copy [box 0x0 1x1] append/only b b e: try [draw 2x2 b] same? e/arg1 b"), "true");
}

// ---- Faces painted with character cells ----

struct GridCase {
  const char* what;
  const char* draw;
  const char* offset;
  const char* size;
  std::vector<std::string> rows;
};

TEST_F(GuiDrawTest, ShapesReachTheGrid) {
  const std::string blank(20, ' ');
  const GridCase cases[] = {
      {"box at column 10", "[box 0x0 4x2]", "10x0", "20x10",
       {"          ┌───┐     ", "          │   │     ", "          └───┘     ", std::string(20, ' ')}},
      {"reversed corners", "[box 4x2 0x0]", "0x0", "20x10", {"┌───┐               ", "│   │               ", "└───┘               "}},
      {"a box starting left of the face is raised to it", "[box -3x0 2x1]", "5x0", "20x10",
       {"     ┌─┐            ", "     └─┘            "}},
      {"right at 0 is dropped", "[box -3x0 0x2]", "0x0", "20x10", {blank, blank, blank}},
      {"pen off without a fill draws nothing", "[pen off box 0x0 3x3]", "0x0", "20x10", {blank, blank}},
      {"circle", "[circle 10x5 3]", "0x0", "20x10",
       {blank, blank, "       ███████      ", "     ██       ██    ", "    █           █   ",
        "    █           █   ", "    █           █   ", "     ██       ██    ", "       ███████      ", blank}},
      {"a flat ellipse draws nothing", "[ellipse 0x0 0x5]", "0x0", "20x10", {blank, blank, blank}},
      {"line-width changes nothing", "[line-width 3]", "0x0", "20x10", {blank}},
      {"text", "[text 1x0 \"hi\"]", "10x0", "20x10", {"           hi       "}},
      {"text wraps at the face's edge to its start column", "[text 2x0 \"abcdef\"]", "0x0", "4x3", {"  ab                ", "  cd                ", "  ef                "}},
      {"a line moves with the face and stops at its edge", "[line 2x1 45x1]", "5x0", "20x3",
       {std::string(50, ' '), "       ██████████████████" + std::string(25, ' ')}},
      {"a line starting outside draws nothing", "[line -1x0 5x0]", "0x0", "20x3", {blank}},
      {"triangle sides", "[triangle 0x0 4x0 0x2]", "0x0", "20x10", {"█████               ", "█ ██                ", "██                  ", "                    "}},
      {"huge shapes finish", "[circle 0x0 1000000000 ellipse -2000000000x-2000000000 2147483647x2147483647 line 0x0 2147483647x2147483647 triangle -2147483648x0 2147483647x5 0x2147483647]",
       "0x0", "20x10", {"█                   ", " █                  ", "  █                 "}},
      {"nested blocks run in turn", "[[box 0x0 2x1] [text 4x0 \"x\"]]", "0x0", "20x10", {"┌─┐ x               "}},
  };
  for (const GridCase& c : cases) {
    const char* window = c.rows[0].size() >= 50 ? "50x3" : "20x10";
    show_draw(c.draw, c.offset, c.size, window);
    paint_window();
    for (size_t y = 0; y < c.rows.size(); ++y)
      EXPECT_EQ(row(int32_t(y)).substr(0, c.rows[y].size()), c.rows[y]) << c.what << " row " << y;
    hide();
  }
}

TEST_F(GuiDrawTest, ColoursOfPenFillAndText) {
  eval("blue-font: object [name: none size: none style: none weight: none angle: none color: 0.0.255]");
  show_draw("[pen 255.0.0 box 0x0 3x3]");
  paint_window();
  EXPECT_EQ(at(0, 0).fg, P | 196);
  EXPECT_EQ(at(3, 3).ch, 0x2518u);
  EXPECT_EQ(at(1, 1).fg, 0u);  // inner cells keep their foreground
  hide();

  show_draw("[pen off fill-pen 0.0.255 box 0x0 2x1]");
  paint_window();
  EXPECT_EQ(bg_runs(0, P | 21), "0-2");
  EXPECT_EQ(bg_runs(1, P | 21), "0-2");
  EXPECT_EQ(bg_runs(2, P | 21), "");
  EXPECT_EQ(gui::grid_text().substr(0, 3), "   ");
  hide();

  show_draw("[pen off fill-pen 0.0.255 triangle 2x0 4x2 0x4]");
  paint_window();
  const char* runs[] = {"2", "1-3", "1-4", "0-2", ""};
  for (int32_t y = 0; y < 5; ++y) EXPECT_EQ(bg_runs(y, P | 21), runs[y]) << "triangle row " << y;
  hide();

  show_draw("[pen 255.0.0 text 1x0 \"hi\"]", "10x0");
  paint_window();
  EXPECT_EQ(at(11, 0).ch, uint32_t('h'));
  EXPECT_EQ(at(11, 0).fg, P | 196);
  EXPECT_EQ(at(12, 0).fg, P | 196);
  hide();

  struct Case {
    const char* what;
    const char* draw;
    int32_t x, y;
    uint32_t ch, fg, bg;
  } cases[] = {
      {"a font's colour wins over the pen", "[font blue-font pen 255.0.0 text 0x0 \"a\"]", 0, 0, 'a', P | 21, 0},
      {"pen off: the default colour", "[pen 255.0.0 pen off text 0x0 \"a\"]", 0, 0, 'a', 0, 0},
      {"a pushed state comes back", "[push [pen 255.0.0] box 0x0 2x2]", 0, 0, 0x250C, 0, 0},
      {"a transform's block keeps its own state", "[pen 255.0.0 rotate 30 [pen off] box 0x0 2x2]", 0, 0, 0x250C, P | 196, 0},
      {"a transparent pen is the default colour", "[pen 255.0.0.255 box 0x0 2x2]", 0, 0, 0x250C, 0, 0},
      {"filled circle: inside, outline", "[fill-pen 0.0.255 circle 10x5 3]", 10, 5, ' ', 0, P | 21},
      {"filled circle: the outline", "[fill-pen 0.0.255 circle 10x5 3]", 4, 5, BLOCK, 0, 0},
      {"filled circle: outside", "[fill-pen 0.0.255 circle 10x5 3]", 3, 5, ' ', 0, 0},
  };
  for (const auto& c : cases) {
    show_draw(c.draw);
    paint_window();
    EXPECT_EQ(at(c.x, c.y).ch, c.ch) << c.what;
    EXPECT_EQ(at(c.x, c.y).fg, c.fg) << c.what;
    EXPECT_EQ(at(c.x, c.y).bg, c.bg) << c.what;
    hide();
  }
}

TEST_F(GuiDrawTest, ShapesStayInsideTheirFace) {
  // A face at 5x2 of 4x3 in a 20x10 window: nothing outside columns 5-8, rows 2-4.
  const char* draws[] = {"[circle 2x1 5]", "[fill-pen 255.0.0 ellipse -3x-3 12x12]", "[line 0x0 30x30]",
                         "[fill-pen 255.0.0 triangle -10x-10 30x0 0x30]", "[fill-pen 255.0.0 box -5x-5 40x40]",
                         "[text 0x0 \"abcdefghijklmnopqrstuvwxyz\"]"};
  for (const char* d : draws) {
    show_draw(d, "5x2", "4x3");
    paint_window();
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 20; ++x) {
        bool in_face = x >= 5 && x < 9 && y >= 2 && y < 5;
        if (in_face) continue;
        EXPECT_EQ(at(x, y).ch, 0u) << d << " at " << x << "x" << y;
        EXPECT_EQ(at(x, y).bg, 0u) << d << " at " << x << "x" << y;
      }
    hide();
  }
}

TEST_F(GuiDrawTest, SilentEndsTheBlockQuietly) {
  show_draw("[box 0x0 3x3 box 0x0]");
  eval("system/view/silent?: true");
  EXPECT_EQ(outcome("test-paint"), "ok");
  EXPECT_EQ(row(0).substr(0, 12), "┌──┐");
  eval("system/view/silent?: false");
  EXPECT_EQ(outcome("test-paint"), "draw-invalid");
  EXPECT_EQ(row(0).substr(0, 12), "┌──┐");
  EXPECT_EQ(stack::state().pending_code, 0u);
  hide();
}

}  // namespace
}  // namespace kel::test
