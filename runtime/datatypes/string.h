// string! storage and the string API: reading, writing, widening, joining, making and loading
// text, comparison, matching, hex digits and the escaped form of one character.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::string {

// A string cell: w1 head index in characters from the buffer start, w2 the buffer's node,
// w3 the conversion buffer's node or 0. The buffer unit (1, 2 or 4) is in its flags.
// Every writer takes the string cell (kept by the caller where the collector sees it) and
// re-reads the node after each allocation; the cell's w2 is rewritten when growth or a
// collection gives the buffer another node.

// True for string!, file!, url!, tag!, email! and ref!.
bool any_string_q(uint32_t type);

// ---- Reading and positions ----

// Byte address of the head after clamping the head index to the tail (written back).
uint8_t* head_pointer(Cell* s);
// Address just past the last unit.
uint8_t* tail_pointer(const Cell* s);
bool head_at_tail(const Cell* s);
// Characters from the head to the tail; clamps a head past the tail and writes it back.
int32_t count_from_head(Cell* s);
int32_t count_from_start(const Cell* s);
// The codepoint stored at p in the given unit; another unit is fatal.
int32_t read_codepoint(const uint8_t* p, uint32_t unit);
// Codepoint at an absolute index counted from the buffer start; -1 outside the characters.
int32_t codepoint_at(const Cell* s, int32_t index);
// Index from the head of the first character equal to c, or -1.
int32_t index_of_codepoint(Cell* s, int32_t c);
// Unit of the cell's buffer.
uint32_t unit_of(const Cell* s);

// ---- Writing ----

// Appends c at the tail; a 1-byte buffer widens from c > 127. Returns the buffer (it may
// have moved). The buffer form is for callers that hold nothing but the buffer.
SeriesBuffer* add_codepoint(Cell* s, int32_t c);
SeriesBuffer* add_codepoint(SeriesBuffer* b, int32_t c);
// Opens one unit at index (characters from the buffer start) and stores c there; a 1-byte
// buffer widens from c > 255.
SeriesBuffer* insert_codepoint(Cell* s, int32_t index, int32_t c);
// Overwrites the character at address; widens first when c does not fit. Returns the
// address of the stored character (recomputed after a widening).
uint8_t* store_codepoint(Cell* s, uint8_t* address, int32_t c);
// Stores c at index, growing until index + 1 characters fit; characters between the old
// tail and index become 0 and the tail moves up when index was at or past it. A negative
// index raises script/out-of-range.
SeriesBuffer* put_codepoint_at(Cell* s, int32_t index, int32_t c);
void delete_codepoint(Cell* s, int32_t index);
void delete_range(Cell* s, int32_t index, int32_t n);
// Sets the tail to index when index lies inside the capacity and below the tail.
void shorten_to(Cell* s, int32_t index);
// Empties the buffer, sets its unit back to 1 and the head index to 0.
void reset_empty(Cell* s);
// Widens the buffer from from_unit to to_unit (1->2, 1->4, 2->4); the node is kept.
SeriesBuffer* widen_to(Cell* s, uint32_t from_unit, uint32_t to_unit);
// Copies source characters [start, end) (end <= 0: the tail) into target (0: a new series)
// at write, in the wider unit to_unit. Unless keep, sets the target's tail and unit.
// Returns the target's node.
Node copy_widening(Node source, Node target, uint32_t to_unit, int32_t start, int32_t write,
                   int32_t end, bool keep);
// Inserts the characters covered by length_bytes from the source's head into the target at
// index, then deletes them from the source.
void move_codepoints(Cell* source, Cell* target, int32_t index, int32_t length_bytes);
// Exchanges A (first, first_length bytes), the gap and B (second_length bytes, right after
// the gap): A G B becomes B G A, through the process-heap scratch block.
void rotate_bytes(uint8_t* first, int32_t first_length, uint8_t* second, int32_t second_length,
                  int32_t gap);

// ---- Joining ----

constexpr int MODE_APPEND = 0;
constexpr int MODE_INSERT = 1;
constexpr int MODE_OVERWRITE = 2;
// Copies the source's characters from its head (limit of them when 0 <= limit < count) into
// the target: appended, inserted or written over at offset characters after the target's head.
// With keep, the source buffer is never widened. Returns the target buffer.
SeriesBuffer* concat_part(Cell* target, const Cell* source, int32_t limit, int32_t offset,
                          bool keep, int mode);
SeriesBuffer* concat(Cell* target, const Cell* source, int mode);
// Each byte as a codepoint 0-255 through add_codepoint (the text holds at least one byte).
void add_c_text(Cell* s, const char* text);
void add_c_bytes(Cell* s, const uint8_t* bytes, int32_t n);
// The same for bytes of a C++ buffer, which never lie in collector memory (a number's
// text): no look for them in the arenas.
void add_buffer_bytes(Cell* s, const uint8_t* bytes, int32_t n);

// ---- Making ----

