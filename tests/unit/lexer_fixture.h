// Test fixture for the lexer: a runtime with symbols, the global context and the lexer
// tables; loading text and writing the values back as Kel text (a test-side molder until
// every datatype's mold exists).
#pragma once
#include <cmath>
#include <functional>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/dtoa.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/transcode.h"
#include "words_fixture.h"

namespace kel::test {

class LexerTest : public WordsTest {
 public:
  using WordsTest::keep;
  using WordsTest::kept;
  using WordsTest::kept_end;

 protected:
  void SetUp() override {
    WordsTest::SetUp();
    lexer::init();
  }
  void TearDown() override {
    lexer::shutdown();
    WordsTest::TearDown();
  }


 public:
  static std::string type_name(uint32_t id) {
    static const char* const names[] = {
        "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!",
        "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!",
        "lit-word!", "get-word!", "refinement!", "issue!", "native!", "action!", "op!",
        "function!", "path!", "lit-path!", "set-path!", "get-path!", "routine!", "bitset!",
        "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!",
        "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!", "date!",
        "port!", "money!", "ref!", "point2D!", "point3D!", "image!", "event!"};
    return id >= 1 && id <= 54 ? names[id - 1] : "?";
  }

  static std::vector<int32_t> chars_of(const Cell* s) {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    uint32_t unit = memory::unit(b);
    std::vector<int32_t> out;
    const uint8_t* p = memory::data(b) + b->head + size_t(s->w1) * unit;
    for (; p < memory::tail(b); p += unit) out.push_back(string::read_codepoint(p, unit));
    return out;
  }

  static std::string utf8(int32_t c) {
    std::string out;
    uint32_t u = uint32_t(c);
    if (u < 0x80) out += char(u);
    else if (u < 0x800) out += char(0xC0 | (u >> 6)), out += char(0x80 | (u & 0x3F));
    else if (u < 0x10000)
      out += char(0xE0 | (u >> 12)), out += char(0x80 | ((u >> 6) & 0x3F)),
          out += char(0x80 | (u & 0x3F));
    else
      out += char(0xF0 | (u >> 18)), out += char(0x80 | ((u >> 12) & 0x3F)),
          out += char(0x80 | ((u >> 6) & 0x3F)), out += char(0x80 | (u & 0x3F));
    return out;
  }

