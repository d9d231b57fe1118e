// Unicode codecs: UTF-8 and UTF-16LE decoding into strings of 1-, 2- or 4-byte units,
// encoding strings back out through their conversion buffer, and in-place widening.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::unicode {

static_assert(std::endian::native == std::endian::little, "units are stored little-endian");

// Hoehrmann's UTF-8 DFA: 256 byte classes, then transitions by state (multiples of 12) + class.
extern const uint8_t utf8_dfa[364];
constexpr uint8_t DFA_ACCEPT = 0;
constexpr uint8_t DFA_REJECT = 12;

// Results of the non-raising checked decoder.
constexpr int32_t UTF8_INCOMPLETE = -1;  // fewer bytes left than the lead byte announces
constexpr int32_t UTF8_MALFORMED = -2;

// ---- Decoding ----

// Decodes one sequence at p; cp gets the codepoint or -1 when the DFA rejects. Never reads
// at or past end: a sequence cut by end is rejected. Returns the position after it.
const uint8_t* read_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
// Core of the checked decoder: codepoint, UTF8_INCOMPLETE or UTF8_MALFORMED; used gets
// the length of a decoded sequence. Overlong 2-byte forms and surrogates outside
// 0xDC00-0xDCFF are accepted.
int32_t decode_utf8_checked(const uint8_t* p, int32_t available, int32_t* used);
// count: in, bytes available; out, bytes used. Returns the codepoint, or -1 when fewer
// bytes are available than the lead byte announces. Malformed input raises
// access/invalid-utf8 with the bytes at p (at most 4, only those available).
int32_t read_utf8_char_checked(const uint8_t* p, int32_t* count);
// Sequences between start and end (each rejected sequence counts as one).
int32_t utf8_char_count(const uint8_t* start, const uint8_t* end);
// Position after n sequences, never past end.
const uint8_t* utf8_advance(const uint8_t* start, const uint8_t* end, int32_t n);
// 4, 3 or 2 by the lead byte's top bits, else 0.
int32_t utf8_lead_length(uint8_t byte);

// The bytes as UTF-8 with every invalid sequence replaced by U+FFFD: outside text (the
// command line, the clipboard) that must become a string whatever it holds.
std::string valid_utf8(const std::string& bytes);

// Loads UTF-8 text into target (0: a new string series), written from the target's head;
// unread (may be null) gets the bytes of an incomplete last sequence. With cr, CR LF and
// a lone CR become LF. Returns the node of the string.
Node utf8_to_string(const uint8_t* bytes, int32_t length, Node target, int32_t* unread, bool cr);
// The same into the buffer of a string cell.
Node utf8_into_string(const uint8_t* bytes, int32_t length, Cell* string, int32_t* unread);
Node utf8_to_new_string(const uint8_t* bytes, int32_t length);
// 1, 2 or 4: the string unit that n UTF-16LE units need.
uint32_t utf16_unit_size(const uint8_t* bytes, int32_t n);
// Loads n UTF-16LE units (bytes null: the target's conversion buffer) into target's buffer
// (null: a new string). With cr every 0x000D is dropped. An unpaired high surrogate raises
// script/invalid-char with its value. Returns the node of the string.
Node utf16le_to_string(const uint8_t* bytes, int32_t n, Cell* target, bool cr);

// ---- Encoding ----

// 1 to 4; above 0x10FFFF raises script/invalid-char.
int32_t utf8_length_of(int32_t cp);
// Total UTF-8 bytes of the characters from start to end in the given unit.
int32_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Bytes written (1 to 4); above 0x10FFFF raises script/invalid-char.
int32_t encode_utf8_char(int32_t cp, uint8_t* dst);
// The first min(room, length) bytes of the sequence; 0 when room < 1.
int32_t encode_utf8_char_limited(int32_t cp, uint8_t* dst, int32_t room);
// UTF-16 units written: 1, 2, or 0 above 0x10FFFF.
int32_t encode_utf16_char(int32_t cp, uint16_t* dst);
// Extra bytes a UTF-16 copy needs beyond 2 per character: 2 per LF and per codepoint >= 0x10000.
int32_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit);

// The string's conversion buffer (node in w3), made or grown to at least bytes. The
// address is valid until the next allocation.
uint8_t* conversion_buffer(Cell* string, uint32_t bytes);
// count: in, characters from the head (-1 or too many: all); out, bytes written without
// the NUL. Returns NUL-terminated UTF-8 in the conversion buffer; crlf writes LF as CR LF.
uint8_t* string_to_utf8_buffer(Cell* string, int32_t* count, bool crlf);
uint8_t* string_as_utf8(Cell* string, int32_t* count);
uint8_t* string_as_utf8_crlf(Cell* string, int32_t* count, bool crlf);
// Up to max_chars characters (-1: all) as UTF-8 into dst without size checks: dst must hold
// unit + 1 bytes per character (units 1, 2) or 4 (unit 4), plus the NUL. Returns bytes
// written without the NUL.
int32_t encode_string_utf8(const Cell* string, uint8_t* dst, int32_t max_chars, bool nul);
// The same within room bytes (the NUL included): only whole characters are written.
// max_chars <= 0: all. Returns bytes written without the NUL.
int32_t encode_string_utf8_bounded(const Cell* string, uint8_t* dst, int32_t room,
                                   int32_t max_chars, bool nul);
// count: in, characters (-1: all); out, UTF-16 units written without the NUL. Returns
// NUL-terminated UTF-16LE in the conversion buffer.
uint16_t* string_as_utf16_buffer(Cell* string, int32_t* count, bool crlf);
// The whole string with LF written as CR LF.
uint16_t* string_as_utf16(Cell* string);

// ---- Widening, in place from the last character down; the node is kept ----

SeriesBuffer* widen_1_to_2(SeriesBuffer* buffer);
SeriesBuffer* widen_1_to_4(SeriesBuffer* buffer);
SeriesBuffer* widen_2_to_4(SeriesBuffer* buffer);
// Widens to to_unit (no-op when not wider) with room for at least min_bytes after the head.
SeriesBuffer* widen_to(SeriesBuffer* buffer, uint32_t to_unit, uint32_t min_bytes);

// Codepoint stored at p in the given unit (little-endian host).
inline int32_t load_unit(const uint8_t* p, uint32_t unit) {
  if (unit == 1) return *p;
  if (unit == 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store_unit(uint8_t* p, uint32_t unit, int32_t cp) {
  if (unit == 1) {
    *p = uint8_t(cp);
  } else if (unit == 2) {
    uint16_t v = uint16_t(cp);
    std::memcpy(p, &v, 2);
  } else {
    std::memcpy(p, &cp, 4);
  }
}
// Narrowest unit that a stored codepoint needs (1 up to 255).
inline uint32_t unit_for(int32_t cp) {
  return uint32_t(cp) <= 0xFF ? 1 : uint32_t(cp) <= 0xFFFF ? 2 : 4;
}

}  // namespace kel::unicode
