// Stand-in for HTTP, ports and parse-url: each of these hand-overs raises internal/not-done.
// Deleted when those units land; callers keep the names of io_handover.h.
#include "runtime/datatypes/io_handover.h"

#include "runtime/error.h"

namespace kel {
namespace {
[[noreturn]] void not_done() { error::raise(err::internal::not_done); }
}  // namespace

namespace io {
Cell* http_request(HttpMethod, Cell*, Cell*, Cell*, bool, bool, bool) { not_done(); }
}  // namespace io

namespace boot {
Cell* parse_url(Cell*) { not_done(); }
}  // namespace boot

namespace port {
Cell* make_from_spec(Cell*) { not_done(); }
Cell* open(Cell*, bool, bool, bool, bool, Cell*) { not_done(); }
Cell* read(Cell*, Cell*, Cell*, bool, bool, bool, Cell*) { not_done(); }
Cell* write(Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, Cell*, Cell*) { not_done(); }
}  // namespace port

}  // namespace kel
