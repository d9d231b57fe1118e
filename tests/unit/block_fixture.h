// Test fixture for blocks and series: a fresh heap and stacks, the series!, block! and
// paren! rows, small stand-in rows for the scalar types, a tiny reader and mold to UTF-8.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "memory_fixture.h"
#include "runtime/cycle.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_mold.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/word_startup.h"
#include "runtime/init.h"
#include "runtime/evaluator/actions.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/series.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::test {

inline uint32_t symbol_of(const char* name) { return uint32_t(symbol::intern_c_text(name)); }

inline void utf8_append(std::string& out, int32_t c) {
  uint8_t b[4];
  int32_t n = unicode::encode_utf8_char(c, b);
  out.append(reinterpret_cast<char*>(b), size_t(n));
}

inline std::string text_of(const Cell* s) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint32_t u = memory::unit(b);
  std::string out;
  for (uint8_t* p = memory::head(b) + s->w1 * u; p < memory::tail(b); p += u)
    utf8_append(out, unicode::load_unit(p, u));
  return out;
}

// Expects an error raised by position, under a try record; the stacks are put back after.
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
#define EXPECT_ERROR(stmt, pos)                 \
  do {                                          \
    ::kel::test::StackRestore restore_;         \
    ::kel::stack::push_try_frame(nullptr);      \
    EXPECT_RAISES(stmt, pos);                   \
  } while (0)

// Refinements of mold and form; part -1 = no /part.
struct Opts {
  bool only = false, all = false, flat = false;
  int32_t part = -1;
};

class BlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Start-up order: global context, symbol hash, every datatype, then the words.
    fresh_heap();
    stack::init(1, 2, 3);
    cycle::init();
    context::make_global();
    symbol::create_hash();
    datatype::alloc_tables();
    for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
    datatype::intern_type_words();
    runtime::intern_runtime_words();
    runtime::make_runtime_refinements();
  }
  void TearDown() override {
    cycle::init();
    *block::fixed_cell() = Cell{T_NONE, 0, 0, 0};
    // The pending error keeps its argument cells; their nodes die with this heap.
    error::Pending& e = error::pending();
    for (Cell& c : e.args) cell::set_none(&c);
    cell::set_none(&e.where);
    cell::set_none(&e.stack);
    std::memset(runtime::runtime_word_ids, 0, sizeof runtime::runtime_word_ids);
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
    hash::symbol_table = 0;
    context::global = 0;
  }

  // ---- Reader: integers, blocks, parens, strings ("^/" for LF), chars (#"x"), words,
  // set-words (a:), none, true/false. A value that starts a line gets the new-line mark.
  void read_into(Cell* block, const char*& p, char close) {
    bool line = false;
    while (*p) {
      char c = *p;
      if (c == '\n') { line = true; ++p; continue; }
      if (c == ' ' || c == '\t') { ++p; continue; }
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
        cell::set_none(v);  // a reserved cell holds stale bits until written
        string::init_cell(v, 8);
        const uint8_t* q = reinterpret_cast<const uint8_t*>(p);
        while (*q && *q != '"') {
          int32_t cp;
          if (q[0] == '^' && q[1] == '/') { cp = '\n'; q += 2; }
          else q = unicode::read_utf8_char(q, q + 4, &cp);
          string::add_codepoint(v, cp);
        }
        p = reinterpret_cast<const char*>(q) + 1;
      } else if (c == '#' && p[1] == '"') {
        const uint8_t* q = reinterpret_cast<const uint8_t*>(p + 2);
        int32_t cp;
        q = unicode::read_utf8_char(q, q + 4, &cp);
        *v = Cell{T_CHAR, 0, uint32_t(cp), 0};
        p = reinterpret_cast<const char*>(q) + 1;
      } else if ((c >= '0' && c <= '9') || (c == '-' && p[1] >= '0' && p[1] <= '9')) {
        cell::set_integer(v, int32_t(std::strtol(p, const_cast<char**>(&p), 10)));
      } else {
        std::string name;
        while (*p && !std::strchr(" \t\n[]()\"", *p)) name += *p++;
        if (name == "none") cell::set_none(v);
        else if (name == "true" || name == "false") *v = Cell{T_LOGIC, name == "true" ? 1u : 0u, 0, 0};
        else if (name.back() == ':') *v = word::intern_global_as(name.substr(0, name.size() - 1).c_str(), T_SET_WORD);
        else *v = word::intern_global(name.c_str());
      }
      if (line) v->header |= hdr::NEW_LINE;
      line = false;
      block::append_copy(block, v);
      stack::drop_cells(1);
    }
  }
  // The contents of text as a new block on the argument stack ("1 2" or "[1 2]" alike:
  // one outer pair of brackets is taken as the block itself).
  Cell* load(const char* text) {
    Cell* b = block::push_empty(4);
    const char* p = text;
    while (*p == ' ') ++p;
    if (*p == '[') {
      ++p;
      read_into(b, p, ']');
    } else {
      read_into(b, p, 0);
    }
    return b;
  }
  Cell* push(const Cell& v) { return stack::push_copy(&v); }
  Cell* push_string(const char* text) {
    Cell* b = load((std::string("\"") + text + "\"").c_str());
    Cell s = *block::head_cell(b);
    *b = s;
    return b;
  }

  // ---- Mold and form to UTF-8, as the dispatcher does: budget max or the /part limit,
  // then the buffer cut to the limit.
  std::string mold(const Cell* v, Opts o = {}) { return print(v, o, true); }
  std::string form(const Cell* v, Opts o = {}) { return print(v, o, false); }
  std::string print(const Cell* v, Opts o, bool molding) {
    Cell* value = stack::push_copy(v);
    Cell count;
    cell::set_integer(&count, o.part);
    Cell* part = o.part >= 0 ? stack::push_copy(&count) : nullptr;
    Cell* buffer = stack::reserve_cell();
    cell::set_none(buffer);  // a reserved cell holds stale bits until written
    string::init_cell(buffer, 16);
    int32_t budget = o.part >= 0 ? o.part : INT32_MAX;
    if (molding) actions::direct_mold(value, buffer, o.only, o.all, o.flat, part, budget, 0);
    else actions::direct_form(value, buffer, part, budget);
    std::string out = text_of(buffer);
    last_units_ = int32_t(memory::units(memory::node_buffer(buffer->w2)));
    stack::drop_cells(part ? 3 : 2);
    if (o.part > 0) {
      // cut to part characters
      std::string cut;
      const uint8_t* p = reinterpret_cast<const uint8_t*>(out.data());
      const uint8_t* end = p + out.size();
      for (int32_t i = 0; i < o.part && p < end; ++i) {
        int32_t c;
        p = unicode::read_utf8_char(p, end, &c);
        utf8_append(cut, c);
      }
      return cut;
    }
    return out;
  }
  int32_t last_units_ = 0;  // characters the last print appended before the cut

  // ---- Calls through the action table.
  template <uint32_t K>
  datatype::SlotFn<K> fn(const Cell* v) {
    return actions::resolve<K>(v);
  }
  // A frame-only action on a frame of the series and an optional argument; the frame's
  // result cell is returned and the stack is put back, also when the action raises.
  Cell call_frame(uint32_t id, const Cell* s, const Cell* a1 = nullptr) {
    struct Restore {
      stack::State& st = stack::state();
      Cell* base = st.base;
      Cell* top = st.top;
      ~Restore() { st.base = base; st.top = top; }
    } restore;
    auto f = reinterpret_cast<datatype::FrameFn>(actions::resolve_for_cell(s, id));
    restore.st.base = restore.st.top;
    stack::push_copy(s);
    if (a1) stack::push_copy(a1);
    f();
    return *restore.st.base;
  }
  Cell integer(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
  // The molded text of a single value (pick results and the like).
  std::string text(const Cell* v) { return mold(v); }
};

}  // namespace kel::test
