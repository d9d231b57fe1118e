// Console output: every byte the runtime prints goes through these writers to standard output,
// as UTF-8 with LF line ends; escape sequences pass through to the terminal unchanged.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::unicode {
// Writes the UTF-8 form of a codepoint (up to 4 bytes); returns the byte count.
// Codepoints above 0x10FFFF have no encoding: 0 bytes are written. Never raises, so the
// writers and the fatal path can use it; encode_utf8_char is the raising form.
int encode_utf8_raw(uint32_t codepoint, uint8_t* dest);
}  // namespace kel::unicode

namespace kel::platform {

// Reads whether standard output is a terminal; called once by platform::init.
void init_console_output();
// 1 when standard output is a terminal.
int console_flag();
// Test seam: the descriptor written to (standard output unless changed).
void set_output_fd(int fd);
int output_fd();

// Text given as units of 1 (Latin-1), 2 (UCS-2) or 4 (UCS-4) bytes; byte_length counts bytes.
void write_text(const void* units, size_t byte_length, int unit_size, bool newline);
void write_latin1_text(const void* units, size_t byte_length);
void write_latin1_line(const void* units, size_t byte_length);
void write_ucs2_text(const void* units, size_t byte_length);
void write_ucs2_line(const void* units, size_t byte_length);
void write_ucs4_text(const void* units, size_t byte_length);
void write_ucs4_line(const void* units, size_t byte_length);
void write_utf16_unit(uint16_t unit);

// Low-level print: the bytes as they are, then the buffer hooks. Returns the text.
const char* print_c_text(const char* text);
void print_integer(int32_t value);       // "%i"
void print_hex_byte(uint32_t value);     // "%02X"
void print_hex(uint32_t value);          // "%08X"
void print_float(double value);          // "%.16g"
void print_float32(float value);         // "%.7g"
// Writes a formatted number text, then runs the buffer hooks on it.
void write_number_buffer(const char* text, size_t length);

// Raw bytes to standard output, looping over partial writes, EINTR and EAGAIN (waiting until
// the descriptor takes more); a failed write is dropped. Async-signal-safe.
void write_bytes(const void* bytes, size_t length);

// Visible columns written since the last line end, as a terminal shows them: escape sequences
// take none, wide characters two, a tab moves to the next multiple of 8, CR and LF start
// again at 0. Every byte written through write_bytes counts. The line editor starts its
// prompt from it.
int32_t output_column();
// Counts bytes as if written (tests; the state is the one write_bytes keeps).
void count_columns(const uint8_t* bytes, size_t length);
void reset_output_column();

}  // namespace kel::platform
