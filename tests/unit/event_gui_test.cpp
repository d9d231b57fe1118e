// Backend events (records with generations, the widget double), face flags and value
// conversions of the terminal backend, and link-font on fixtures in the face/font order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gui/face_fields.h"
#include "gui/terminal/event_records.h"
#include "gui/terminal/face_values.h"
#include "gui/terminal/vocabulary.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/init.h"
#include "runtime/io/simple_io.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"
#include "tests/unit/gui_fixture.h"

namespace kel::test {
namespace {

// The widget double: widget ids 1-4 map to the faces held here (kept by a root range).
Cell g_faces[4];
bool double_lookup(uint32_t widget, Cell* out) {
  if (widget < 1 || widget > 4 || cell::type(&g_faces[widget - 1]) != T_OBJECT) return false;
  *out = g_faces[widget - 1];
  return true;
}

class GuiTest : public BootedTest {
 protected:
  gc::RootRange* faces_root = nullptr;

  void SetUp() override {
    boot();
    for (Cell& c : g_faces) cell::set_none(&c);
    faces_root = new gc::RootRange(g_faces, g_faces + 4);
    gui::set_face_lookup(&double_lookup);
  }
  void TearDown() override {
    gui::set_face_lookup(nullptr);
    delete faces_root;
  }

  std::string mold(const Cell* v) {
    Cell* top = stack::state().top;
    Cell* c = stack::push_copy(v);
    std::string s = simple_io::utf8_text(actions::mold(c, false, false, false, nullptr));
    stack::state().top = top;
    return s;
  }
  std::string field(const Cell* e, int32_t f) {
    Cell* top = stack::state().top;
    std::string s = mold(event::push_field(e, f));
    stack::state().top = top;
    return s;
  }
  void set_global(const char* name, const Cell* value) {
    Cell w = word::intern_global(name);
    *word::value_slot(&w) = *value;
  }
  // Runs body under a try frame: "" when it returned, else "category/id arg1".
  template <class Body>
  std::string error_of(Body body) {
    Cell* base = stack::state().base;
    Cell* top = stack::state().top;
    // The caught error lands at this frame's base, above the test's own cells.
    stack::push_native_frame(&interp::words.body);
    stack::push_try_frame(&interp::words.body);
    uint32_t code = stack::land(unwind_code::ERROR, body);
    if (!code) {
      stack::pop_frame();
      stack::pop_frame();
      stack::state().base = base;
      stack::state().top = top;
      return "";
    }
    stack::take_pending_code();
    stack::take_caught_error();
    Cell* err = stack::state().base;  // the fields are read before molding allocates
    const Cell* fields = object::values_start(err);
    int32_t type = int32_t(fields[error::field::TYPE].w2), id = int32_t(fields[error::field::ID].w2);
    Cell* arg = stack::push_copy(&fields[error::field::ARG1]);
    std::string out = symbol::text(type) + "/" + symbol::text(id) + " " + mold(arg);
    stack::pop_frame();
    stack::state().base = base;
    stack::state().top = top;
    return out;
  }
};

constexpr uint32_t KEY = 13;

TEST_F(GuiTest, BackendEventReadsItsRecord) {
  g_faces[0] = *eval("make object! [name: 'button]");
  gui::ScopedEventRecord r({1, 3.7f, 1.2f, 65, 0.0f});
  Cell e;
  event::init_backend(&e, KEY, gui::event_flag::CONTROL, r.id);
  EXPECT_EQ(field(&e, event::TYPE), "key");
  EXPECT_EQ(field(&e, event::OFFSET), "3x1");
  EXPECT_EQ(field(&e, event::KEY), "#\"A\"");
  EXPECT_EQ(field(&e, event::PICKED), "65");
  EXPECT_EQ(field(&e, event::WINDOW), "none");
  EXPECT_EQ(field(&e, event::ORIENTATION), "none");
  EXPECT_EQ(field(&e, event::FLAGS), "[control]");
  EXPECT_EQ(field(&e, event::CTRL_Q), "true");
  Cell* face = event::push_field(&e, event::FACE);
  EXPECT_EQ(cell::type(face), uint32_t(T_OBJECT));
  EXPECT_EQ(face->w1, g_faces[0].w1);
  // Offsets truncate toward zero; a widget with no face (or gone) gives none.
  gui::ScopedEventRecord r2({2, -0.9f, -2.5f, 0, 0.0f});
  Cell e2;
  event::init_backend(&e2, 1, 0, r2.id);
  EXPECT_EQ(field(&e2, event::OFFSET), "0x-2");
  EXPECT_EQ(field(&e2, event::FACE), "none");
  EXPECT_EQ(field(&e2, event::TYPE), "down");
}

TEST_F(GuiTest, SpecialKeysAndWheel) {
  struct Row {
    uint32_t type, flags;
    int32_t code;
    float delta;
    int32_t field;
    const char* out;
  } rows[] = {
      {KEY, gui::event_flag::SPECIAL_KEY, -27, 0, event::KEY, "delete"},
      {KEY, gui::event_flag::SPECIAL_KEY, -20, 0, event::KEY, "up"},
      {KEY, gui::event_flag::SPECIAL_KEY, -42, 0, event::KEY, "F12"},
      {KEY, gui::event_flag::SPECIAL_KEY, -30, 0, event::KEY, "none"},
      {KEY, gui::event_flag::SPECIAL_KEY, -43, 0, event::KEY, "none"},
      {KEY, gui::event_flag::SPECIAL_KEY, 65, 0, event::KEY, "none"},
      {KEY, 0, 128512, 0, event::KEY, "#\"\xF0\x9F\x98\x80\""},
      {KEY, 0, -5, 0, event::KEY, "none"},
      {gui::EVENT_WHEEL, 0, 3, -1.0f, event::PICKED, "-1.0"},
      {gui::EVENT_WHEEL, 0, 3, 1.0f, event::PICKED, "1.0"},
      {0, 0, 0, 0, event::TYPE, "none"},
      {99, 0, 0, 0, event::TYPE, "none"},
  };
  for (const Row& row : rows) {
    gui::ScopedEventRecord r({0, 0, 0, row.code, row.delta});
    Cell e;
    event::init_backend(&e, row.type, row.flags, r.id);
    EXPECT_EQ(field(&e, row.field), row.out) << row.code;
  }
  gui::ScopedEventRecord r({0, 0, 0, 3, -1.0f});
  Cell e;
  event::init_backend(&e, gui::EVENT_WHEEL, 0, r.id);
  EXPECT_EQ(cell::type(event::push_field(&e, event::PICKED)), uint32_t(T_FLOAT));
}

TEST_F(GuiTest, ReleasedRecordReadsAsExpired) {
  g_faces[0] = *eval("make object! [name: 'button]");
  Cell e;
  {
    gui::ScopedEventRecord r({1, 3.7f, 1.2f, 65, 0.0f});
    event::init_backend(&e, KEY, gui::event_flag::DOWN | gui::event_flag::SHIFT, r.id);
    EXPECT_EQ(field(&e, event::FACE).substr(0, 11), "make object");
  }
  // A new dispatch reuses the slot; the kept event must not see its record.
  gui::ScopedEventRecord other({1, 9.0f, 9.0f, 66, 0.0f});
  EXPECT_EQ(field(&e, event::TYPE), "key");
  EXPECT_EQ(field(&e, event::FLAGS), "[down shift]");
  EXPECT_EQ(field(&e, event::DOWN_Q), "true");
  EXPECT_EQ(field(&e, event::AWAY_Q), "false");
  for (int32_t f : {event::FACE, event::KEY, event::OFFSET, event::PICKED})
    EXPECT_EQ(field(&e, f), "none") << f;
}

// The same reads through Kel paths and pick, with the value kept in a word.
TEST_F(GuiTest, BackendEventInKel) {
  g_faces[1] = *eval("make object! [name: 'field]");
  gui::ScopedEventRecord r({2, 5.5f, 0.5f, -22, 0.0f});
  Cell e;
  event::init_backend(&e, KEY, gui::event_flag::SPECIAL_KEY | gui::event_flag::ALT, r.id);
  set_global("be", &e);
  EXPECT_EQ(mold(eval("reduce [be/type be/key be/offset be/flags be/face/name pick be 'picked]")),
            "[key right 5x0 [alt] field -22]");
  EXPECT_EQ(mold(eval("be/type: 'key-up be/type")), "key-up");
  EXPECT_EQ(mold(eval("reduce [be = be  event? be  mold be]")), "[true true \"event\"]");
  // A record id is no node: collections leave the event and its reads alone.
  gc::collect();
  EXPECT_EQ(mold(eval("loop 50 [append [] be/flags] be/offset")), "5x0");
}

TEST_F(GuiTest, RecordIdsNestAndExpire) {
  uint32_t live = gui::live_event_records();
  uint32_t a = gui::register_event_record({1, 0, 0, 1, 0});
  uint32_t b = gui::register_event_record({2, 0, 0, 2, 0});
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(gui::event_record(b)->code, 2);
  gui::release_event_record(b);
  EXPECT_EQ(gui::event_record(b), nullptr);
  EXPECT_EQ(gui::event_record(a)->code, 1);
  uint32_t c = gui::register_event_record({3, 0, 0, 3, 0});
  EXPECT_NE(c, b);  // the slot again, another generation
  EXPECT_EQ(c & gui::RECORD_SLOTS, b & gui::RECORD_SLOTS);
  EXPECT_EQ(gui::event_record(b), nullptr);
  gui::release_event_record(b);  // stale: ignored
  EXPECT_EQ(gui::event_record(c)->code, 3);
  gui::release_event_record(c);
  gui::release_event_record(a);
  EXPECT_EQ(gui::event_record(0), nullptr);
  EXPECT_EQ(gui::live_event_records(), live);
  // A full table gives 0, which reads as an expired event.
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < gui::RECORD_SLOTS + 1; ++i) ids.push_back(gui::register_event_record({}));
  EXPECT_EQ(ids.back(), 0u);
  for (uint32_t id : ids) gui::release_event_record(id);
  EXPECT_EQ(gui::live_event_records(), live);
}

TEST_F(GuiTest, GetFlags) {
  struct Row {
    const char* facet;
    uint32_t bits;
  } rows[] = {{"'modal", 0x02000000}, {"[all-over password]", 0x00080001},
              {"[Focusable NO-BORDER]", 0x80000002}, {"[]", 0}, {"none", 0}, {"3", 0},
              {"next [modal popup]", 0x01000000},
              {"[resize no-title no-min no-max no-buttons tri-state scrollable no-sync fullscreen]",
               0x7C360000}};
  for (const Row& row : rows) {
    Cell* facet = eval(row.facet);
    EXPECT_EQ(gui::get_flags(facet), row.bits) << row.facet;
  }
  Cell* bad = eval("[all-over draggable]");
  EXPECT_EQ(error_of([&] { gui::get_flags(bad); }), "script/invalid-arg draggable");
  Cell* not_word = eval("[all-over 3]");
  EXPECT_EQ(error_of([&] { gui::get_flags(not_word); }), "script/invalid-arg 3");
  Cell* word = eval("'draggable");
  EXPECT_EQ(error_of([&] { gui::get_flags(word); }), "script/invalid-arg draggable");
}

TEST_F(GuiTest, ColoursPointsAndZeroFill) {
  struct Row {
    const char* tuple;
    uint32_t rgb;
  } rows[] = {{"255.0.0", 0x000000FF}, {"1.2.3.4", 0x04030201}, {"1.2.3", 0x00030201},
              {"1.2.3.4.5", 0x04030201}};
  for (const Row& row : rows) EXPECT_EQ(gui::tuple_to_rgb(eval(row.tuple)), row.rgb) << row.tuple;
  Cell* p = eval("3x-4");
  EXPECT_EQ(gui::pair_to_point(p), p);
  EXPECT_EQ(mold(p), "(3, -4)");
  Cell* other = eval("5");
  gui::pair_to_point(other);
  EXPECT_EQ(mold(other), "5");
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  gui::zero_fill(bytes + 2, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), std::string("\x01\x02\0\0\0\0\x07\x08", 8));
}

