// GIF through giflib: the first frame placed on the logical screen (transparent elsewhere),
// read record by record so a hostile size is refused before any raster is allocated; the
// encoder writes an exact palette of up to 255 colours (alpha below 128 transparent) or a
// colour cube of our own.
#include <gif_lib.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "runtime/io/image_formats.h"

namespace kel::image_format {

namespace {

int read_source(GifFileType* gif, GifByteType* out, int n) {
  Source* s = static_cast<Source*>(gif->UserData);
  size_t take = size_t(n) < s->size - s->at ? size_t(n) : s->size - s->at;
  std::memcpy(out, s->bytes + s->at, take);
  s->at += take;
  return int(take);
}

int write_sink(GifFileType* gif, const GifByteType* data, int n) {
  return sink_write(static_cast<Sink*>(gif->UserData), data, size_t(n)) ? n : 0;
}

struct GifCloser {
  GifFileType* gif;
  ~GifCloser() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

}  // namespace

bool decode_gif(const uint8_t* bytes, size_t n, Pixels* out) {
  *out = Pixels{0, 0, nullptr};
  Source source{bytes, n, 0};
  int error = 0;
  GifCloser closer{DGifOpen(&source, read_source, &error)};
  GifFileType* gif = closer.gif;
  if (!gif) return false;
  int32_t sw = gif->SWidth, sh = gif->SHeight;
  if (!size_ok(sw, sh)) return false;
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == TERMINATE_RECORD_TYPE) return false;  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        DGifExtensionToGCB(ext[0], ext + 1, &gcb);
        transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& d = gif->Image;
    if (!size_ok(d.Width, d.Height)) return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map) return false;
    uint32_t* pixels = static_cast<uint32_t*>(std::calloc(size_t(sw) * size_t(sh), 4));
    if (!pixels) return false;
    std::vector<GifPixelType> line(size_t(d.Width));
    // Each line goes straight onto the screen; interlaced frames come in four passes.
    auto place = [&](int y) {
      int64_t ty = int64_t(d.Top) + y;
      if (ty < 0 || ty >= sh) return;
      for (int x = 0; x < d.Width; ++x) {
        int64_t tx = int64_t(d.Left) + x;
        if (tx < 0 || tx >= sw) continue;
        int i = line[size_t(x)];
        if (i == transparent || i >= map->ColorCount) continue;
        const GifColorType& c = map->Colors[i];
        pixels[size_t(ty) * size_t(sw) + size_t(tx)] =
            0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
      }
    };
    static const int offsets[4] = {0, 4, 2, 1}, jumps[4] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      int first = d.Interlace ? offsets[pass] : 0, step = d.Interlace ? jumps[pass] : 1;
      for (int y = first; y < d.Height; y += step) {
        if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
          std::free(pixels);
          return false;
        }
        place(y);
      }
    }
    *out = Pixels{sw, sh, pixels};
    return true;
  }
}

bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, Sink* out) {
  size_t count = size_t(width) * size_t(height);
  // The exact palette when the opaque colours fit beside the transparent slot.
  std::unordered_map<uint32_t, int> index;
  std::vector<uint32_t> colours;
  bool any_transparent = false;
  bool exact = true;
  for (size_t i = 0; i < count; ++i) {
    uint32_t p = pixels[i];
    if ((p >> 24) < 128) {
      any_transparent = true;
      continue;
    }
    uint32_t rgb = p & 0xFFFFFF;
    if (index.count(rgb)) continue;
    if (colours.size() >= 256) {
      exact = false;
      break;
    }
    index.emplace(rgb, int(colours.size()));
    colours.push_back(rgb);
  }
  if (exact && any_transparent && colours.size() >= 256) exact = false;
  if (!exact) {
    // A 6 x 7 x 6 colour cube: 252 colours, the transparent slot after them.
    colours.clear();
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 7; ++g)
        for (int b = 0; b < 6; ++b)
          colours.push_back(uint32_t(r * 255 / 5) << 16 | uint32_t(g * 255 / 6) << 8 |
                            uint32_t(b * 255 / 5));
  }
  int transparent = any_transparent ? int(colours.size()) : -1;
  size_t used = colours.size() + (any_transparent ? 1 : 0);
  int bits = 1;
  while ((size_t(1) << bits) < used) ++bits;
  std::vector<GifColorType> palette(size_t(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < colours.size(); ++i)
    palette[i] = GifColorType{GifByteType(colours[i] >> 16), GifByteType(colours[i] >> 8),
                              GifByteType(colours[i])};
  std::vector<GifPixelType> indexes(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t p = pixels[i];
    if ((p >> 24) < 128) {
      indexes[i] = GifPixelType(transparent);
    } else if (exact) {
      indexes[i] = GifPixelType(index[p & 0xFFFFFF]);
    } else {
      int r = int((p >> 16) & 255), g = int((p >> 8) & 255), b = int(p & 255);
      indexes[i] = GifPixelType(((r * 5 + 127) / 255) * 42 + ((g * 6 + 127) / 255) * 6 +
                                (b * 5 + 127) / 255);
    }
  }
  int error = 0;
  GifFileType* gif = EGifOpen(out, write_sink, &error);
  if (!gif) return false;
  bool ok = true;
  ColorMapObject* map = GifMakeMapObject(1 << bits, palette.data());
  EGifSetGifVersion(gif, true);
  ok = map && EGifPutScreenDesc(gif, width, height, bits, 0, map) != GIF_ERROR;
  if (ok && transparent >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparent};
    GifByteType ext[4];
    size_t len = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext) != GIF_ERROR;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) != GIF_ERROR;
  for (int32_t y = 0; ok && y < height; ++y)
    ok = EGifPutLine(gif, indexes.data() + size_t(y) * size_t(width), width) != GIF_ERROR;
  if (map) GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  return ok && !out->failed;
}

}  // namespace kel::image_format
