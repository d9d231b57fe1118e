// The GUI vocabulary: the event type words with their codes, the event flag and special key
// words, and the face flag words with their bits, interned once at start-up.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

// Interns every word of the vocabulary, kept in the root block (start-up, with
// collect_into_root set, after event! is registered). Words compare by canonical symbol id.
void intern_vocabulary();

// Event flag bits (an event cell's w3).
namespace event_flag {
constexpr uint32_t SPECIAL_KEY = 0x00000001;  // the key code is a special key (backend)
constexpr uint32_t AUX_DOWN = 0x00400000;
constexpr uint32_t ALT_DOWN = 0x00800000;
constexpr uint32_t MID_DOWN = 0x01000000;
constexpr uint32_t DOWN = 0x02000000;
constexpr uint32_t AWAY = 0x04000000;
constexpr uint32_t CONTROL = 0x10000000;
constexpr uint32_t SHIFT = 0x20000000;
constexpr uint32_t ALT = 0x40000000;
constexpr uint32_t COMMAND = 0x80000000;
}  // namespace event_flag

// Event type codes the backend uses by name.
constexpr uint32_t EVENT_WHEEL = 11;
constexpr uint32_t EVENT_TYPE_COUNT = 38;  // codes 1-38

// The type code a word names (any word type, case ignored); 0 when it names none.
uint32_t event_type_code(const Cell* word);
// The type word of a code, bound globally; false (out untouched) for a code without one.
bool event_type_word(uint32_t code, Cell* out);

// The bit a word stands for in a `flags` spec; 0 for any other word.
uint32_t event_flag_bit(const Cell* word);
// The words a `flags` result lists, in their order, and their bits.
constexpr int32_t EVENT_FLAG_RESULT_COUNT = 8;
uint32_t event_flag_result_bit(int32_t position);
Cell event_flag_result_word(int32_t position);

// The word of a special key code (-20 to -42); false for a code without one.
bool special_key_word(int32_t code, Cell* out);

// The bit of a face flag word (case ignored); 0 when the word is none of the 15.
uint32_t face_flag_bit(const Cell* word);

}  // namespace kel::gui
