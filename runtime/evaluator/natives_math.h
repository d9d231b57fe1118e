// The numeric natives: sign tests, max and min, shift, to-hex, trigonometry, the logarithms,
// exp and square-root, NaN? and zero?.
#pragma once
#include <cstdint>

#include "runtime/evaluator/natives.h"

namespace kel::natives {

void negative_q(int32_t check, const int32_t* refs);
void positive_q(int32_t check, const int32_t* refs);
void sign_q(int32_t check, const int32_t* refs);
void max(int32_t check, const int32_t* refs);
void min(int32_t check, const int32_t* refs);
void shift(int32_t check, const int32_t* refs);
// The arithmetic of shift: direction 1 left, -1 right; mode 1 logical, -1 arithmetic (a
// right shift only). A negative count shifts nothing; 32 or more clears (or fills with the
// sign bit).
int32_t shift_bits(int32_t data, int32_t bits, int32_t direction, int32_t mode);
void to_hex(int32_t check, const int32_t* refs);
void sine(int32_t check, const int32_t* refs);
void cosine(int32_t check, const int32_t* refs);
void tangent(int32_t check, const int32_t* refs);
void arcsine(int32_t check, const int32_t* refs);
void arccosine(int32_t check, const int32_t* refs);
void arctangent(int32_t check, const int32_t* refs);
void arctangent2(int32_t check, const int32_t* refs);
void NaN_q(int32_t check, const int32_t* refs);
void log_2(int32_t check, const int32_t* refs);
void log_10(int32_t check, const int32_t* refs);
void log_e(int32_t check, const int32_t* refs);
void exp(int32_t check, const int32_t* refs);
void square_root(int32_t check, const int32_t* refs);
void zero_q(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1).
constexpr void install_math(NativeFn* entries) {
  entries[49 - 1] = &negative_q;
  entries[50 - 1] = &positive_q;
  entries[51 - 1] = &max;
  entries[52 - 1] = &min;
  entries[53 - 1] = &shift;
  entries[54 - 1] = &to_hex;
  entries[55 - 1] = &sine;
  entries[56 - 1] = &cosine;
  entries[57 - 1] = &tangent;
  entries[58 - 1] = &arcsine;
  entries[59 - 1] = &arccosine;
  entries[60 - 1] = &arctangent;
  entries[61 - 1] = &arctangent2;
  entries[62 - 1] = &NaN_q;
  entries[63 - 1] = &log_2;
  entries[64 - 1] = &log_10;
  entries[65 - 1] = &log_e;
  entries[66 - 1] = &exp;
  entries[67 - 1] = &square_root;
  entries[97 - 1] = &sign_q;
  entries[100 - 1] = &zero_q;
}

}  // namespace kel::natives