// The cell made an empty string! of unit 1 with room for n characters (1 when n is 0).
Cell* init_cell(Cell* cell, int32_t n);
Cell* init_cell_sized(Cell* cell, int32_t n, uint32_t unit);
// A new stack cell holding a copy of the string cell (the buffer is shared).
Cell* push_copy(const Cell* s);
// A string from external text into cell (null: a new stack cell). encoding 0: UTF-8, length
// in bytes; -1: UTF-16LE, length in 16-bit units. Another encoding is an internal fault.
Cell* load_encoded(const uint8_t* input, int32_t length, Cell* cell, int32_t encoding);
Cell* load_push(const uint8_t* input, int32_t length, int32_t encoding);
// Appends the loaded string as a new cell of the block; returns that cell.
Cell* load_into_block(Cell* block, const uint8_t* input, int32_t length, int32_t encoding);
// A new stack string from UTF-8; an undecodable end raises access/invalid-utf8 with the
// bytes from the first undecodable one.
Cell* from_utf8_binary(const uint8_t* bytes, int32_t length);
// Decimal text to a float; bad text sets *bad.
double text_to_float(const uint8_t* start, int32_t length, bool* bad);

// Allocates the rotate scratch block once (install time); idempotent.
void init_scratch();
// Frees it (shutdown); init_scratch makes it again.
void release_scratch();
// Registers string! (after series!; an empty series! row is registered first when series!
// is not registered yet).
void install_type();

// ---- Comparison, matching, escapes ----

// a, b any-string cells. op: the comparison codes (0 equal ... 12 find-equality).
int32_t compare_strings(const Cell* a, const Cell* b, int32_t op, bool prefix);
// The compare slot: -2 across types, except equal/not-equal against another any-string.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// A text searched for in many cells (find and select over a block): its characters read
// once, valid until the next allocation.
struct TextKey {
  const uint8_t* p;
  uint32_t unit;
  int32_t count;
};
TextKey text_key(const Cell* s);
// compare_strings(a, <the key's cell>, op, false) == 0 for op 2 (folding false) or 12
// (folding true). Texts of another length say no here; the rest is out of line.
bool equal_to_key_chars(const Cell* a, const TextKey& key, bool folding);
inline bool equal_to_key(const Cell* a, const TextKey& key, bool folding) {
  SeriesBuffer* b = memory::node_buffer(a->w2);
  uint32_t bytes = memory::used_bytes(b);
  uint32_t h = a->w1;
  if (memory::unit(b) != 1 || key.unit != 1 || h > bytes)
    return equal_to_key_chars(a, key, folding);
  int32_t n = int32_t(bytes - h);
  if (n != key.count) return false;
  const uint8_t* p = memory::head(b) + h;
  int32_t i = 0;
  while (i < n && p[i] == key.p[i]) ++i;
  if (i == n) return true;
  if (!folding) return false;  // units of one width: another unit, another character
  for (; i < n; ++i) {
    uint32_t c = p[i], d = key.p[i];
    if (c == d) continue;
    if ((c | d) >= 0x80) return equal_to_key_chars(a, key, folding);
    uint32_t l = c | 0x20;  // ASCII letters fold to one another, nothing else does
    if ((c ^ d) != 0x20 || l < 'a' || l > 'z') return false;
  }
  return true;
}
// Whether the input, from its head, starts with the value (parse matching).
bool match_value(Cell* input, const Cell* value, int32_t op);
bool tag_brackets_at(Cell* input, const Cell* tag);
// Membership of the head character in a bitset!; beyond its bits, its complemented flag.
// An input at its tail has no head character: false.
bool head_char_in_bitset(Cell* input, const Cell* bitset);
bool find_codepoint_stepped(Cell* s, int32_t c, int32_t step, bool case_sensitive);
bool starts_with_c_text(Cell* s, const char* text);
// Static buffers, overwritten by the next call.
const char* byte_hex(uint32_t byte);
const char* int_hex(int32_t value, bool strip);
// Appends c in molded form (caret escapes; all: everything above 127 in hex).
void mold_char(Cell* s, int32_t c, bool all);
// Whether the "{" at index (from the buffer start) is closed before end (exclusive).
bool brace_closes(const Cell* s, int32_t index, int32_t end);

// ---- Actions ----

// Whether a refinement argument cell was given: it lies inside the current argument frame.
bool part_given(const Cell* part);
// Appends the characters from the value's head (at most the /part count); the value's own
// buffer is never widened. Returns budget minus the whole rest of the value.
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
// Appends the quoted or braced literal; with /part only head to head + budget. Returns
// budget minus the characters of the range minus 2. only, flat and indent are ignored.
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
// make: a count gives an empty value of that many bytes; other specs go to to. The result
// is written into prototype, which is returned.
Cell* make(Cell* prototype, Cell* spec, uint32_t type);
// to: the spec converted, the result taking the target type.
Cell* to(Cell* prototype, Cell* spec, uint32_t type);

}  // namespace kel::string
