// same? and not: identity by the datatype's payload words (series by buffer and head,
// doubles by their bits), and the plain truth test.
#include "runtime/evaluator/natives_compare.h"

#include "runtime/evaluator/actions.h"
#include "runtime/stack.h"

namespace kel::natives {

namespace {

bool series_identity_q(uint32_t t) {
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL:
    case T_REF: case T_BINARY: case T_VECTOR: case T_IMAGE:
      return true;
    default:
      return false;
  }
}

void set_logic(bool v) {
  Cell c{T_LOGIC, v ? 1u : 0u, 0, 0};
  stack::set_only_result(&c);
}

}  // namespace

bool same_values_q(const Cell* a, const Cell* b) {
  uint32_t t = cell::type(a);
  if (t != cell::type(b)) return false;
  if (series_identity_q(t)) return a->w2 == b->w2 && a->w1 == b->w1;
  switch (t) {
    case T_DATATYPE: case T_LOGIC: case T_OBJECT: return a->w1 == b->w1;
    case T_CHAR: case T_INTEGER: case T_BITSET: return a->w2 == b->w2;
    case T_FLOAT: case T_PERCENT: case T_PAIR: case T_TIME:
      return a->w2 == b->w2 && a->w3 == b->w3;
    case T_TUPLE: case T_MONEY: return actions::direct_compare(a, b, t == T_MONEY ? 2 : 0) == 0;
    case T_NONE: case T_UNSET: return true;
    case T_NATIVE: case T_ACTION: case T_POINT2D: return a->w1 == b->w1 && a->w2 == b->w2;
    case T_OP: return a->w2 == b->w2 && a->w3 == b->w3;
    default: return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
  }
}

void same_q(int32_t, const int32_t*) {
  Cell* base = stack::state().base;
  set_logic(same_values_q(base, base + 1));
}

void not_(int32_t, const int32_t*) { set_logic(!truthy_q(stack::state().base)); }


}  // namespace kel::natives
