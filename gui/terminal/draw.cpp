// The Draw dialect interpreter: commands and their argument checks, labels, nested blocks
// and the recursion guard, over the character-cell operations of draw_cells.
#include "gui/terminal/draw.h"

#include <cmath>
#include <unordered_map>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/system.h"
#include "runtime/unwind.h"

namespace kel::gui {

namespace {

using gc::Kept;

// The keywords, commands first. Words compare by canonical id.
enum Kw : int32_t {
  K_PEN, K_FILL_PEN, K_LINE_WIDTH, K_LINE_JOIN, K_LINE_CAP, K_LINE_PATTERN, K_BOX, K_LINE,
  K_TRIANGLE, K_POLYGON, K_CIRCLE, K_ELLIPSE, K_ANTI_ALIAS, K_FONT, K_TEXT, K_ARC, K_CURVE,
  K_SPLINE, K_IMAGE, K_SHADOW, K_CLIP, K_SHAPE, K_ROTATE, K_SCALE, K_TRANSLATE, K_SKEW,
  K_TRANSFORM, K_PUSH, K_MATRIX, K_RESET_MATRIX, K_INVERT_MATRIX,
  K_COMMAND_END,
  K_OFF = K_COMMAND_END, K_LINEAR, K_RADIAL, K_DIAMOND, K_PAD, K_REPEAT, K_REFLECT, K_PATTERN,
  K_TILE, K_FLIP_X, K_FLIP_Y, K_FLIP_XY, K_CLAMP, K_BITMAP, K_CLOSED, K_BORDER, K_CROP,
  K_INSET, K_REPLACE, K_INTERSECT, K_UNION, K_XOR, K_EXCLUDE, K_MOVE, K_HLINE, K_VLINE,
  K_SWEEP, K_LARGE, K_CURV, K_QCURVE, K_QCURV, K_CLOSE, K_MITER, K_MITER_BEVEL, K_ROUND,
  K_BEVEL, K_BUTT, K_SQUARE,
  K_COUNT
};

constexpr const char* KW_NAMES[K_COUNT] = {
    "pen", "fill-pen", "line-width", "line-join", "line-cap", "line-pattern", "box", "line",
    "triangle", "polygon", "circle", "ellipse", "anti-alias", "font", "text", "arc", "curve",
    "spline", "image", "shadow", "clip", "shape", "rotate", "scale", "translate", "skew",
    "transform", "push", "matrix", "reset-matrix", "invert-matrix",
    "off", "linear", "radial", "diamond", "pad", "repeat", "reflect", "pattern",
    "tile", "flip-x", "flip-y", "flip-xy", "clamp", "bitmap", "closed", "border", "crop",
    "inset", "replace", "intersect", "union", "xor", "exclude", "move", "hline", "vline",
    "sweep", "large", "curv", "qcurve", "qcurv", "close", "miter", "miter-bevel", "round",
    "bevel", "butt", "square"};

std::unordered_map<int32_t, int32_t> g_keywords;  // canonical symbol id -> Kw
int32_t g_silent_symbol = 0;

// Distinct blocks nested deeper than this are taken for endless nesting: the machine stack
// is finite.
constexpr size_t MAX_NESTING = 1000;

int32_t keyword_of(const Cell* v) {
  if (cell::type(v) != T_WORD) return -1;
  auto it = g_keywords.find(symbol::canonical_id(int32_t(v->w2)));
  return it == g_keywords.end() ? -1 : it->second;
}

bool lit_keyword_q(const Cell* v, int32_t kw) {
  if (cell::type(v) != T_LIT_WORD) return false;
  auto it = g_keywords.find(symbol::canonical_id(int32_t(v->w2)));
  return it != g_keywords.end() && it->second == kw;
}

// The value a bound word holds, without raising; false for an unbound word, one its
// context does not have, or one whose value is unset.
bool word_value(const Cell* w, Cell* out) {
  Node ctx = w->w1;
  if (!ctx) return false;
  Cell word = *w;
  if (int32_t(word.w3) == -1) {
    int32_t i = context::find_symbol(ctx, int32_t(word.w2), false);
    if (i < 0) return false;
    word.w3 = uint32_t(i);
  }
  if (context::cell_of(ctx)->w2 == 0 || int32_t(word.w3) >= context::word_count(ctx)) return false;
  const Cell* v = context::value_slot(&word, ctx);
  if (cell::type(v) == T_UNSET) return false;
  *out = *v;
  return true;
}

bool point_q(const Cell* v) { return cell::type(v) == T_PAIR || cell::type(v) == T_POINT2D; }
bool number_q(const Cell* v) { return cell::type(v) == T_INTEGER || cell::type(v) == T_FLOAT; }
bool colour_q(const Cell* v) {
  if (cell::type(v) != T_TUPLE) return false;
  int32_t n = tuple::length_of(v);
  return n == 3 || n == 4;
}
bool integer_q(const Cell* v) { return cell::type(v) == T_INTEGER; }
bool block_q(const Cell* v) { return cell::type(v) == T_BLOCK; }
bool object_q(const Cell* v) { return cell::type(v) == T_OBJECT; }
bool image_q(const Cell* v) { return cell::type(v) == T_IMAGE; }
bool text_arg_q(const Cell* v) { return cell::type(v) == T_STRING || cell::type(v) == T_OBJECT; }

int64_t truncated(double d) {
  if (std::isnan(d)) return 0;
  return int64_t(std::fmax(-4.0e12, std::fmin(4.0e12, std::trunc(d))));
}

DrawPoint point_of(const Cell* v) {
  if (cell::type(v) == T_PAIR) return {int32_t(v->w2), int32_t(v->w3)};
  return {truncated(point::coordinate(v, 0)), truncated(point::coordinate(v, 1))};
}

int64_t number_of(const Cell* v) {
  if (cell::type(v) == T_INTEGER) return int32_t(v->w2);
  return truncated(cell::get_double(v));
}

struct Interp {
  DrawContext* dc;
  bool painting;
  std::vector<const Cell*> active;  // the blocks being interpreted (rooted cells)
};

void run_block(Interp& in, const Cell* given);

// The drawing state put back when a nested block ends, also by an error.
struct StatePush {
  DrawContext& dc;
  DrawContext saved;
  explicit StatePush(DrawContext& d) : dc(d), saved(d) {}
  ~StatePush() { dc = saved; }
};

// One block's walk: the position, argument fetching and the checks.
struct Walk {
  Interp& in;
  const Cell& block;  // rooted by run_block
  int32_t i = 0;

