// Test fixture for blocks and series: a fresh heap and stacks, the series!, block! and
// paren! rows, small stand-in rows for the scalar types, a tiny reader and mold to UTF-8.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "memory_fixture.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_interim.h"
#include "runtime/datatypes/block_mold.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/series.h"
#include "runtime/owner_stub.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::test {

// Spellings of the words the reader makes; a word's symbol id is its position + 1.
inline std::vector<std::string>& spellings() {
  static std::vector<std::string> s;
  return s;
}
inline uint32_t symbol_of(const std::string& name) {
  auto& s = spellings();
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == name) return uint32_t(i + 1);
  s.push_back(name);
  return uint32_t(s.size());
}

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

// Stand-in rows: integer!, char!, string!, none!, logic! and the word family print
// themselves simply so block walks can be checked.
inline int32_t put_text(Cell* buffer, const std::string& t, int32_t budget) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(t.data());
  const uint8_t* end = p + t.size();
  int32_t n = 0;
  while (p < end) {
    int32_t c;
    p = unicode::read_utf8_char(p, end, &c);
    string::add_codepoint(buffer, c);
    ++n;
  }
  return budget - n;
}
inline std::string scalar_text(const Cell* v, bool mold) {
  switch (cell::type(v)) {
    case T_INTEGER: return std::to_string(cell::get_int(v));
    case T_NONE: return "none";
    case T_LOGIC: return v->w1 ? "true" : "false";
    case T_CHAR: {
      std::string s = mold ? "#\"" : "";
      utf8_append(s, int32_t(v->w1));
      return mold ? s + "\"" : s;
    }
    case T_STRING: {
      std::string t = text_of(v);
      if (!mold) return t;
      std::string s = "\"";
      for (char c : t) s += c == '\n' ? std::string("^/") : std::string(1, c);
      return s + "\"";
    }
    case T_DATATYPE: return std::string(datatype::type_name(v->w1));
    default: return spellings().at(v->w2 - 1);
  }
}
inline int32_t stub_form(Cell* v, Cell* buffer, int32_t, int32_t budget) {
  return put_text(buffer, scalar_text(v, false), budget);
}
inline int32_t stub_mold(Cell* v, Cell* buffer, bool, bool, bool, int32_t, int32_t budget, int32_t) {
  return put_text(buffer, scalar_text(v, true), budget);
}

inline void install_rows() {
  datatype::reset_tables();
  auto scalar = [](uint32_t id, uint32_t parent, const char* name) {
    datatype::Registration r{id, parent, name, {}};
    if (parent)
      for (auto& s : r.slots) s = datatype::inherit();
    r.slots[4] = reinterpret_cast<datatype::Slot>(&stub_form);
    r.slots[5] = reinterpret_cast<datatype::Slot>(&stub_mold);
    datatype::register_type(r);
  };
  for (uint32_t t : {T_DATATYPE, T_NONE, T_LOGIC, T_INTEGER, T_CHAR, T_WORD, T_SET_WORD,
                     T_LIT_WORD, T_GET_WORD})
    scalar(t, 0, "stand-in!");
  series::install_type();
  block::install_type();
  paren::install_type();
  scalar(T_STRING, T_SERIES, "string!");
  scalar(T_BINARY, T_SERIES, "binary!");
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
    fresh_heap();
    stack::init(symbol_of("<body>"), symbol_of("<anon>"), symbol_of("<not-found>"));
    cycle::init();
    install_rows();
    using runtime::WordKind;
    runtime::runtime_word_ids[runtime::runtime_word_index("owned", WordKind::SYMBOL)] = symbol_of("owned");
    runtime::runtime_word_ids[runtime::runtime_word_index("part", WordKind::REFINEMENT)] = symbol_of("part");
    runtime::runtime_word_ids[runtime::runtime_word_index("skip", WordKind::REFINEMENT)] = symbol_of("skip");
  }
  void TearDown() override {
    cycle::init();
    *block::fixed_cell() = Cell{T_NONE, 0, 0, 0};
    // The pending error keeps its argument cells; their nodes die with this heap.
    error::Pending& e = error::pending();
    for (Cell& c : e.args) cell::set_none(&c);
    cell::set_none(&e.where);
    cell::set_none(&e.stack);
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
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
        *v = Cell{T_CHAR, uint32_t(cp), 0, 0};
        p = reinterpret_cast<const char*>(q) + 1;
      } else if ((c >= '0' && c <= '9') || (c == '-' && p[1] >= '0' && p[1] <= '9')) {
        cell::set_integer(v, int32_t(std::strtol(p, const_cast<char**>(&p), 10)));
      } else {
        std::string name;
        while (*p && !std::strchr(" \t\n[]()\"", *p)) name += *p++;
        if (name == "none") cell::set_none(v);
        else if (name == "true" || name == "false") *v = Cell{T_LOGIC, name == "true" ? 1u : 0u, 0, 0};
        else if (name.back() == ':') *v = Cell{T_SET_WORD, 0, symbol_of(name.substr(0, name.size() - 1)), 0};
        else *v = Cell{T_WORD, 0, symbol_of(name), 0};
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
    Cell* buffer = stack::reserve_cell();
    string::init_cell(buffer, 16);
    int32_t budget = o.part > 0 ? o.part : INT32_MAX;
    if (molding) actions::direct_mold(value, buffer, o.only, o.all, o.flat, o.part, budget, 0);
    else actions::direct_form(value, buffer, o.part, budget);
    std::string out = text_of(buffer);
    last_units_ = int32_t(memory::units(memory::node_buffer(buffer->w2)));
    stack::drop_cells(2);
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
  template <class F>
  F fn(const Cell* v, uint32_t id) {
    return reinterpret_cast<F>(actions::resolve_for_cell(v, id));
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
    auto f = fn<void (*)()>(s, id);
    restore.st.base = restore.st.top;
    stack::push_copy(s);
    if (a1) stack::push_copy(a1);
    f();
    return *restore.st.base;
  }
  Cell integer(int32_t v) { return Cell{T_INTEGER, uint32_t(v), 0, 0}; }
};

}  // namespace kel::test
