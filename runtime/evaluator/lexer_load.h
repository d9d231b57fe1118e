// Token loaders of the lexer and the value builders they share with the scanners: strings
// with escapes, words, numbers, series from value-stack cells, error texts; the hooks the
// literal datatypes define to build their values.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kel::lexer {
bool unicode_blank(int32_t c);
uint8_t* buffer();        // the shared 100,000-byte conversion buffer
int32_t& buffer_fill();   // its fill mark
}  // namespace kel::lexer

namespace kel::lexer::load {

// Decodes one UTF-8 character (c = -1 when invalid); never reads at or past end.
const uint8_t* read_char(const uint8_t* p, const uint8_t* end, int32_t* c);
int32_t next_char_offset(const State* s, int32_t offset);
// Whether the text is well-formed UTF-8: no overlong form, surrogate, code point above
// 10FFFF or cut sequence. Words and other unescaped tokens are checked with it.
bool utf8_text_q(const uint8_t* p, const uint8_t* end);
// Raises syntax/invalid for the token [start, end) as type when its text fails utf8_text_q.
void check_utf8(State* s, int32_t start, int32_t end, int32_t type);

// A block-like value of the type from value-stack cells [from, to). Maps are checked and
// handed to the map hook; points built from expressions to the point hook.
Cell series_from_cells(State* s, uint32_t type, int32_t from, int32_t to);

struct ErrorTexts {
  Cell line_text;  // "(line N)"
  Cell near_text;
};
ErrorTexts error_texts(State* s, int32_t start, int32_t end);

// A string-like value (type) from UTF-8 text; escapes decoded when asked. False when the
// text holds an invalid escape or UTF-8 sequence (out untouched).
bool make_string(Cell* out, uint32_t type, const uint8_t* text, int32_t length, uint32_t unit,
                 bool escapes, bool percent);
// One caret escape at p (just after the caret); returns the position after it or null.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, int32_t* c, uint32_t* unit);

// Token bookkeeping before the handlers run (point literal end, raw string extent).
void finish_token(State* s, int state);
// Checks the byte after a path item: closes the path or steps over the slash.
void continue_path(State* s);

// Loaders and the scanners of slots 13-15 (lexer_load.cpp).
void load_string(State*, int32_t, int32_t, uint32_t, bool);
void check_string(State*, int32_t, int32_t, uint32_t, bool);
void check_word(State*, int32_t, int32_t, uint32_t, bool);
void load_word(State*, int32_t, int32_t, uint32_t, bool);
void check_issue(State*, int32_t, int32_t, uint32_t, bool);
void load_integer(State*, int32_t, int32_t, uint32_t, bool);
void load_refinement(State*, int32_t, int32_t, uint32_t, bool);
void load_char(State*, int32_t, int32_t, uint32_t, bool);
void load_file(State*, int32_t, int32_t, uint32_t, bool);
void load_binary(State*, int32_t, int32_t, uint32_t, bool);
void load_percent(State*, int32_t, int32_t, uint32_t, bool);
void load_float(State*, int32_t, int32_t, uint32_t, bool);
void load_special_float(State*, int32_t, int32_t, uint32_t, bool);
void load_tuple(State*, int32_t, int32_t, uint32_t, bool);
void load_date(State*, int32_t, int32_t, uint32_t, bool);
void load_pair(State*, int32_t, int32_t, uint32_t, bool);
void load_point(State*, int32_t, int32_t, uint32_t, bool);
void load_time(State*, int32_t, int32_t, uint32_t, bool);
void load_money(State*, int32_t, int32_t, uint32_t, bool);
void load_tag(State*, int32_t, int32_t, uint32_t, bool);
void load_url(State*, int32_t, int32_t, uint32_t, bool);
void load_email(State*, int32_t, int32_t, uint32_t, bool);
void load_hex(State*, int32_t, int32_t, uint32_t, bool);
void load_raw_string(State*, int32_t, int32_t, uint32_t, bool);
void load_ref(State*, int32_t, int32_t, uint32_t, bool);

// The word kind a token spells (forced type of the word loader), or 0 when invalid.
uint32_t word_kind(State* s, const uint8_t* text, int32_t length);

}  // namespace kel::lexer::load

// Loaders each literal datatype defines in its own unit: each builds the value from the
// checked token text into out.
namespace kel::lexer::hook {
void load_tuple(Cell* out, const uint8_t* parts, int32_t count);
void load_pair(Cell* out, const uint8_t* text, int32_t length);
void load_point(Cell* out, const double* coordinates, int32_t count);
void load_time(Cell* out, double seconds);
void load_date(Cell* out, const uint8_t* text, int32_t length);
void load_money(Cell* out, const uint8_t* text, int32_t length);
void load_binary(Cell* out, const uint8_t* bytes, int32_t count);
void load_tag(Cell* out, const uint8_t* text, int32_t length);
void load_email(Cell* out, const uint8_t* text, int32_t length);
void load_ref(Cell* out, const uint8_t* text, int32_t length);
// Block of key/value cells (checked: even count, valid keys) into a map!.
void load_map(Cell* out, const Cell* block);
// A paren with commas (point2D/point3D from expressions).
void load_point_block(Cell* out, uint32_t type, const Cell* block);
}  // namespace kel::lexer::hook
