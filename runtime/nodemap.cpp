// Node address map: open addressing with 2-bit bucket flags, 32-bit keys and values,
// kept on the process heap because it is used while buffers are marked and moved.
#include "runtime/nodemap.h"

#include <cstring>

#include "runtime/rt.h"

namespace kel::addr_map {

namespace {

constexpr uint32_t EMPTY = 2, DELETED = 1, LIVE = 0;

uint32_t round_up_pow2(uint32_t v) {
  uint32_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

uint32_t flag(const Map* m, uint32_t i) { return (m->flags[i >> 2] >> ((i & 3) * 2)) & 3; }
void set_flag(Map* m, uint32_t i, uint32_t f) {
  uint8_t& b = m->flags[i >> 2];
  b = uint8_t((b & ~(3u << ((i & 3) * 2))) | (f << ((i & 3) * 2)));
}

uint8_t* new_flags(uint32_t buckets) {
  uint32_t bytes = buckets / 4 ? buckets / 4 : 1;
  auto* f = static_cast<uint8_t*>(rt::alloc(bytes));
  std::memset(f, 0xAA, bytes);
  return f;
}

// Bucket holding the key (live), or where it goes: an empty or remembered deleted bucket.
// found reports a live match.
uint32_t probe(const Map* m, uint32_t key, bool& found) {
  uint32_t mask = m->buckets - 1;
  uint32_t start = hash::mix_int32(key) & mask;
  uint32_t i = start, step = 1;
  int64_t deleted = -1;
  found = false;
  for (;;) {
    uint32_t f = flag(m, i);
    if (f == EMPTY) return deleted >= 0 ? uint32_t(deleted) : i;
    if (f == DELETED) deleted = i;
    else if (m->entries[2 * i] == key) {
      found = true;
      return i;
    }
    i = (i + step++) & mask;
    if (i == start) return deleted >= 0 ? uint32_t(deleted) : i;
  }
}

void resize(Map* m, uint32_t target) {
  uint32_t buckets = round_up_pow2(target);
  if (buckets < 4) buckets = 4;
  uint32_t upper = uint32_t(buckets * 0.77 + 0.5);
  if (m->size >= upper) return;
  uint32_t old_buckets = m->buckets;
  uint8_t* old_flags = m->flags;
  uint32_t* old_entries = m->entries;
  m->flags = new_flags(buckets);
  m->entries = static_cast<uint32_t*>(rt::alloc(size_t(buckets) * 8));
  m->buckets = buckets;
  m->upper = upper;
  for (uint32_t i = 0; i < old_buckets; ++i) {
    if (((old_flags[i >> 2] >> ((i & 3) * 2)) & 3) != LIVE) continue;
    bool found;
    uint32_t b = probe(m, old_entries[2 * i], found);
    m->entries[2 * b] = old_entries[2 * i];
    m->entries[2 * b + 1] = old_entries[2 * i + 1];
    set_flag(m, b, LIVE);
  }
  rt::free(old_flags);
  rt::free(old_entries);
  m->occupied = m->size;
}

}  // namespace

Map* create(uint32_t expected) {
  auto* m = static_cast<Map*>(rt::alloc_zeroed(sizeof(Map)));
  uint32_t n = expected < 4 ? 4 : expected;
  m->buckets = round_up_pow2(uint32_t(n / 0.77));
  if (m->buckets < 4) m->buckets = 4;
  m->upper = uint32_t(m->buckets * 0.77);
  m->flags = new_flags(m->buckets);
  m->entries = static_cast<uint32_t*>(rt::alloc(size_t(m->buckets) * 8));
  return m;
}

uint32_t put(Map* m, uint32_t key, uint32_t value) {
  if (m->occupied >= m->upper) resize(m, m->buckets > 2 * m->size ? m->buckets - 1 : m->buckets + 1);
  bool found;
  uint32_t b = probe(m, key, found);
  if (!found && flag(m, b) == LIVE) {
    // full table of live keys with no room: grow and try again
    resize(m, m->buckets + 1);
    b = probe(m, key, found);
  }
  m->entries[2 * b + 1] = value;
  if (found) return 1;
  if (flag(m, b) == EMPTY) m->occupied++;
  m->entries[2 * b] = key;
  set_flag(m, b, LIVE);
  m->size++;
  return 0;
}

int32_t find(Map* m, uint32_t key) {
  bool found;
  uint32_t b = probe(m, key, found);
  return found ? int32_t(b) : -1;
}

uint32_t* get(Map* m, uint32_t key) {
  int32_t b = find(m, key);
  return b < 0 ? nullptr : &m->entries[2 * b + 1];
}

void delete_(Map* m, uint32_t key) {
  int32_t b = find(m, key);
  if (b < 0) return;
  set_flag(m, uint32_t(b), DELETED);
  m->size--;
}

uint32_t* next_live(Map* m, uint32_t* previous) {
  uint32_t i = previous ? uint32_t((previous - m->entries) / 2) + 1 : 0;
  for (; i < m->buckets; ++i) {
    if (flag(m, i) == LIVE) return &m->entries[2 * i];
  }
  return nullptr;
}

uint32_t size(Map* m) { return m->size; }

void clear(Map* m) {
  std::memset(m->flags, 0xAA, m->buckets / 4 ? m->buckets / 4 : 1);
  m->size = 0;
  m->occupied = 0;
}

void free(Map* m) {
  if (!m) return;
  rt::free(m->entries);
  rt::free(m->flags);
  rt::free(m);
}

}  // namespace kel::addr_map
