// Lexer modes, events, nesting, value-stack growth and a byte fuzzer: prescan and scan-only
// results, one value and into-block, the event callback and its effects, clean-up.
#include <random>

#include "lexer_fixture.h"
#include "runtime/evaluator/lexer_load.h"

namespace kel::test {
namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST_F(LexerTest, EveryRowEndsAtTheEndAndRejectsInvalidBytes) {
  for (int s = 0; s < lexer::ROW_COUNT; ++s) {
    EXPECT_GE(lexer::transition[s][lexer::C_END], lexer::FIRST_FINAL) << "state " << s;
    EXPECT_EQ(lexer::transition[s][lexer::C_INVALID], lexer::st::F_ERROR) << "state " << s;
    for (int c = 0; c < lexer::CLASS_COUNT; ++c)
      EXPECT_NE(lexer::transition[s][c], 65) << s << "/" << c;
  }
  EXPECT_EQ(lexer::class_table[0xC3] & 0xFF, lexer::C_WORD);
  EXPECT_TRUE(lexer::class_table[0xC3] & lexer::flag::UTF8_2_3);
  EXPECT_TRUE(lexer::class_table[0xF0] & lexer::flag::UTF8_4);
  EXPECT_EQ(lexer::unit_of_flags(lexer::flag::UTF8_2_3 | lexer::flag::UTF8_4), 4u);
  EXPECT_EQ(std::string(lexer::EXIT_STATE_NAMES[12]), "comma");
  EXPECT_EQ(std::string(lexer::EXIT_STATE_NAMES[11]), "comment");
}

TEST_F(LexerTest, PrescanAndScanOfAnOpenBlockGiveErrorAndNone) {
  Cell r{T_INTEGER, 0, 1, 0};
  EXPECT_EQ(scan_type("[1 2", true, &r), int32_t(T_ERROR));
  EXPECT_EQ(cell::type(&r), T_NONE);
  r = Cell{T_INTEGER, 0, 1, 0};
  EXPECT_EQ(scan_type("[1 2", false, &r), int32_t(T_ERROR));
  EXPECT_EQ(cell::type(&r), T_NONE);
  EXPECT_EQ(load("[1 2"), "!! syntax/missing");
  EXPECT_EQ(lexer::chain_head(), nullptr);
}

TEST_F(LexerTest, ScanOnlyReportsTheTypeOfEveryLiteral) {
  struct {
    const char* text;
    uint32_t type;
  } rows[] = {
      {"1:30.5", T_TIME}, {"29-Feb-2024", T_DATE}, {"$1.50", T_MONEY}, {"1.2.3", T_TUPLE},
      {"10x-2", T_PAIR}, {"(1, 2)", T_POINT2D}, {"(1, 2, 3)", T_POINT3D}, {"#{0A}", T_BINARY},
      {"<a href=\"x\">", T_TAG}, {"a@b.c", T_EMAIL}, {"@r", T_REF}, {"12", T_INTEGER},
      {"a", T_WORD}, {"a:", T_SET_WORD}, {"'a", T_LIT_WORD}, {"\"s\"", T_STRING},
      {"{s}", T_STRING}, {"%f", T_FILE}, {"http://x", T_URL}, {"#\"c\"", T_CHAR},
      {"1.5", T_FLOAT}, {"5%", T_PERCENT}, {"#a", T_ISSUE}, {"/r", T_REFINEMENT},
      {"a/b", T_PATH}, {"a/b:", T_SET_PATH}, {"2#{00000001}", T_BINARY},
      {"64#{AQID}", T_BINARY}, {"USD$1'000.25", T_MONEY}, {"-$2", T_MONEY},
      {"2024-02-29T10:00:00+01:00", T_DATE}, {"1-Jan-99/10:00", T_DATE},
      {"2024-W05-3", T_DATE}, {"2024-060", T_DATE}, {"20240229T1030Z", T_DATE},
      {"29-Feb-2023", T_ERROR}, {"$", T_ERROR}, {"$1''0", T_ERROR}, {"1.2.256", T_ERROR},
      {"#{0}", T_ERROR}, {"2#{0101}", T_ERROR}, {"3#{00}", T_ERROR}, {"1:", T_ERROR},
      {"1:30:", T_ERROR}, {"1x", T_ERROR}, {"(1, )", T_ERROR},
  };
  for (auto& row : rows) EXPECT_EQ(scan_type(row.text), int32_t(row.type)) << row.text;
  EXPECT_EQ(lexer::chain_head(), nullptr);
}

TEST_F(LexerTest, BinaryAndTextLiteralsLoad) {
  EXPECT_EQ(load("#{0A}"), "[#{0A}]");
  EXPECT_EQ(load("<a>"), "[<a>]");
  EXPECT_EQ(load("a@b.c"), "[a@b.c]");
  EXPECT_EQ(load("@r"), "[@r]");
}

TEST_F(LexerTest, TimeLiteralsLoadAsSeconds) {
  EXPECT_EQ(load("1:30"), "[1:30:00]");
  EXPECT_EQ(load("-0:00:01.5"), "[-0:00:01.5]");
}

TEST_F(LexerTest, OneValueStopsAfterTheFirstValue) {
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "[a] b";
  int32_t consumed = -1;
  int32_t type = lexer_scan(&r, bytes(text), int32_t(text.size()), true, true, true, false,
                            &consumed, nullptr, nullptr, nullptr);
  EXPECT_EQ(mold(&r), "[a]");
  EXPECT_EQ(consumed, 3);
  EXPECT_EQ(type, int32_t(T_BLOCK));
  // Next-as-block wraps it.
  lexer_scan(&r, bytes(text), int32_t(text.size()), true, true, true, true, &consumed, nullptr,
             nullptr, nullptr);
  EXPECT_EQ(mold(&r), "[[a]]");
  // Characters, not bytes, for a string source.
  Cell& s = keep(Cell{T_NONE, 0, 0, 0});
  std::string utf = "\"\xC3\xA9\xC3\xA9\" x";
  string::load_encoded(bytes(utf), int32_t(utf.size()), &s, 0);
  lexer::transcode_string(&r, &s, -1, true, true, true, false, &consumed, nullptr, nullptr);
  EXPECT_EQ(consumed, 4);
  EXPECT_EQ(chars_of(&r).size(), 2u);
  // Prescan of one value.
  EXPECT_EQ(scan_type("12 [", true), int32_t(T_INTEGER));
}

TEST_F(LexerTest, IntoBlockAppendsAtTheTailAndKeepsTheHead) {
  Cell& into = keep(Cell{T_NONE, 0, 0, 0});
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string first = "x y z";
  lexer_scan(&into, bytes(first), int32_t(first.size()), false, true, true, false, nullptr,
             nullptr, nullptr, nullptr);
  into.w1 = 1;  // head at y
  std::string more = "1 2";
  lexer_scan(&r, bytes(more), int32_t(more.size()), false, true, true, false, nullptr, nullptr,
             nullptr, &into);
  EXPECT_EQ(into.w1, 1u);
  Cell whole = into;
  whole.w1 = 0;
  EXPECT_EQ(mold(&whole), "[x y z 1 2]");
  std::string one = "3 4";
  lexer_scan(&r, bytes(one), int32_t(one.size()), true, true, true, false, nullptr, nullptr,
             nullptr, &into);
  EXPECT_EQ(mold(&r), "3");
  whole = into;
  whole.w1 = 0;
  EXPECT_EQ(mold(&whole), "[x y z 1 2 3]");
}

// Records events as "event:type" texts.
struct Recorder {
  std::vector<std::string> seen;
  int32_t move_to = -1;       // on an error event: move the input there
  bool error_result = false;  // what an error event answers
  std::function<void()> inner;
};

bool record(lexer::State*, lexer::EventArgs* a, void* data) {
  auto* r = static_cast<Recorder*>(data);
  const char* names[] = {"prescan", "scan", "load", "open", "close", "error"};
  int bit = 0;
  while ((1u << bit) != a->event) ++bit;
  std::string type = a->type > 0 ? LexerTest::type_name(uint32_t(a->type))
                                 : a->type == 0 ? "none" : std::to_string(a->type);
  r->seen.push_back(std::string(names[bit]) + ":" + type);
  if (r->inner && a->event == lexer::ev::LOAD) r->inner();
  if (a->event == lexer::ev::ERROR) {
    if (r->move_to >= 0) a->input_index = r->move_to;
    return r->error_result;
  }
  return true;
}

std::string events_of(LexerTest* t, const std::string& text, uint32_t mask, Recorder& r,
                      std::string* result = nullptr) {
  (void)t;
  Cell& out = t->keep(Cell{T_NONE, 0, 0, 0});
  lexer::Request q;
  q.result = &out;
  q.bytes = bytes(text);
  q.length = int32_t(text.size());
  q.native = record;
  q.native_data = &r;
  q.native_mask = mask;
  bool failed = LexerTest::raised([&] { lexer::run(q); });
  if (result) *result = failed ? "!! " + LexerTest::error_id() : LexerTest::mold(&out);
  std::string joined;
  for (auto& s : r.seen) joined += (joined.empty() ? "" : " ") + s;
  return joined;
}

TEST_F(LexerTest, OpenCloseAndErrorEventsNameTheSeriesType) {
  uint32_t mask = lexer::ev::OPEN | lexer::ev::CLOSE | lexer::ev::ERROR;
  {
    Recorder r;
    EXPECT_EQ(events_of(this, "[1 2]", mask, r), "open:block! close:block!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "[1 2", mask, r), "open:block! error:block!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "{a", mask, r), "open:string! error:string!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "(a #[b", mask, r), "open:paren! open:map! error:map!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "1''0", mask, r), "error:integer!");
  }
  {
    Recorder r;
    EXPECT_EQ(events_of(this, "a/b c", mask, r), "open:path! close:path!");
  }
  {
    Recorder r;
    EXPECT_EQ(events_of(this, "{a} %{b}% [x/(y)]", mask, r),
              "open:string! close:string! open:string! close:string! open:block! open:path! "
              "open:paren! close:paren! close:path! close:block!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "[a/", mask, r), "open:block! open:path! error:path!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "<a", mask, r), "error:tag!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "#{0A", mask, r), "error:binary!");
  }
  {
    Recorder r;
    r.error_result = true;
    EXPECT_EQ(events_of(this, "(1, 2", mask, r), "error:point2D!");
  }
}

TEST_F(LexerTest, EventMaskSelectsEvents) {
  Recorder r;
  std::string result;
  EXPECT_EQ(events_of(this, "a [1] ; c\n\"s\"", lexer::ev::LOAD, r, &result),
            "load:word! load:integer! load:string!");
  EXPECT_EQ(result, "[a [1] \"s\"]");
  Recorder all;
  events_of(this, "a", lexer::ev::ALL, all);
  EXPECT_EQ(all.seen.front(), "prescan:word!");
}

TEST_F(LexerTest, CallbackBodyBlockSelectsTheEvents) {
  // A function whose body is [[load open] ...] and one whose body starts with a word.
  Cell& body = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "[[load open bogus 1] x] [x [load]]";
  lexer_scan(&body, bytes(text), int32_t(text.size()), false, true, true, false, nullptr,
             nullptr, nullptr, nullptr);
  for (uint32_t i = 0; i < 2; ++i) {
    Cell& extras = keep(Cell{T_BLOCK, 0, memory::series_new_unset_cells(5), 0});
    SeriesBuffer* eb = memory::node_buffer(extras.w2);
    memory::set_tail(eb, memory::data(eb) + 5 * sizeof(Cell));
    Cell item = *at(&body, i);
    memory::head_cells(memory::node_buffer(extras.w2))[0] = item;
    Cell& f = keep(Cell{T_FUNCTION, 0, 0, extras.w2});
    EXPECT_EQ(lexer::event_mask_of(&f), i == 0 ? lexer::ev::LOAD | lexer::ev::OPEN : lexer::ev::ALL);
  }
  Cell none{T_NONE, 0, 0, 0};
  EXPECT_EQ(lexer::event_mask_of(&none), lexer::ev::ALL);
}

TEST_F(LexerTest, ErrorEventsThatReturnFalseContinuePastTheBadInput) {
  for (const char* text : {"a } b", "a \xF8 b", "a } } b", "a 1''0 b", "a \xF8", "a }"}) {
    Recorder r;
    std::string result;
    events_of(this, text, lexer::ev::ERROR, r, &result);
    std::string expected = std::string(text).back() == 'b' ? "[a b]" : "[a]";
    EXPECT_EQ(result, expected) << text;
    EXPECT_GE(r.seen.size(), 1u) << text;
  }
  // An error callback that moves the input on past the bad character.
  Recorder r;
  r.move_to = 3;
  std::string result;
  events_of(this, "a }} b", lexer::ev::ERROR, r, &result);
  EXPECT_EQ(result, "[a b]");
  // A move beyond the end is clamped to the end.
  Recorder far;
  far.move_to = 1000;
  events_of(this, "a } b", lexer::ev::ERROR, far, &result);
  EXPECT_EQ(result, "[a]");
}

TEST_F(LexerTest, PrescanFalseSkipsAToken) {
  struct Skip {
    static bool cb(lexer::State* s, lexer::EventArgs* a, void*) {
      (void)s;
      return !(a->event == lexer::ev::PRESCAN && a->type == int32_t(T_INTEGER));
    }
  };
  Cell& out = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "a 1 [2 b] c";
  lexer::Request q;
  q.result = &out;
  q.bytes = bytes(text);
  q.length = int32_t(text.size());
  q.native = Skip::cb;
  lexer::run(q);
  EXPECT_EQ(mold(&out), "[a [b] c]");
}

TEST_F(LexerTest, NestedScansLeaveTheOuterStateAsTheyFoundIt) {
  Recorder r;
  std::string inner_result;
  lexer::State* outer = nullptr;
  int32_t outer_tail = -1, fill = -1;
  bool inner_failed = false;
  r.inner = [&] {
    outer = lexer::innermost();
    outer_tail = outer->tail;
    fill = lexer::buffer_fill();
    Cell& res = keep(Cell{T_NONE, 0, 0, 0});
    std::string ok = "x [y]";
    lexer_scan(&res, bytes(ok), int32_t(ok.size()), false, true, true, false, nullptr, nullptr,
               nullptr, nullptr);
    inner_result = mold(&res);
    EXPECT_EQ(lexer::innermost(), outer);
    EXPECT_EQ(outer->tail, outer_tail);
    Cell& s = keep(Cell{T_NONE, 0, 0, 0});
    std::string bad = "[1 \"x\"";
    string::load_encoded(bytes(bad), int32_t(bad.size()), &s, 0);
    inner_failed = raised([&] {
      lexer::transcode_string(&res, &s, -1, false, true, true, false, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(lexer::innermost(), outer);
    EXPECT_EQ(outer->tail, outer_tail);
    EXPECT_EQ(lexer::buffer_fill(), fill);
  };
  std::string result;
  events_of(this, "a b", lexer::ev::LOAD, r, &result);
  EXPECT_EQ(result, "[a b]");
  EXPECT_EQ(inner_result, "[x [y]]");
  EXPECT_TRUE(inner_failed);
  EXPECT_EQ(lexer::chain_head(), nullptr);
  EXPECT_EQ(lexer::buffer_fill(), 0);
}

TEST_F(LexerTest, TranscodeStringUsesTheSharedBufferOrATemporaryOne) {
  Cell& s = keep(Cell{T_NONE, 0, 0, 0});
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "ab ";
  string::load_encoded(bytes(text), int32_t(text.size()), &s, 0);
  int32_t consumed = 0;
  lexer::transcode_string(&r, &s, -1, false, true, true, false, &consumed, nullptr, nullptr);
  EXPECT_EQ(consumed, int32_t(text.size()));
  EXPECT_EQ(memory::units(memory::node_buffer(r.w2)), 40000u);
  EXPECT_EQ(lexer::buffer_fill(), 0);
  // A length in characters takes only the start.
  lexer::transcode_string(&r, &s, 5, false, true, true, false, &consumed, nullptr, nullptr);
  EXPECT_EQ(mold(&r), "[ab ab]");
}

TEST_F(LexerTest, ValueStackGrowsForDeepAndWideInput) {
  std::string deep(3000, '[');
  deep += std::string(3000, ']');
  std::string wide = "[";
  for (int i = 0; i < 5000; ++i) wide += "1 ";
  wide += "]";
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  lexer_scan(&r, bytes(deep), int32_t(deep.size()), false, true, true, false, nullptr, nullptr,
             nullptr, nullptr);
  EXPECT_GE(lexer::stack_capacity(), 3000);
  lexer_scan(&r, bytes(wide), int32_t(wide.size()), false, true, true, false, nullptr, nullptr,
             nullptr, nullptr);
  Cell inner = *at(&r, 0);
  EXPECT_EQ(memory::units(memory::node_buffer(inner.w2)), 5000u);
}

TEST_F(LexerTest, BinarySourceScannedInPlaceSurvivesCollections) {
  Cell& bin = keep(Cell{T_NONE, 0, 0, 0});
  std::string text = "a \"bc\" [d e/f] %g 12";
  Node n = memory::series_new_bytes(uint32_t(text.size()));
  SeriesBuffer* b = memory::node_buffer(n);
  std::memcpy(memory::data(b), text.data(), text.size());
  memory::set_tail(b, memory::data(b) + text.size());
  bin = Cell{T_BINARY, 0, n, 0};
  Cell& r = keep(Cell{T_NONE, 0, 0, 0});
  int32_t consumed = 0;
  lexer_scan(&r, nullptr, int32_t(text.size()), false, true, true, false, &consumed, nullptr,
             &bin, nullptr);
  EXPECT_EQ(mold(&r), "[a \"bc\" [d e/f] %g 12]");
  EXPECT_EQ(consumed, int32_t(text.size()));
}

TEST_F(LexerTest, ByteFuzzerNeverCrashesOrLeavesAState) {
  std::mt19937 rng(12345);
  const char alphabet[] = "[](){}\"#'%:/;,.$@<>^+-xXeEhT0123456789ab \n\t\xC3\xA9\xF8\x80";
  int iterations = gc::stress_period() ? 150 : 3000;
  for (int i = 0; i < iterations; ++i) {
    std::string text;
    size_t n = rng() % 24;
    for (size_t k = 0; k < n; ++k)
      text += (rng() % 8 == 0) ? char(rng() % 256) : alphabet[rng() % (sizeof alphabet - 1)];
    Cell& r = keep(Cell{T_NONE, 0, 0, 0});
    for (int mode = 0; mode < 3; ++mode) {
      raised([&] {
        lexer_scan(&r, bytes(text), int32_t(text.size()), mode == 2, mode != 0, mode != 1,
                   false, nullptr, nullptr, nullptr, nullptr);
      });
      ASSERT_EQ(lexer::chain_head(), nullptr) << text;
    }
    Recorder rec;
    events_of(this, text, lexer::ev::ALL, rec);
    ASSERT_EQ(lexer::chain_head(), nullptr) << text;
    kept_end = kept;  // the results are not needed any more
  }
}

}  // namespace
}  // namespace kel::test
