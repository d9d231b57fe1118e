// PNG through libpng: every colour type, tRNS, 16-bit and Adam7 decoded to straight BGRA
// (no gamma applied); RGBA 8-bit encoding. libpng leaves by longjmp, so the functions that
// call it hold no C++ objects.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "runtime/io/image_formats.h"

namespace kel::image_format {

namespace {

void read_source(png_structp png, png_bytep out, png_size_t n) {
  Source* s = static_cast<Source*>(png_get_io_ptr(png));
  if (n > s->size - s->at) png_error(png, "truncated");
  std::memcpy(out, s->bytes + s->at, n);
  s->at += n;
}

void write_sink(png_structp png, png_bytep data, png_size_t n) {
  if (!sink_write(static_cast<Sink*>(png_get_io_ptr(png)), data, n)) png_error(png, "no memory");
}
void flush_sink(png_structp) {}

void quiet_warning(png_structp, png_const_charp) {}
void quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

}  // namespace

bool decode_png(const uint8_t* bytes, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  if (n < 8 || png_sig_cmp(bytes, 0, 8) != 0) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  Source source{bytes, n, 0};
  uint32_t* volatile pixels = nullptr;
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(pixels);
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, read_source);
  png_set_user_limits(png, 65535, 65535);
  png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_DEFAULT);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (!size_ok(width, height)) png_error(png, "size");
  int color = png_get_color_type(png, info);
  int depth = png_get_bit_depth(png, info);
  if (depth == 16) png_set_strip_16(png);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "layout");
  pixels = static_cast<uint32_t*>(std::malloc(size_t(width) * height * 4));
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
  if (!pixels || !rows) png_error(png, "no memory");
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(pixels + size_t(y) * width);
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  *out = Pixels{int32_t(width), int32_t(height), pixels};
  return true;
}

bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, write_sink, flush_sink);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Level 4: on photographs and gradients alike about as small as 6, in a third of the time.
  png_set_compression_level(png, 4);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int32_t y = 0; y < height; ++y)
    png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + size_t(y) * size_t(width)));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return !out->failed;
}

}  // namespace kel::image_format
