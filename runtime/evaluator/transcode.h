// The lexer's drivers: lexer-scan over UTF-8 bytes and transcode-string over string! text,
// their modes and results, and the lexer events sent to a callback.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kel {

// Scans length bytes. scan 0: prescan; scan 1 + load 0: scan only; both: load. Returns the
// token type of the last token; consumed (may be null) gets the position reached (in
// characters when source is a string!). callback: a Kel function or routine, or null.
// source: the series the bytes come from (events position it), or null. into: a block the
// values are appended to, or null. A null bytes with a binary! source scans it in place.
int32_t lexer_scan(Cell* result, const uint8_t* bytes, int32_t length, bool one_value,
                   bool scan, bool load, bool next_as_block, int32_t* consumed,
                   const Cell* callback, const Cell* source, Cell* into);
void lexer_init();
void lexer_mark_states();

}  // namespace kel

namespace kel::lexer {

// Everything one driver call needs; lexer_scan and transcode_string fill one.
struct Request {
  Cell* result = nullptr;
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  bool one_value = false;
  bool scan = true;
  bool load = true;
  bool next_as_block = false;
  int32_t* consumed = nullptr;
  const Cell* callback = nullptr;   // Kel callback
  EventFn native = nullptr;         // C++ callback
  void* native_data = nullptr;
  uint32_t native_mask = ev::ALL;
  const Cell* source = nullptr;
  Cell* into = nullptr;
};
int32_t run(const Request& request);

// The string's characters from its head (length characters, -1: up to the tail) as UTF-8,
// scanned with the string as the source.
int32_t transcode_string(Cell* result, const Cell* string, int32_t length, bool one_value,
                         bool scan, bool load, bool next_as_block, int32_t* consumed,
                         const Cell* callback, Cell* into);
int32_t transcode_string(const Request& request, const Cell* string, int32_t length);

// Sends an event (steps 1-7); the result of the callback, true when not subscribed.
bool event(State* s, uint32_t bit, int32_t type, const Cell* value, int32_t start, int32_t end);

// Connections made by the interpreter and the boot library when they exist.
struct Connections {
  // Calls a Kel callback with the event's arguments; returns its truth.
  bool (*call_kel)(State* s, EventArgs* args) = nullptr;
  // Event mask of a Kel callback (the words of a block first in its body); null: all.
  uint32_t (*kel_mask)(const Cell* callback) = nullptr;
  // Extra locals of a Kel callback.
  int32_t (*kel_extra_locals)(const Cell* callback) = nullptr;
  // The word at position slot of system/lexer/exit-states; false when it is not a block.
  bool (*exit_state_word)(int32_t slot, Cell* out) = nullptr;
};
Connections& connections();

// Event mask of a callback: a function! or routine! whose body starts with a block selects
// the events named by the words in it (prescan scan load open close error); otherwise all.
uint32_t event_mask_of(const Cell* callback);

// The words system/lexer/exit-states holds, one per final slot (the boot library builds it).
extern const char* const EXIT_STATE_NAMES[SLOT_COUNT];

// Character index of a byte offset of the input (bytes for a binary source).
int32_t input_index(State* s, int32_t byte_offset);

}  // namespace kel::lexer
