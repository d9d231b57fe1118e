// The host file layer over POSIX: descriptors, whole or partial reads, writes with create,
// append and seek, listings, directory tests, delete, rename, make-dir and file dates.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace kel::simple_io {

// Open modes (bits).
constexpr int32_t MODE_READ = 1;
constexpr int32_t MODE_WRITE = 2;
constexpr int32_t MODE_APPEND = 4;
constexpr int32_t MODE_SEEK = 8;

// ---- Primitives (failures answer -1 or false, errno kept) ----

// A descriptor (close-on-exec), or -1. Write opens create the file, and truncate it unless
// append or seek is asked.
int open_file(const char* path, int32_t mode);
// Bytes read (0 at the end), or -1; EINTR is resumed.
int64_t read_data(int fd, uint8_t* buffer, int64_t n);
// Writes all n bytes, looping over partial writes and EINTR; false on any failure.
bool write_data(int fd, const uint8_t* bytes, int64_t n);
void close_file(int fd);
bool file_exists_q(const char* path);
bool make_dir(const char* path);

// ---- Values ----

// Whether a file! names a directory by its characters alone (dir/, ., .., a/., a/..).
bool dir_q(const Cell* file);
// The lines of text as (start, length) byte ranges: LF splits, a CR before it is dropped, a
// last line without LF is kept whole (its CR too), text ending with LF has no empty last line.
std::vector<std::pair<int64_t, int64_t>> line_ranges(const uint8_t* bytes, int64_t n);
// A new block of string! lines on the stack: LF splits, a CR before it is dropped, a last
// line without LF is kept whole. An incomplete UTF-8 sequence raises access/invalid-utf8.
Cell* lines_to_block(const uint8_t* bytes, int64_t n);
// The UTF-8 text of a string-like value from its head.
std::string utf8_text(const Cell* s);
// Whether the bytes are whole, well-formed UTF-8.
bool valid_utf8_q(const uint8_t* bytes, int64_t n);
// A new string! on the stack from UTF-8 (CR kept); an incomplete last sequence raises
// access/invalid-utf8.
Cell* push_utf8_string(const uint8_t* bytes, int64_t n);
// The listing of a directory as a new block of file! values, sorted by name, directories
// ending with "/"; raises access/cannot-open when it cannot be read.
Cell* read_dir(Cell* dir);
// The listing or the file's contents (binary!, block of lines or string!) into source;
// failures raise access/cannot-open with the file.
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines);
// Writes the value to the file, or to the console output when destination is null.
// Raises script/invalid-refine-arg for a /part that is not an integer and
// access/cannot-open when the file cannot be opened or a write fails.
void write(Cell* destination, Cell* value, Cell* part, Cell* seek, bool binary, bool append,
           bool lines);
bool delete_(Cell* file);
bool rename(Cell* from, Cell* to);
// The modification date (UTC, zone 0) pushed on the stack, or null.
Cell* query(Cell* file);
// The size of a regular file, or -1 (directories, failures, other kinds of files, sizes
// beyond 32 bits).
int64_t size_of(Cell* file);

// The routines create-dir, exists?, os-info and write-stdout, on the current frame.
void create_dir_routine();
void exists_routine();
void os_info_routine();
void write_stdout_routine();

}  // namespace kel::simple_io
