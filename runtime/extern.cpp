// External resource table: kinds with release callbacks, entries on a free and an
// in-use list, marked by the collector and swept after marking.
#include "runtime/extern.h"

#include "runtime/rt.h"

namespace kel::extern_ {

namespace {
Table g_table;

void thread_free(uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; ++i) {
    g_table.entries[i] = Entry{ENTRY_FREE, nullptr, i + 1 < to ? int32_t(i + 1) : -1};
  }
}

void release_resource(const Entry& e) {
  uint32_t kind = e.flags & 0xFF;
  if (kind < 1 || kind > g_table.kind_count) return;
  ReleaseCallback cb = g_table.kinds[kind - 1].release;
  if (cb) cb(e.resource);
}
}  // namespace

Table& table() { return g_table; }

void init() {
  shutdown();
  g_table.kinds = static_cast<Kind*>(rt::alloc_zeroed(MAX_KINDS * sizeof(Kind)));
  g_table.entries = static_cast<Entry*>(rt::alloc(FIRST_ENTRIES * sizeof(Entry)));
  g_table.capacity = FIRST_ENTRIES;
  thread_free(0, FIRST_ENTRIES);
  g_table.free_head = 0;
  g_table.used_head = -1;
}

void shutdown() {
  if (g_table.kinds) rt::free(g_table.kinds);
  if (g_table.entries) rt::free(g_table.entries);
  g_table = Table{};
  g_table.free_head = -1;
  g_table.used_head = -1;
}

uint32_t register_kind(const char* name, ReleaseCallback release) {
  if (g_table.kind_count >= MAX_KINDS) rt::fatal_error(94, 0);
  g_table.kinds[g_table.kind_count] = Kind{name, release};
  return ++g_table.kind_count;
}

int32_t add_entry(void* resource, uint32_t flags) {
  if (!g_table.entries) init();
  int32_t head = g_table.free_head;
  if (g_table.entries[head].link == -1) {
    uint32_t old = g_table.capacity;
    g_table.entries = static_cast<Entry*>(rt::realloc(g_table.entries, 2 * old * sizeof(Entry)));
    g_table.capacity = 2 * old;
    thread_free(old, 2 * old);
    g_table.entries[head].link = int32_t(old);
  }
  Entry& e = g_table.entries[head];
  g_table.free_head = e.link;
  e = Entry{flags & ~(ENTRY_FREE | ENTRY_MARK), resource, g_table.used_head};
  g_table.used_head = head;
  return head;
}

uint32_t set_mark(int32_t index, void* resource) {
  if (index < 0 || uint32_t(index) >= g_table.capacity) return 0;
  Entry& e = g_table.entries[index];
  if (e.flags == ENTRY_FREE) return 0;
  uint32_t was = e.flags & ENTRY_MARK;
  e.flags |= ENTRY_MARK;
  if (resource) e.resource = resource;
  return was ? 0 : 1;
}

void release_entry(int32_t index, bool release) {
  if (index < 0 || uint32_t(index) >= g_table.capacity) return;
  Entry& e = g_table.entries[index];
  if (e.flags == ENTRY_FREE) return;  // released twice: nothing more to do
  if (release) release_resource(e);
  int32_t prev = -1;
  for (int32_t i = g_table.used_head; i != -1; prev = i, i = g_table.entries[i].link) {
    if (i == index) {
      if (prev < 0) g_table.used_head = e.link;
      else g_table.entries[prev].link = e.link;
      break;
    }
  }
  e = Entry{ENTRY_FREE, nullptr, g_table.free_head};
  g_table.free_head = index;
}

void sweep() {
  if (!g_table.entries) return;
  int32_t prev = -1;
  int32_t i = g_table.used_head;
  while (i != -1) {
    Entry& e = g_table.entries[i];
    int32_t next = e.link;
    if (e.flags & ENTRY_MARK) {
      e.flags &= ~ENTRY_MARK;
      prev = i;
    } else {
      release_resource(e);
      if (prev < 0) g_table.used_head = next;
      else g_table.entries[prev].link = next;
      e = Entry{ENTRY_FREE, nullptr, g_table.free_head};
      g_table.free_head = i;
    }
    i = next;
  }
}

}  // namespace kel::extern_
