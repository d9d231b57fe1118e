// Heap images: what one start-up step leaves in the collector's memory (arena bytes, large
// blocks, node pools, the allocation counters), written at build time and laid in at start.
#include "runtime/heap_image.h"

#include <emmintrin.h>

#include <cstring>

#include "runtime/context.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/symbol.h"

namespace kel::heap_image {

using memory::LargeBlock;
using memory::MemoryState;
using memory::NodePool;
using memory::SeriesArena;

namespace {

// Nothing in collector memory holds an address, so the bytes move as they are; only the
// node slots do, and they are written as codes: a free slot's link as it is (odd), an arena
// buffer as its offset + 8, large block k as k << 3 | 2, heap block i as i << 3 | 4.
constexpr char MAGIC[8] = {'K', 'E', 'L', 'H', 'E', 'A', 'P', '1'};
constexpr uint32_t VERSION = 1;
// Header: magic, version, arena bytes used after, stamp, digest before, checksum, counts,
// the result, the current pool, counters, arena bytes used before, checksum of the fresh
// bytes (runs carved by the step, checked while they are copied).
constexpr size_t HEADER = 128;
constexpr uint32_t NO_CODE = 6;  // a code no slot can have

struct Mix {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  static uint64_t step(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0x100000001B3ull;
    return h ^ (h >> 29);
  }
  void add(uint64_t w) { h = step(h, w); }
  // Four lanes over the words, folded in at the end: the multiplies do not wait on each other.
  void bytes(const uint8_t* p, size_t n) {
    uint64_t l[4] = {h, h + 1, h + 2, h + 3};
    size_t i = 0;
    for (; i + 32 <= n; i += 32)
      for (int k = 0; k < 4; ++k) {
        uint64_t w;
        std::memcpy(&w, p + i + 8 * k, 8);
        l[k] = step(l[k], w);
      }
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      l[0] = step(l[0], w);
    }
    uint64_t w = 0;
    if (i < n) std::memcpy(&w, p + i, n - i);
    h = step(step(step(step(l[0], l[1]), l[2]), l[3]), w ^ n);
  }
  // The same over node slots, each as its position-free key.
  void keys(const uintptr_t* slots, uint32_t n);
};

SeriesBuffer* large_buffer(LargeBlock* b) { return reinterpret_cast<SeriesBuffer*>(b + 1); }

uint32_t large_count() {
  uint32_t n = 0;
  for (LargeBlock* b = memory::state().large_head; b; b = b->next) ++n;
  return n;
}

// A slot's code, or NO_CODE for an address outside the first arena, large blocks and heap
// blocks (or a link that does not fit 32 bits).
uint32_t slot_code(uintptr_t v) {
  if (v & 1) return v <= 0xFFFFFFFFu ? uint32_t(v) : NO_CODE;
  if (v == 0) return 0;
  MemoryState& m = memory::state();
  SeriesArena* a = m.arena_head;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(v);
  if (a && p >= a->data && p < a->bump) {
    size_t off = size_t(p - a->data);
    return (off % 8) == 0 && off < 0xFFFFFFF0u ? uint32_t(off + 8) : NO_CODE;
  }
  uint32_t k = 0;
  for (LargeBlock* b = m.large_head; b; b = b->next, ++k)
    if (p == reinterpret_cast<const uint8_t*>(large_buffer(b))) return (k << 3) | 2;
  for (uint32_t i = 0, n = memory::heap_series_count(); i < n; ++i)
    if (p == memory::heap_series_at(i)) return (i << 3) | 4;
  return NO_CODE;
}

// A slot's value without addresses, for the digest: a link as it is, else where its buffer
// lies (arena k and offset, large block k, heap block i).
uint64_t slot_key(uintptr_t v) {
  if ((v & 1) || v == 0) return v;
  MemoryState& m = memory::state();
  const uint8_t* p = reinterpret_cast<const uint8_t*>(v);
  uint64_t k = 1;
  for (SeriesArena* a = m.arena_head; a; a = a->next, ++k)
    if (p >= a->data && p < a->end) return (k << 40) | uint64_t(p - a->data);
  k = 0;
  for (LargeBlock* b = m.large_head; b; b = b->next, ++k)
    if (p == reinterpret_cast<const uint8_t*>(large_buffer(b))) return (1ull << 62) | k;
  for (uint32_t i = 0, n = memory::heap_series_count(); i < n; ++i)
    if (p == memory::heap_series_at(i)) return (1ull << 61) | i;
  return ~0ull;
}

void Mix::keys(const uintptr_t* slots, uint32_t n) {
  uint64_t l[4] = {h, h + 1, h + 2, h + 3};
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (int k = 0; k < 4; ++k) l[k] = step(l[k], slot_key(slots[i + k]));
  for (; i < n; ++i) l[0] = step(l[0], slot_key(slots[i]));
  h = step(step(step(step(l[0], l[1]), l[2]), l[3]), n);
}

// Fresh-chain value of slot i of the pool at table index `index` (what pool_new writes).
uint32_t fresh_slot(uint32_t index, uint32_t capacity, uint32_t i) {
  Node first = index * memory::POOL_NODES + 1;
  Node next = i + 1 < capacity ? first + i + 1 : 0;
  return (next << 1) | 1;
}

struct Writer {
  std::vector<uint8_t> out;
  void u32(uint32_t v) { out.insert(out.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4); }
  void u64(uint64_t v) { out.insert(out.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 8); }
  void bytes(const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
    pad();
  }
  void pad() { out.resize((out.size() + 7) / 8 * 8, 0); }
};

struct Reader {
  const uint8_t* data;
  size_t size, pos;
  bool ok = true;
  uint32_t u32() {
    if (size - pos < 4) { ok = false; return 0; }
    uint32_t v;
    std::memcpy(&v, data + pos, 4);
    pos += 4;
    return v;
  }
  // n bytes padded to 8; their start, or null past the end.
  const uint8_t* bytes(size_t n) {
    size_t padded = (n + 7) / 8 * 8;
    if (n > size || size - pos < padded) { ok = false; return nullptr; }
    const uint8_t* p = data + pos;
    pos += padded;
    return p;
  }
};

uint64_t read64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
uint32_t read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// A checksum: the sum and the xor of 8-byte words, in two 16-byte lanes (SSE2).
struct Sums {
  __m128i s = _mm_setzero_si128(), x = _mm_setzero_si128();
  void add(const uint8_t* p, size_t n) {  // n a multiple of 8
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      s = _mm_add_epi64(s, w);
      x = _mm_xor_si128(x, w);
    }
    if (i < n) word(read64(p + i));
  }
  // Copies n bytes to `to` and adds the source's words padded to 8 bytes (as the image keeps them).
  void copy(uint8_t* to, const uint8_t* p, size_t n) {
    size_t i = 0;
    // 64 bytes a turn into two pairs of lanes (a megabyte is copied at every start).
    __m128i s1 = _mm_setzero_si128(), x1 = _mm_setzero_si128();
    for (; i + 64 <= n; i += 64) {
      __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
      __m128i w2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
      __m128i w3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), w0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 16), w1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 32), w2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 48), w3);
      s = _mm_add_epi64(s, _mm_add_epi64(w0, w2));
      s1 = _mm_add_epi64(s1, _mm_add_epi64(w1, w3));
      x = _mm_xor_si128(x, _mm_xor_si128(w0, w2));
      x1 = _mm_xor_si128(x1, _mm_xor_si128(w1, w3));
    }
    s = _mm_add_epi64(s, s1);
    x = _mm_xor_si128(x, x1);
    for (; i + 16 <= n; i += 16) {
      __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), w);
      s = _mm_add_epi64(s, w);
      x = _mm_xor_si128(x, w);
    }
    if (i < n) {
      std::memcpy(to + i, p + i, n - i);
      add(p + i, (n - i + 7) / 8 * 8);
    }
  }
  void word(uint64_t w) {
    __m128i v = _mm_set_epi64x(0, int64_t(w));
    s = _mm_add_epi64(s, v);
    x = _mm_xor_si128(x, v);
  }
  uint64_t sum() const { return lane(s, 0) + lane(s, 1); }
  uint64_t xor_() const { return lane(x, 0) ^ lane(x, 1); }
  static uint64_t lane(__m128i v, int k) {
    uint64_t out[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    return out[k];
  }
};

