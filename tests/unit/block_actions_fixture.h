// Test fixture for the block actions and block comparison: the block fixture's rows plus
// stand-in compare slots for the scalar, word and string rows, a hash! row, and calls
// through the action table.
#pragma once
#include <algorithm>
#include <cctype>

#include "block_fixture.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/block_compare.h"
#include "runtime/hash.h"

namespace kel::test {

// Slot signatures as the action table holds them.
using MakeFn = Cell* (*)(Cell*, Cell*, uint32_t);
using EvalPathFn = Cell* (*)(Cell*, Cell*, Cell*, Cell*, Cell*, Cell*, int32_t, bool, bool, bool,
                             bool);
using CompareFn = int32_t (*)(const Cell*, const Cell*, int32_t);
using InsertFn = Cell* (*)(Cell*, Cell*, int32_t, bool, int32_t, bool);
using ChangeFn = Cell* (*)(Cell*, Cell*, int32_t, bool, int32_t);
using CopyFn = Cell* (*)(Cell*, Cell*, Cell*, bool, Cell*);
using FindFn = Cell* (*)(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool,
                         bool, bool);
using SelectFn = Cell* (*)(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool);
using PutFn = Cell* (*)(Cell*, Cell*, Cell*, bool);
using SortFn = Cell* (*)(Cell*, bool, Cell*, Cell*, Cell*, bool, bool, bool);
using SwapFn = Cell* (*)(Cell*, Cell*);
using TakeFn = Cell* (*)(Cell*, Cell*, bool, bool);
using TrimFn = Cell* (*)(Cell*, bool, bool, bool, bool, bool, Cell*);

// Stand-in compare slots: integers by value, chars by codepoint, strings and words by
// their text (folded but for the strict operators 2 and 8); counts every call.
inline int32_t& compare_calls() {
  static int32_t n = 0;
  return n;
}
inline int32_t sign_of(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }
inline std::string folded(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}
inline bool word_q(uint32_t t) { return t >= T_WORD && t <= T_ISSUE; }
inline int32_t stub_compare(const Cell* a, const Cell* b, int32_t op) {
  ++compare_calls();
  uint32_t ta = cell::type(a), tb = cell::type(b);
  bool equality = op <= 2 || op >= 9;
  if (ta != tb && !(word_q(ta) && word_q(tb))) return -2;
  bool strict = op == 2 || op == 8;
  switch (ta) {
    case T_INTEGER: return sign_of(int64_t(cell::get_int(a)) - cell::get_int(b));
    case T_CHAR: return sign_of(int64_t(a->w1) - int64_t(b->w1));
    case T_NONE: return 0;
    case T_LOGIC:
    case T_DATATYPE: return a->w1 == b->w1 ? 0 : equality ? 1 : -2;
    case T_STRING: {
      std::string x = text_of(a), y = text_of(b);
      if (!strict) x = folded(x), y = folded(y);
      return sign_of(x.compare(y));
    }
    default: {
      if (op == 9) return ta == tb && a->w2 == b->w2 ? 0 : 1;
      std::string x = spellings().at(a->w2 - 1), y = spellings().at(b->w2 - 1);
      if (!strict) x = folded(x), y = folded(y);
      return sign_of(x.compare(y));
    }
  }
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
    using datatype::Slot;
    auto row = [](uint32_t id, uint32_t parent, const char* name) {
      datatype::Registration r{id, parent, name, {}};
      if (parent)
        for (auto& s : r.slots) s = datatype::inherit();
      r.slots[4] = reinterpret_cast<Slot>(&stub_form);
      r.slots[5] = reinterpret_cast<Slot>(&stub_mold);
      r.slots[8] = reinterpret_cast<Slot>(&stub_compare);
      datatype::register_type(r);
    };
    row(T_DATATYPE, 0, "datatype!");
    row(T_NONE, 0, "none!");
    row(T_LOGIC, 0, "logic!");
    row(T_INTEGER, 0, "integer!");
    row(T_CHAR, 0, "char!");
    row(T_WORD, 0, "word!");
    row(T_SET_WORD, 0, "set-word!");
    row(T_LIT_WORD, 0, "lit-word!");
    row(T_GET_WORD, 0, "get-word!");
    row(T_STRING, T_SERIES, "string!");
    // hash!, path! and lit-path! as their units will register them: block!'s row, inherited.
    struct Child {
      uint32_t id, parent;
      const char* name;
    };
    for (Child c : {Child{T_HASH, T_BLOCK, "hash!"}, Child{T_PATH, T_BLOCK, "path!"},
                    Child{T_LIT_PATH, T_PATH, "lit-path!"}}) {
      auto [id, parent, name] = c;
      datatype::Registration r{id, parent, name, {}};
      for (auto& s : r.slots) s = datatype::inherit();
      datatype::register_type(r);
    }
    using runtime::WordKind;
    runtime::runtime_word_ids[runtime::runtime_word_index("compare", WordKind::REFINEMENT)] =
        symbol_of("compare");
    compare_calls() = 0;
  }

