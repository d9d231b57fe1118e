// Image file formats: the byte sink the encoders share, format sniffing and the dispatch
// of decoding and encoding by format.
#include "runtime/io/image_formats.h"

#include <cstdlib>
#include <cstring>

namespace kel::image_format {

namespace {
int64_t g_max_pixels = int64_t(1) << 28;
}

int64_t max_pixels() { return g_max_pixels; }
void set_max_pixels(int64_t limit) { g_max_pixels = limit; }
bool size_ok(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= 65535 && height <= 65535 &&
         width * height <= g_max_pixels;
}

bool sink_write(Sink* sink, const void* bytes, size_t n) {
  if (sink->failed) return false;
  if (n > sink->capacity - sink->size) {
    size_t want = sink->capacity ? sink->capacity : 4096;
    while (want - sink->size < n) {
      if (want > (size_t(1) << 40)) {
        sink->failed = true;
        return false;
      }
      want *= 2;
    }
    void* grown = std::realloc(sink->data, want);
    if (!grown) {
      sink->failed = true;
      return false;
    }
    sink->data = static_cast<uint8_t*>(grown);
    sink->capacity = want;
  }
  if (n) std::memcpy(sink->data + sink->size, bytes, n);
  sink->size += n;
  return true;
}

void sink_free(Sink* sink) {
  std::free(sink->data);
  *sink = Sink{nullptr, 0, 0, false};
}

int32_t sniff(const uint8_t* b, size_t n) {
  if (n >= 4 && b[0] == 0x89 && b[1] == 0x50 && b[2] == 0x4E && b[3] == 0x47) return PNG;
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return JPEG;
  if (n >= 2 && b[0] == 0x42 && b[1] == 0x4D) return BMP;
  if (n >= 6 && b[0] == 0x47 && b[1] == 0x49 && b[2] == 0x46 && b[3] == 0x38 &&
      (b[4] == 0x37 || b[4] == 0x39) && b[5] == 0x61)
    return GIF;
  if (n >= 4 && ((b[0] == 0x49 && b[1] == 0x49 && b[2] == 0x2A && b[3] == 0x00) ||
                 (b[0] == 0x4D && b[1] == 0x4D && b[2] == 0x00 && b[3] == 0x2A)))
    return TIFF;
  return -1;
}

int32_t decode_any(const uint8_t* bytes, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  bool ok;
  switch (sniff(bytes, n)) {
    case PNG: ok = decode_png(bytes, n, out); break;
    case JPEG: ok = decode_jpeg(bytes, n, out); break;
    case BMP: ok = decode_bmp(bytes, n, out); break;
    case GIF: ok = decode_gif(bytes, n, out); break;
    case TIFF: ok = decode_tiff(bytes, n, out); break;
    default: return 1;
  }
  if (ok) return 0;
  std::free(out->data);
  *out = Pixels{0, 0, nullptr};
  return 2;
}

bool encode_any(int32_t code, const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  switch (code) {
    case BMP: return encode_bmp(pixels, width, height, out);
    case PNG: return encode_png(pixels, width, height, out);
    case GIF: return encode_gif(pixels, width, height, out);
    case JPEG: return encode_jpeg(pixels, width, height, out);
    case TIFF: return encode_tiff(pixels, width, height, out);
    default: return false;
  }
}

}  // namespace kel::image_format