// One pool's record: its fields, whether the step made it, and its first n slots' codes.
struct PoolRecord {
  uint32_t index, capacity, free, used, born, used_last, history, releasing, fresh, n;
  const uint8_t* slots;
};

bool read_pool(Reader& r, PoolRecord* p) {
  p->index = r.u32();
  p->capacity = r.u32();
  p->free = r.u32();
  p->used = r.u32();
  p->born = r.u32();
  p->used_last = r.u32();
  p->history = r.u32();
  p->releasing = r.u32();
  p->fresh = r.u32();
  p->n = r.u32();
  if (!r.ok || p->capacity == 0 || p->capacity > memory::POOL_NODES || p->n > p->capacity ||
      p->used > p->capacity || p->fresh > 1 || p->index >= (1u << 20))
    return false;
  p->slots = r.bytes(size_t(p->n) * 4);
  return r.ok;
}

}  // namespace

uint64_t digest() {
  MemoryState& m = memory::state();
  Mix h;
  uint32_t arenas = 0;
  for (SeriesArena* a = m.arena_head; a; a = a->next, ++arenas) {
    h.add(a->size);
    h.add(uint64_t(a->end - a->data));
    h.add(uint64_t(a->bump - a->data));
    h.bytes(a->data, size_t(a->bump - a->data));
  }
  h.add(arenas);
  for (LargeBlock* b = m.large_head; b; b = b->next) {
    SeriesBuffer* sb = large_buffer(b);
    h.add(b->size);
    size_t used = std::min<size_t>(b->size, memory::BUFFER_HEADER + size_t(sb->tail));
    h.bytes(reinterpret_cast<const uint8_t*>(sb), used);
  }
  for (NodePool* p = m.pool_head; p; p = p->next) {
    h.add(p->index);
    h.add(p->capacity);
    h.add(p->free);
    h.add(p->used);
    h.add(p->born);
    h.add(p->used_last);
    h.add(p->history);
    h.add(p->releasing);
    h.keys(p->slots, p->capacity);
  }
  h.add(m.pool_current ? m.pool_current->index : ~0u);
  h.add(m.pool_table_count);
  h.add(m.pool_table_capacity);
  h.add(m.pool_count);
  h.add(memory::pool_cursor());
  h.add(memory::heap_series_count());
  h.add(large_count());
  h.add(m.arena_first_size);
  h.add(m.arena_next_size);
  h.add(m.large_threshold);
  h.add(m.outer_large_threshold);
  h.add(m.allocations);
  h.add(m.carved_since_collection);
  h.add(m.live_after_collection);
  h.add(m.collect_floor);
  h.add(m.stamp_clock);
  h.add(context::global);
  h.add(symbol::list);
  h.add(hash::symbol_table);
  h.add(gc::state().automatic);
  h.add(gc::state().collection_count);
  return h.h ? h.h : 1;
}

