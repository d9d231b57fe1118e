// Shared helpers of the string tests: a fixture with heap, stacks and case tables, string
// cells built from codepoints, and reading a string's characters and unit back.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/casemap.h"
#include "runtime/cell_api.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "tests/unit/memory_fixture.h"

namespace kel::test {

using stack::Frame;

class StringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_pending();
    fresh_heap();
    stack::init(1, 2, 3);
  }
  void TearDown() override {
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
    clear_pending();
  }
  // The pending error's cells name nodes of this test's heap only.
  static void clear_pending() {
    error::Pending& e = error::pending();
    for (Cell& c : e.args) cell::set_none(&c);
    cell::set_none(&e.where);
    cell::set_none(&e.stack);
  }

  // A string of the given unit holding the codepoints (caller roots the cell).
  static Cell make(const std::u32string& text, uint32_t unit = 1) {
    Cell s;
    string::init_cell_sized(&s, int32_t(text.size()), unit);
    SeriesBuffer* b = memory::node_buffer(s.w2);
    for (size_t i = 0; i < text.size(); ++i)
      unicode::store_unit(memory::head(b) + i * unit, unit, int32_t(text[i]));
    b->tail = b->head + uint32_t(text.size() * unit);
    return s;
  }
  static Cell make(const char* latin1) {
    std::u32string t;
    for (const char* p = latin1; *p; ++p) t.push_back(uint8_t(*p));
    return make(t, 1);
  }
  // Every character from the buffer start.
  static std::u32string all(const Cell& s) {
    SeriesBuffer* b = memory::node_buffer(s.w2);
    std::u32string out;
    uint32_t u = memory::unit(b);
    for (uint32_t i = 0; i < memory::units(b); ++i)
      out.push_back(char32_t(unicode::load_unit(memory::head(b) + i * u, u)));
    return out;
  }
  static std::string ascii(const Cell& s) {
    std::string out;
    for (char32_t c : all(s)) out.push_back(c < 128 ? char(c) : '?');
    return out;
  }
  static uint32_t unit(const Cell& s) { return memory::unit(memory::node_buffer(s.w2)); }

  // Runs f under a try record; true when it raised the error at pos. The stacks are put
  // back as they were.
  template <class F>
  static bool raises(ErrorPos pos, F f) {
    stack::State& st = stack::state();
    Cell* top = st.top;
    Frame* frames = st.frames_top;
    Cell w{T_WORD, 0, 10, 0xFFFFFFFF};
    stack::push_native_frame(&w);
    stack::push_try_frame(&w);
    bool raised = false;
    try {
      f();
    } catch (const Unwind& u) {
      raised = u.code == unwind_code::ERROR;
    }
    st.top = top;
    stack::set_frame_top(frames);
    const error::Pending& e = error::pending();
    return raised && e.category == pos.category && e.id == pos.id;
  }
};

}  // namespace kel::test
