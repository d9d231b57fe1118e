// Terminal input bytes as keys: the escape-sequence scanner the line editor and the GUI
// backend share, and the line editor's decoder of bytes into its key codes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::keys {

// The line editor's codes of the keys that carry no character.
constexpr int32_t UP = -20;
constexpr int32_t DOWN = -21;
constexpr int32_t RIGHT = -22;
constexpr int32_t LEFT = -23;
constexpr int32_t END = -24;
constexpr int32_t HOME = -25;
constexpr int32_t INSERT = -26;
constexpr int32_t DELETE = -27;
constexpr int32_t PAGE_UP = -28;
constexpr int32_t PAGE_DOWN = -29;

// What follows an ESC byte.
enum class Seq : uint8_t {
  Incomplete,  // the bytes end before the sequence does
  Control,     // ESC [ ... final
  String,      // ESC P or ESC ] ... ESC backslash (DCS, OSC)
  Abandoned,   // an ESC inside a control sequence ended it; that ESC is counted in length
  Other,       // ESC and another byte (or nothing else): the caller decides
};
constexpr int MAX_PARAMS = 4;
struct Sequence {
  Seq kind;
  size_t length;              // bytes used from the ESC on (Control, String, Abandoned)
  uint8_t final_byte;         // Control: the byte in 64-126 that ended it
  bool mouse;                 // Control: "<" seen (an SGR mouse report)
  int32_t params[MAX_PARAMS]; // Control: the first four numbers
  int32_t param_count;        // Control: every number, also those past the fourth
};
// Scans the sequence that starts at p[0] (an ESC). Control sequences: "<" marks a mouse
// report, digits make a number, ";" stores it and starts the next, a final byte (64-126
// but "[") stores the last and ends; other bytes are skipped. Numbers stop growing at 99999.
Sequence scan(const uint8_t* p, size_t n);

// Decodes the key at the front of n bytes for the line editor; answers the bytes used, 0 when
// the key is cut off and more bytes may come. With no more to come (`final`), a cut-off
// piece is taken as it is: a lone ESC is Esc (27), a cut sequence is ignored (code 0), cut
// UTF-8 is U+FFFD.
// Codes: characters as code points (LF is 13, bad UTF-8 U+FFFD); ESC [ or ESC O with A B C D
// (any parameters) the arrows, H, 1~, 7~ HOME, F, 4~, 8~ END, 2~ 3~ 5~ 6~ INSERT DELETE
// PAGE_UP PAGE_DOWN, Z the tab (9); every other sequence 0. ESC before any other byte is Esc.
size_t decode_editor_key(const uint8_t* p, size_t n, bool final, int32_t* code);

// The UTF-8 sequence at p (n > 0 bytes): its code point (used = its length); UTF8_BAD when it
// is malformed (used = 1: drop the first byte); UTF8_CUT when n ends it early and its bytes
// so far are well-formed (used = 0).
constexpr int32_t UTF8_BAD = -1;
constexpr int32_t UTF8_CUT = -2;
int32_t decode_utf8(const uint8_t* p, size_t n, size_t* used);

}  // namespace kel::keys
