// Image file formats over byte buffers: the PNG, JPEG, GIF, TIFF and BMP decoders and
// encoders, pixels as 32-bit 0xAARRGGBB words (straight alpha), rows packed.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::image_format {

// Format codes of the encoders.
constexpr int32_t BMP = 0;
constexpr int32_t PNG = 1;
constexpr int32_t GIF = 2;
constexpr int32_t JPEG = 3;
constexpr int32_t TIFF = 4;

// More pixels than this in one picture is refused before anything is allocated for them
// (2^28; the fuzz driver lowers it to keep its runs small).
int64_t max_pixels();
void set_max_pixels(int64_t limit);
// Whether a decoded size is acceptable: both sides 1 .. 65,535, within the limit.
bool size_ok(int64_t width, int64_t height);

// Decoded pixels: data is a std::malloc block of width x height words owned by the caller
// (release with std::free), null when nothing was decoded.
struct Pixels {
  int32_t width;
  int32_t height;
  uint32_t* data;
};

// Bytes being read by a library's callbacks, and how far.
struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t at;
};

// A growing std::malloc byte buffer the encoders write into (plain data, safe across the
// libraries' longjmp exits). failed is set when it could not grow.
struct Sink {
  uint8_t* data;
  size_t size;
  size_t capacity;
  bool failed;
};
bool sink_write(Sink* sink, const void* bytes, size_t n);
void sink_free(Sink* sink);

// The format the bytes begin with (one of the codes above), or -1 when none is known.
int32_t sniff(const uint8_t* bytes, size_t n);

// Decoders: true with out filled, false for bytes that are not a picture of that format
// (corrupt, truncated, hostile sizes), with nothing left allocated.
bool decode_png(const uint8_t* bytes, size_t n, Pixels* out);
bool decode_jpeg(const uint8_t* bytes, size_t n, Pixels* out);
bool decode_gif(const uint8_t* bytes, size_t n, Pixels* out);
bool decode_tiff(const uint8_t* bytes, size_t n, Pixels* out);
bool decode_bmp(const uint8_t* bytes, size_t n, Pixels* out);
// Sniffs and decodes: 0 done, 1 unknown format, 2 undecodable.
int32_t decode_any(const uint8_t* bytes, size_t n, Pixels* out);

// Encoders of width x height pixels (both at least 1): true with the file's bytes in out.
bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, Sink* out);
bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, Sink* out);
bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, Sink* out);
bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, Sink* out);
bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, Sink* out);
// By format code; false for an unknown code or a failed encoder.
bool encode_any(int32_t code, const uint32_t* pixels, int32_t width, int32_t height, Sink* out);

// Tells the libraries to keep quiet (their warnings would reach the console).
void init_libraries();

}  // namespace kel::image_format
