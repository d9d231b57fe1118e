// The HTTP client over libcurl: one synchronous request (simple-io/request-http) and the
// response-header map (simple-io/parse-headers).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace kel::simple_io {

// Once at start-up, before any request.
void http_init();
// The fields of raw header lines, grouped by name in order of first arrival: split at LF
// (a CR before it dropped), the name up to the first ":" (never empty), the value trimmed of
// blanks; lines without ":" are skipped. Names are grouped without regard to ASCII case, as
// map! keys are; the first spelling is kept.
using HeaderFields = std::vector<std::pair<std::string, std::vector<std::string>>>;
HeaderFields header_fields(const uint8_t* text, size_t n);
// A new map! on the stack from raw header lines: split at LF (a CR before it dropped), the
// name up to the first ":", the value trimmed of blanks; lines without ":" are skipped. A
// repeated name (compared as map keys are) gets a block of its values in arrival order.
Cell* parse_headers(const uint8_t* text, size_t n);

}  // namespace kel::simple_io
