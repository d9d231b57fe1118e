// JPEG through libjpeg-turbo: gray and YCbCr decoded straight to BGRA, CMYK and YCCK through
// CMYK with the Adobe inversion; encoding at quality 90. libjpeg leaves by longjmp, so the
// functions that call it hold no C++ objects.
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "runtime/io/image_formats.h"

namespace kel::image_format {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void error_exit(j_common_ptr info) { longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void output_message(j_common_ptr) {}
void emit_message(j_common_ptr, int) {}

void quiet(ErrorManager* e) {
  jpeg_std_error(&e->base);
  e->base.error_exit = error_exit;
  e->base.output_message = output_message;
  e->base.emit_message = emit_message;
}

}  // namespace

bool decode_jpeg(const uint8_t* bytes, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  if (n < 3 || n > 0xFFFFFFFFu) return false;
  jpeg_decompress_struct info;
  ErrorManager err;
  quiet(&err);
  info.err = &err.base;
  uint32_t* volatile pixels = nullptr;
  uint8_t* volatile row = nullptr;
  if (setjmp(err.jump)) {
    std::free(pixels);
    std::free(row);
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes, static_cast<unsigned long>(n));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) longjmp(err.jump, 1);
  if (!size_ok(info.image_width, info.image_height)) longjmp(err.jump, 1);
  bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  uint32_t width = info.output_width, height = info.output_height;
  if (!size_ok(width, height) || info.output_components != 4)
    longjmp(err.jump, 1);
  pixels = static_cast<uint32_t*>(std::malloc(size_t(width) * height * 4));
  row = static_cast<uint8_t*>(std::malloc(size_t(width) * 4));
  if (!pixels || !row) longjmp(err.jump, 1);
  bool inverted = info.saw_Adobe_marker;
  while (info.output_scanline < height) {
    uint32_t y = info.output_scanline;
    uint8_t* target = reinterpret_cast<uint8_t*>(pixels + size_t(y) * width);
    JSAMPROW rows[1] = {cmyk ? row : target};
    if (jpeg_read_scanlines(&info, rows, 1) != 1) longjmp(err.jump, 1);
    if (!cmyk) continue;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* s = row + size_t(x) * 4;
      uint32_t c = s[0], m = s[1], ye = s[2], k = s[3];
      if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        ye = 255 - ye;
        k = 255 - k;
      }
      uint32_t r = c * k / 255, g = m * k / 255, b = ye * k / 255;
      pixels[size_t(y) * width + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::free(row);
  *out = Pixels{int32_t(width), int32_t(height), pixels};
  return true;
}

bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  jpeg_compress_struct info;
  ErrorManager err;
  quiet(&err);
  info.err = &err.base;
  unsigned char* volatile buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  unsigned char* mem = nullptr;
  jpeg_mem_dest(&info, &mem, &size);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(
        const_cast<uint32_t*>(pixels + size_t(info.next_scanline) * size_t(width)))};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  buffer = mem;
  jpeg_destroy_compress(&info);
  bool ok = sink_write(out, buffer, size);
  std::free(buffer);
  return ok;
}

}  // namespace kel::image_format
