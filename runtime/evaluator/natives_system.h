// The system and conversion natives built so far: transcode over the lexer's drivers.
#pragma once
#include <cstdint>

#include "runtime/evaluator/natives.h"

namespace kel::natives {

void transcode(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1).
constexpr void install_system(NativeFn* entries) { entries[106 - 1] = &transcode; }

}  // namespace kel::natives