  Cell int_cell(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
  Cell type_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }
  Cell word(const char* name, uint32_t type = T_WORD) { return Cell{type, 0, symbol_of(name), 0}; }
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
    return fn<InsertFn>(c, 25)(c, x, part, only, dup, true);
  }
  Cell* insert(const Cell* s, const Cell* v, int32_t part = -1, bool only = false,
               int32_t dup = 1) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<InsertFn>(c, 35)(c, x, part, only, dup, false);
  }
  Cell* change(const Cell* s, const Cell* v, int32_t part = -1, bool only = false,
               int32_t dup = 1) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<ChangeFn>(c, 28)(c, x, part, only, dup);
  }
  Cell* find(const Cell* s, const Cell* v, FindArgs f = {}) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<FindFn>(c, 31)(c, x, f.part, f.only, f.case_, f.same, false, nullptr, f.skip,
                             f.last, f.reverse, f.tail, f.match);
  }
  Cell* select(const Cell* s, const Cell* v, FindArgs f = {}) {
    Cell* c = arg(s);
    Cell* x = arg(v);
    return fn<SelectFn>(c, 44)(c, x, f.part, f.only, f.case_, f.same, false, nullptr, f.skip,
                               f.last, f.reverse);
  }
  Cell* put(const Cell* s, const Cell* k, const Cell* v, bool case_ = false) {
    Cell* c = arg(s);
    Cell* key = arg(k);
    Cell* x = arg(v);
    return fn<PutFn>(c, 41)(c, key, x, case_);
  }
  Cell* copy(const Cell* s, Cell* part = nullptr, bool deep = false, Cell* types = nullptr) {
    Cell* c = arg(s);
    return fn<CopyFn>(c, 30)(c, c, part, deep, types);
  }
  Cell* make(uint32_t type, const Cell* spec) {
    Cell* proto = stack::reserve_cell();
    *proto = type_cell(type);
    Cell* x = arg(spec);
    Cell target{type, 0, 0, 0};
    return fn<MakeFn>(&target, 1)(proto, x, type);
  }
  Cell* to(uint32_t type, const Cell* spec) {
    Cell* proto = stack::reserve_cell();
    *proto = type_cell(type);
    Cell* x = arg(spec);
    // make and to dispatch on the type a datatype! names.
    Cell target{type, 0, 0, 0};
    return fn<MakeFn>(&target, 4)(proto, x, type);
  }
  Cell* sort(const Cell* s, SortArgs a = {}) {
    Cell* c = arg(s);
    return fn<SortFn>(c, 45)(c, a.case_, a.skip, a.compare, a.part, a.all, a.reverse, a.stable);
  }
  int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    return fn<CompareFn>(a, 9)(a, b, op);
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
