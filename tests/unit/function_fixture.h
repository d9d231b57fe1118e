// Test fixture for function-like values and paths: a fresh runtime with symbols, the global
// context, the registered rows these units need, a small reader of Kel text and mold/form.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "memory_fixture.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/init.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::test {

// Expects an error raised by position under a try record; the stacks are put back after.
struct StackRestore {
  stack::State& st = stack::state();
  Cell* base = st.base;
  Cell* top = st.top;
  stack::Frame* frames = st.frames_top;
  ~StackRestore() {
    st.base = base;
    st.top = top;
    st.frames_top = frames;
  }
};
#define EXPECT_ERROR(stmt, pos)            \
  do {                                     \
    ::kel::test::StackRestore restore_;    \
    ::kel::stack::push_try_frame(nullptr); \
    EXPECT_RAISES(stmt, pos);              \
  } while (0)

class FunctionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_heap();
    cycle::init();
    symbol::list = 0;
    symbol::create_hash();
    context::make_global();
    stack::init(uint32_t(symbol::intern_c_text("<body>")), uint32_t(symbol::intern_c_text("<anon>")),
                uint32_t(symbol::intern_c_text("<not-found>")));
    datatype::alloc_tables();
    for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
    datatype::intern_type_words();
    // The type words name their datatypes, as the boot image binds them.
    for (uint32_t id = 1; id < T_TYPE_COUNT; ++id) {
      const char* name = datatype::type_table[id].name;
      if (!name) continue;
      Cell w = word::intern_global(name);
      Cell v = datatype::value_of(id);
      context::assign(&w, &v, context::global, false);
    }
  }
  void TearDown() override {
    cycle::init();
    error::Pending& e = error::pending();
    for (Cell& c : e.args) cell::set_none(&c);
    cell::set_none(&e.where);
    cell::set_none(&e.stack);
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
  }

  // ---- Reader: integers, strings, blocks, parens, words, set-words (a:), get-words (:a),
  // lit-words ('a), refinements (/a) and paths (a/b, 'a/b, :a/b, a/b:) of words; words are
  // global words.
  Cell word_cell(const std::string& name, uint32_t type) {
    Cell w = word::intern_global(name.c_str());
    w.header = type;
    return w;
  }
  Cell atom(const std::string& tok) {
    if (tok.find('/') != std::string::npos && tok[0] != '/') {
      std::string t = tok;
      uint32_t type = T_PATH;
      if (t[0] == '\'') type = T_LIT_PATH, t = t.substr(1);
      else if (t[0] == ':') type = T_GET_PATH, t = t.substr(1);
      else if (t.back() == ':') type = T_SET_PATH, t.pop_back();
      Cell* p = block::push_empty(4);
      size_t start = 0;
      while (start <= t.size()) {
        size_t end = t.find('/', start);
        if (end == std::string::npos) end = t.size();
        Cell w = atom(t.substr(start, end - start));
        block::append_copy(p, &w);
        start = end + 1;
      }
      Cell out = *p;
      out.header = type;
      stack::drop_cells(1);
      return out;
    }
    char c = tok[0];
    if ((c >= '0' && c <= '9') || (c == '-' && tok.size() > 1)) {
      Cell v;
      cell::set_integer(&v, int32_t(std::stol(tok)));
      return v;
    }
    if (c == '\'') return word_cell(tok.substr(1), T_LIT_WORD);
    if (c == ':') return word_cell(tok.substr(1), T_GET_WORD);
    if (c == '/') return word_cell(tok.substr(1), T_REFINEMENT);
    if (tok.back() == ':') return word_cell(tok.substr(0, tok.size() - 1), T_SET_WORD);
    return word_cell(tok, T_WORD);
  }
  void read_into(Cell* block, const char*& p, char close) {
    while (*p) {
      char c = *p;
      if (c == ' ' || c == '\n' || c == '\t') { ++p; continue; }
      if (c == close) { ++p; return; }
      Cell* v = stack::reserve_cell();
      cell::set_none(v);
      if (c == '[' || c == '(') {
        ++p;
        Cell* inner = block::push_empty(4);
        read_into(inner, p, c == '[' ? ']' : ')');
        if (c == '(') cell::set_type(inner, T_PAREN);
        *v = *inner;
        stack::drop_cells(1);
      } else if (c == '"') {
        ++p;
        string::init_cell(v, 8);
        while (*p && *p != '"') string::add_codepoint(v, *p++);
        if (*p) ++p;
      } else {
        std::string tok;
        while (*p && !std::strchr(" \t\n[]()\"", *p)) tok += *p++;
        *v = atom(tok);
      }
      block::append_copy(block, v);
      stack::drop_cells(1);
    }
  }
  // The values of text as a new block pushed on the argument stack.
  Cell* load(const char* text) {
    Cell* b = block::push_empty(4);
    const char* p = text;
    read_into(b, p, 0);
    return b;
  }
  // The first value of text, pushed.
  Cell* value(const char* text) {
    Cell* b = load(text);
    *b = *block::cell_at_index(b, 0);
    return b;
  }

  // ---- Printing through the action table.
  static std::string text_of(const Cell* s) {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    uint32_t u = memory::unit(b);
    std::string out;
    for (uint8_t* p = memory::head(b) + s->w1 * u; p < memory::tail(b); p += u) {
      int32_t c = unicode::load_unit(p, u);
      uint8_t buf[4];
      int32_t n = unicode::encode_utf8_char(c, buf);
      out.append(reinterpret_cast<char*>(buf), size_t(n));
    }
    return out;
  }
  std::string mold(const Cell* v) {
    uint32_t top = stack::index_of(stack::state().top);
    Cell* c = stack::push_copy(v);
    std::string out = text_of(actions::mold(c, false, false, false, nullptr));
    stack::state().top = stack::at_index(top);
    return out;
  }
  std::string form(const Cell* v) {
    uint32_t top = stack::index_of(stack::state().top);
    Cell* c = stack::push_copy(v);
    std::string out = text_of(actions::form(c, nullptr));
    stack::state().top = stack::at_index(top);
    return out;
  }

  // ---- Makers as the natives call them.
  // func spec body: check-spec, then build with no context and no code.
  Cell* func(const Cell* spec, const Cell* body) {
    uint32_t flags = function::check_spec(spec);
    function::build(spec, body, 0, 0, 0, flags);
    return stack::last_pushed();
  }
  Cell* func(const char* spec, const char* body) {
    Cell* s = load(spec);
    load(body);
    Cell* f = func(s, s + 1);
    *s = *f;
    stack::state().top = s + 1;
    return s;
  }
  // function spec body: the spec copied, its locals collected, then func.
  Cell* function_(const char* spec, const char* body) {
    Cell* s = load(spec);
    Cell* b = load(body);
    Cell* copy = block::clone(s, false, false);
    function::collect_locals(copy, b);
    Cell* f = func(copy, b);
    *s = *f;
    stack::state().top = s + 1;
    return s;
  }
  Cell* make(uint32_t type, const Cell* spec) {
    Cell proto = datatype::value_of(type);
    Cell* p = stack::push_copy(&proto);
    Cell* s = stack::push_copy(spec);
    auto fn = datatype::slot<datatype::action::MAKE>(type);
    Cell* r = fn(p, s, type);
    *p = *r;
    stack::state().top = p + 1;
    return p;
  }
  Cell* to(uint32_t type, const Cell* spec) {
    Cell proto = datatype::value_of(type);
    Cell* p = stack::push_copy(&proto);
    Cell* s = stack::push_copy(spec);
    auto fn = datatype::slot<datatype::action::TO>(type);
    Cell* r = fn(p, s, type);
    *p = *r;
    stack::state().top = p + 1;
    return p;
  }
  Cell* reflect(const Cell* v, const char* field) {
    Cell* c = stack::push_copy(v);
    Cell* r = actions::resolve<datatype::action::REFLECT>(c)(c, symbol::intern_c_text(field));
    *c = *r;
    stack::state().top = c + 1;
    return c;
  }
  int32_t compare(const Cell* a, const Cell* b, int32_t op = 0) {
    return actions::direct_compare(a, b, op);
  }
  int32_t symbol_of(const char* name) { return symbol::intern_c_text(name); }
};

}  // namespace kel::test
