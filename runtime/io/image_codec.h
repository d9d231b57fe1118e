// The image layer: image records (pixels outside the collector, one external-resource entry
// each), pixel locks, creation, scaling, copies, decoding and encoding, the collector steps.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::image_codec {

constexpr uint32_t FLAG_PIXELS = 0x01;      // the record holds its pixels
constexpr uint32_t FLAG_CACHE_USED = 0x40;  // the drawing cache was used since the last mark

// A heap record, reached from an image! cell through its id (w2): the external-resource
// entry's index + 1, so 0 means "no pixels". Pixels are 0xAARRGGBB words, straight alpha,
// rows packed; the buffer never moves, so a lock survives allocations.
struct Record {
  int32_t width;
  int32_t height;
  uint32_t flags;
  uint32_t* pixels;
  uint32_t* cache;  // a premultiplied drawing copy, made on demand
  int32_t entry;
};

// Start-up: the libraries told to keep quiet, the "image" kind registered with its release
// callback.
void init_factory();

// The record of an id, or null for 0 and for a released entry.
Record* record_of(uint32_t id);
inline int32_t width(const Record* r) { return r->width; }
inline int32_t height(const Record* r) { return r->height; }

// A new record over a std::malloc pixel buffer it takes over (null: released here too).
uint32_t make_record(uint32_t* pixels, int32_t width, int32_t height, uint32_t flags);

// The pixels of an image! cell (width x height words, stride width x 4); a cell without a
// live record raises access/bad-media. A lock needs no release.
uint32_t* lock_pixels(const Cell* image, bool write);
inline int32_t lock_stride(const Record* r) { return r->width * 4; }
uint32_t get_pixel(uint32_t id, int32_t index);
void set_pixel(uint32_t id, int32_t index, uint32_t pixel);

// The premultiplied copy for drawing (made or refreshed on demand, marked used).
const uint32_t* drawing_copy(uint32_t id);
void drop_cache(Record* r);

// width x height pixels: a colour (R.G.B or R.G.B.T tuple) for every pixel, or the rgb bytes
// (3 per pixel, white past their end) and the alpha bytes (255 - A, opaque past their end).
// 0 when a side is 0; internal/no-memory when the pixels cannot be had.
uint32_t create_bitmap(int32_t width, int32_t height, const uint8_t* rgb, size_t rgb_length,
                       const uint8_t* alpha, size_t alpha_length, const Cell* colour);
// A record holding a copy of the pixels (stride in bytes; 0 means width x 4).
uint32_t from_memory(int32_t width, int32_t height, const uint32_t* pixels, int32_t stride);
// Nearest-neighbour scaling of the image's pixels to width x height.
uint32_t scale(const Cell* image, int32_t width, int32_t height);
// Independent copies: the whole bitmap, or the rectangle (clipped to the image).
uint32_t copy_bitmap(const Cell* image);
uint32_t copy_region(const Cell* image, int32_t x, int32_t y, int32_t width, int32_t height);

// Decoding at once: the record, or 0 with *unknown set when the bytes are of no known
// format; undecodable bytes raise access/bad-media.
uint32_t decode_memory(const uint8_t* bytes, size_t length, bool* unknown);
// The record of an image file, or 0 when it cannot be read or decoded.
uint32_t load_file(Cell* file);
// The image's pixels encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) into a new
// binary! in out. An unknown code prints "Cannot find image encoder" and answers false; a
// failed encoder raises access/bad-media.
bool encode(const Cell* image, Cell* out, int32_t code);

// The codec records system/codecs/png, jpeg, bmp, gif and tiff: their encode and decode
// routines joined to the routine registry, the records built once `system` and the
// routines exist (codec_records.cpp).
void register_codec_records();

// The collector's step for a reachable record: marks its entry; the first mark of a cycle
// keeps a cache used since the last one, else drops it.
void gc_mark(uint32_t id);
// The image kind's release callback: frees the pixels, the cache and the record.
void release_objects(void* record);

}  // namespace kel::image_codec
