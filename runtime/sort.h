// Sorting engines over arrays of fixed-width records: an adaptive unstable quicksort
// and a stable natural merge sort (Powersort policy), both driven by a comparator callback.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::sort {

// Negative when a sorts before b, 0 when equal, positive when after. The two context
// words are passed through unchanged (option flags and comparator argument).
using Comparator = int32_t (*)(const void* a, const void* b, uintptr_t ctx1, uintptr_t ctx2);
// A cache hint for a record the engine will compare soon: stage 0 comes first (a few
// records ahead), stage 1 later. It must change nothing.
using Toucher = void (*)(const void* record, int stage);

// Everything the engines need to compare and move records.
struct Comparer {
  uint32_t w;        // record width in bytes
  bool bytewise;     // width not a multiple of 4: swap byte by byte
  uintptr_t ctx1;
  uintptr_t ctx2;
  Comparator cmp;
  Toucher touch = nullptr;  // optional
  // Instead of touch: records whose first cell, of a type in this mask, names a series by
  // its node; the engine prefetches the node's slot, then its buffer, inline.
  uint64_t touch_series_types = 0;
};

Comparer make_comparer(uint32_t w, uintptr_t ctx1, uintptr_t ctx2, Comparator cmp);

// Unstable; equal records end up contiguous.
void quick_sort(void* base, uint32_t n, uint32_t w, uintptr_t ctx1, uintptr_t ctx2,
                Comparator cmp);
// The same with a comparer made by the caller (one with a cache hint).
void quick_sort_with(void* base, uint32_t n, const Comparer& k);
// Stable; needs w * (n / 2) bytes of scratch (script/too-long when that passes 31 bits).
void merge_sort(void* base, uint32_t n, uint32_t w, uintptr_t ctx1, uintptr_t ctx2,
                Comparator cmp);

// Sorts n records of w bytes (whole cells) from cell index `from` (counted from the head)
// of the cell series `node`, with a comparator that may run Kel code and so allocate,
// collect and move buffers: the records are sorted in a rooted copy outside the collected
// heap (merge-sort scratch rooted too) and copied back through the node, also when the
// comparator unwinds.
void sort_cells_rooted(uint32_t node, uint32_t from, uint32_t n, uint32_t w, bool stable,
                       uintptr_t ctx1, uintptr_t ctx2, Comparator cmp, Toucher touch = nullptr,
                       uint64_t touch_series_types = 0);

// Merge-sort scratch buffers currently allocated (0 outside a sort).
uint32_t scratch_buffers_live();

// Internal pieces, exposed for tests.
void swap_records(void* a, void* b, uint32_t w, bool bytewise);
// End of the natural run from start (a strictly descending run is reversed in place).
uint8_t* find_run(uint8_t* start, uint8_t* end, const Comparer& k);
// Merges [run1, run2) with [run2, run2_end); scratch holds the shorter run.
void merge_runs(uint8_t* run1, uint8_t* run2, uint8_t* run2_end, uint8_t* scratch,
                const Comparer& k);
// hint > 0: hint sorted records at the front; hint < 0: -hint sorted records at the end.
void quick_sort_core(uint8_t* base, int64_t hint, uint32_t n, const Comparer& k);

}  // namespace kel::sort
