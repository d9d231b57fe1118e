// External resource table: resources the memory manager does not own (bitmaps behind
// image! values), entered with a kind that knows how to release them; swept by the collector.
#pragma once
#include <cstdint>

namespace kel::extern_ {

using ReleaseCallback = void (*)(void* resource);
constexpr uint32_t MAX_KINDS = 20;
constexpr uint32_t FIRST_ENTRIES = 1000;
constexpr uint32_t ENTRY_FREE = 0x40000000;
constexpr uint32_t ENTRY_MARK = 0x80000000;

struct Kind {
  const char* name;
  ReleaseCallback release;
};

struct Entry {
  uint32_t flags;       // kind in bits 0-7; mark bit 31; exactly 0x40000000 when free
  void* resource;
  int32_t link;         // next entry of its list, -1 at the end
};

struct Table {
  Kind* kinds;
  uint32_t kind_count;
  Entry* entries;
  uint32_t capacity;
  int32_t free_head;
  int32_t used_head;
};

Table& table();
void init();
void shutdown();                                   // frees the tables (resources untouched)
uint32_t register_kind(const char* name, ReleaseCallback release);
int32_t add_entry(void* resource, uint32_t flags);
uint32_t set_mark(int32_t index, void* resource);  // 1 when newly marked
void release_entry(int32_t index, bool release);
void sweep();

}  // namespace kel::extern_
