// BMP, our own reader and writer: core to V5 headers, 1 to 32 bits per pixel, BI_RGB,
// BI_BITFIELDS, RLE4 and RLE8, both row orders, padded rows; written as a V5 header with
// 32-bit top-down pixels and an alpha mask.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "runtime/io/image_formats.h"

namespace kel::image_format {

namespace {

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One colour channel of a bitfield: its shift and width, scaled to 8 bits.
struct Field {
  uint32_t mask;
  int shift;
  int bits;
};
Field field_of(uint32_t mask) {
  if (!mask) return Field{0, 0, 0};
  int shift = std::countr_zero(mask);
  int bits = std::popcount(mask >> shift);
  return Field{mask, shift, bits};
}
uint32_t channel(uint32_t v, const Field& f) {
  if (!f.bits) return 0;
  uint32_t x = (v & f.mask) >> f.shift;
  if (f.bits >= 8) return x >> (f.bits - 8);
  return x * 255 / ((1u << f.bits) - 1);
}

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3,
                   BI_ALPHABITFIELDS = 6;

// RLE8/RLE4 into palette indexes (0xFFFF: not written, left transparent), bottom-up rows.
bool expand_rle(const uint8_t* p, size_t n, bool four, int32_t width, int32_t height,
                uint16_t* out) {
  int64_t x = 0, y = 0;
  size_t i = 0;
  auto put = [&](uint32_t index) {
    if (x < width && y < height) out[size_t(y) * size_t(width) + size_t(x)] = uint16_t(index);
    ++x;
  };
  while (i + 1 < n) {
    uint32_t count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      for (uint32_t k = 0; k < count; ++k)
        put(four ? ((k & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // delta
      if (i + 1 >= n) return false;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      size_t bytes = four ? (value + 1) / 2 : value;
      if (i + bytes > n) return false;
      for (uint32_t k = 0; k < value; ++k)
        put(four ? ((k & 1) ? p[i + k / 2] & 15 : p[i + k / 2] >> 4) : p[i + k]);
      i += (bytes + 1) & ~size_t(1);
    }
    if (y >= height) return true;
  }
  return true;
}

}  // namespace

bool decode_bmp(const uint8_t* b, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  if (n < 26 || b[0] != 'B' || b[1] != 'M') return false;
  uint32_t offset = u32(b + 10);
  uint32_t header = u32(b + 14);
  if (header < 12 || 14 + size_t(header) > n) return false;
  const uint8_t* h = b + 14;
  int64_t width, height;
  uint32_t bpp, compression = BI_RGB, colours_used = 0;
  bool core = header < 16;
  if (core) {
    width = u16(h + 4);
    height = int16_t(u16(h + 6));
    bpp = u16(h + 10);
  } else {
    if (header < 16) return false;
    width = int32_t(u32(h + 4));
    height = int32_t(u32(h + 8));
    bpp = u16(h + 14);
    if (header >= 20) compression = u32(h + 16);
    if (header >= 36) colours_used = u32(h + 32);
  }
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (!size_ok(width, height)) return false;
  // Masks: in the header from V2 on, else right after a 40-byte header.
  Field r{}, g{}, bl{}, a{};
  bool masks = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
  if (masks) {
    const uint8_t* m = h + 40;
    size_t need = compression == BI_ALPHABITFIELDS ? 16 : 12;
    if (14 + 40 + need > n) return false;
    r = field_of(u32(m));
    g = field_of(u32(m + 4));
    bl = field_of(u32(m + 8));
    if (compression == BI_ALPHABITFIELDS || header >= 56) a = field_of(u32(m + 12));
    if (bpp != 16 && bpp != 32) return false;
  } else if (bpp == 16) {
    r = field_of(0x7C00);
    g = field_of(0x03E0);
    bl = field_of(0x001F);
  }
  // The palette after the header (and the masks of a 40-byte BI_BITFIELDS header).
  uint32_t palette[256] = {};
  if (bpp <= 8) {
    if (bpp != 1 && bpp != 4 && bpp != 8) return false;
    uint32_t entries = colours_used ? colours_used : 1u << bpp;
    if (entries > 256) entries = 256;
    size_t at = 14 + size_t(header) + (masks && header == 40 ? 12 : 0);
    size_t size = core ? 3 : 4;
    for (uint32_t i = 0; i < entries && at + size <= n; ++i, at += size)
      palette[i] = 0xFF000000u | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 1]) << 8 | b[at];
  } else if (bpp != 16 && bpp != 24 && bpp != 32) {
    return false;
  }
  if (offset >= n) return false;
  const uint8_t* data = b + offset;
  size_t avail = n - offset;
  size_t count = size_t(width) * size_t(height);
  uint32_t* pixels = static_cast<uint32_t*>(std::calloc(count, 4));
  if (!pixels) return false;
  auto row_of = [&](int64_t y) { return size_t(top_down ? y : height - 1 - y); };
  if (compression == BI_RLE8 || compression == BI_RLE4) {
    if (top_down || bpp != (compression == BI_RLE8 ? 8u : 4u)) {
      std::free(pixels);
      return false;
    }
    uint16_t* indexes = static_cast<uint16_t*>(std::malloc(count * 2));
    if (!indexes) {
      std::free(pixels);
      return false;
    }
    std::memset(indexes, 0xFF, count * 2);
    bool ok = expand_rle(data, avail, compression == BI_RLE4, int32_t(width), int32_t(height), indexes);
    for (int64_t y = 0; ok && y < height; ++y)
      for (int64_t x = 0; x < width; ++x) {
        uint16_t i = indexes[size_t(y) * size_t(width) + size_t(x)];
        if (i != 0xFFFF) pixels[row_of(y) * size_t(width) + size_t(x)] = palette[i & 255];
      }
    std::free(indexes);
    if (!ok) std::free(pixels);
    else *out = Pixels{int32_t(width), int32_t(height), pixels};
    return ok;
  }
  if (compression != BI_RGB && !masks) {
    std::free(pixels);
    return false;
  }
  size_t stride = ((size_t(width) * bpp + 31) / 32) * 4;
  if (stride * size_t(height) > avail) {
    // A last row may lack its padding; anything shorter is truncated.
    if (stride * size_t(height - 1) + (size_t(width) * bpp + 7) / 8 > avail) {
      std::free(pixels);
      return false;
    }
  }
  bool any_alpha = false;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = data + size_t(y) * stride;
    uint32_t* target = pixels + row_of(y) * size_t(width);
    for (int64_t x = 0; x < width; ++x) {
      uint32_t p;
      switch (bpp) {
        case 1: p = palette[(row[x / 8] >> (7 - x % 8)) & 1]; break;
        case 4: p = palette[(row[x / 2] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: p = palette[row[x]]; break;
        case 16: {
          uint32_t v = u16(row + x * 2);
          uint32_t alpha = a.bits ? channel(v, a) : 255;
          p = alpha << 24 | channel(v, r) << 16 | channel(v, g) << 8 | channel(v, bl);
          break;
        }
        case 24: {
          const uint8_t* s = row + x * 3;
          p = 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
          break;
        }
        default: {
          uint32_t v = u32(row + x * 4);
          if (masks) {
            uint32_t alpha = a.bits ? channel(v, a) : 255;
            p = alpha << 24 | channel(v, r) << 16 | channel(v, g) << 8 | channel(v, bl);
          } else {
            p = v;  // BI_RGB: the fourth byte is alpha only when some pixel uses it
            if (v >> 24) any_alpha = true;
          }
          break;
        }
      }
      target[x] = p;
    }
  }
  if (bpp == 32 && !masks && !any_alpha)
    for (size_t i = 0; i < count; ++i) pixels[i] |= 0xFF000000u;
  *out = Pixels{int32_t(width), int32_t(height), pixels};
  return true;
}

bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  uint8_t head[14 + 124] = {};
  uint32_t image = uint32_t(width) * uint32_t(height) * 4;
  auto put16 = [&](size_t at, uint32_t v) {
    head[at] = uint8_t(v);
    head[at + 1] = uint8_t(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  head[0] = 'B';
  head[1] = 'M';
  put32(2, 14 + 124 + image);
  put32(10, 14 + 124);
  put32(14, 124);
  put32(18, uint32_t(width));
  put32(22, uint32_t(-height));
  put16(26, 1);
  put16(28, 32);
  put32(30, BI_BITFIELDS);
  put32(34, image);
  put32(14 + 40, 0x00FF0000);
  put32(14 + 44, 0x0000FF00);
  put32(14 + 48, 0x000000FF);
  put32(14 + 52, 0xFF000000);
  put32(14 + 56, 0x57696E20);
  put32(14 + 108, 4);
  if (!sink_write(out, head, sizeof head)) return false;
  // The words of a little-endian machine are the bytes B, G, R, A, top row first.
  static_assert(std::endian::native == std::endian::little);
  return sink_write(out, pixels, image);
}

}  // namespace kel::image_format
