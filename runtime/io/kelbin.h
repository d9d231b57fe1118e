// KELBIN: the binary form of values. The fixed-width and compact encoders (one walker, two
// emitters) and the bounds-checked decoder of user data, with shared series kept shared.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::kelbin {

// 1 while user data is encoded or decoded, 0 for the boot image.
extern bool codec_q;

// Deepest nesting written or read; deeper data is refused (internal/too-deep on encode,
// script/kb-invalid-record on decode) instead of exhausting the machine stack.
constexpr int32_t MAX_DEPTH = 1024;

// Encodes value (and everything it reaches) as a new binary! pushed on the stack.
// compact: the compact body (flags 1 or 5), else the fixed-width body (flags 0 or 4).
Cell* encode(const Cell* value, bool compact);
// The image bytes alone (for tools that write them elsewhere).
std::vector<uint8_t> encode_bytes(const Cell* value, bool compact);

// Decodes the image of size bytes, appending its values to the block whose node is target.
// Faults raise script/kb-invalid-record (1-based offset), refused types access/no-codec,
// a bad magic or a failed unpack script/invalid-data with arg.
void decode(const uint8_t* data, size_t size, Node target, const Cell* arg);

}  // namespace kel::kelbin
