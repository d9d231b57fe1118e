// The event record table (slots with generations, a free list for nesting dispatches), the
// widget-to-face look-up hook and the terminal's event sender.
#include "gui/terminal/event_records.h"

#include <vector>

namespace kel::gui {

namespace {

struct Slot {
  EventRecord record;
  uint32_t generation;  // 22 bits; wraps after about four million reuses of the slot
  bool live;
};

constexpr uint32_t GENERATION_MASK = (1u << (32 - RECORD_SLOT_BITS)) - 1;

std::vector<Slot> g_slots;
std::vector<uint32_t> g_free;  // slot indexes, the most recently released last
uint32_t g_live = 0;
FaceLookup g_lookup = nullptr;

uint32_t id_of(uint32_t slot) {
  return (g_slots[slot].generation << RECORD_SLOT_BITS) | (slot + 1);
}

// The slot of a live id, or -1.
int32_t slot_of(uint32_t id) {
  uint32_t slot = (id & RECORD_SLOTS) - 1;
  if ((id & RECORD_SLOTS) == 0 || slot >= g_slots.size()) return -1;
  const Slot& s = g_slots[slot];
  if (!s.live || s.generation != (id >> RECORD_SLOT_BITS)) return -1;
  return int32_t(slot);
}

}  // namespace

uint32_t register_event_record(const EventRecord& record) {
  uint32_t slot;
  if (!g_free.empty()) {
    slot = g_free.back();
    g_free.pop_back();
  } else if (g_slots.size() < RECORD_SLOTS) {
    slot = uint32_t(g_slots.size());
    g_slots.push_back(Slot{{}, 0, false});
  } else {
    return 0;
  }
  g_slots[slot].record = record;
  g_slots[slot].live = true;
  ++g_live;
  return id_of(slot);
}

void release_event_record(uint32_t id) {
  int32_t slot = slot_of(id);
  if (slot < 0) return;
  Slot& s = g_slots[size_t(slot)];
  s.live = false;
  s.generation = (s.generation + 1) & GENERATION_MASK;
  g_free.push_back(uint32_t(slot));
  --g_live;
}

const EventRecord* event_record(uint32_t id) {
  int32_t slot = slot_of(id);
  return slot < 0 ? nullptr : &g_slots[size_t(slot)].record;
}

uint32_t live_event_records() { return g_live; }

void set_face_lookup(FaceLookup lookup) { g_lookup = lookup; }

bool face_of_widget(uint32_t widget, Cell* out) { return g_lookup && g_lookup(widget, out); }

bool os_send_event(const Cell*, bool) { return false; }

}  // namespace kel::gui
