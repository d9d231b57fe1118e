// The table-driven lexer: character classes, the 65-state transition table, the lexer
// state record and its value stack, the scan loop and the syntax-error escape.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/unwind.h"

namespace kel::lexer {

constexpr int CLASS_COUNT = 40;
constexpr int ROW_COUNT = 65;     // states 0-64 continue
constexpr int FIRST_FINAL = 66;   // 66-101 are finals, slot = state - 66
constexpr int SLOT_COUNT = 36;
constexpr int TYPE_STATES = 104;  // size of the per-state tables
constexpr uint32_t ESCAPE = 10;   // unwinding code of the lexer's own escape
constexpr int32_t VALUE_STACK_CELLS = 1000;
constexpr int32_t BUFFER_BYTES = 100000;

// Character classes.
enum Class : uint8_t {
  C_BLANK, C_LF, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
  C_BRACE_OPEN, C_BRACE_CLOSE, C_QUOTE, C_SHARP, C_APOSTROPHE, C_COLON, C_X, C_T, C_H, C_E_LOW,
  C_E_UP, C_HEX_LOW, C_HEX_UP, C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT,
  C_COMMA, C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CONTROL,
  C_CONTINUATION, C_WORD, C_INVALID, C_END
};

// Token flags (bits of a class entry, ORed over a token's bytes).
namespace flag {
constexpr uint32_t NEWLINE_BEFORE_BRACE = 1u << 17;
constexpr uint32_t PERCENT = 1u << 18;
constexpr uint32_t GREATER = 1u << 19;
constexpr uint32_t LESS = 1u << 20;
constexpr uint32_t SIGN = 1u << 21;
constexpr uint32_t NUL = 1u << 22;
constexpr uint32_t SHARP = 1u << 23;
constexpr uint32_t EXPONENT = 1u << 24;
constexpr uint32_t APOSTROPHE = 1u << 25;
constexpr uint32_t COLON = 1u << 26;
constexpr uint32_t COMMA = 1u << 27;
constexpr uint32_t DOT = 1u << 28;
constexpr uint32_t CARET = 1u << 29;
constexpr uint32_t UTF8_2_3 = 1u << 30;
constexpr uint32_t UTF8_4 = 1u << 31;
constexpr uint32_t MASK = 0xFFFFFF00u;
}  // namespace flag

// Narrowest string unit the flags allow: 1, 2 or 4.
inline uint32_t unit_of_flags(uint32_t flags) {
  uint32_t u = 1u << (flags >> 30);
  return u > 4 ? 4 : u;
}

// Named states of the transition table (the rest are internal).
namespace st {
constexpr int START = 0, COMMENT = 1, STRING = 2, BRACED = 4, FILE_START = 6, SLASH = 13,
              SHARP = 16, DIGITS = 23, POINT = 35, WORD = 52, PATH_ITEM = 59;
constexpr int F_END = 66, F_ERROR = 67, F_BLOCK = 68, F_BLOCK_CLOSE = 69, F_PAREN = 70,
              F_PAREN_CLOSE = 71, F_BRACE = 72, F_BRACE_CLOSE = 73, F_MAP = 74, F_PATH = 75,
              F_CONSTRUCT = 76, F_COMMENT = 77, F_COMMA = 78, F_STRING = 79, F_WORD = 80,
              F_ISSUE = 81, F_INTEGER = 82, F_REFINEMENT = 83, F_CHAR = 84, F_FILE = 85,
              F_BINARY = 86, F_PERCENT = 87, F_FLOAT = 88, F_SPECIAL_FLOAT = 89, F_TUPLE = 90,
              F_DATE = 91, F_PAIR = 92, F_POINT = 93, F_TIME = 94, F_MONEY = 95, F_TAG = 96,
              F_URL = 97, F_EMAIL = 98, F_HEX = 99, F_RAW_STRING = 100, F_REF = 101;
}  // namespace st

// Event bits.
namespace ev {
constexpr uint32_t PRESCAN = 1, SCAN = 2, LOAD = 4, OPEN = 8, CLOSE = 16, ERROR = 32, ALL = 63;
}

struct State;

// What an event callback receives. Positions are 1-based, in characters for text sources
// and in bytes for binary ones; input_index (0-based, same unit) may be changed by the
// callback to move the scan.
struct EventArgs {
  uint32_t event;
  int32_t type;        // datatype id; 0 none; negative: -(slot + 1) of a structure token
  Cell type_value;     // datatype!, the exit-states word, or none
  int32_t line;
  const Cell* value;   // the loaded value, or null (then start and end describe the token)
  int32_t start;
  int32_t end;
  int32_t input_index;
};
// A C++ event callback; returns the logic result of the event.
using EventFn = bool (*)(State* state, EventArgs* args, void* data);

// One active scan. Positions are byte offsets from the input start, so an input held in a
// collected binary! survives the loaders and events that move it.
struct State {
  State* next;               // inner scan
  State* prev;               // outer scan
  int32_t base, head, tail;  // value-stack indexes
  const uint8_t* fixed;      // input address when it cannot move, else null (source binary)
  Cell source;               // source series value (string!, binary!) or none
  int32_t source_head;       // character (string) or byte (binary) index of the input start
  int32_t length;            // input end offset
  int32_t pos;               // current position
  int32_t token_start;
  int32_t token_end;
  int32_t line;
  int32_t lines_passed;
  int32_t forced_type;
  int32_t token_type;
  int32_t entry_state;       // start state of the next token: 0, 4, 35 or 59
  int32_t prev_state;
  int32_t pending_type;
  int32_t last_type;
  int32_t brace_start, brace_depth;
  uint32_t brace_flags;
  int32_t point_lines;
  Cell callback;             // Kel function or routine, or none
  int32_t extra_locals;
  uint32_t event_mask;
  bool load;
  bool binary_source;        // positions reported in bytes
  int32_t cache_byte, cache_char;  // character-offset cache
  EventFn native_callback;   // C++ callback (tests, runtime users) or null
  void* native_data;
  int32_t moved_to;          // set by an event that moved the input, else -1
};

// ---- Tables (built once by init) ----
extern uint32_t class_table[256];
extern uint8_t line_count[CLASS_COUNT];
extern uint8_t delimiter[CLASS_COUNT];
extern uint8_t blank_skip[TYPE_STATES];
extern int8_t type_table[TYPE_STATES];
extern uint8_t transition[ROW_COUNT][CLASS_COUNT];

using Handler = void (*)(State* s, int32_t start, int32_t end, uint32_t flags, bool load);
struct HandlerPair {
  Handler scanner;
  Handler loader;
};
extern Handler scanners[SLOT_COUNT];
extern Handler loaders[SLOT_COUNT];
extern const HandlerPair handler_pairs[SLOT_COUNT];  // lexer_scan.cpp

// Builds every table, the value stack and the shared buffer; idempotent.
void init();
void init_static();
// Releases the value stack and the shared buffer (tests that reset the heap).
void shutdown();

// ---- The chain of active scans ----
State* chain_head();
State* innermost();
void link(State* s);
void unlink(State* s);

// ---- Value stack ----
Cell* stack_cell(int32_t index);
int32_t stack_capacity();
// A new cell at the tail (new-line flag when the token passed a line feed).
Cell* push_cell(State* s);
// Pushes an open marker of the type and makes the innermost series start after it.
void open_series(State* s, uint32_t type, int32_t offset);
// The innermost open marker (null when none is open in this scan).
Cell* open_marker(State* s);
// Closes the innermost open series into a value of its type (or the given type) written
// over its marker. load false only drops the cells.
void close_series(State* s, uint32_t type);
// Drops every open marker of this scan (error paths).
void drop_open_series(State* s);

// ---- Scanning ----
// Input address (re-read: a binary source may move at any allocation).
const uint8_t* input(const State* s);
// Runs the scan loop; returns normally or by the lexer escape caught inside.
void scan_loop(State* s, bool one_value, bool prescan);
// Reports a syntax error (see the error operation); never returns.
[[noreturn]] void syntax_error(State* s, int32_t start, int32_t end, int32_t code);
[[noreturn]] inline void escape() { throw Unwind{ESCAPE}; }
// Marks the cells and values of every active scan (collector root).
void mark_states();

// ---- Events (transcode.cpp) ----
bool send_event(State* s, uint32_t event, int32_t type, const Cell* value, int32_t start,
                int32_t end);

}  // namespace kel::lexer
