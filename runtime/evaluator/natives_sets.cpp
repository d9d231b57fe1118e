// Set-operation natives: one dispatcher checks the two sets and hands them to the engine of
// the first set's datatype (blocks and hashes, strings, bitsets, typesets, dates).
#include "runtime/evaluator/natives_sets.h"

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block_compare.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }

bool block_set_q(uint32_t t) { return t == T_BLOCK || t == T_HASH; }

[[noreturn]] void raise_expect_arg(uint32_t type) {
  Cell fn = stack::current_function_word();
  Cell dt{T_DATATYPE, type, 0, 0};
  Cell w = error::nth_argument_word(0);
  error::raise(err::script::expect_arg, &fn, &dt, &w);
}

}  // namespace

void set_operation(bool case_, int32_t skip_index, int32_t op) {
  uint32_t t1 = cell::type(arg(0)), t2 = cell::type(arg(1));
  if (op != block::set_op::UNIQUE) {
    bool compatible = block_set_q(t1) ? block_set_q(t2) : t1 == t2;
    if (!compatible) {
      Cell a{T_DATATYPE, t1, 0, 0}, b{T_DATATYPE, t2, 0, 0};
      error::raise(err::script::expect_val, &a, &b);
    }
  }
  Cell* skip = skip_index >= 0 ? arg(skip_index) : nullptr;
  switch (t1) {
    case T_BLOCK: case T_HASH: block::set_operation(case_, skip, op); return;
    case T_STRING: string::set_operation(case_, skip, op); return;
    case T_BITSET: bitset::set_operation(op); return;
    case T_TYPESET: typeset::set_operation(op); return;
    case T_DATE:
      // the time between the two dates
      if (op == block::set_op::DIFFERENCE) {
        date::time_between(arg(0), arg(1));
        return;
      }
      raise_expect_arg(t1);
    default: raise_expect_arg(t1);
  }
}

void union_(int32_t, const int32_t* refs) { set_operation(refs[0] >= 0, refs[1], block::set_op::UNION); }
void intersect(int32_t, const int32_t* refs) {
  set_operation(refs[0] >= 0, refs[1], block::set_op::INTERSECT);
}
void unique(int32_t, const int32_t* refs) { set_operation(refs[0] >= 0, refs[1], block::set_op::UNIQUE); }
void difference(int32_t, const int32_t* refs) {
  set_operation(refs[0] >= 0, refs[1], block::set_op::DIFFERENCE);
}
void exclude(int32_t, const int32_t* refs) { set_operation(refs[0] >= 0, refs[1], block::set_op::EXCLUDE); }

void complement_q(int32_t, const int32_t*) {
  if (cell::type(arg(0)) != T_BITSET) raise_expect_arg(cell::type(arg(0)));
  Cell r{T_LOGIC, bitset::complemented_q(arg(0)) ? 1u : 0u, 0, 0};
  stack::set_only_result(&r);
}

}  // namespace kel::natives