  int32_t count() const { return block::count_from_head(&block); }
  bool at_end() const { return i >= count(); }
  Cell raw(int32_t at) const { return *block::cell_at_index(&block, int32_t(block.w1) + at); }

  [[noreturn]] void invalid(int32_t at) const {
    Cell rest = block;
    rest.w1 = block.w1 + uint32_t(at);
    error::raise(err::script::draw_invalid, &rest);
  }

  // A required argument: a word stands for its value.
  template <class Pred>
  Cell need(Pred ok) {
    if (at_end()) invalid(i);
    Cell v = raw(i);
    if (cell::type(&v) == T_WORD && !word_value(&v, &v)) invalid(i);
    if (!ok(&v)) invalid(i);
    ++i;
    return v;
  }
  // An optional argument: taken when it (or a word's value) fits; a keyword never is.
  template <class Pred>
  bool maybe(Pred ok, Cell* out = nullptr) {
    if (at_end()) return false;
    Cell v = raw(i);
    if (cell::type(&v) == T_WORD && (keyword_of(&v) >= 0 || !word_value(&v, &v))) return false;
    if (!ok(&v)) return false;
    if (out) *out = v;
    ++i;
    return true;
  }
  bool keyword(int32_t kw) {
    if (at_end()) return false;
    Cell v = raw(i);
    if (keyword_of(&v) != kw) return false;
    ++i;
    return true;
  }
  bool keyword_in(std::initializer_list<int32_t> kws) {
    for (int32_t k : kws)
      if (keyword(k)) return true;
    return false;
  }
  // A word taken as it is (line-join, line-cap, anti-alias).
  void need_word() {
    if (at_end() || cell::type(block::cell_at_index(&block, int32_t(block.w1) + i)) != T_WORD) invalid(i);
    ++i;
  }
  bool lit_target() {
    if (at_end()) return false;
    Cell v = raw(i);
    if (!lit_keyword_q(&v, K_PEN) && !lit_keyword_q(&v, K_FILL_PEN)) return false;
    ++i;
    return true;
  }
  // A block of commands with the drawing state pushed around it.
  void nested_pushed(const Cell& commands) {
    Kept keep(&commands);
    StatePush push(*in.dc);
    run_block(in, &keep.c);
  }
  // A block of commands run only to check them (patterns): nothing reaches the grid.
  void nested_checked(const Cell& commands) {
    Kept keep(&commands);
    DrawContext* outer = in.dc;
    DrawContext quiet = draw_cells::for_image();
    in.dc = &quiet;
    struct Back {
      Interp& in;
      DrawContext* dc;
      ~Back() { in.dc = dc; }
    } back{in, outer};
    run_block(in, &keep.c);
  }
  void optional_nested() {
    Cell commands;
    if (maybe(block_q, &commands)) nested_pushed(commands);
  }

