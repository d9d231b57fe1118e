// url! values: the percent codec (also behind dehex and enhex), making a URL from a block
// of parts, the encoded mold, path joining, and open, read and write down to host I/O.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::url {

// ---- Percent codec ----

// Selector of the unreserved table; any other selector picks the URL table.
constexpr int32_t UNRESERVED = 254;
// Whether the byte is kept as it is by the table (bytes of 128 and above never are). The
// URL table is also the plain set of file! mold.
bool url_char_q(uint32_t byte);
bool unreserved_char_q(uint32_t byte);

// Appends the decoded characters of source (any-string, from its head) to the string out.
// An escape starting a UTF-8 sequence is taken only when the whole sequence is escaped.
void decode_percent(Cell* source, Cell* out);
// Appends the source's UTF-8 bytes to the string out, each byte the table does not keep as
// "%" and two upper-case hex digits.
void encode_percent(Cell* source, int32_t selector, Cell* out);
// The byte itself, or "%" and two upper-case hex digits.
struct Encoded {
  int32_t length;  // 1 or 3
  char text[4];
};
Encoded encode_byte(int32_t selector, uint32_t byte);

// ---- Slots ----

// A block!, paren! or hash! spec builds scheme "://" host [":" port] "/" segments (url!
// only); every other spec, and file!, takes the string! rules.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
// Percent-encoded text; with part, stops when the budget is used up.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t budget, int32_t indent);
// Get: a new value of the parent's type, the element joined with exactly one "/".
// Set: script/bad-path-set.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);

// Whether the URL's text starts with "http" (any case: https too).
bool http_q(Cell* url);
// A port! made from the URL through the boot library's URL parser; opened when open is set.
Cell* open_port(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow, bool open);

void install_type();

}  // namespace kel::url