TEST_F(GuiTest, Utf16Count) {
  Cell* wide = eval("\"\xF0\x9F\x98\x80\xF0\x9F\x98\x80x\"");
  ASSERT_EQ(string::unit_of(wide), 4u);
  Cell* narrow = eval("\"abc\"");
  Cell* bmp = eval("\"\xE2\x82\xAC\xE2\x82\xAC\"");  // 2-byte units
  struct Row {
    Cell* s;
    int32_t start, count, step, out;
  } rows[] = {{wide, 0, 3, 1, 5},   {wide, 0, 5, -1, 3}, {narrow, 0, 3, 1, 3},
              {wide, 1, 2, 1, 3},   {wide, 2, 1, 1, 1},  {wide, 0, 9, 1, 11},
              {wide, 5, 2, 1, 2},   {bmp, 0, 2, 1, 2},   {wide, 0, 0, 1, 0}};
  for (const Row& r : rows)
    EXPECT_EQ(gui::utf16_count(r.s, r.start, r.count, r.step), r.out) << r.start << " " << r.count;
  // The start counts from the string's position.
  Cell* later = eval("next \"\xF0\x9F\x98\x80\xF0\x9F\x98\x80x\"");
  EXPECT_EQ(gui::utf16_count(later, 0, 2, 1), 3);
}

