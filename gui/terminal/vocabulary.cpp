// The GUI vocabulary: its word tables (event types, event flags, special keys, face flags),
// their interning at start-up and the look-ups by canonical symbol id.
#include "gui/terminal/vocabulary.h"

#include "gui/face_fields.h"
#include "runtime/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/root_block.h"
#include "runtime/symbol.h"

namespace kel::gui {

namespace {

struct Named {
  const char* name;
  uint32_t value;
};

// In the order a word is matched.
constexpr Named EVENT_TYPES[EVENT_TYPE_COUNT] = {
    {"time", 33},     {"drawing", 34},   {"scroll", 35},    {"down", 1},
    {"up", 2},        {"mid-down", 3},   {"mid-up", 4},     {"alt-down", 5},
    {"alt-up", 6},    {"aux-down", 7},   {"aux-up", 8},     {"wheel", 11},
    {"click", 9},     {"dbl-click", 10}, {"over", 12},      {"key", 13},
    {"key-down", 14}, {"key-up", 15},    {"ime", 16},       {"focus", 17},
    {"unfocus", 18},  {"select", 25},    {"change", 26},    {"enter", 19},
    {"menu", 27},     {"close", 28},     {"move", 29},      {"resize", 30},
    {"moving", 31},   {"resizing", 32},  {"zoom", 20},      {"pan", 21},
    {"rotate", 22},   {"two-tap", 23},   {"press-tap", 24}, {"minimize", 36},
    {"maximize", 37}, {"restore", 38}};

constexpr Named EVENT_FLAGS[] = {
    {"control", event_flag::CONTROL}, {"shift", event_flag::SHIFT},
    {"alt", event_flag::ALT},         {"command", event_flag::COMMAND},
    {"away", event_flag::AWAY},       {"down", event_flag::DOWN},
    {"mid-down", event_flag::MID_DOWN}, {"alt-down", event_flag::ALT_DOWN},
    {"aux-down", event_flag::AUX_DOWN}};
constexpr int32_t EVENT_FLAG_COUNT = sizeof EVENT_FLAGS / sizeof EVENT_FLAGS[0];
// Positions in EVENT_FLAGS of the words a `flags` result lists, in their order.
constexpr int32_t RESULT_ORDER[EVENT_FLAG_RESULT_COUNT] = {4, 5, 6, 7, 8, 0, 1, 2};

// Special key codes -20 to -42; -30 has no word.
constexpr const char* KEY_WORDS[] = {
    "up",  "down", "right", "left", "end", "home", "insert", "delete", "page-up", "page-down",
    nullptr, "F1", "F2",    "F3",   "F4",  "F5",   "F6",     "F7",     "F8",      "F9",
    "F10", "F11", "F12"};
constexpr int32_t FIRST_KEY = -20;
constexpr int32_t KEY_COUNT = sizeof KEY_WORDS / sizeof KEY_WORDS[0];

constexpr Named FACE_FLAGS[] = {
    {"all-over", 0x00000001},   {"focusable", 0x00000002},  {"resize", 0x04000000},
    {"no-title", 0x40000000},   {"no-border", 0x80000000},  {"no-min", 0x20000000},
    {"no-max", 0x10000000},     {"no-buttons", 0x08000000}, {"modal", 0x02000000},
    {"popup", 0x01000000},      {"tri-state", 0x00020000},  {"scrollable", 0x00040000},
    {"password", 0x00080000},   {"no-sync", 0x00100000},    {"fullscreen", 0x00200000}};
constexpr int32_t FACE_FLAG_COUNT = sizeof FACE_FLAGS / sizeof FACE_FLAGS[0];

// A global word kept as its symbol and slot (the global context's node is read at use).
struct Interned {
  int32_t symbol;
  int32_t canonical;
  uint32_t index;
};

Interned g_types[EVENT_TYPE_COUNT];
Interned g_flags[EVENT_FLAG_COUNT];
Interned g_keys[KEY_COUNT];
int32_t g_face_flags[FACE_FLAG_COUNT];  // canonical ids
bool g_ready = false;

Interned intern_word(const char* name) {
  Cell w = word::intern_global(name);
  runtime::root_append(&w);
  return {int32_t(w.w2), symbol::canonical_id(int32_t(w.w2)), w.w3};
}

Cell word_of(const Interned& i) { return Cell{T_WORD, context::global, uint32_t(i.symbol), i.index}; }

// The canonical id of a word-family cell, or -1 for anything else.
int32_t canonical_of(const Cell* c) {
  uint32_t t = cell::type(c);
  if (!g_ready || t < T_WORD || t > T_REFINEMENT) return -1;
  return symbol::canonical_id(int32_t(c->w2));
}

}  // namespace

void intern_vocabulary() {
  for (int32_t i = 0; i < int32_t(EVENT_TYPE_COUNT); ++i) g_types[i] = intern_word(EVENT_TYPES[i].name);
  for (int32_t i = 0; i < EVENT_FLAG_COUNT; ++i) g_flags[i] = intern_word(EVENT_FLAGS[i].name);
  for (int32_t i = 0; i < KEY_COUNT; ++i)
    g_keys[i] = KEY_WORDS[i] ? intern_word(KEY_WORDS[i]) : Interned{-1, -1, 0};
  for (int32_t i = 0; i < FACE_FLAG_COUNT; ++i)
    g_face_flags[i] = symbol::canonical_id(symbol::intern_c_text(FACE_FLAGS[i].name));
  intern_field_names();
  g_ready = true;
}

uint32_t event_type_code(const Cell* word) {
  int32_t id = canonical_of(word);
  if (id < 0) return 0;
  for (int32_t i = 0; i < int32_t(EVENT_TYPE_COUNT); ++i)
    if (g_types[i].canonical == id) return EVENT_TYPES[i].value;
  return 0;
}

bool event_type_word(uint32_t code, Cell* out) {
  if (!g_ready) return false;
  for (int32_t i = 0; i < int32_t(EVENT_TYPE_COUNT); ++i)
    if (EVENT_TYPES[i].value == code) {
      *out = word_of(g_types[i]);
      return true;
    }
  return false;
}

uint32_t event_flag_bit(const Cell* word) {
  int32_t id = canonical_of(word);
  if (id < 0) return 0;
  for (int32_t i = 0; i < EVENT_FLAG_COUNT; ++i)
    if (g_flags[i].canonical == id) return EVENT_FLAGS[i].value;
  return 0;
}

uint32_t event_flag_result_bit(int32_t position) { return EVENT_FLAGS[RESULT_ORDER[position]].value; }

Cell event_flag_result_word(int32_t position) { return word_of(g_flags[RESULT_ORDER[position]]); }

bool special_key_word(int32_t code, Cell* out) {
  int32_t i = FIRST_KEY - code;
  if (!g_ready || i < 0 || i >= KEY_COUNT || !KEY_WORDS[i]) return false;
  *out = word_of(g_keys[i]);
  return true;
}

uint32_t face_flag_bit(const Cell* word) {
  int32_t id = canonical_of(word);
  if (id < 0) return 0;
  for (int32_t i = 0; i < FACE_FLAG_COUNT; ++i)
    if (g_face_flags[i] == id) return FACE_FLAGS[i].value;
  return 0;
}

}  // namespace kel::gui
