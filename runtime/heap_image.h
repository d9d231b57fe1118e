// Heap images: what one start-up step leaves in the collector's memory (arena bytes, large
// blocks, node pools, the allocation counters), written at build time and laid in at start.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/memory.h"

namespace kel::heap_image {

// The memory state a step starts from, kept by the build tool until the step has run.
struct Before {
  uint64_t digest = 0;              // 0: a state no image is made from (not one arena)
  std::vector<uint8_t> arena;       // the first arena's used bytes
  std::vector<std::vector<uint8_t>> large;  // each large block's whole buffer
  std::vector<uint32_t> pools;      // pool table indexes, in list order
  uint64_t moves = 0, cell_moves = 0, renames = 0;
  uint32_t heap_series = 0;
};

// A digest of the whole memory state (layout, every used byte, node slots without their
// addresses, counters and the runtime's fixed table nodes); never 0.
uint64_t digest();

// Build time: the state before the step, then the image of what the step changed, or an
// empty vector when the step's changes cannot be imaged (more arenas, new large blocks...).
// stamp names the inputs the step read (the boot image); result is the node the step gave.
Before capture_before();
std::vector<uint8_t> capture_after(const Before& before, uint64_t stamp, Node result);

// Writes an image's checksums, as capture_after does: one of the bytes the step carved (the
// fresh arena runs), one of every other byte but the checksums' own.
void seal(std::vector<uint8_t>* image);

// What a checked image holds; pointers into the image bytes.
struct View {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t stamp = 0, before = 0;
  uint32_t arena_used = 0, arena_before = 0, large_count = 0, pool_count = 0;
  uint32_t result = 0;
  uint32_t heap_named = 0;  // highest heap block index a slot names, + 1
  size_t runs_at = 0, pools_at = 0;
  uint32_t arena_runs = 0, large_runs = 0;
};

// Checks an image's structure (magic, version, every count and length against the bytes
// present, every slot code) and the checksum of all but the fresh runs: false for anything
// else. Reads no state.
bool parse(const uint8_t* data, size_t size, View* view);
// Lays a parsed image in when it was made for this stamp from exactly the present state and
// the fresh runs' checksum holds (checked while they are copied into the free room): true
// and the step's result in *result; false otherwise, with nothing changed (the free room
// written is cleared again).
bool lay_in(const View& view, uint64_t stamp, Node* result);

}  // namespace kel::heap_image
