// Shared fixture of the url!, file! and bitset! tests: the words fixture with every
// registered type, plus text, block and frame helpers for calling slots directly.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/casemap.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "tests/unit/words_fixture.h"

namespace kel::test {

namespace act = datatype::action;

class ValuesTest : public WordsTest {
 protected:
  void SetUp() override {
    WordsTest::SetUp();
  }

  // A new stack value of the type holding the UTF-8 text.
  static Cell* text(const char* utf8, uint32_t type = T_STRING) {
    Cell* s = string::load_encoded(reinterpret_cast<const uint8_t*>(utf8),
                                   int32_t(std::strlen(utf8)), nullptr, 0);
    cell::set_type(s, type);
    return s;
  }
  static Cell ch(int32_t c) { return Cell{T_CHAR, 0, uint32_t(c), 0}; }
  static Cell flt(double d) {
    Cell c{T_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
  }
  // Values that hold nodes live on the argument stack (a root the collector updates) from
  // the moment they are made: a cell held elsewhere goes stale when nodes move.
  static Cell* word(const char* t) {
    Cell w = global_word(t);
    return stack::push_copy(&w);
  }
  static Cell* val(const Cell& c) { return stack::push_copy(&c); }
  // A block of the values, each copied in after the block has room for it.
  static Cell* blk(std::initializer_list<Cell*> items) {
    Cell b{T_BLOCK, 0, memory::series_new_cells(uint32_t(items.size()) + 1), 0};
    Cell* kept = stack::push_copy(&b);
    for (Cell* c : items) {
      Cell* slot = runtime::series_append_cell_node(kept->w2);
      *slot = *c;
    }
    return kept;
  }
  static Cell none() { return Cell{T_NONE, 0, 0, 0}; }
  static bool truth(const Cell* c) {
    return !(cell::type(c) == T_NONE || (cell::type(c) == T_LOGIC && c->w1 == 0));
  }

  // mold with /part: the text and the budget left.
  static std::string molded_part(const Cell& v, int32_t budget, int32_t* left) {
    Cell val = v, buf{}, part = integer(budget);
    gc::Root kv(&val), kb(&buf);
    string::init_cell(&buf, 16);
    auto f = datatype::slot<act::MOLD>(cell::type(&val));
    *left = f(&val, &buf, false, false, false, &part, budget, 0);
    return text_of(&buf);
  }
  static Cell made_by(uint32_t action, uint32_t type, const Cell& spec) {
    Cell proto{T_DATATYPE, type, 0, 0}, s = spec;
    gc::Root kp(&proto), ks(&s);
    auto f = action == act::MAKE ? datatype::slot<act::MAKE>(type) : datatype::slot<act::TO>(type);
    return *f(&proto, &s, type);
  }

  // Opens a native frame whose argument cells are the given values; the base is returned.
  static Cell* frame(const std::vector<Cell>& args) {
    Cell w{T_WORD, 0, 1, context::NO_INDEX};
    stack::push_native_frame(&w);
    Cell* base = stack::state().base;
    for (const Cell& a : args) stack::push_copy(&a);
    return base;
  }
};

}  // namespace kel::test