Before capture_before() {
  Before b;
  MemoryState& m = memory::state();
  SeriesArena* a = m.arena_head;
  if (!a || a->next) return b;
  b.digest = digest();
  b.arena.assign(a->data, a->bump);
  for (LargeBlock* l = m.large_head; l; l = l->next) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(large_buffer(l));
    b.large.emplace_back(p, p + l->size);
  }
  for (NodePool* p = m.pool_head; p; p = p->next) b.pools.push_back(p->index);
  b.moves = m.moves;
  b.cell_moves = m.cell_moves;
  b.renames = m.renames;
  b.heap_series = memory::heap_series_count();
  return b;
}

std::vector<uint8_t> capture_after(const Before& before, uint64_t stamp, Node result) {
  MemoryState& m = memory::state();
  SeriesArena* a = m.arena_head;
  if (!before.digest || !a || a->next || size_t(a->bump - a->data) < before.arena.size()) return {};
  if (large_count() != before.large.size() || memory::heap_series_count() != before.heap_series) return {};
  if (m.moves < before.moves || m.cell_moves < before.cell_moves || m.renames < before.renames) return {};
  if (m.moves - before.moves > 0xFFFF || m.cell_moves - before.cell_moves > 0xFFFF ||
      m.renames - before.renames > 0xFFFF || !m.pool_current)
    return {};
  // The pools the step found keep their places; the ones it made follow them.
  std::vector<NodePool*> pools;
  for (NodePool* p = m.pool_head; p; p = p->next) pools.push_back(p);
  if (pools.size() < before.pools.size() || pools.size() > 64) return {};
  for (size_t i = 0; i < before.pools.size(); ++i)
    if (pools[i]->index != before.pools[i]) return {};

  // Runs of [from, to) whose 8-byte words differ from `was` (everything past was_size
  // differs); runs closer than 32 bytes merge.
  auto runs = [](const uint8_t* now, const uint8_t* was, size_t was_size, size_t from, size_t to,
                 auto emit) {
    uint32_t count = 0;
    auto differs = [&](size_t at) {
      size_t n = std::min<size_t>(8, to - at);
      return at + n > was_size || std::memcmp(now + at, was + at, n) != 0;
    };
    for (size_t i = from; i < to;) {
      if (!differs(i)) { i += 8; continue; }
      size_t start = i, end = i + 8;
      for (;;) {
        size_t next = end;
        while (next < to && next < end + 32 && !differs(next)) next += 8;
        if (next >= to || next >= end + 32) break;
        end = next + 8;
      }
      end = std::min(end, to);
      emit(start, end - start);
      ++count;
      i = end;
    }
    return count;
  };
  uint32_t arena_used = uint32_t(a->bump - a->data), arena_before = uint32_t(before.arena.size());
  Writer body;
  auto arena_run = [&](size_t at, size_t n) {
    body.u32(uint32_t(at));
    body.u32(uint32_t(n));
    body.bytes(a->data + at, n);
  };
  // Arena runs: the changed bytes of what was there, then everything the step carved.
  uint32_t arena_runs = runs(a->data, before.arena.data(), arena_before, 0, arena_before, arena_run);
  arena_runs += runs(a->data, before.arena.data(), arena_before, arena_before, arena_used, arena_run);
  uint32_t large_runs = 0, k = 0;
  for (LargeBlock* l = m.large_head; l; l = l->next, ++k) {
    const std::vector<uint8_t>& was = before.large[k];
    if (l->size != was.size()) return {};
    const uint8_t* now = reinterpret_cast<const uint8_t*>(large_buffer(l));
    large_runs += runs(now, was.data(), was.size(), 0, was.size(), [&](size_t at, size_t n) {
      body.u32(k);
      body.u32(uint32_t(at));
      body.u32(uint32_t(n));
      body.u32(0);
      body.bytes(now + at, n);
    });
  }
  for (size_t i = 0; i < pools.size(); ++i) {
    NodePool* p = pools[i];
    uint32_t n = p->capacity;
    while (n > 0 && p->slots[n - 1] == fresh_slot(p->index, p->capacity, n - 1)) --n;
    body.u32(p->index);
    body.u32(p->capacity);
    body.u32(p->free);
    body.u32(p->used);
    body.u32(p->born);
    body.u32(p->used_last);
    body.u32(p->history);
    body.u32(p->releasing);
    body.u32(i >= before.pools.size() ? 1 : 0);
    body.u32(n);
    for (uint32_t j = 0; j < n; ++j) {
      uint32_t code = slot_code(p->slots[j]);
      if (code == NO_CODE) return {};
      body.u32(code);
    }
    body.pad();
  }

  Writer out;
  out.out.insert(out.out.end(), MAGIC, MAGIC + 8);
  out.u32(VERSION);
  out.u32(arena_used);
  out.u64(stamp);
  out.u64(before.digest);
  out.u64(0);  // the checksums, sealed below
  out.u64(0);
  out.u32(uint32_t(before.large.size()));
  out.u32(uint32_t(pools.size()));
  out.u32(arena_runs);
  out.u32(large_runs);
  out.u32(result);
  out.u32(m.pool_current->index);
  out.u64(m.allocations);
  out.u64(m.carved_since_collection);
  out.u32(m.stamp_clock);
  out.u32(uint32_t(m.moves - before.moves));
  out.u32(uint32_t(m.cell_moves - before.cell_moves));
  out.u32(uint32_t(m.renames - before.renames));
  out.u32(arena_before);
  out.u32(0);
  out.u64(0);
  out.u64(0);
  if (out.out.size() != HEADER) return {};
  out.out.insert(out.out.end(), body.out.begin(), body.out.end());
  seal(&out.out);
  return out.out;
}

