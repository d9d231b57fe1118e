// Evaluation natives: do, get, set, type?, reduce, compose, bind, in, construct, value?,
// extend, unset, context? and apply.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void do_(int32_t check, const int32_t* refs);
void get(int32_t check, const int32_t* refs);
void set(int32_t check, const int32_t* refs);
void type_q(int32_t check, const int32_t* refs);
void reduce(int32_t check, const int32_t* refs);
void compose(int32_t check, const int32_t* refs);
void bind(int32_t check, const int32_t* refs);
void in(int32_t check, const int32_t* refs);
void construct(int32_t check, const int32_t* refs);
void value_q(int32_t check, const int32_t* refs);
void extend(int32_t check, const int32_t* refs);
void unset(int32_t check, const int32_t* refs);
void context_q(int32_t check, const int32_t* refs);
void apply(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1); runs at
// compile time for the table's static fill.
constexpr void install_eval(NativeFn* entries) {
  entries[20 - 1] = &do_;
  entries[21 - 1] = &get;
  entries[22 - 1] = &set;
  entries[34 - 1] = &type_q;
  entries[35 - 1] = &reduce;
  entries[36 - 1] = &compose;
  entries[38 - 1] = &bind;
  entries[39 - 1] = &in;
  entries[68 - 1] = &construct;
  entries[69 - 1] = &value_q;
  entries[83 - 1] = &extend;
  entries[88 - 1] = &unset;
  entries[92 - 1] = &context_q;
  entries[107 - 1] = &apply;
}

// The words of a block receive the values (shared by set and foreach): every element
// must be a word, set-word, get-word or lit-word; without any_ no word may receive unset;
// a block-like value is spread (none past its end) unless only; with some a none value
// leaves its word alone.
void set_words_block(const Cell* words, const Cell* value, bool any_, bool only, bool some);

}  // namespace kel::natives

namespace kel::object {
// The object unit's field assignment (set) and prototype construction (construct, pushes
// the new object).
void set_fields(Cell* target, const Cell* value, bool any, bool only, bool some);
Cell* make_from_proto(const Cell* spec, const Cell* prototype, bool only);
}  // namespace kel::object
