// enbase and debase: binary-to-text encodings in base 2, 16, 58 and 64 (the engines are
// binary!'s base encoders and decoders).
#pragma once
#include <cstdint>

#include "runtime/evaluator/natives.h"

namespace kel::natives {

void debase(int32_t check, const int32_t* refs);
void enbase(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1).
constexpr void install_encoding(NativeFn* entries) {
  entries[84 - 1] = &debase;
  entries[91 - 1] = &enbase;
}

}  // namespace kel::natives