namespace {

// Walks an image's sections, checking each count, offset and length against the bytes
// present; adds the fresh run payloads to *fresh (when asked) and everything else but the
// checksum words to *rest. Fills the view's positions and counts.
bool walk(const uint8_t* data, size_t size, View* v, Sums* rest, Sums* fresh) {
  if (!data || size < HEADER || size % 8 || std::memcmp(data, MAGIC, 8) != 0) return false;
  if (read32(data + 8) != VERSION) return false;
  v->data = data;
  v->size = size;
  v->arena_used = read32(data + 12);
  v->stamp = read64(data + 16);
  v->before = read64(data + 24);
  v->large_count = read32(data + 48);
  v->pool_count = read32(data + 52);
  v->arena_runs = read32(data + 56);
  v->large_runs = read32(data + 60);
  v->result = read32(data + 64);
  v->arena_before = read32(data + 104);
  uint32_t current = read32(data + 68);
  if (v->pool_count == 0 || v->pool_count > 64 || v->large_count > 1024 ||
      v->arena_before > v->arena_used || read32(data + 108) != 0)
    return false;
  rest->add(data, 32);
  rest->add(data + 48, 112 - 48);
  Reader r{data, size, HEADER};
  v->runs_at = HEADER;
  for (uint32_t i = 0; i < v->arena_runs; ++i) {
    size_t at_header = r.pos;
    uint32_t at = r.u32(), n = r.u32();
    if (!r.ok || n == 0 || uint64_t(at) + n > v->arena_used) return false;
    // A run lies before the step's first carved byte or wholly after it.
    bool is_fresh = at >= v->arena_before;
    if (!is_fresh && at + n > v->arena_before) return false;
    const uint8_t* p = r.bytes(n);
    if (!r.ok) return false;
    rest->add(data + at_header, 8);
    if (!is_fresh) rest->add(p, (size_t(n) + 7) / 8 * 8);
    else if (fresh) fresh->add(p, (size_t(n) + 7) / 8 * 8);
  }
  size_t large_at = r.pos;
  for (uint32_t i = 0; i < v->large_runs; ++i) {
    uint32_t block = r.u32(), at = r.u32(), n = r.u32();
    r.u32();
    if (!r.ok || block >= v->large_count || n == 0 || uint64_t(at) + n > 0x7FFFFFFFu) return false;
    r.bytes(n);
    if (!r.ok) return false;
  }
  rest->add(data + large_at, r.pos - large_at);
  v->pools_at = r.pos;
  bool current_found = false;
  for (uint32_t i = 0; i < v->pool_count; ++i) {
    PoolRecord p;
    if (!read_pool(r, &p)) return false;
    current_found |= p.index == current;
    for (uint32_t j = 0; j < p.n; ++j) {
      uint32_t code = read32(p.slots + size_t(j) * 4);
      if ((code & 1) || code == 0) continue;
      uint32_t kind = code % 8;
      if (kind == 0) {
        if (uint64_t(code) - 8 + memory::BUFFER_HEADER > v->arena_used) return false;
      } else if (kind == 2) {
        if ((code >> 3) >= v->large_count) return false;
      } else if (kind == 4) {
        v->heap_named = std::max(v->heap_named, (code >> 3) + 1);
      } else {
        return false;
      }
    }
  }
  rest->add(data + v->pools_at, r.pos - v->pools_at);
  return current_found && r.pos == size;
}

}  // namespace

