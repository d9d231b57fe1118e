// The records behind backend events: a table of dispatch-time records reached by a 32-bit
// id (slot and generation), the widget-to-face look-up, and the backend's event sender.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

// What the dispatcher knows of one event while it is being dispatched.
struct EventRecord {
  uint32_t widget;  // the widget id; its face is the event's `face`
  float x, y;       // pointer position in the widget's own cells
  int32_t code;     // key code, or the `picked` value
  float delta;      // wheel steps
};

// An id: bits 0-9 the slot + 1 (so 0 is never an id), bits 10-31 the slot's generation,
// bumped on every release; a kept id then no longer finds its record.
constexpr uint32_t RECORD_SLOT_BITS = 10;
constexpr uint32_t RECORD_SLOTS = (1u << RECORD_SLOT_BITS) - 1;  // records live at once

// Registers a copy of the record; 0 when every slot is in use (the event then reads as
// expired).
uint32_t register_event_record(const EventRecord& record);
// Ends the record's life (at the end of its dispatch); stale and 0 ids are ignored.
void release_event_record(uint32_t id);
// The live record of an id, or null once released. Valid until it is released.
const EventRecord* event_record(uint32_t id);
// Records registered and not released (tests).
uint32_t live_event_records();

// A record for the length of one dispatch; dispatches nest, and so do these.
struct ScopedEventRecord {
  uint32_t id;
  explicit ScopedEventRecord(const EventRecord& record) : id(register_event_record(record)) {}
  ~ScopedEventRecord() { release_event_record(id); }
  ScopedEventRecord(const ScopedEventRecord&) = delete;
  ScopedEventRecord& operator=(const ScopedEventRecord&) = delete;
};

// How a widget id finds its face value. The widget model installs its own; until then no
// widget has a face. The look-up writes the face into out and answers true, or answers
// false when the widget is gone or has none.
using FaceLookup = bool (*)(uint32_t widget, Cell* out);
void set_face_lookup(FaceLookup lookup);  // null: back to "no widget has a face"
bool face_of_widget(uint32_t widget, Cell* out);

// `gui/OS-send-event`: hands an event to the platform. The terminal has no event queue of
// its own, so nothing is sent and the answer is false.
bool os_send_event(const Cell* event, bool queued);

}  // namespace kel::gui
