// The line editor's text measure: how many terminal columns a prompt or a piece of the line
// takes from a given place in a row, and the bytes that show it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kel::editor {

// Columns a character takes: 2 for U+1F300-U+1F5FF, else its display width.
int32_t char_columns(int32_t cp);

// Measures n characters starting with `room` columns left on the current row (every later
// row has `columns`) and appends their bytes to out (when not null). A tab is four spaces;
// ESC takes no column, and so does the sequence it starts with "[" or "(" (digits and ";",
// then one more character); a wide character that would start on a row's last column moves
// to the next row and counts 3. Hidden text shows one "*" per character. Returns the
// columns consumed, the skipped end of a row included.
int32_t measure(const int32_t* text, size_t n, int32_t room, int32_t columns, bool hidden,
                std::string* out);

// Appends the moves from row `from_row` to row `to_row` (relative, ESC [ n A or B) and to
// column `column` (0-based, ESC [ n G).
void append_move(std::string* out, int32_t from_row, int32_t to_row, int32_t column);

}  // namespace kel::editor
