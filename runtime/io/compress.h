// Compression framing: the method words, raw DEFLATE, zlib streams and gzip members around it
// (zlib), Zstandard frames (libzstd); compressors into a given buffer, decompressors into a
// buffer that grows as output arrives.
#pragma once
#include <cstdint>

namespace kel::compress {

// Status codes.
constexpr int32_t OK = 0;
constexpr int32_t TOO_SMALL = 1;  // the size needed is reported through the size argument
constexpr int32_t BAD_DATA = 2;
constexpr int32_t TOO_LONG = 3;  // output past the largest binary
constexpr int32_t NO_MEMORY = 4;

// Methods, by their words.
constexpr int32_t ZLIB = 0, DEFLATE = 1, GZIP = 2, ZSTD = 3;
// The largest output: the largest binary.
constexpr int64_t MAX_OUTPUT = 0x7FFF0000;

// Start-up: interns zlib deflate gzip zstd.
void methods_init();
// The method of a word's symbol (any letter case), -1 for another word.
int32_t method_of_symbol(int32_t symbol);
// Highest level of the method (19 for zstd, else 9) and its default (3 for zstd, else 6).
int32_t max_level(int32_t method);
int32_t default_level(int32_t method);

// Compressors: (output, size: capacity in, bytes produced or needed out, input, length,
// level 1..max). TOO_SMALL reports a need that is enough for a second run.
int32_t deflate_raw(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int32_t level);
int32_t zlib_deflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int32_t level);
int32_t gzip_wrap(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int32_t level);
int32_t zstd_compress(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length,
                      int32_t level);
int32_t run_compressor(int32_t method, uint8_t* out, int64_t* size, const uint8_t* in,
                       int64_t length, int32_t level);

// Decompressed bytes: a heap block outside collector memory by default, doubled as output
// arrives, never past limit. A caller may give its own storage instead (a binary): `grow` is
// then called with the new capacity, keeps the first `size` bytes and answers the new address
// (null when it cannot). Engines re-read `data` after every reserve.
struct Output {
  uint8_t* data = nullptr;
  int64_t size = 0;
  int64_t capacity = 0;
  int64_t limit = MAX_OUTPUT;
  uint8_t* (*grow)(void* context, int64_t capacity) = nullptr;
  void* context = nullptr;
  // Counting only: the bytes go through one small scratch block and are dropped, so the size
  // of any output is learnt in bounded memory (checksums are left to the real pass).
  bool counting = false;
  int64_t dropped = 0;
  // Bytes produced so far, dropped ones included.
  int64_t produced() const { return dropped + size; }
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();
  // Room for at least `more` bytes past size (counting: some room): OK, TOO_LONG or
  // NO_MEMORY.
  int32_t reserve(int64_t more);
};

// Decompressors append to out. hint is a size the caller expects (0: none); sizes read
// from the data are hints too: the first block is bounded by what the input can give.
// Results: OK, BAD_DATA, TOO_LONG or NO_MEMORY.
// Raw inflate; *used (may be null) receives the input bytes up to the stream's end.
int32_t inflate_raw(Output* out, const uint8_t* in, int64_t length, int64_t* used);
int32_t zlib_inflate(Output* out, const uint8_t* in, int64_t length);
// Every member in turn (concatenated as gzip -d does); bytes after a member that start no
// member are ignored.
int32_t gunzip(Output* out, const uint8_t* in, int64_t length);
// Every frame in turn, with or without a content size.
int32_t zstd_decompress(Output* out, const uint8_t* in, int64_t length);
// Output that could pass a few megabytes is first counted (bounded memory): past out->limit
// it is TOO_LONG before anything is kept; otherwise out gets exactly that many bytes.
int32_t run_decompressor(int32_t method, Output* out, const uint8_t* in, int64_t length,
                         int64_t hint);

}  // namespace kel::compress