void seal(std::vector<uint8_t>* image) {
  View v;
  Sums rest, fresh;
  if (!walk(image->data(), image->size(), &v, &rest, &fresh)) return;
  uint64_t words[6] = {rest.sum(), rest.xor_(), 0, 0, fresh.sum(), fresh.xor_()};
  std::memcpy(image->data() + 32, words, 16);
  std::memcpy(image->data() + 112, words + 4, 16);
}

bool parse(const uint8_t* data, size_t size, View* view) {
  View v;
  Sums rest;
  // The fresh runs' bytes are summed by lay_in while it copies them, not here.
  if (!walk(data, size, &v, &rest, nullptr)) return false;
  if (rest.sum() != read64(data + 32) || rest.xor_() != read64(data + 40)) return false;
  *view = v;
  return true;
}

bool lay_in(const View& v, uint64_t stamp, Node* result) {
  MemoryState& m = memory::state();
  SeriesArena* a = m.arena_head;
  if (!a || a->next || v.stamp != stamp || v.before != digest()) return false;
  // The state is the one the image was made from: its layout is known. Check every bound
  // against it all the same before anything is written.
  if (uint64_t(a->bump - a->data) != v.arena_before || uint64_t(a->end - a->data) < v.arena_used ||
      large_count() != v.large_count)
    return false;
  std::vector<LargeBlock*> large;
  for (LargeBlock* b = m.large_head; b; b = b->next) large.push_back(b);
  Reader r{v.data, v.size, v.runs_at};
  for (uint32_t i = 0; i < v.arena_runs; ++i) {
    r.u32();
    r.bytes(r.u32());
  }
  for (uint32_t i = 0; i < v.large_runs; ++i) {
    uint32_t block = r.u32(), at = r.u32(), n = r.u32();
    r.u32();
    if (uint64_t(at) + n > large[block]->size) return false;
    r.bytes(n);
  }
  if (v.heap_named > memory::heap_series_count()) return false;
  // pool_new takes the first free table place from its cursor on (next-fit); the pools the
  // step made must come at the places it gave them, without the table growing.
  uint32_t cursor = memory::pool_cursor();
  std::vector<uint32_t> made;
  for (uint32_t i = 0; i < v.pool_count; ++i) {
    PoolRecord p;
    read_pool(r, &p);
    NodePool* pool = p.index < m.pool_table_count ? m.pool_table[p.index] : nullptr;
    if (p.fresh ? pool != nullptr : (!pool || pool->capacity != p.capacity)) return false;
    if (p.fresh) {
      uint32_t cap = m.pool_table_capacity, at = cap;
      for (uint32_t k = 0; k < cap; ++k) {
        uint32_t t = (cursor + k) % cap;
        bool taken = m.pool_table[t] != nullptr;
        for (uint32_t u : made) taken |= u == t;
        if (!taken) { at = t; break; }
      }
      if (at != p.index || p.capacity != memory::POOL_NODES) return false;
      made.push_back(at);
      cursor = at + 1;
    }
  }

  // The fresh runs go to the free room past the bump, checked as they are copied: a
  // mismatch clears what was written there and changes nothing else.
  Sums fresh;
  r.pos = v.runs_at;
  for (uint32_t i = 0; i < v.arena_runs; ++i) {
    uint32_t at = r.u32(), n = r.u32();
    const uint8_t* p = r.bytes(n);
    if (at >= v.arena_before) fresh.copy(a->data + at, p, n);
  }
  if (fresh.sum() != read64(v.data + 112) || fresh.xor_() != read64(v.data + 120)) {
    std::memset(a->data + v.arena_before, 0, v.arena_used - v.arena_before);
    return false;
  }
  // Pools the step made come first: pool_new gives the same table places it gave then.
  r.pos = v.pools_at;
  for (uint32_t i = 0; i < v.pool_count; ++i) {
    PoolRecord p;
    read_pool(r, &p);
    if (p.fresh) memory::pool_new(p.capacity);
  }
  r.pos = v.runs_at;
  for (uint32_t i = 0; i < v.arena_runs; ++i) {
    uint32_t at = r.u32(), n = r.u32();
    const uint8_t* p = r.bytes(n);
    if (at < v.arena_before) std::memcpy(a->data + at, p, n);
  }
  a->bump = a->data + v.arena_used;
  for (uint32_t i = 0; i < v.large_runs; ++i) {
    uint32_t block = r.u32(), at = r.u32(), n = r.u32();
    r.u32();
    std::memcpy(reinterpret_cast<uint8_t*>(large_buffer(large[block])) + at, r.bytes(n), n);
  }
  for (uint32_t i = 0; i < v.pool_count; ++i) {
    PoolRecord p;
    read_pool(r, &p);
    NodePool* pool = m.pool_table[p.index];
    pool->free = p.free;
    pool->used = p.used;
    pool->born = p.born;
    pool->used_last = p.used_last;
    pool->history = p.history;
    pool->releasing = p.releasing;
    for (uint32_t j = 0; j < p.n; ++j) {
      uint32_t code = read32(p.slots + size_t(j) * 4);
      uintptr_t value;
      if ((code & 1) || code == 0) value = code;
      else if (code % 8 == 0) value = reinterpret_cast<uintptr_t>(a->data + (code - 8));
      else if (code % 8 == 2) value = reinterpret_cast<uintptr_t>(large_buffer(large[code >> 3]));
      else value = reinterpret_cast<uintptr_t>(memory::heap_series_at(code >> 3));
      pool->slots[j] = value;
    }
  }
  const uint8_t* h = v.data;
  m.pool_current = m.pool_table[read32(h + 68)];
  m.allocations = read64(h + 72);
  m.carved_since_collection = read64(h + 80);
  m.stamp_clock = read32(h + 88);
  m.moves += read32(h + 92);
  m.cell_moves += read32(h + 96);
  m.renames += read32(h + 100);
  *result = v.result;
  return true;
}

}  // namespace kel::heap_image