  void pen_argument(bool fill);
  void shape_block(const Cell& shape);
  void command(int32_t kw);
};

void Walk::pen_argument(bool fill) {
  DrawContext& dc = *in.dc;
  Cell colour;
  if (keyword(K_OFF)) {
    if (fill) draw_cells::fill_pen(dc, nullptr);
    else draw_cells::pen(dc, nullptr);
    return;
  }
  if (maybe(colour_q, &colour)) {
    if (fill) draw_cells::fill_pen(dc, &colour);
    else draw_cells::pen(dc, &colour);
    return;
  }
  if (keyword_in({K_LINEAR, K_RADIAL, K_DIAMOND})) {
    // Colour stops (each with an optional offset), the gradient's points and numbers, a spread.
    need(colour_q);
    maybe([](const Cell* v) { return cell::type(v) == T_FLOAT; });
    while (maybe(colour_q)) maybe([](const Cell* v) { return cell::type(v) == T_FLOAT; });
    while (maybe([](const Cell* v) { return point_q(v) || number_q(v); })) {
    }
    keyword_in({K_PAD, K_REPEAT, K_REFLECT});
    return;
  }
  if (maybe(point_q)) {
    // The older gradient form: a point, two numbers and at least two colours.
    need(number_q);
    need(number_q);
    need(colour_q);
    need(colour_q);
    while (maybe(colour_q)) {
    }
    return;
  }
  if (keyword(K_PATTERN)) {
    need(point_q);
    if (maybe(point_q)) maybe(point_q);
    keyword_in({K_TILE, K_FLIP_X, K_FLIP_Y, K_FLIP_XY, K_CLAMP});
    nested_checked(need(block_q));
    return;
  }
  if (keyword(K_BITMAP)) {
    need(image_q);
    if (maybe(point_q)) maybe(point_q);
    keyword_in({K_TILE, K_FLIP_X, K_FLIP_Y, K_FLIP_XY, K_CLAMP});
    return;
  }
  invalid(i);
}

// The shape sub-dialect, checked: each keyword (a lit-word for the relative form) with
// its points and numbers.
void Walk::shape_block(const Cell& shape) {
  Kept keep(&shape);
  Walk w{in, keep.c};
  while (!w.at_end()) {
    Cell v = w.raw(w.i);
    int32_t kw = -1;
    if (cell::type(&v) == T_WORD || cell::type(&v) == T_LIT_WORD) {
      auto it = g_keywords.find(symbol::canonical_id(int32_t(v.w2)));
      if (it != g_keywords.end()) kw = it->second;
    }
    ++w.i;
    switch (kw) {
      case K_MOVE:
        w.need(point_q);
        break;
      case K_LINE:
      case K_CURVE:
      case K_CURV:
      case K_QCURVE:
      case K_QCURV:
        w.need(point_q);
        while (w.maybe(point_q)) {
        }
        break;
      case K_HLINE:
      case K_VLINE:
        w.need(number_q);
        break;
      case K_ARC:
        w.need(point_q);
        w.need(number_q);
        w.need(number_q);
        w.need(number_q);
        w.keyword(K_SWEEP);
        w.keyword(K_LARGE);
        break;
      case K_CLOSE:
        break;
      default:
        w.invalid(w.i - 1);
    }
  }
}

void Walk::command(int32_t kw) {
  DrawContext& dc = *in.dc;
  switch (kw) {
    case K_PEN:
    case K_FILL_PEN:
      pen_argument(kw == K_FILL_PEN);
      break;
    case K_LINE_WIDTH:
      need(number_q);
      break;
    case K_LINE_JOIN:
    case K_LINE_CAP:
    case K_ANTI_ALIAS:
      need_word();
      break;
    case K_LINE_PATTERN:
      while (maybe(integer_q)) {
      }
      break;
    case K_BOX: {
      Cell a = need(point_q), b = need(point_q);
      maybe(number_q);
      draw_cells::box(dc, point_of(&a), point_of(&b));
      break;
    }
    case K_LINE: {
      std::vector<DrawPoint> points;
      Cell p = need(point_q);
      points.push_back(point_of(&p));
      p = need(point_q);
      points.push_back(point_of(&p));
      while (maybe(point_q, &p)) points.push_back(point_of(&p));
      draw_cells::line(dc, points.data(), int32_t(points.size()));
      break;
    }
    case K_TRIANGLE: {
      Cell a = need(point_q), b = need(point_q), c = need(point_q);
      draw_cells::triangle(dc, point_of(&a), point_of(&b), point_of(&c));
      break;
    }
    case K_POLYGON:
      need(point_q);
      need(point_q);
      need(point_q);
      while (maybe(point_q)) {
      }
      break;
    case K_CIRCLE: {
      Cell centre = need(point_q), radius = need(number_q);
      maybe(number_q, &radius);
      draw_cells::circle(dc, point_of(&centre), number_of(&radius));
      break;
    }
    case K_ELLIPSE: {
      Cell at = need(point_q), size = need(point_q);
      draw_cells::ellipse(dc, point_of(&at), point_of(&size));
      break;
    }
    case K_FONT: {
      Cell font = need(object_q);
      draw_cells::font(dc, &font);
      break;
    }
    case K_TEXT: {
      Cell at = need(point_q), text = need(text_arg_q);
      draw_cells::text(dc, point_of(&at), &text);
      break;
    }
    case K_ARC:
      need(point_q);
      need(point_q);
      need(number_q);
      need(number_q);
      keyword(K_CLOSED);
      break;
    case K_CURVE:
      need(point_q);
      need(point_q);
      need(point_q);
      maybe(point_q);
      break;
    case K_SPLINE:
      need(point_q);
      need(point_q);
      while (maybe(point_q)) {
      }
      keyword(K_CLOSED);
      break;
    case K_IMAGE:
      need(image_q);
      if (keyword(K_CROP)) {
        need(point_q);
        need(point_q);
        break;
      }
      for (int32_t k = 0; k < 4 && maybe(point_q); ++k) {
      }
      maybe(colour_q);
      keyword(K_BORDER);
      if (keyword(K_CROP)) {
        need(point_q);
        need(point_q);
      }
      break;
    case K_SHADOW:
      if (keyword(K_OFF)) break;
      need(point_q);
      if (maybe(integer_q)) maybe(integer_q);
      maybe(colour_q);
      keyword(K_INSET);
      break;
    case K_CLIP: {
      Cell shape;
      if (maybe(block_q, &shape)) {
        shape_block(shape);
      } else {
        need(point_q);
        need(point_q);
      }
      keyword_in({K_REPLACE, K_INTERSECT, K_UNION, K_XOR, K_EXCLUDE});
      optional_nested();
      break;
    }
    case K_SHAPE:
      shape_block(need(block_q));
      break;
    case K_ROTATE:
      lit_target();
      need(number_q);
      maybe(point_q);
      optional_nested();
      break;
    case K_SCALE:
      lit_target();
      need(number_q);
      need(number_q);
      optional_nested();
      break;
    case K_TRANSLATE:
      lit_target();
      need(point_q);
      optional_nested();
      break;
    case K_SKEW:
      lit_target();
      need(number_q);
      maybe(number_q);
      optional_nested();
      break;
    case K_TRANSFORM:
      lit_target();
      maybe(point_q);
      need(number_q);
      need(number_q);
      need(number_q);
      need(point_q);
      optional_nested();
      break;
    case K_PUSH:
      nested_pushed(need(block_q));
      break;
    case K_MATRIX: {
      lit_target();
      Cell m = need(block_q);
      int32_t n = block::count_from_head(&m);
      for (int32_t k = 0; k < n; ++k)
        if (!number_q(block::cell_at_index(&m, int32_t(m.w1) + k))) invalid(i - 1);
      if (n != 6) invalid(i - 1);
      break;
    }
    case K_RESET_MATRIX:
    case K_INVERT_MATRIX:
      lit_target();
      break;
    default:
      invalid(i - 1);
  }
}

bool same_position(const Cell* a, const Cell* b) { return a->w2 == b->w2 && a->w1 == b->w1; }

void run_block(Interp& in, const Cell* given) {
  Cell b = *given;
  gc::Root keep(&b);
  for (const Cell* active : in.active)
    if (same_position(active, &b)) error::raise(err::script::draw_infinite, &b);
  if (in.active.size() >= MAX_NESTING) error::raise(err::script::draw_infinite, &b);
  in.active.push_back(&b);
  struct Leave {
    Interp& in;
    ~Leave() { in.active.pop_back(); }
  } leave{in};
  Walk w{in, b};
  while (!w.at_end()) {
    Cell v = w.raw(w.i);
    ++w.i;
    switch (cell::type(&v)) {
      case T_WORD: {
        int32_t kw = keyword_of(&v);
        if (kw < 0 || kw >= K_COMMAND_END) w.invalid(w.i - 1);
        w.command(kw);
        break;
      }
      case T_SET_WORD: {
        // A label: the word is set to the block at the value after it.
        if (!v.w1) w.invalid(w.i - 1);
        Cell label = b;
        label.w1 = b.w1 + uint32_t(w.i);
        Kept word(&v);
        word::assign_value(&word.c, &label);
        break;
      }
      case T_BLOCK:
        run_block(in, &v);
        break;
      default:
        w.invalid(w.i - 1);
    }
  }
}

}  // namespace

void intern_draw_words() {
  g_keywords.clear();
  for (int32_t k = 0; k < K_COUNT; ++k) {
    int32_t id = k == K_PEN ? symbol::intern_c_text_any_case(KW_NAMES[k]) : symbol::intern_c_text(KW_NAMES[k]);
    g_keywords[symbol::canonical_id(id)] = k;
  }
  g_silent_symbol = symbol::intern_c_text("silent?");
}

void interpret_draw(DrawContext& dc, const Cell* block, bool painting) {
  Interp in{&dc, painting, {}};
  in.active.reserve(16);
  run_block(in, block);
}

void do_draw(const Cell* image, const Cell* commands) {
  (void)image;  // cells have no pixels: the image stays as it is
  if (block::count_from_head(commands) <= 0) return;
  DrawContext dc = draw_cells::for_image();
  interpret_draw(dc, commands, false);
}

namespace {
bool silent_q() {
  Cell v;
  return system::find_field("view", "silent?", &v) && cell::type(&v) == T_LOGIC && v.w1;
}
}  // namespace

void paint_draw(uint32_t widget, int32_t x, int32_t y, const ClipRect& clip, uint32_t style_bits,
                const Cell* block) {
  Kept commands(block);
  DrawContext dc = draw_cells::for_face(widget, x, y, clip, style_bits);
  if (!silent_q()) {
    interpret_draw(dc, &commands.c, true);
    return;
  }
  // Silent: an error ends this block quietly; what was drawn before it stays.
  Cell* base = stack::state().base;
  Cell* top = stack::state().top;
  stack::Frame* frames = stack::state().frames_top;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(0xFFFFFFFFu, [&] { interpret_draw(dc, &commands.c, true); });
  if (code) stack::take_pending_code();
  stack::set_frame_top(frames);
  stack::state().base = base;
  stack::state().top = top;
  if (code && code != unwind_code::ERROR) throw_code(code);
}

}  // namespace kel::gui
