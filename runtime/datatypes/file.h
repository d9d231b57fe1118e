// file! values: the file mold, the local (POSIX) form of a path, the current directory,
// and the file actions down to their hand-over to host I/O.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::file {

// "%" and the text, in double quotes when a character is above 126 or outside the plain
// set; never escaped. An empty file is %"".
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);

// Appends the local form of the path to the string out: the path as it is; with
// with_current_dir, a relative path gets the current directory (ending in "/") in front.
void to_local_chars(Cell* file, Cell* out, bool with_current_dir);
// A name byte that is not part of UTF-8 text is held as the character RAW_BYTE_BASE + byte
// (U+DC80 to U+DCFF, which UTF-8 text never holds), so any name the system lists reads back
// to the same bytes.
constexpr int32_t RAW_BYTE_BASE = 0xDC00;
constexpr int32_t RAW_BYTE_FIRST = 0xDC80;
constexpr int32_t RAW_BYTE_LAST = 0xDCFF;
// The path's bytes for POSIX calls (c_str() is NUL-terminated), without the current
// directory: UTF-8, with the raw-byte characters as their bytes. A NUL raises
// script/invalid-arg (the system would cut the name there).
std::string to_local_text(Cell* file);
// Writes into out a file! of the name's bytes as the system gave them (the reverse of
// to_local_text).
void from_local_text(Cell* out, const uint8_t* bytes, int32_t n);
// A new string on the argument stack: the current directory, always ending in "/".
Cell* current_dir();
// A new stack cell holding a copy of the file cell (the buffer is shared).
Cell* push_copy(const Cell* file);

Cell* delete_(Cell* file);
Cell* query(Cell* file);
Cell* rename(Cell* from, Cell* to);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);

void install_type();

}  // namespace kel::file
