// Test fixture for symbols, contexts and words: a fresh heap with stacks, the symbol hash,
// the global context, the word-family registrations and the start-up interning.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "memory_fixture.h"
#include "runtime/context.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/word_startup.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/lexer_first.h"
#include "runtime/init.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::test {

class WordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_heap();
    stack::init(1, 2, 3);
    context::make_global();  // start-up order: global context, then the symbol hash
    symbol::create_hash();
    datatype::alloc_tables();
    for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
    datatype::intern_type_words();
    runtime::intern_runtime_words();
    runtime::make_runtime_refinements();
    kept_end = kept;
    kept_range.emplace(&kept_begin, &kept_end);
  }
  void TearDown() override {
    kept_range.reset();
    // The error record outlives the heap: its cells must not name released nodes.
    error::Pending& p = error::pending();
    for (Cell& c : p.args) cell::set_none(&c);
    cell::set_none(&p.where);
    cell::set_none(&p.stack);
    std::memset(runtime::runtime_word_ids, 0, sizeof runtime::runtime_word_ids);
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
    hash::symbol_table = 0;
    context::global = 0;
  }

  // Test values that hold nodes are kept here: roots, rewritten when nodes move.
  Cell kept[256];
  Cell* kept_begin = kept;
  Cell* kept_end = kept;
  std::optional<gc::RootRange> kept_range;
  Cell& keep(const Cell& c) {
    *kept_end = c;
    return *kept_end++;
  }

  static int32_t sym(const char* text) { return symbol::intern_c_text(text); }
  // A global word (canonical lookup, keep-case), as the lexer makes them.
  static Cell global_word(const char* text) { return word::intern_global(text); }
  static Cell typed(Cell w, uint32_t t) {
    cell::set_type(&w, t);
    return w;
  }

  // A block of the given cells, kept in a stack cell (stacks never move).
  static Cell* block_of(const std::vector<Cell>& items) {
    Cell b{T_BLOCK, 0, memory::series_new_cells(uint32_t(items.size()) + 1), 0};
    Cell* kept = stack::push_copy(&b);
    for (const Cell& c : items) *runtime::series_append_cell_node(kept->w2) = c;
    return kept;
  }
  static Cell* at(const Cell* block, uint32_t i) { return memory::head_cells(memory::node_buffer(block->w2)) + i; }

  // Text of a string cell as UTF-8.
  static std::string text_of(const Cell* s) {
    Cell c = *s;
    c.w3 = 0;
    gc::Root keep(&c);
    int32_t n = -1;
    const uint8_t* p = unicode::string_as_utf8(&c, &n);
    return std::string(reinterpret_cast<const char*>(p), size_t(n));
  }

  // Through the type's own slots, as the dispatcher calls them.
  static std::string molded(const Cell& v, int32_t* left = nullptr) {
    Cell val = v, buf{};
    gc::Root kv(&val), kb(&buf);
    string::init_cell(&buf, 16);
    auto f = datatype::slot<datatype::action::MOLD>(cell::type(&val));
    int32_t r = f(&val, &buf, false, false, false, nullptr, 1000, 0);
    if (left) *left = r;
    return text_of(&buf);
  }
  static std::string formed(const Cell& v) {
    Cell val = v, buf{};
    gc::Root kv(&val), kb(&buf);
    string::init_cell(&buf, 16);
    auto f = datatype::slot<datatype::action::FORM>(cell::type(&val));
    f(&val, &buf, nullptr, 1000);
    return text_of(&buf);
  }
  static int32_t compared(const Cell& a, const Cell& b, int32_t op) {
    auto f = datatype::slot<datatype::action::COMPARE>(cell::type(&a));
    return f(&a, &b, op);
  }
  // make/to through the target type's slot.
  static Cell made(uint32_t type, const Cell& spec) {
    Cell proto{T_DATATYPE, type, 0, 0}, s = spec;
    gc::Root kp(&proto), ks(&s);
    auto f = datatype::slot<datatype::action::TO>(type);
    return *f(&proto, &s, type);
  }
  static Cell* value_of(const Cell& w) {
    Cell c = w;
    return word::value_slot(&c);
  }
  static void set_value(const Cell& w, const Cell& v) {
    Cell c = w;
    word::assign_value(&c, &v);
  }
};

// Runs f under a try frame (errors need one once the stacks exist) and answers whether it
// raised the error at pos; the stacks are put back as they were.
template <class F>
bool raises(F f, ErrorPos pos) {
  stack::State& st = stack::state();
  stack::Frame* frames = st.frames_top;
  Cell* top = st.top;
  Cell* base = st.base;
  Cell w{T_WORD, 0, 1, context::NO_INDEX};
  stack::push_native_frame(&w);
  stack::push_try_frame(&w);
  bool raised = false;
  try {
    f();
  } catch (const Unwind& u) {
    raised = u.code == unwind_code::ERROR;
  }
  st.frames_top = frames;
  st.top = top;
  st.base = base;
  return raised && error::pending().category == pos.category && error::pending().id == pos.id;
}
#undef EXPECT_RAISES
#define EXPECT_RAISES(stmt, pos) EXPECT_TRUE(::kel::test::raises([&] { stmt; }, (pos))) << #stmt

inline Cell integer(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
inline Cell unset() { return Cell{T_UNSET, 0, 0, 0}; }

}  // namespace kel::test
