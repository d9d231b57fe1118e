// Test fixture for the datatypes: a fresh heap and stacks, every built datatype registered,
// and helpers that call actions through the action table and read results back by molding.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/init.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "tests/unit/memory_fixture.h"

namespace kel::test {

inline Cell I(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
inline Cell C(int32_t cp) { return Cell{T_CHAR, 0, uint32_t(cp), 0}; }
inline Cell L(bool f) { return Cell{T_LOGIC, f ? 1u : 0u, 0, 0}; }
inline Cell DT(uint32_t id) { return Cell{T_DATATYPE, id, 0, 0}; }
inline Cell F(double d) {
  Cell c{T_FLOAT, 0, 0, 0};
  cell::put_double(&c, d);
  return c;
}
inline Cell NONE() { return Cell{T_NONE, 0, 0, 0}; }
inline Cell UNSET() { return Cell{T_UNSET, 0, 0, 0}; }

class DatatypeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_heap();
    // the last test's error may hold series of the heap just released
    error::Pending& p = error::pending();
    for (Cell& c : p.args) c = NONE();
    p.where = p.stack = NONE();
    stack::init(1, 2, 3);
    datatype::alloc_tables();
    for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
    random::init();
  }
  void TearDown() override {
    stack::release();
    gc::set_automatic(false);
    memory::release_all();
  }

  // Empty stacks with a try frame (so errors land here) and a native frame named by the
  // action, as the interpreter leaves them around an action call.
  void open_frame() {
    stack::reset();
    Cell w{T_WORD, 0, 10, 0xFFFFFFFF};
    stack::push_native_frame(&w);
    stack::push_try_frame(&w);
    stack::push_native_frame(&w);
  }

  // A string! on the stack holding the text's bytes as codepoints 0-255.
  Cell* push_text(const char* text) {
    Cell* s = stack::reserve_cell();
    *s = NONE();
    Cell made;
    string::init_cell(&made, 4);
    *s = made;
    if (*text) string::add_c_text(s, text);
    return s;
  }

  static std::string utf8(const Cell* s) {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    std::vector<uint8_t> out(size_t(memory::units(b)) * 4 + 1);
    int32_t n = unicode::encode_string_utf8(s, out.data(), -1, true);
    return std::string(reinterpret_cast<char*>(out.data()), size_t(n));
  }

  std::string mold(Cell v, bool all = false, const Cell* part = nullptr) {
    open_frame();
    Cell* value = stack::push_copy(&v);
    Cell* p = part ? stack::push_copy(part) : nullptr;
    return utf8(actions::mold(value, false, all, false, p));
  }
  std::string form(Cell v, const Cell* part = nullptr) {
    open_frame();
    Cell* value = stack::push_copy(&v);
    Cell* p = part ? stack::push_copy(part) : nullptr;
    return utf8(actions::form(value, p));
  }

  // A frame-only action (absolute, add, ... xor~) on one or two arguments.
  Cell call(uint32_t action, Cell a, Cell b = NONE()) {
    open_frame();
    stack::push_copy(&a);
    stack::push_copy(&b);
    auto fn = reinterpret_cast<datatype::FrameFn>(actions::resolve_for_cell(&a, action));
    return *fn();
  }
  std::string mold_call(uint32_t action, Cell a, Cell b = NONE()) {
    return mold(call(action, a, b));
  }

  // make and to dispatch on the type the datatype! names.
  Cell make_to(uint32_t action, Cell type, Cell spec) {
    open_frame();
    Cell* proto = stack::push_copy(&type);
    Cell* s = stack::push_copy(&spec);
    uint32_t t = actions::make_type_of(proto);
    datatype::AnySlot fn = datatype::any_slot(t, action);
    EXPECT_NE(fn, nullptr);
    return *reinterpret_cast<datatype::MakeFn>(fn)(proto, s, t);
  }
  // The same with a text spec.
  Cell make_to_text(uint32_t action, Cell type, const char* text) {
    open_frame();
    Cell* proto = stack::push_copy(&type);
    Cell* s = push_text(text);
    uint32_t t = actions::make_type_of(proto);
    return *reinterpret_cast<datatype::MakeFn>(datatype::any_slot(t, action))(proto, s, t);
  }

  bool compare(Cell a, Cell b, int32_t op) {
    open_frame();
    Cell* x = stack::push_copy(&a);
    Cell* y = stack::push_copy(&b);
    return actions::compare(x, y, op);
  }
};

}  // namespace kel::test
