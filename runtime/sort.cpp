// Sorting engines over arrays of fixed-width records: an adaptive unstable quicksort
// and a stable natural merge sort (Powersort policy), both driven by a comparator callback.
#include "runtime/sort.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"

namespace kel::sort {

namespace {

constexpr uint32_t MIN_RUN = 24;
constexpr uint32_t INSERTION_MAX = 7;
constexpr uint32_t TREND_STEP = 97;

[[noreturn]] void raise_too_long() { error::raise(err::script::too_long); }

inline int sign_of(int32_t c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

// Cache hints for a scan upwards from p (the record it compares next) to end, exclusive, or
// downwards from p to lo, inclusive: the comparer's touch for the records a few steps on.
[[gnu::always_inline]] inline void touch(const Comparer& k, const uint8_t* record, int stage) {
  if (uint64_t mask = k.touch_series_types) {
    // The record's first cell, when it names a series: its node's slot (stage 0), then the
    // buffer's first lines (stage 1). Inline: as a call of its own a prefetch reads as
    // having no effect and may be dropped.
    const Cell* c = reinterpret_cast<const Cell*>(record);
    uint32_t t = cell::type(c);
    if (t >= 64 || !((mask >> t) & 1)) return;
    if (stage == 0) memory::prefetch_node(c->w2);
    else memory::prefetch_buffer(c->w2);
    return;
  }
  k.touch(record, stage);
}
inline void hint_up(const Comparer& k, const uint8_t* p, const uint8_t* end) {
  if (!k.touch && !k.touch_series_types) return;
  size_t left = size_t(end - p) / k.w;
  if (left > 2) touch(k, p + 2 * k.w, 1);
  if (left > 5) touch(k, p + 5 * k.w, 0);
}
inline void hint_down(const Comparer& k, const uint8_t* p, const uint8_t* lo) {
  if (!k.touch && !k.touch_series_types) return;
  size_t left = size_t(p - lo) / k.w;
  if (left >= 2) touch(k, p - 2 * k.w, 1);
  if (left >= 5) touch(k, p - 5 * k.w, 0);
}

// Record-indexed view of the array; every comparison answer is reduced to its sign.
struct View {
  uint8_t* base;
  const Comparer& k;
  uint8_t* at(size_t i) const { return base + i * k.w; }
  int cmp(size_t i, size_t j) const { return sign_of(k.cmp(at(i), at(j), k.ctx1, k.ctx2)); }
  void swap(size_t i, size_t j) const {
    if (i != j) swap_records(at(i), at(j), k.w, k.bytewise);
  }
  // Hints for the records a scan reaches in a few steps (i: the next one, towards lim).
  void ahead(size_t i, size_t lim) const { hint_up(k, at(i), at(lim)); }
  void behind(size_t i, size_t lim) const { hint_down(k, at(i), at(lim)); }
  void reverse(size_t from, size_t to) const {  // [from, to)
    while (to > from + 1) swap(from++, --to);
  }
};

void insertion_sort(const View& v, size_t n) {
  for (size_t i = 1; i < n; ++i)
    for (size_t j = i; j > 0 && v.cmp(j - 1, j) > 0; --j) v.swap(j - 1, j);
}

}  // namespace

Comparer make_comparer(uint32_t w, uintptr_t ctx1, uintptr_t ctx2, Comparator cmp) {
  return Comparer{w, (w % 4) != 0, ctx1, ctx2, cmp};
}

void swap_records(void* a, void* b, uint32_t w, bool bytewise) {
  auto* pa = static_cast<uint8_t*>(a);
  auto* pb = static_cast<uint8_t*>(b);
  if (pa == pb) return;
  if (bytewise) {
    for (uint32_t i = 0; i < w; ++i) std::swap(pa[i], pb[i]);
    return;
  }
  for (uint32_t i = 0; i < w; i += 4) {
    uint32_t x, y;
    std::memcpy(&x, pa + i, 4);
    std::memcpy(&y, pb + i, 4);
    std::memcpy(pa + i, &y, 4);
    std::memcpy(pb + i, &x, 4);
  }
}

// ---------------------------------------------------------------- quicksort

void quick_sort_core(uint8_t* base, int64_t hint, uint32_t n32, const Comparer& k) {
  size_t n = n32;
  int64_t h = hint;
  while (n > INSERTION_MAX) {
    View v{base, k};
    size_t s = size_t(h < 0 ? -h : h);
    size_t len, pm, upper;  // records in this pass, pivot position, upper sample count
    if (s < 3) {
      len = n > 511 ? 63 : n;
      v.swap(len / 2, 1);
      if (v.cmp(0, 1) > 0) v.swap(0, 1);
      if (v.cmp(1, len - 1) > 0) v.swap(1, len - 1);
      if (v.cmp(0, 1) > 0) v.swap(0, 1);
      pm = 1;
      upper = 1;
    } else {
      len = s <= n / 256 ? 16 * s - 1 : n;
      pm = (s - 1) / 2;
      upper = s / 2;
      bool upper_in_place = false;
      if (h < 0) {
        // Bring the sample (or its lower half and pivot) from the end to the front. Swapping
        // one by one upwards keeps the sample's order even when the two ranges overlap.
        size_t cnt = len < n ? s : pm + 1;
        for (size_t i = 0; i < cnt; ++i) v.swap(i, n - s + i);
        upper_in_place = len == n;
      }
      if (len < n) {
        size_t step = n / len;
        for (size_t j = s; j < len; ++j) v.swap(j, j * step);
      }
      if (!upper_in_place)  // downwards, so overlapping ranges keep their order
        for (size_t i = upper; i-- > 0;) v.swap(pm + 1 + i, len - upper + i);
    }

    // Three-way partition of [pm + 1, len - upper) around the pivot at pm; equals gather in
    // [pm + 1, eq). Both scans are bounded by each other, never by sentinel records, so an
    // inconsistent comparator cannot walk them out of the array.
    size_t eq = pm + 1, i = pm + 1, j = len - upper;  // unscanned: [i, j)
    for (;;) {
      while (i < j) {
        v.ahead(i, j);
        int c = v.cmp(i, pm);
        if (c > 0) break;
        if (c == 0) v.swap(i, eq++);
        ++i;
      }
      int cr = 1;
      while (i < j) {
        v.behind(j - 1, i);
        cr = v.cmp(j - 1, pm);
        if (cr <= 0) break;
        --j;
      }
      if (i >= j) break;
      if (i + 1 == j) {  // one record judged both ways: leave it on the right
        --j;
        break;
      }
      v.swap(i, j - 1);
      if (cr == 0) v.swap(i, eq++);
      ++i;
      --j;
    }
    // Pivot and equals [pm, eq) into the middle, before the lesser records [eq, i).
    size_t lesser = i - eq, equals = eq - pm;
    size_t m = std::min(lesser, equals);
    for (size_t t = 0; t < m; ++t) v.swap(pm + t, i - m + t);
    size_t left_n = pm + lesser;  // lower sample at its front
    size_t right_n = len - i;     // upper sample at its end
    uint8_t* right = v.at(i);

    if (len < n) {
      if (right_n > upper) quick_sort_core(right, -int64_t(upper), uint32_t(right_n), k);
      if (left_n > pm) quick_sort_core(base, int64_t(pm), uint32_t(left_n), k);
      h = int64_t(len);  // the first len records are now a sorted sample
      continue;
    }
    bool right_todo = right_n > upper, left_todo = left_n > pm;
    if (right_todo && left_todo) {
      // Recurse into the smaller part and loop on the larger: machine-stack depth stays
      // logarithmic whatever the comparator answers.
      if (right_n <= left_n) {
        quick_sort_core(right, -int64_t(upper), uint32_t(right_n), k);
        n = left_n;
        h = int64_t(pm);
      } else {
        quick_sort_core(base, int64_t(pm), uint32_t(left_n), k);
        base = right;
        n = right_n;
        h = -int64_t(upper);
      }
    } else if (right_todo) {
      base = right;
      n = right_n;
      h = -int64_t(upper);
    } else if (left_todo) {
      n = left_n;
      h = int64_t(pm);
    } else {
      return;
    }
  }
  insertion_sort(View{base, k}, n);
}

void quick_sort(void* base_, uint32_t n32, uint32_t w, uintptr_t ctx1, uintptr_t ctx2,
                Comparator cmp) {
  quick_sort_with(base_, n32, make_comparer(w, ctx1, ctx2, cmp));
}

void quick_sort_with(void* base_, uint32_t n32, const Comparer& k) {
  if (n32 < 2 || k.w == 0) return;
  const size_t n = n32;
  View v{static_cast<uint8_t*>(base_), k};

  // Initial run; its first non-zero answer fixes the direction.
  int d = 0;
  size_t r = 1;
  for (; r < n; ++r) {
    int c = v.cmp(r - 1, r);
    if (d == 0) {
      if (c != 0) d = c < 0 ? 1 : -1;
    } else if (c * d > 0) {
      break;
    }
  }
  if (d == 0) d = 1;

  // Trend: one sampled neighbour pair per 97 records after the run.
  int64_t s = int64_t(d) * int64_t(r);
  for (size_t pos = r + 1; pos < n; pos += TREND_STEP) {
    int c = v.cmp(pos - 1, pos);
    if (c < 0) ++s;
    else if (c > 0) --s;
  }

  size_t pend = r;  // sorted prefix [0, pend) in direction d
  if ((s < 0 ? -s : s) > int64_t(n / 512)) {
    if (d * s < 0) {
      pend = 0;
      d = -d;
    }
    // Walk the array in steps of 10 records, joining in-order stretches to the prefix. The
    // walk position only moves forward, so a stretch left alone is not looked at again.
    size_t last_hi = pend;
    for (;;) {
      size_t hi = std::max(pend, last_hi) + 10;
      if (hi >= n) break;
      size_t lo = hi - 1;
      while (hi < n && d * v.cmp(hi - 1, hi) < 1) ++hi;
      while (lo > pend && d * v.cmp(lo - 1, lo) < 1) --lo;
      last_hi = hi;
      size_t len = hi - lo;
      if (len < 4) continue;
      size_t t = 0;
      if (pend > 0) {
        size_t kk = std::min(len / 2, pend / 4);
        while (t < kk && d * v.cmp(pend - 1 - t, lo + t) > 0) ++t;
        if (t == kk) continue;  // no in-order junction within reach
      }
      size_t kept = pend - t;
      if (lo + t != kept)
        for (size_t q = 0; q < len - t; ++q) v.swap(kept + q, lo + t + q);
      pend = kept + (len - t);
    }
  }
  if (d < 0) v.reverse(0, pend);
  if (pend < n) quick_sort_core(v.base, int64_t(pend), uint32_t(n), k);
}

// ---------------------------------------------------------------- merge sort

uint8_t* find_run(uint8_t* start, uint8_t* end, const Comparer& k) {
  View v{start, k};
  size_t total = size_t(end - start) / k.w;
  if (total < 2) return end;
  size_t i = 1;
  if (v.cmp(0, 1) > 0) {
    while (i + 1 < total && v.cmp(i, i + 1) > 0) ++i;
    v.reverse(0, i + 1);  // strictly descending only: equal records keep their order
  } else {
    while (i + 1 < total && v.cmp(i, i + 1) <= 0) ++i;
  }
  return v.at(i + 1);
}

namespace {

// While a merge runs, the records not yet placed from scratch fill a hole of the same size
// in the array. If the comparator unwinds, the destructor puts them back, so the array keeps
// every record.
struct HoleGuard {
  uint8_t* hole = nullptr;
  const uint8_t* pending = nullptr;
  size_t bytes = 0;
  ~HoleGuard() {
    if (bytes) std::memcpy(hole, pending, bytes);
  }
};

}  // namespace

void merge_runs(uint8_t* run1, uint8_t* run2, uint8_t* run2_end, uint8_t* scratch,
                const Comparer& k) {
  const size_t w = k.w;
  size_t n1 = size_t(run2 - run1) / w, n2 = size_t(run2_end - run2) / w;
  if (n1 == 0 || n2 == 0) return;
  HoleGuard g;
  if (n2 < n1) {
    // Right run to scratch; merge from the back.
    std::memcpy(scratch, run2, n2 * w);
    uint8_t* left = run2 - w;      // last unplaced left record
    uint8_t* sc = scratch + (n2 - 1) * w;  // last unplaced scratch record
    uint8_t* dst = run2_end - w;
    g.hole = run2;
    g.pending = scratch;
    g.bytes = n2 * w;
    for (;;) {
      hint_down(k, left, run1);
      hint_down(k, sc, scratch);
      if (k.cmp(left, sc, k.ctx1, k.ctx2) > 0) {
        std::memcpy(dst, left, w);
        dst -= w;
        g.hole = left;  // hole is now [left, dst + w)
        if (left == run1) break;
        left -= w;
      } else {
        std::memcpy(dst, sc, w);
        dst -= w;
        g.bytes -= w;
        if (sc == scratch) break;
        sc -= w;
      }
    }
    std::memcpy(g.hole, scratch, g.bytes);  // leftover scratch records
    g.bytes = 0;
  } else {
    // Left run to scratch; merge from the front.
    std::memcpy(scratch, run1, n1 * w);
    uint8_t* sc = scratch;
    uint8_t* sc_end = scratch + n1 * w;
    uint8_t* right = run2;
    uint8_t* dst = run1;
    g.hole = dst;
    g.pending = sc;
    g.bytes = n1 * w;
    while (sc < sc_end && right < run2_end) {
      hint_up(k, sc, sc_end);
      hint_up(k, right, run2_end);
      if (k.cmp(sc, right, k.ctx1, k.ctx2) <= 0) {
        std::memcpy(dst, sc, w);
        sc += w;
        g.pending = sc;
        g.bytes -= w;
      } else {
        std::memcpy(dst, right, w);
        right += w;
      }
      dst += w;
      g.hole = dst;
    }
    std::memcpy(dst, sc, size_t(sc_end - sc));
    g.bytes = 0;
  }
}

namespace {

uint32_t g_scratch_live = 0;

struct ScratchOwner {
  void* p = nullptr;
  ScratchOwner(size_t bytes, bool zeroed)
      : p(zeroed ? rt::alloc_zeroed(bytes ? bytes : 1) : rt::alloc(bytes ? bytes : 1)) {
    ++g_scratch_live;
  }
  ~ScratchOwner() {
    rt::free(p);
    --g_scratch_live;
  }
  ScratchOwner(const ScratchOwner&) = delete;
  ScratchOwner& operator=(const ScratchOwner&) = delete;
};

uint32_t node_power(uint64_t x, uint64_t y, uint64_t z, uint64_t n) {
  uint64_t a = x + y, b = y + z;
  uint32_t p = 0;
  for (;;) {
    if ((a < n) != (b < n)) break;
    ++p;
    if (a >= n) {
      a -= n;
      b -= n;
    }
    a *= 2;
    b *= 2;
  }
  return p + 1;
}

}  // namespace

uint32_t scratch_buffers_live() { return g_scratch_live; }

namespace {

// rooted_scratch: the records are value cells and the comparator may collect, so the
// scratch (zeroed, then holding records taken out of the array) is a root range.
void merge_sort_impl(void* base_, uint32_t n32, const Comparer& k, bool rooted_scratch) {
  if (n32 < 2 || k.w == 0) return;
  const uint32_t w = k.w;
  const uint64_t scratch_bytes = uint64_t(w) * (n32 / 2);
  if (scratch_bytes > 0x7FFFFFFF) raise_too_long();
  ScratchOwner scratch{size_t(scratch_bytes), rooted_scratch};
  auto* sc = static_cast<uint8_t*>(scratch.p);
  auto* sc_cells = static_cast<Cell*>(scratch.p);
  std::optional<gc::RootRange> scratch_root;
  if (rooted_scratch) scratch_root.emplace(sc_cells, sc_cells + scratch_bytes / sizeof(Cell));

  uint8_t* base = static_cast<uint8_t*>(base_);
  const size_t n = n32;
  uint8_t* end = base + n * w;
  struct Entry {
    uint8_t* start;
    uint32_t power;
  } stack[40];  // as many entries as n has bits
  int top = 0;

  auto extend = [&](uint8_t* start, uint8_t* run_end) {
    size_t have = size_t(run_end - start) / w;
    if (have >= MIN_RUN) return run_end;
    size_t want = std::min<size_t>(MIN_RUN, size_t(end - start) / w);
    View v{start, k};
    for (size_t i = have; i < want; ++i)
      for (size_t j = i; j > 0 && v.cmp(j - 1, j) > 0; --j) v.swap(j - 1, j);
    return start + want * w;
  };

  uint8_t* cur = base;
  uint8_t* cur_end = extend(cur, find_run(cur, end, k));
  while (cur_end < end) {
    uint8_t* nxt = cur_end;
    uint8_t* nxt_end = extend(nxt, find_run(nxt, end, k));
    uint32_t p = node_power(size_t(cur - base) / w, size_t(nxt - base) / w,
                            size_t(nxt_end - base) / w, n);
    while (top > 0 && stack[top - 1].power > p) {
      merge_runs(stack[top - 1].start, cur, cur_end, sc, k);
      cur = stack[--top].start;
    }
    stack[top++] = Entry{cur, p};
    cur = nxt;
    cur_end = nxt_end;
  }
  while (top > 0) {
    merge_runs(stack[top - 1].start, cur, end, sc, k);
    cur = stack[--top].start;
  }
}

}  // namespace

void merge_sort(void* base, uint32_t n, uint32_t w, uintptr_t ctx1, uintptr_t ctx2,
                Comparator cmp) {
  merge_sort_impl(base, n, make_comparer(w, ctx1, ctx2, cmp), false);
}

namespace {

// Puts the sorted (or, after an unwind, permuted) copy back through the node, bounded by
// the series' current length in case the comparator shortened it, and frees the copy.
struct CopyBack {
  const Node* node;
  uint32_t from;
  uint8_t* copy;
  size_t bytes;
  ~CopyBack() {
    SeriesBuffer* b = memory::node_buffer(*node);
    size_t have = memory::used_bytes(b);
    size_t off = size_t(from) * sizeof(Cell);
    if (off < have) std::memcpy(memory::head(b) + off, copy, std::min(bytes, have - off));
    rt::free(copy);
  }
};

}  // namespace

void sort_cells_rooted(uint32_t node_in, uint32_t from, uint32_t n, uint32_t w, bool stable,
                       uintptr_t ctx1, uintptr_t ctx2, Comparator cmp, Toucher touch,
                       uint64_t touch_series_types) {
  if (n < 2 || w == 0 || w % sizeof(Cell) != 0) return;
  Node node = node_in;
  gc::Root keep(&node);  // keeps the series alive and follows its node if it moves
  SeriesBuffer* b = memory::node_buffer(node);
  size_t have = memory::used_bytes(b);
  size_t off = size_t(from) * sizeof(Cell);
  uint64_t bytes = uint64_t(n) * w;
  if (off > have || bytes > have - off) return;  // callers clamp; never read past the tail
  CopyBack back{&node, from, static_cast<uint8_t*>(rt::alloc(size_t(bytes))), size_t(bytes)};
  std::memcpy(back.copy, memory::head(b) + off, size_t(bytes));
  auto* cells = reinterpret_cast<Cell*>(back.copy);
  gc::RootRange copy_root(cells, cells + bytes / sizeof(Cell));
  Comparer k = make_comparer(w, ctx1, ctx2, cmp);
  k.touch = touch;
  k.touch_series_types = touch_series_types;
  if (stable) merge_sort_impl(back.copy, n, k, true);
  else quick_sort_with(back.copy, n, k);
}

}  // namespace kel::sort