// Faces and fonts laid out as the GUI's prototypes lay them out (font is face field 19,
// parent font field 9).
constexpr const char* FONT_SPEC =
    "make object! [name: none size: none style: none weight: none angle: 0 color: none "
    "anti-alias?: false shadow: none state: none parent: none]";
constexpr const char* FACE_SPEC =
    "make object! [type: 'base offset: none size: none text: none image: none color: none "
    "menu: none data: none enabled?: true visible?: true selected: none flags: none "
    "options: none parent: none pane: none state: none rate: none edge: none para: none "
    "font: none actors: none extra: none draw: none]";

TEST_F(GuiTest, LinkFont) {
  set_global("F", eval(FONT_SPEC));
  set_global("G", eval(FONT_SPEC));
  for (const char* name : {"A", "B", "C"}) set_global(name, eval(FACE_SPEC));
  Cell* f = eval("F");
  Cell* a = eval("A");
  EXPECT_EQ(gui::font_slot(f, gui::font_field::PARENT) - object::values_start(f), gui::font_field::PARENT);
  EXPECT_EQ(gui::face_slot(a, gui::face_field::FONT) - object::values_start(a), gui::face_field::FONT);
  eval("A/font: F B/font: F C/font: F");
  gui::link_font(eval("A"), eval("F"));
  gui::link_font(eval("B"), eval("F"));
  gui::link_font(eval("B"), eval("F"));  // already there
  EXPECT_EQ(mold(eval("reduce [index? F/parent length? head F/parent "
                      "same? A pick head F/parent 1 same? B pick head F/parent 2]")),
            "[3 2 true true]");
  // The first face no longer uses F: the list is stale and starts afresh.
  eval("A/font: G");
  gui::link_font(eval("C"), eval("F"));
  EXPECT_EQ(mold(eval("reduce [index? F/parent length? head F/parent same? C pick head F/parent 1]")),
            "[2 1 true]");
  // Not objects, or a font object without a parent field: nothing happens.
  gui::link_font(eval("3"), eval("F"));
  gui::link_font(eval("A"), eval("none"));
  Cell* bare = eval("make object! [size: 10]");
  gui::link_font(eval("A"), bare);
  EXPECT_EQ(mold(eval("length? head F/parent")), "1");
  // Fields found by name when an object has another layout.
  set_global("H", eval("make object! [parent: none size: 12]"));
  gui::link_font(eval("B"), eval("H"));
  EXPECT_EQ(mold(eval("reduce [index? H/parent same? B pick head H/parent 1]")), "[2 true]");
}

}  // namespace
}  // namespace kel::test
