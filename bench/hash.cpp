// Hash table speed: 10^5 symbol interns then 10^6 look-ups; 10^6 map! puts; a hash!
// index over 10^6 values with many repeats, then emptying and refilling its lists; a run
// of cells removed from long duplicate lists.
// Run by hand: build/bench/bench-hash
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/hash_mem.h"
#include "runtime/init.h"
#include "runtime/memory.h"

using namespace kel;
using namespace kel::hash;

namespace {
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main() {
  memory::init();
  gc::init();
  gc::set_automatic(true);
  // Keys compare through the datatypes' compare slots.
  datatype::alloc_tables();
  for (uint8_t id : runtime::datatype_registration_order) datatype::install(id);
  gc::state().roots.symbol_hash = &symbol_table;
  symbol_table = table_create(4000, nullptr, KIND_SYMBOLS, 0);
  std::vector<std::string> names;
  for (int i = 0; i < 100000; i++) names.push_back("sym-" + std::to_string(i * 7919));

  auto t0 = std::chrono::steady_clock::now();
  for (auto& n : names)
    find_symbol_name(symbol_table, reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()), false);
  double intern = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  uint64_t sum = 0;
  for (int i = 0; i < 1000000; i++) {
    auto& n = names[(i * 31) % names.size()];
    sum += uint32_t(find_symbol_name(symbol_table, reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()), false));
  }
  double lookup = seconds_since(t0);

  static Cell held{T_NONE, 0, 0, 0};
  gc::Root keep(&held);
  held = Cell{T_MAP, 0, mem::new_cells(16), 0};
  held.w3 = table_create(0, &held, KIND_MAP, 0);
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000000; i++) {
    Cell key{T_INTEGER, 0, uint32_t(i * 2654435761u), 0};
    Cell* found = table_search(held.w3, &key, 0, 1, 2, false, false);
    if (found) {
      found[1] = Cell{T_INTEGER, 0, uint32_t(i), 0};
      continue;
    }
    uint32_t used = mem::used(held.w2);
    mem::ensure(held.w2, used + 32);
    Cell pair[2] = {key, Cell{T_INTEGER, 0, uint32_t(i), 0}};
    std::memcpy(mem::data(held.w2) + used, pair, 32);
    mem::set_used(held.w2, used + 32);
    table_add(held.w3, reinterpret_cast<Cell*>(mem::data(held.w2) + used));
  }
  double puts = seconds_since(t0);

  // 10^6 integers, 10^5 distinct values ten times each: 10^5 duplicate lists.
  constexpr int32_t N = 1000000, DISTINCT = 100000;
  static Cell repeats{T_NONE, 0, 0, 0};
  gc::Root keep_repeats(&repeats);
  repeats = Cell{T_BLOCK, 0, mem::new_cells(N), 0};
  for (int32_t i = 0; i < N; i++) {
    Cell c{T_INTEGER, 0, uint32_t((int64_t(i) * 7919) % DISTINCT), 0};
    std::memcpy(mem::data(repeats.w2) + size_t(i) * 16, &c, 16);
  }
  mem::set_used(repeats.w2, uint32_t(N) * 16);
  t0 = std::chrono::steady_clock::now();
  repeats.w3 = table_create(N, &repeats, KIND_HASH, 0);
  repeats.header = T_HASH;
  double build = seconds_since(t0);

  // Every copy of half the values removed (their lists freed), then the cells indexed
  // again: each new list takes a freed slot.
  t0 = std::chrono::steady_clock::now();
  for (int32_t i = 0; i < N; i++) {
    Cell* c = reinterpret_cast<Cell*>(mem::data(repeats.w2)) + i;
    if (c->w2 % 2 == 0) table_delete_value(repeats.w3, c);
  }
  for (int32_t i = 0; i < N; i++) {
    Cell* c = reinterpret_cast<Cell*>(mem::data(repeats.w2)) + i;
    if (c->w2 % 2 == 0) table_add(repeats.w3, c);
  }
  double refill = seconds_since(t0);

  // Half of 10^6 cells of two values removed as one run: each long list walked once.
  static Cell pairs{T_NONE, 0, 0, 0};
  gc::Root keep_pairs(&pairs);
  pairs = Cell{T_BLOCK, 0, mem::new_cells(N), 0};
  for (int32_t i = 0; i < N; i++) {
    Cell c{T_INTEGER, 0, uint32_t(i % 2), 0};
    std::memcpy(mem::data(pairs.w2) + size_t(i) * 16, &c, 16);
  }
  mem::set_used(pairs.w2, uint32_t(N) * 16);
  pairs.w3 = table_create(N, &pairs, KIND_HASH, 0);
  pairs.header = T_HASH;
  t0 = std::chrono::steady_clock::now();
  table_delete_range(pairs.w3, N / 4, N / 2);
  double range = seconds_since(t0);

  std::printf("10^5 interns: %.3f s\n10^6 symbol look-ups: %.3f s (%llu)\n10^6 map puts: %.3f s (size %d)\n"
              "hash! of 10^6 values, 10^5 distinct: %.3f s (size %d)\n"
              "remove and re-add 5 x 10^5 of them: %.3f s (size %d)\n"
              "remove a run of 5 x 10^5 from 10^6 cells of two values: %.3f s\n",
              intern, lookup, (unsigned long long)sum, puts, record(held.w3)[rec::SIZE], build,
              DISTINCT, refill, record(repeats.w3)[rec::SIZE], range);
  return 0;
}
