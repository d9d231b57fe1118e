// The one buffered reader of standard input: the line editor's keys, redirected lines for
// ask and input-stdin, and read-stdin's bytes all come from the same bytes, in order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::stdin_buffer {

// Bytes read from fd 0 and not used yet.
const uint8_t* data();
size_t size();
void consume(size_t n);
// Reads once more from fd 0, appending to the buffer: the bytes added, 0 at the end of the
// input, -1 on a failure.
int64_t fill();

// One line of UTF-8 appended to a string cell (kept where the collector sees it): up to a
// line feed (dropped) or the end of the input; a carriage return stays; a malformed
// sequence becomes U+FFFD. false when the input had ended and nothing was read.
bool read_line(Cell* line);
// The same as bytes, for callers that hold no string.
bool read_line_bytes(std::string* line);

// Empties the buffer (tests).
void reset();

}  // namespace kel::stdin_buffer
