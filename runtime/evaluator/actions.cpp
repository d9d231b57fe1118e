// Action dispatch: slot lookup with its error, direct form/mold/compare, the generic
// compare's truth rule and the form/mold entry rules (buffer, budget, /part).
#include "runtime/evaluator/actions.h"

#include <cmath>

#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::actions {

namespace {

constexpr int32_t FULL_BUDGET = 0x7FFFFFFF;

[[noreturn]] void raise_no_slot(uint32_t type) {
  Cell fn = stack::current_function_word();
  Cell dt{T_DATATYPE, type, 0, 0};
  Cell arg = error::nth_argument_word(0);
  error::raise(err::script::expect_arg, &fn, &dt, &arg);
}

// The /part count: an integer's value, a float's truncation (clamped); absent: no limit.
bool part_count(const Cell* part, int32_t* count) {
  if (!part) return false;
  switch (cell::type(part)) {
    case T_INTEGER: *count = cell::get_int(part); return true;
    case T_FLOAT: {
      double d = cell::get_double(part);
      if (std::isnan(d)) *count = 0;
      else if (d >= 2147483647.0) *count = FULL_BUDGET;
      else if (d <= -2147483648.0) *count = INT32_MIN;
      else *count = int32_t(d);
      return true;
    }
    default: return false;
  }
}

// Cuts the string to at most n characters from its head.
void cut_to(Cell* s, int32_t n) {
  SeriesBuffer* b = memory::node_buffer(s->w2);
  uint64_t end = uint64_t(s->w1 + uint32_t(n)) * memory::unit(b) + b->head;
  if (end < b->tail) b->tail = uint32_t(end);
}

// A fresh string on the argument stack; its cell is set before the allocation so the
// collector never sees a half-made cell.
Cell* push_buffer() {
  Cell* buf = stack::reserve_cell();
  *buf = Cell{T_NONE, 0, 0, 0};
  Cell made;
  string::init_cell(&made, 16);
  *buf = made;
  return buf;
}

}  // namespace

datatype::AnySlot resolve_for_cell(const Cell* value, uint32_t action) {
  uint32_t t = cell::type(value);
  datatype::AnySlot fn = t < datatype::TABLE_TYPES ? datatype::any_slot(t, action) : nullptr;
  if (!fn) [[unlikely]] raise_no_slot(t);
  return fn;
}

uint32_t make_type_of(const Cell* proto) {
  return cell::type(proto) == T_DATATYPE ? proto->w1 : cell::type(proto);
}

int32_t direct_form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
  return resolve<datatype::action::FORM>(value)(value, buffer, part, budget);
}

int32_t direct_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t budget, int32_t indent) {
  return resolve<datatype::action::MOLD>(value)(value, buffer, only, all, flat, part, budget,
                                                indent);
}

int32_t direct_compare(const Cell* a, const Cell* b, int32_t op) {
  return resolve<datatype::action::COMPARE>(a)(a, b, op);
}

bool compare(const Cell* a, const Cell* b, int32_t op) {
  if (op < 0 || op > 12) rt::fatal_error(101, 0);
  int32_t r = direct_compare(a, b, op);
  switch (op) {
    case 0: case 2: case 9: case 10: case 11: case 12: return r == 0;
    case 1: return r != 0;
    default: break;
  }
  if (r == -2) error::raise(err::script::invalid_compare, a, b);
  switch (op) {
    case 3: return r < 0;
    case 4: return r <= 0;
    case 5: return r > 0;
    case 6: return r >= 0;
    default: rt::fatal_error(101, 0);  // the sort orderings have no truth
  }
}

Cell* form(Cell* value, Cell* part) {
  int32_t count = 0;
  bool limited = part_count(part, &count);
  Cell* buf = push_buffer();
  if (limited && count < 1) return buf;
  direct_form(value, buf, part, limited ? count : FULL_BUDGET);
  if (limited) cut_to(buf, count);
  return buf;
}

Cell* mold(Cell* value, bool only, bool all, bool flat, Cell* part) {
  int32_t count = 0;
  bool limited = part_count(part, &count);
  Cell* buf = push_buffer();
  if (limited && count < 1) return buf;
  direct_mold(value, buf, only, all, flat, part, limited ? count : FULL_BUDGET, 0);
  if (limited) cut_to(buf, count);
  return buf;
}

}  // namespace kel::actions