  static std::string escaped(int32_t c, bool in_char) {
    switch (c) {
      case '\n': return "^/";
      case '\t': return "^-";
      case '^': return "^^";
      case '"': return "^\"";
      case 0x7F: return "^~";
      default: break;
    }
    (void)in_char;
    if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "^(%02X)", c);
      return buf;
    }
    return utf8(c);
  }

  // Kel text of a value, as mold writes it for the types the lexer makes.
  static std::string mold(const Cell* v) {
    uint32_t t = cell::type(v);
    // The datatype's own mold where it exists; blocks and parens are walked here and written
    // flat (the new-line flags are checked on their own).
    if (t != T_BLOCK && t != T_PAREN && datatype::slot<datatype::action::MOLD>(t))
      return molded(*v);
    switch (t) {
      case T_INTEGER: return std::to_string(cell::get_int(v));
      case T_FLOAT: {
        double d = cell::get_double(v);
        if (std::isnan(d)) return "1.#NaN";
        if (std::isinf(d)) return d > 0 ? "1.#INF" : "-1.#INF";
        return dtoa::float_to_text(d, 0, true);
      }
      case T_CHAR: return "#\"" + escaped(int32_t(v->w2), true) + "\"";
      case T_LOGIC: return v->w1 ? "true" : "false";
      case T_NONE: return "none";
      case T_UNSET: return "unset";
      case T_DATATYPE: return type_name(v->w1);
      case T_WORD: return symbol::text(int32_t(v->w2));
      case T_SET_WORD: return symbol::text(int32_t(v->w2)) + ":";
      case T_GET_WORD: return ":" + symbol::text(int32_t(v->w2));
      case T_LIT_WORD: return "'" + symbol::text(int32_t(v->w2));
      case T_REFINEMENT: return "/" + symbol::text(int32_t(v->w2));
      case T_ISSUE: return "#" + symbol::text(int32_t(v->w2));
      case T_STRING: {
        std::string out = "\"";
        for (int32_t c : chars_of(v)) out += escaped(c, false);
        return out + "\"";
      }
      case T_FILE: {
        std::string body;
        bool quote = false;
        for (int32_t c : chars_of(v)) {
          if (c == ' ') quote = true;
          body += escaped(c, false);
        }
        return quote ? "%\"" + body + "\"" : "%" + body;
      }
      case T_URL: {
        std::string out;
        for (int32_t c : chars_of(v)) out += c == ' ' ? std::string("%20") : utf8(c);
        return out;
      }
      case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
      case T_GET_PATH: {
        Cell series = *v;
        gc::Root keep_series(&series);
        std::string out;
        bool path = t >= T_PATH;
        if (t == T_LIT_PATH) out += "'";
        if (t == T_GET_PATH) out += ":";
        if (t == T_BLOCK) out += "[";
        if (t == T_PAREN) out += "(";
        bool first = true;
        // Molding allocates: the buffer is re-read for every item.
        for (uint32_t i = 0;; ++i) {
          SeriesBuffer* b = memory::node_buffer(series.w2);
          if (memory::head_cells(b) + i >= memory::tail_cells(b)) break;
          Cell item = memory::head_cells(b)[i];
          gc::Root keep_item(&item);
          if (!first) out += path ? "/" : " ";
          first = false;
          out += mold(&item);
        }
        if (t == T_SET_PATH) out += ":";
        if (t == T_BLOCK) out += "]";
        if (t == T_PAREN) out += ")";
        return out;
      }
      default:
        return "<" + type_name(t) + ">";
    }
  }

  static std::string error_id() {
    const error::Pending& p = error::pending();
    struct { ErrorPos pos; const char* name; } ids[] = {
        {err::syntax::invalid, "syntax/invalid"}, {err::syntax::missing, "syntax/missing"},
        {err::syntax::malconstruct, "syntax/malconstruct"},
        {err::syntax::bad_char, "syntax/bad-char"}, {err::internal::not_done, "internal/not-done"}};
    for (auto& e : ids)
      if (e.pos.category == p.category && e.pos.id == p.id) return e.name;
    return "other " + std::to_string(p.category) + "/" + std::to_string(p.id);
  }

  // Runs f under a try frame; true when it raised an error (the record is in pending()).
  template <class F>
  static bool raised(F&& f) {
    Cell w = word::intern_global("try");
    // The stacks are put back as found: a popped frame leaves its result slot behind.
    stack::State saved = stack::state();
    stack::push_native_frame(&w);
    stack::push_try_frame(&w);
    bool failed = false;
    try {
      f();
    } catch (const Unwind& u) {
      if (u.code != unwind_code::ERROR) throw;
      failed = true;
    }
    stack::state().top = saved.top;
    stack::state().base = saved.base;
    stack::state().frames_top = saved.frames_top;
    return failed;
  }

  // Loads text; the molded block, or "!! category/id".
  std::string load(const std::string& text, int32_t* type = nullptr) {
    Cell& result = keep(Cell{T_NONE, 0, 0, 0});
    bool failed = raised([&] {
      int32_t t = lexer_scan(&result, reinterpret_cast<const uint8_t*>(text.data()),
                             int32_t(text.size()), false, true, true, false, nullptr, nullptr,
                             nullptr, nullptr);
      if (type) *type = t;
    });
    EXPECT_EQ(lexer::chain_head(), nullptr);
    if (failed) return "!! " + error_id();
    return mold(&result);
  }

  // Scan-only (or prescan) of text: the returned type; result gets the result cell.
  int32_t scan_type(const std::string& text, bool prescan = false, Cell* result = nullptr) {
    Cell& r = keep(Cell{T_NONE, 0, 0, 0});
    int32_t t = lexer_scan(&r, reinterpret_cast<const uint8_t*>(text.data()),
                           int32_t(text.size()), false, !prescan, false, false, nullptr,
                           nullptr, nullptr, nullptr);
    if (result) *result = r;
    return t;
  }

  // The text of the last error's arguments, formed.
  static std::string error_text() {
    const error::Pending& p = error::pending();
    std::string out;
    for (const Cell& c : p.args) {
      if (cell::type(&c) == T_NONE) continue;
      if (!out.empty()) out += " | ";
      if (cell::type(&c) == T_STRING) {
        for (int32_t ch : chars_of(&c)) out += utf8(ch);
      } else if (cell::type(&c) == T_CHAR) {
        out += utf8(int32_t(c.w2));
      } else {
        out += mold(&c);
      }
    }
    return out;
  }
};

}  // namespace kel::test
