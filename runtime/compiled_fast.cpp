// Fast paths for C++ bodies: math, comparisons, integer picks and block navigation inline
// for the common operand types, the action in a frame named by the operator otherwise.
#include <cstdint>

#include "runtime/cell_api.h"
#include "runtime/compiled_support.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::actions {

namespace {

constexpr int32_t NO_REFINEMENTS[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

uint32_t math_action(int32_t selector) {
  switch (selector) {
    case 0: return datatype::action::ADD;
    case 1: return datatype::action::SUBTRACT;
    case 2: return datatype::action::MULTIPLY;
    case 5: return datatype::action::OR;
    case 6: return datatype::action::AND;
    case 7: return datatype::action::XOR;
    default: rt::fatal_error(101, 0);
  }
}

// Both integers, or both floats under add, subtract or multiply: computed into out.
bool math_inline(int32_t selector, const Cell* a, const Cell* b, Cell* out) {
  uint32_t ta = cell::type(a), tb = cell::type(b);
  if (ta == T_INTEGER && tb == T_INTEGER) {
    int64_t x = cell::get_int(a), y = cell::get_int(b), v;
    switch (selector) {
      case 0: v = x + y; break;
      case 1: v = x - y; break;
      case 2: v = x * y; break;
      case 5: v = int32_t(x) | int32_t(y); break;
      case 6: v = int32_t(x) & int32_t(y); break;
      case 7: v = int32_t(x) ^ int32_t(y); break;
      default: rt::fatal_error(101, 0);
    }
    if (v >= INT32_MIN && v <= INT32_MAX) {
      cell::set_integer(out, int32_t(v));
    } else {
      *out = Cell{T_FLOAT, 0, 0, 0};
      cell::put_double(out, double(v));
    }
    return true;
  }
  if (ta == T_FLOAT && tb == T_FLOAT && selector >= 0 && selector <= 2) {
    double r = float_::arith_on_doubles(cell::get_double(a), cell::get_double(b), selector);
    *out = Cell{T_FLOAT, 0, 0, 0};
    cell::put_double(out, r);
    return true;
  }
  return false;
}

// The action in a native-call frame named by the word; the result is the newest cell.
Cell* math_fallback(int32_t selector, const Cell* word, const Cell* a, const Cell* b) {
  uint32_t id = math_action(selector);
  Cell x = *a, y = *b, w = *word;  // copied before the pushes: they may be stack cells
  stack::push_native_frame(&w);
  *stack::reserve_cell() = x;
  *stack::reserve_cell() = y;
  entry_table[id - 1](NO_REFINEMENTS);
  stack::pop_frame();
  return stack::last_pushed();
}

Cell* math_push(int32_t selector, const Cell* word, const Cell* a, const Cell* b) {
  Cell r;
  if (math_inline(selector, a, b, &r)) return stack::push_copy(&r);
  return math_fallback(selector, word, a, b);
}

Cell* math_top(int32_t selector, const Cell* word, const Cell* b) {
  Cell* top = stack::last_pushed();
  Cell r;
  if (math_inline(selector, top, b, &r)) {
    *top = r;
    return top;
  }
  Cell left = *top;
  Cell right = *b;
  stack::state().top = top;  // the operand is taken off; the result takes its place
  return math_fallback(selector, word, &left, &right);
}

void check_operator(int32_t op) {
  if (op < 0 || op > 6) rt::fatal_error(101, 0);
}

// The truth of the comparison: integers inline, else compare-logic in a frame.
bool compare_truth(int32_t op, const Cell* word, const Cell* a, const Cell* b) {
  check_operator(op);
  if (cell::type(a) == T_INTEGER && cell::type(b) == T_INTEGER) {
    int32_t x = cell::get_int(a), y = cell::get_int(b);
    switch (op) {
      case 0: case 2: return x == y;
      case 1: return x != y;
      case 3: return x < y;
      case 4: return x <= y;
      case 5: return x > y;
      default: return x >= y;
    }
  }
  Cell* mark = stack::state().top;
  Cell x = *a, y = *b, w = *word;
  stack::push_native_frame(&w);
  *stack::reserve_cell() = x;
  *stack::reserve_cell() = y;
  compare_logic(op);
  stack::pop_frame();
  bool t = stack::last_pushed()->w1 != 0;
  stack::state().top = mark;
  return t;
}

Cell int_cell(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }
Cell logic_cell(bool t) { return Cell{T_LOGIC, t ? 1u : 0u, 0, 0}; }

}  // namespace

Cell* fast_math_cells(int32_t selector, const Cell* word, const Cell* left, const Cell* right) {
  return math_push(selector, word, left, right);
}
Cell* fast_math_cell_int(int32_t selector, const Cell* word, const Cell* left, int32_t right) {
  Cell r = int_cell(right);
  return math_push(selector, word, left, &r);
}
Cell* fast_math_top_cell(int32_t selector, const Cell* word, const Cell* right) {
  return math_top(selector, word, right);
}
Cell* fast_math_top_int(int32_t selector, const Cell* word, int32_t right) {
  Cell r = int_cell(right);
  return math_top(selector, word, &r);
}

void compare_logic(int32_t op) {
  Cell* b = stack::state().base;
  bool t = compare(b, b + 1, op);
  *b = logic_cell(t);
}

Cell* fast_compare_cells(int32_t op, const Cell* word, const Cell* left, const Cell* right) {
  Cell r = logic_cell(compare_truth(op, word, left, right));
  return stack::push_copy(&r);
}
Cell* fast_compare_cell_int(int32_t op, const Cell* word, const Cell* left, int32_t right) {
  Cell n = int_cell(right);
  return fast_compare_cells(op, word, left, &n);
}
int32_t fast_test_cells_q(int32_t op, const Cell* word, const Cell* left, const Cell* right,
                          int32_t invert) {
  return (compare_truth(op, word, left, right) ? 1 : 0) ^ (invert ? 1 : 0);
}
int32_t fast_test_cell_int_q(int32_t op, const Cell* word, const Cell* left, int32_t right,
                             int32_t invert) {
  Cell n = int_cell(right);
  return fast_test_cells_q(op, word, left, &n, invert);
}
int32_t fast_compare_cells_to_result(int32_t op, const Cell* word, const Cell* left,
                                     const Cell* right) {
  bool t = compare_truth(op, word, left, right);
  *stack::state().base = logic_cell(t);
  return t ? 1 : 0;
}
int32_t fast_compare_cell_int_to_result(int32_t op, const Cell* word, const Cell* left,
                                        int32_t right) {
  Cell n = int_cell(right);
  return fast_compare_cells_to_result(op, word, left, &n);
}
Cell* fast_compare_top_cell(int32_t op, const Cell* word, const Cell* right) {
  Cell* top = stack::last_pushed();
  Cell left = *top, r = *right;
  bool t = compare_truth(op, word, &left, &r);
  top = stack::last_pushed();
  *top = logic_cell(t);
  return top;
}
Cell* fast_compare_top_int(int32_t op, const Cell* word, int32_t right) {
  Cell n = int_cell(right);
  return fast_compare_top_cell(op, word, &n);
}

Cell* fast_pick_path_int(const Cell* value, int32_t n, const Cell* word) {
  if (cell::type(value) == T_BLOCK) {
    int64_t count = int64_t(blk::count(value->w2)) - int64_t(value->w1);
    if (n >= 1 && n <= count) {
      Cell v = blk::cells(value->w2)[value->w1 + uint32_t(n) - 1];
      return stack::push_copy(&v);
    }
    Cell none{T_NONE, 0, 0, 0};
    return stack::push_copy(&none);
  }
  // Another type: its pick, as the path step would take it.
  Cell v = *value, w = *word, i = int_cell(n);
  stack::push_native_frame(&w);
  *stack::reserve_cell() = v;
  *stack::reserve_cell() = i;
  entry_table[datatype::action::PICK - 1](NO_REFINEMENTS);
  stack::pop_frame();
  return stack::last_pushed();
}

Cell* fast_series_nav(const Cell* value, int32_t selector, const Cell* word) {
  static constexpr uint32_t ACTIONS[9] = {
      0, datatype::action::LENGTH_Q, datatype::action::INDEX_Q, datatype::action::HEAD_Q,
      datatype::action::TAIL_Q, datatype::action::NEXT, datatype::action::BACK,
      datatype::action::HEAD, datatype::action::TAIL};
  if (selector < 1 || selector > 8) rt::fatal_error(101, 0);
  if (cell::type(value) == T_BLOCK) {
    Cell r = *value;
    int64_t count = int64_t(blk::count(value->w2)) - int64_t(value->w1);
    switch (selector) {
      case 1: r = int_cell(count < 0 ? 0 : int32_t(count)); break;
      case 2: r = int_cell(int32_t(value->w1) + 1); break;
      case 3: r = logic_cell(value->w1 == 0); break;
      case 4: r = logic_cell(count <= 0); break;
      case 5: if (count > 0) r.w1 += 1; break;
      case 6: if (r.w1 > 0) r.w1 -= 1; break;
      case 7: r.w1 = 0; break;
      default: r.w1 = uint32_t(int64_t(value->w1) + count); break;
    }
    return stack::push_copy(&r);
  }
  Cell v = *value, w = *word;
  stack::push_native_frame(&w);
  *stack::reserve_cell() = v;
  entry_table[ACTIONS[selector] - 1](NO_REFINEMENTS);
  stack::pop_frame();
  return stack::last_pushed();
}

}  // namespace kel::actions
