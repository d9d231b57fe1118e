// Where file!, url! and port actions hand their work to host I/O, ports and the boot
// library's URL parser (defined by simple_io, http and port).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::io {

// The HTTP method: the word given by the caller, or (word null) a method named by text.
struct HttpMethod {
  const Cell* word;
  const char* name;
};
// The response, or null when there was none (the caller raises access/no-connect).
Cell* http_request(HttpMethod method, Cell* url, Cell* headers, Cell* data, bool binary,
                   bool lines, bool info);
// Contents of a file, or the listing of a directory path.
Cell* read_file_or_dir(Cell* source, Cell* part, Cell* seek, bool binary, bool lines);
void write_value(Cell* destination, Cell* value, Cell* part, Cell* seek, bool binary,
                 bool append, bool lines);
bool file_delete(Cell* file);
// The modification date, or null when nothing exists there.
Cell* file_query(Cell* file);
bool file_rename(Cell* from, Cell* to);

}  // namespace kel::io

namespace kel::boot {
// The result of the boot library's parse-url on the URL (an object! when it parses).
Cell* parse_url(Cell* url);
}  // namespace kel::boot

namespace kel::port {
// A port! from the object parse-url gave.
Cell* make_from_spec(Cell* spec);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* read(Cell* port, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* port, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);
}  // namespace kel::port
