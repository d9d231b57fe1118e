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

// ---- The boot image ----

// A definition of the boot image: a global word and its datatype!, native! or action!.
struct Definition {
  int32_t symbol;
  uint32_t type;  // T_DATATYPE, T_NATIVE or T_ACTION
  uint32_t id;    // datatype id, natives table id or action slot
  Cell spec;      // native!/action!: the spec block (kept where the collector sees it)
};
// A compact image (version 1, flags 5): the definitions, then one root block per module.
std::vector<uint8_t> encode_boot(const std::vector<Definition>& definitions,
                                 const std::vector<Cell>& modules);

// Start-up (step 16): decodes the embedded image with the collector off; its definitions
// bind the datatype, native and action words, and its module blocks are kept in order. A
// fault prints its message and ends the process with status 254 (no catalogue yet).
// When the embedded boot heap (runtime/heap_image.h) was made from exactly the state this
// step finds, it is laid in instead: the same heap, nodes and counters as the decode's.
void decode_boot();
// Build time (kel-mkheap): decode_boot then always decodes and hands the sink the heap
// image of what it changed (empty when that cannot be imaged).
using HeapImageSink = void (*)(const std::vector<uint8_t>& image);
void set_heap_image_sink(HeapImageSink sink);
// The heap image starts lay in instead of the embedded one (tests: a damaged image); the
// bytes must stay put while a runtime starts.
void set_boot_heap(const uint8_t* data, size_t size);
// Decodes an image in boot mode into the block node target (tests, tools). The bytes are
// read in place: they must be C++-owned (never a series buffer, which can move).
void decode_boot_into(const uint8_t* data, size_t size, Node target);
// Whether an image was decoded at start (the image tool starts without one).
bool boot_image_present_q();
// Whether this start laid the boot heap in instead of decoding.
bool boot_heap_laid_q();
// The module blocks of the boot image, in manifest order (a block of blocks), or 0.
Node boot_modules();
// Registers the collector callback that keeps the module blocks.
void register_roots();

}  // namespace kel::kelbin
