// The image layer: records in the external-resource table, locks, creation, nearest-neighbour
// scaling, copies, decoding (at once) and encoding into binaries, and the collector steps.
#include "runtime/io/image_codec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/extern.h"
#include "runtime/io/image_formats.h"
#include "runtime/output.h"
#include "runtime/stack.h"

namespace kel::image_codec {

namespace {

uint32_t g_kind = 0;

[[noreturn]] void bad_media() { error::raise(err::access::bad_media); }

uint32_t* alloc_pixels(int32_t width, int32_t height) {
  size_t bytes = size_t(width) * size_t(height) * 4;
  uint32_t* p = static_cast<uint32_t*>(std::malloc(bytes ? bytes : 4));
  if (!p) error::raise(err::internal::no_memory);
  return p;
}

Record* live_record(const Cell* image) {
  Record* r = record_of(image->w2);
  if (!r || !r->pixels) bad_media();
  return r;
}

}  // namespace

void init_factory() {
  image_format::init_libraries();
  g_kind = extern_::register_kind("image", release_objects);
}

Record* record_of(uint32_t id) {
  if (id == 0) return nullptr;
  extern_::Table& t = extern_::table();
  uint32_t index = id - 1;
  if (!t.entries || index >= t.capacity) return nullptr;
  const extern_::Entry& e = t.entries[index];
  if (e.flags == extern_::ENTRY_FREE || (e.flags & 0xFF) != g_kind) return nullptr;
  return static_cast<Record*>(e.resource);
}

uint32_t make_record(uint32_t* pixels, int32_t width, int32_t height, uint32_t flags) {
  if (!g_kind) g_kind = extern_::register_kind("image", release_objects);
  Record* r = static_cast<Record*>(std::malloc(sizeof(Record)));
  if (!r) {
    std::free(pixels);
    error::raise(err::internal::no_memory);
  }
  *r = Record{width, height, flags | (pixels ? FLAG_PIXELS : 0), pixels, nullptr, -1};
  r->entry = extern_::add_entry(r, g_kind);
  return uint32_t(r->entry) + 1;
}

uint32_t* lock_pixels(const Cell* image, bool write) {
  Record* r = live_record(image);
  if (write) drop_cache(r);
  return r->pixels;
}

uint32_t get_pixel(uint32_t id, int32_t index) {
  Record* r = record_of(id);
  if (!r || !r->pixels) bad_media();
  return r->pixels[index];
}

void set_pixel(uint32_t id, int32_t index, uint32_t pixel) {
  Record* r = record_of(id);
  if (!r || !r->pixels) bad_media();
  drop_cache(r);
  r->pixels[index] = pixel;
}

const uint32_t* drawing_copy(uint32_t id) {
  Record* r = record_of(id);
  if (!r || !r->pixels) bad_media();
  if (!r->cache) {
    size_t n = size_t(r->width) * size_t(r->height);
    r->cache = static_cast<uint32_t*>(std::malloc(n * 4 + 4));
    if (!r->cache) error::raise(err::internal::no_memory);
    for (size_t i = 0; i < n; ++i) {
      uint32_t p = r->pixels[i], a = p >> 24;
      uint32_t red = ((p >> 16) & 255) * a / 255, green = ((p >> 8) & 255) * a / 255,
               blue = (p & 255) * a / 255;
      r->cache[i] = a << 24 | red << 16 | green << 8 | blue;
    }
  }
  r->flags |= FLAG_CACHE_USED;
  return r->cache;
}

void drop_cache(Record* r) {
  std::free(r->cache);
  r->cache = nullptr;
  r->flags &= ~FLAG_CACHE_USED;
}

uint32_t create_bitmap(int32_t width, int32_t height, const uint8_t* rgb, size_t rgb_length,
                       const uint8_t* alpha, size_t alpha_length, const Cell* colour) {
  if (width <= 0 || height <= 0) return 0;
  uint32_t* p = alloc_pixels(width, height);
  size_t n = size_t(width) * size_t(height);
  if (colour) {
    uint8_t b[12];
    tuple::bytes_of(colour, b);
    uint32_t a = tuple::length_of(colour) >= 4 ? 255u - b[3] : 255u;
    uint32_t word = a << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
    for (size_t i = 0; i < n; ++i) p[i] = word;
  } else {
    size_t triples = rgb ? rgb_length / 3 : 0;
    size_t alphas = alpha ? alpha_length : 0;
    for (size_t i = 0; i < n; ++i) {
      uint32_t r = 255, g = 255, b = 255, a = 255;
      if (i < triples) {
        r = rgb[3 * i];
        g = rgb[3 * i + 1];
        b = rgb[3 * i + 2];
      }
      if (i < alphas) a = 255u - alpha[i];
      p[i] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return make_record(p, width, height, 0);
}

uint32_t from_memory(int32_t width, int32_t height, const uint32_t* pixels, int32_t stride) {
  if (width <= 0 || height <= 0) return 0;
  uint32_t* p = alloc_pixels(width, height);
  size_t row = size_t(width) * 4, step = stride > 0 ? size_t(stride) : row;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(pixels);
  for (int32_t y = 0; y < height; ++y) std::memcpy(p + size_t(y) * size_t(width), src + size_t(y) * step, row);
  return make_record(p, width, height, 0);
}

uint32_t scale(const Cell* image, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  Record* r = live_record(image);
  int32_t sw = r->width, sh = r->height;
  uint32_t* p = alloc_pixels(width, height);
  r = live_record(image);
  for (int32_t y = 0; y < height; ++y) {
    int32_t sy = int32_t(int64_t(y) * sh / height);
    const uint32_t* src = r->pixels + size_t(sy) * size_t(sw);
    uint32_t* dst = p + size_t(y) * size_t(width);
    for (int32_t x = 0; x < width; ++x) dst[x] = src[int64_t(x) * sw / width];
  }
  return make_record(p, width, height, 0);
}

uint32_t copy_bitmap(const Cell* image) {
  Record* r = live_record(image);
  return from_memory(r->width, r->height, r->pixels, 0);
}

uint32_t copy_region(const Cell* image, int32_t x, int32_t y, int32_t width, int32_t height) {
  Record* r = live_record(image);
  if (x < 0) {
    width += x;
    x = 0;
  }
  if (y < 0) {
    height += y;
    y = 0;
  }
  if (x >= r->width || y >= r->height) return 0;
  if (width > r->width - x) width = r->width - x;
  if (height > r->height - y) height = r->height - y;
  if (width <= 0 || height <= 0) return 0;
  return from_memory(width, height, r->pixels + size_t(y) * size_t(r->width) + size_t(x),
                     r->width * 4);
}

uint32_t decode_memory(const uint8_t* bytes, size_t length, bool* unknown) {
  *unknown = false;
  image_format::Pixels px;
  int32_t status = image_format::decode_any(bytes, length, &px);
  if (status == 1) {
    *unknown = true;
    return 0;
  }
  if (status != 0) bad_media();
  return make_record(px.data, px.width, px.height, 0);
}

uint32_t load_file(Cell* file) {
  std::string path = file::to_local_text(file);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  image_format::Sink data{nullptr, 0, 0, false};
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (!image_format::sink_write(&data, chunk, got)) break;
  }
  bool failed = std::ferror(f) || data.failed;
  std::fclose(f);
  if (failed) {
    image_format::sink_free(&data);
    return 0;
  }
  image_format::Pixels px;
  int32_t status = image_format::decode_any(data.data, data.size, &px);
  image_format::sink_free(&data);
  if (status != 0) return 0;
  return make_record(px.data, px.width, px.height, 0);
}

bool encode(const Cell* image, Cell* out, int32_t code) {
  if (code < image_format::BMP || code > image_format::TIFF) {
    platform::print_c_text("Cannot find image encoder\n");
    return false;
  }
  int32_t w = int32_t(image->w3 & 0xFFFF), h = int32_t(image->w3 >> 16);
  if (w == 0 || h == 0 || !image->w2) {
    binary::init_cell(out, 0);
    return true;
  }
  Record* r = live_record(image);
  struct Owned {
    image_format::Sink sink{nullptr, 0, 0, false};
    ~Owned() { image_format::sink_free(&sink); }
  } bytes;
  bool ok = image_format::encode_any(code, r->pixels, r->width, r->height, &bytes.sink);
  if (!ok || bytes.sink.size > 0x7FFFFFF0u) bad_media();
  // The bytes lie outside the collector: nothing moves them while the binary is made.
  Cell* made = binary::push_new_from_bytes(bytes.sink.data, int32_t(bytes.sink.size));
  *out = *made;
  stack::drop_cells(1);
  return true;
}

void gc_mark(uint32_t id) {
  if (!id) return;
  Record* r = record_of(id);
  if (!r) return;
  if (extern_::set_mark(int32_t(id - 1), nullptr)) {
    if (r->flags & FLAG_CACHE_USED) r->flags &= ~FLAG_CACHE_USED;
    else if (r->cache) drop_cache(r);
  }
}

void release_objects(void* record) {
  Record* r = static_cast<Record*>(record);
  if (!r) return;
  std::free(r->pixels);
  std::free(r->cache);
  std::free(r);
}

}  // namespace kel::image_codec
