// Test fixture for the block actions and block comparison: the block fixture's start-up,
// hash! and path rows inheriting block! until their units land, a count of integer!
// compares, and calls through the action table.
#pragma once
#include <algorithm>
#include <tuple>

#include "block_fixture.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/block_compare.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/hash.h"

namespace kel::test {

// Counts the integer! compare calls (the row's own function does the work).
inline int32_t& compare_calls() {
  static int32_t n = 0;
  return n;
}
inline datatype::CompareFn& integer_compare() {
  static datatype::CompareFn f = nullptr;
  return f;
}
inline int32_t counting_compare(const Cell* a, const Cell* b, int32_t op) {
  ++compare_calls();
  return integer_compare()(a, b, op);
}

// Refinements of find, select and sort.
struct FindArgs {
  Cell* part = nullptr;
  bool only = false, case_ = false, same = false;
  Cell* skip = nullptr;
  bool last = false, reverse = false, tail = false, match = false;
};
struct SortArgs {
  bool case_ = false;
  Cell* skip = nullptr;
  Cell* compare = nullptr;
  Cell* part = nullptr;
  bool all = false, reverse = false, stable = false;
};

class BlockActionsTest : public BlockTest {
 protected:
  void SetUp() override {
    BlockTest::SetUp();
    lexer::init();
    using datatype::inherit;
    // hash!, path! and lit-path! as their units will register them: block!'s row, inherited.
    datatype::Row all_inherited;
#define KEL_INHERIT(k, member, name) all_inherited.member = inherit;
    KEL_ACTION_SLOTS(KEL_INHERIT)
#undef KEL_INHERIT
    for (auto [id, parent, name] : {std::tuple{T_HASH, T_BLOCK, "hash!"},
                                    std::tuple{T_PATH, T_BLOCK, "path!"},
                                    std::tuple{T_LIT_PATH, T_PATH, "lit-path!"}}) {
      if (datatype::any_slot(id, datatype::action::MOLD)) continue;  // its unit has landed
      datatype::register_type({.id = id, .parent = parent, .name = name, .slots = all_inherited});
    }
    // Element compares of integers are counted.
    datatype::AnySlot& slot = datatype::action_table[T_INTEGER * datatype::ROW_SLOTS + 8];
    if (reinterpret_cast<datatype::CompareFn>(slot) != &counting_compare) {
      integer_compare() = reinterpret_cast<datatype::CompareFn>(slot);
      slot = reinterpret_cast<datatype::AnySlot>(&counting_compare);
    }
    compare_calls() = 0;
  }
  void TearDown() override {
    lexer::shutdown();
    BlockTest::TearDown();
  }

  Cell int_cell(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
  Cell type_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }
  // An unbound word (no context node), so a C++ local holding it needs no root.
  Cell word(const char* name, uint32_t type = T_WORD) {
    Cell w = word::intern_global_as(name, type);
    w.w1 = 0;
    return w;
  }
  // A copy of the cell on the argument stack (the slots write their result into it).
  Cell* arg(const Cell* v) { return stack::push_copy(v); }
  Cell* at(const Cell* s, int32_t head) {
    Cell* c = arg(s);
    c->w1 = uint32_t(head);
    return c;
  }
  // A hash! over a fresh block read from text, with its own index.
  Cell* load_hash(const char* text) {
    Cell* b = load(text);
    Node t = hash::table_create(block::count_from_head(b), b, hash::KIND_HASH, 0);
    b->header = T_HASH;
    b->w3 = t;
    return b;
  }

  // ---- Calls through the action table.
  Cell* append(const Cell* s, const Cell* v, int32_t part = -1, bool only = false,
               int32_t dup = 1) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<25>(c)(c, x, part, only, dup, true);
  }
  Cell* insert(const Cell* s, const Cell* v, int32_t part = -1, bool only = false,
               int32_t dup = 1) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<35>(c)(c, x, part, only, dup, false);
  }
  Cell* change(const Cell* s, const Cell* v, int32_t part = -1, bool only = false,
               int32_t dup = 1) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<28>(c)(c, x, part, only, dup);
  }
  Cell* find(const Cell* s, const Cell* v, FindArgs f = {}) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<31>(c)(c, x, f.part, f.only, f.case_, f.same, false, nullptr, f.skip,
                             f.last, f.reverse, f.tail, f.match);
  }
  Cell* select(const Cell* s, const Cell* v, FindArgs f = {}) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<44>(c)(c, x, f.part, f.only, f.case_, f.same, false, nullptr, f.skip,
                               f.last, f.reverse);
  }
  Cell* put(const Cell* s, const Cell* k, const Cell* v, bool case_ = false) {
    Cell* c = arg(s);
    Cell* key = arg(k);
    Cell* x = arg(v);
    return fn<41>(c)(c, key, x, case_);
  }
  Cell* copy(const Cell* s, Cell* part = nullptr, bool deep = false, Cell* types = nullptr) {
    Cell* c = arg(s);
    return fn<30>(c)(c, c, part, deep, types);
  }
  Cell* make(uint32_t type, const Cell* spec) {
    Cell* proto = stack::reserve_cell();
    *proto = type_cell(type);
    Cell* x = arg(spec);
    Cell target{type, 0, 0, 0};
    return fn<1>(&target)(proto, x, type);
  }
  Cell* to(uint32_t type, const Cell* spec) {
    Cell* proto = stack::reserve_cell();
    *proto = type_cell(type);
    Cell* x = arg(spec);
    // make and to dispatch on the type a datatype! names.
    Cell target{type, 0, 0, 0};
    return fn<4>(&target)(proto, x, type);
  }
  Cell* sort(const Cell* s, SortArgs a = {}) {
    Cell* c = arg(s);
    return fn<45>(c)(c, a.case_, a.skip, a.compare, a.part, a.all, a.reverse, a.stable);
  }
  int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    return fn<9>(a)(a, b, op);
  }
  // A set operation on a native frame holding the two series; the result is left on the
  // argument stack.
  Cell* set_op(int32_t op, const Cell* a, const Cell* b, bool case_ = false,
               const Cell* skip = nullptr) {
    Cell result;
    {
      StackRestore restore;
      stack::push_native_frame(nullptr);
      stack::push_copy(a);
      if (b) stack::push_copy(b);
      else stack::push_copy(cell::none_value());
      result = *block::set_operation(case_, skip, op);
    }
    return stack::push_copy(&result);
  }
  uint32_t notices() { return owner::last_notice().calls; }
  std::string last_notice() { return owner::last_notice().action; }
};

}  // namespace kel::test
