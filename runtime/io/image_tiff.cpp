// TIFF through libtiff over memory (TIFFClientOpen): 8-bit RGB, RGBA and gray strips read as
// samples (straight alpha kept, associated alpha undone), other layouts through libtiff's
// RGBA reader un-premultiplied; encoding as RGBA with unassociated alpha.
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/io/dynlib.h"
#include "runtime/io/image_formats.h"

namespace kel::image_format {

namespace {

// libtiff is loaded at the first TIFF read or write, not linked: with the half-dozen
// libraries it pulls in, relocating it cost every start-up. Null when it cannot be loaded.
struct TiffApi {
  decltype(&::TIFFClientOpen) ClientOpen;
  decltype(&::TIFFClose) Close;
  decltype(&::TIFFDefaultStripSize) DefaultStripSize;
  decltype(&::TIFFGetField) GetField;
  decltype(&::TIFFGetFieldDefaulted) GetFieldDefaulted;
  decltype(&::TIFFIsTiled) IsTiled;
  decltype(&::TIFFReadRGBAImageOriented) ReadRGBAImageOriented;
  decltype(&::TIFFReadScanline) ReadScanline;
  decltype(&::TIFFScanlineSize) ScanlineSize;
  decltype(&::TIFFSetErrorHandler) SetErrorHandler;
  decltype(&::TIFFSetField) SetField;
  decltype(&::TIFFSetWarningHandler) SetWarningHandler;
  decltype(&::TIFFWriteScanline) WriteScanline;
};

const TiffApi* tiff_api() {
  static TiffApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 unavailable
  if (state) return state > 0 ? &api : nullptr;
  state = -1;
  dynlib::Binder load("libtiff.so.6");
  load(api.ClientOpen, "TIFFClientOpen");
  load(api.Close, "TIFFClose");
  load(api.DefaultStripSize, "TIFFDefaultStripSize");
  load(api.GetField, "TIFFGetField");
  load(api.GetFieldDefaulted, "TIFFGetFieldDefaulted");
  load(api.IsTiled, "TIFFIsTiled");
  load(api.ReadRGBAImageOriented, "TIFFReadRGBAImageOriented");
  load(api.ReadScanline, "TIFFReadScanline");
  load(api.ScanlineSize, "TIFFScanlineSize");
  load(api.SetErrorHandler, "TIFFSetErrorHandler");
  load(api.SetField, "TIFFSetField");
  load(api.SetWarningHandler, "TIFFSetWarningHandler");
  load(api.WriteScanline, "TIFFWriteScanline");
  if (!load.ok()) return nullptr;
  // Its warnings would reach the console.
  api.SetErrorHandler(nullptr);
  api.SetWarningHandler(nullptr);
  state = 1;
  return &api;
}

// The memory a TIFF is read from or written into.
struct Memory {
  const uint8_t* in;  // reading: the bytes
  Sink* out;          // writing: the growing buffer
  size_t size;
  size_t at;
};

tsize_t read_proc(thandle_t h, tdata_t buf, tsize_t n) {
  Memory* m = static_cast<Memory*>(h);
  const uint8_t* base = m->in ? m->in : m->out->data;
  if (m->at >= m->size || n <= 0) return 0;
  size_t take = size_t(n) < m->size - m->at ? size_t(n) : m->size - m->at;
  std::memcpy(buf, base + m->at, take);
  m->at += take;
  return tsize_t(take);
}

tsize_t write_proc(thandle_t h, tdata_t buf, tsize_t n) {
  Memory* m = static_cast<Memory*>(h);
  if (!m->out || n < 0) return -1;
  size_t end = m->at + size_t(n);
  if (end > m->out->size) {
    size_t grow = end - m->out->size;
    std::vector<uint8_t> zeros(grow, 0);
    if (!sink_write(m->out, zeros.data(), grow)) return -1;
  }
  std::memcpy(m->out->data + m->at, buf, size_t(n));
  m->at = end;
  if (end > m->size) m->size = end;
  return n;
}

toff_t seek_proc(thandle_t h, toff_t off, int whence) {
  Memory* m = static_cast<Memory*>(h);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(m->at) : int64_t(m->size);
  int64_t to = base + int64_t(off);
  if (to < 0) return toff_t(-1);
  m->at = size_t(to);
  return toff_t(to);
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return toff_t(static_cast<Memory*>(h)->size); }
int map_proc(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmap_proc(thandle_t, tdata_t, toff_t) {}

struct TiffCloser {
  const TiffApi* api;
  ::TIFF* tif;
  ~TiffCloser() {
    if (tif) api->Close(tif);
  }
};

uint8_t unpremultiply(uint32_t c, uint32_t a) {
  if (a == 0) return 0;
  uint32_t v = (c * 255 + a / 2) / a;
  return uint8_t(v > 255 ? 255 : v);
}

}  // namespace

bool decode_tiff(const uint8_t* bytes, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  const TiffApi* api = tiff_api();
  if (!api) return false;
  Memory mem{bytes, nullptr, n, 0};
  TiffCloser closer{api, api->ClientOpen("memory", "rm", &mem, read_proc, write_proc, seek_proc,
                                   close_proc, size_proc, map_proc, unmap_proc)};
  ::TIFF* tif = closer.tif;
  if (!tif) return false;
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
  api->GetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  api->GetField(tif, TIFFTAG_IMAGELENGTH, &height);
  api->GetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  api->GetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  api->GetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (!api->GetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0xFFFF;
  if (!size_ok(width, height)) return false;
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  api->GetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
  bool associated = extra_count > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
  size_t count = size_t(width) * height;
  uint32_t* pixels = static_cast<uint32_t*>(std::malloc(count * 4));
  if (!pixels) return false;
  bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  bool rgb = photometric == PHOTOMETRIC_RGB;
  bool direct = bits == 8 && planar == PLANARCONFIG_CONTIG && !api->IsTiled(tif) &&
                ((rgb && samples >= 3) || (gray && samples >= 1));
  if (direct) {
    tsize_t line = api->ScanlineSize(tif);
    if (line < tsize_t(size_t(width) * samples)) {
      std::free(pixels);
      return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(line));
    bool alpha = rgb ? samples >= 4 : samples >= 2;
    uint32_t alpha_at = rgb ? 3 : 1;
    for (uint32_t y = 0; y < height; ++y) {
      if (api->ReadScanline(tif, row.data(), y, 0) < 0) {
        std::free(pixels);
        return false;
      }
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = row.data() + size_t(x) * samples;
        uint32_t r, g, b;
        if (rgb) {
          r = s[0], g = s[1], b = s[2];
        } else {
          r = g = b = photometric == PHOTOMETRIC_MINISWHITE ? 255u - s[0] : s[0];
        }
        uint32_t a = alpha ? s[alpha_at] : 255;
        if (alpha && associated) {
          r = unpremultiply(r, a);
          g = unpremultiply(g, a);
          b = unpremultiply(b, a);
        }
        pixels[size_t(y) * width + x] = a << 24 | r << 16 | g << 8 | b;
      }
    }
  } else {
    // libtiff's reader: ABGR words (R in the low byte), alpha premultiplied.
    if (!api->ReadRGBAImageOriented(tif, width, height, pixels, ORIENTATION_TOPLEFT, 0)) {
      std::free(pixels);
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      uint32_t p = pixels[i];
      uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
      if (a != 255) {
        r = unpremultiply(r, a);
        g = unpremultiply(g, a);
        b = unpremultiply(b, a);
      }
      pixels[i] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  *out = Pixels{int32_t(width), int32_t(height), pixels};
  return true;
}

bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  const TiffApi* api = tiff_api();
  if (!api) return false;
  Memory mem{nullptr, out, 0, 0};
  ::TIFF* tif = api->ClientOpen("memory", "w", &mem, read_proc, write_proc, seek_proc, close_proc,
                             size_proc, map_proc, unmap_proc);
  if (!tif) return false;
  TiffCloser closer{api, tif};
  uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
  api->SetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
  api->SetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
  api->SetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  api->SetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  api->SetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  api->SetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  api->SetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  api->SetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  api->SetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  api->SetField(tif, TIFFTAG_ROWSPERSTRIP, api->DefaultStripSize(tif, 0));
  std::vector<uint8_t> row(size_t(width) * 4);
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* src = pixels + size_t(y) * size_t(width);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t p = src[x];
      uint8_t* d = row.data() + size_t(x) * 4;
      d[0] = uint8_t(p >> 16);
      d[1] = uint8_t(p >> 8);
      d[2] = uint8_t(p);
      d[3] = uint8_t(p >> 24);
    }
    if (api->WriteScanline(tif, row.data(), uint32_t(y), 0) < 0) return false;
  }
  closer.tif = nullptr;
  api->Close(tif);
  return !out->failed;
}

}  // namespace kel::image_format

namespace kel::image_format {
void init_libraries() {
  // libtiff is quietened when it is loaded, at its first use.
}
}  // namespace kel::image_format
