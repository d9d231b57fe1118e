// dehex, enhex, checksum, compress and decompress: each prepares the input bytes, picks the
// engine by the method word and wraps the output.
#pragma once
#include <cstdint>

#include "runtime/evaluator/natives.h"

namespace kel::natives {

void dehex(int32_t check, const int32_t* refs);
void enhex(int32_t check, const int32_t* refs);
void checksum(int32_t check, const int32_t* refs);
void compress(int32_t check, const int32_t* refs);
void decompress(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1).
constexpr void install_codec(NativeFn* entries) {
  entries[47 - 1] = &dehex;
  entries[48 - 1] = &enhex;
  entries[87 - 1] = &checksum;
  entries[103 - 1] = &compress;
  entries[104 - 1] = &decompress;
}

}  // namespace kel::natives
