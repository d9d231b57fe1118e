// Image geometry: vectors, the quadrilateral test, the bilinear warp into a quadrilateral,
// rectangle copies, resizing, YCbCr to RGB, and image/draw-into-quad over them.
#include "runtime/io/image_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/pair.h"
#include "runtime/error.h"
#include "runtime/io/image_codec.h"
#include "runtime/stack.h"

namespace kel::image_codec {

double vector_length(Vec v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(Vec* v) {
  double l = vector_length(*v);
  v->x /= l;
  v->y /= l;
}

void vector_between(Vec* out, double x1, double y1, double x2, double y2) {
  *out = Vec{x2 - x1, y2 - y1};
}

double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }

bool right_of_q(Vec p, Vec a, Vec b) {
  return cross(Vec{p.x - a.x, p.y - a.y}, Vec{b.x - a.x, b.y - a.y}) > 0.0;
}

namespace {
Vec at(const Quad& q, int i) { return Vec{q.p[i & 3].x, q.p[i & 3].y}; }
}  // namespace

bool inside_quad_q(const Quad& q, Vec p) {
  for (int i = 0; i < 4; ++i)
    if (right_of_q(p, at(q, i), at(q, i + 1))) return false;
  return true;
}

void mirror_corners_x(Quad* q, double c) {
  for (Corner& k : q->p) k.x = float(c * 2.0 - k.x);
}

void mirror_corners_y(Quad* q, double c) {
  for (Corner& k : q->p) k.y = float(c * 2.0 - k.y);
}

bool copy_pixel_rect(const uint32_t* buffer, int32_t width, int32_t height, int32_t x, int32_t y,
                     int32_t w, int32_t h, uint32_t* out) {
  if (x < 0 || y < 0 || x >= width || y >= height) return false;
  w = std::min(w, width - x);
  h = std::min(h, height - y);
  if (w <= 0 || h <= 0) return true;
  for (int32_t r = 0; r < h; ++r)
    std::memcpy(out + size_t(r) * size_t(w), buffer + size_t(y + r) * size_t(width) + size_t(x),
                size_t(w) * 4);
  return true;
}

uint32_t* warp_to_quad(const uint32_t* buffer, int32_t width, int32_t height, const Quad& q,
                       int32_t* out_x, int32_t* out_y, int32_t* out_w, int32_t* out_h) {
  *out_x = *out_y = *out_w = *out_h = 0;
  if (width < 1 || height < 1) return nullptr;
  float big = std::numeric_limits<float>::max();
  float min_x = big, min_y = big, max_x = -big, max_y = -big;
  for (const Corner& k : q.p) {
    min_x = std::min(min_x, k.x);
    min_y = std::min(min_y, k.y);
    max_x = std::max(max_x, k.x);
    max_y = std::max(max_y, k.y);
  }
  // A box that does not fit the integers (or a NaN corner) draws nothing.
  double span_x = double(max_x) - min_x, span_y = double(max_y) - min_y;
  if (!(span_x >= 0 && span_y >= 0 && span_x < 65536 && span_y < 65536 &&
        std::fabs(min_x) < 1e9 && std::fabs(min_y) < 1e9))
    return nullptr;
  int32_t x0 = int32_t(min_x), y0 = int32_t(min_y);
  int32_t bw = int32_t(span_x), bh = int32_t(span_y);
  *out_x = x0;
  *out_y = y0;
  *out_w = bw;
  *out_h = bh;
  if (bw <= 0 || bh <= 0) return nullptr;
  Vec e[4];
  for (int i = 0; i < 4; ++i) {
    vector_between(&e[i], at(q, i).x, at(q, i).y, at(q, i + 1).x, at(q, i + 1).y);
    normalize(&e[i]);
  }
  uint32_t* out = static_cast<uint32_t*>(std::calloc(size_t(bw) * size_t(bh), 4));
  if (!out) return nullptr;
  for (int32_t row = 0; row < bh; ++row) {
    for (int32_t col = 0; col < bw; ++col) {
      Vec p{double(x0) + col, double(y0) + row};
      if (!inside_quad_q(q, p)) continue;
      double d[4];
      for (int i = 0; i < 4; ++i)
        d[i] = std::fabs(cross(Vec{p.x - at(q, i).x, p.y - at(q, i).y}, e[i]));
      double u = d[3] / (d[3] + d[1]) * width, v = d[0] / (d[0] + d[2]) * height;
      // A degenerate quadrilateral gives NaN here: the pixel stays zero.
      if (!std::isfinite(u) || !std::isfinite(v) || u < 0 || v < 0 || u >= width || v >= height)
        continue;
      int32_t iu = int32_t(u), iv = int32_t(v);
      int32_t iu1 = iu + 1 < width ? iu + 1 : iu, iv1 = iv + 1 < height ? iv + 1 : iv;
      double fx = std::max(u - iu, 0.0), fy = std::max(v - iv, 0.0);
      uint32_t s00 = buffer[size_t(iv) * size_t(width) + size_t(iu)];
      uint32_t s10 = buffer[size_t(iv) * size_t(width) + size_t(iu1)];
      uint32_t s01 = buffer[size_t(iv1) * size_t(width) + size_t(iu)];
      uint32_t s11 = buffer[size_t(iv1) * size_t(width) + size_t(iu1)];
      uint32_t word = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        double c = (1 - fx) * (1 - fy) * ((s00 >> shift) & 255) + fx * (1 - fy) * ((s10 >> shift) & 255) +
                   (1 - fx) * fy * ((s01 >> shift) & 255) + fx * fy * ((s11 >> shift) & 255);
        word |= uint32_t(std::clamp(c, 0.0, 255.0)) << shift;
      }
      out[size_t(row) * size_t(bw) + size_t(col)] = word;
    }
  }
  return out;
}

uint32_t* resize_buffer(const uint32_t* buffer, int32_t width, int32_t height, int32_t w,
                        int32_t h) {
  Quad q{{{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}}};
  int32_t x, y, bw, bh;
  uint32_t* out = warp_to_quad(buffer, width, height, q, &x, &y, &bw, &bh);
  if (out && (bw != w || bh != h)) {
    std::free(out);
    return nullptr;
  }
  return out;
}

void ycbcr_to_rgb(int32_t pairs_per_row, int32_t rows, const uint8_t* bytes, uint32_t* out) {
  auto clamp = [](int32_t v) { return uint32_t(std::clamp(v, 0, 255)); };
  size_t pairs = size_t(pairs_per_row) * size_t(std::max(rows, 0));
  for (size_t i = 0; i < pairs; ++i) {
    const uint8_t* s = bytes + 4 * i;
    int32_t cb = int32_t(s[1]) - 128, cr = int32_t(s[3]) - 128;
    int32_t dr = (91881 * cr) >> 16, dg = ((46792 * cr) >> 16) + ((21889 * cb) >> 16),
            db = (116129 * cb) >> 16;
    for (int k = 0; k < 2; ++k) {
      int32_t y = s[k * 2];
      out[2 * i + size_t(k)] =
          0xFF000000u | clamp(y + db) << 16 | clamp(y - dg) << 8 | clamp(y + dr);
    }
  }
}

}  // namespace kel::image_codec

namespace kel::image {

namespace {

image_codec::Corner corner_of(const Cell* c) {
  if (cell::type(c) == T_PAIR) return {float(pair::x_of(c)), float(pair::y_of(c))};
  if (cell::type(c) == T_POINT2D) {
    float x, y;
    std::memcpy(&x, &c->w1, 4);
    std::memcpy(&y, &c->w2, 4);
    return {x, y};
  }
  error::raise(err::script::invalid_arg, c);
}

}  // namespace

Cell* draw_into_quad(const Cell* img, const Cell* crop, const Cell* corners, Cell* placement) {
  using namespace image_codec;
  if (cell::type(img) != T_IMAGE) error::raise(err::script::invalid_arg, img);
  if (cell::type(corners) != T_BLOCK) error::raise(err::script::invalid_arg, corners);
  int32_t n = block::count_from_head(corners);
  if (n != 2 && n != 4) error::raise(err::script::invalid_arg, corners);
  Corner c[4];
  for (int32_t i = 0; i < n; ++i) c[i] = corner_of(block::cell_at_index(corners, int32_t(corners->w1) + i));
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  if (!img->w2 || pixel_count(img) == 0) return out;
  // The source: the image, or its part inside the crop rectangle [offset size].
  int32_t w = width_of(img), h = height_of(img), x = 0, y = 0, cw = w, ch = h;
  if (crop && cell::type(crop) == T_BLOCK && block::count_from_head(crop) >= 2) {
    const Cell* o = block::cell_at_index(crop, int32_t(crop->w1));
    const Cell* s = block::cell_at_index(crop, int32_t(crop->w1) + 1);
    if (cell::type(o) != T_PAIR || cell::type(s) != T_PAIR) error::raise(err::script::invalid_arg, crop);
    x = std::max(pair::x_of(o), 0);
    y = std::max(pair::y_of(o), 0);
    cw = std::min(pair::x_of(s), w - x);
    ch = std::min(pair::y_of(s), h - y);
  } else if (crop && cell::type(crop) != T_NONE) {
    error::raise(err::script::invalid_arg, crop);
  }
  if (cw <= 0 || ch <= 0) return out;
  std::vector<uint32_t> source(size_t(cw) * size_t(ch));
  if (!copy_pixel_rect(lock_pixels(img, false), w, h, x, y, cw, ch, source.data())) return out;
  Quad q;
  bool flip_x = false, flip_y = false;
  if (n == 2) {
    q = Quad{{{c[0].x, c[0].y}, {c[1].x, c[0].y}, {c[1].x, c[1].y}, {c[0].x, c[1].y}}};
    // Corners in flipped order: the rectangle is mirrored back and the picture flipped.
    if (c[1].x < c[0].x) {
      mirror_corners_x(&q, (double(c[0].x) + c[1].x) / 2);
      flip_x = true;
    }
    if (c[1].y < c[0].y) {
      mirror_corners_y(&q, (double(c[0].y) + c[1].y) / 2);
      flip_y = true;
    }
  } else {
    q = Quad{{c[0], c[1], c[2], c[3]}};
  }
  if (flip_x)
    for (int32_t r = 0; r < ch; ++r)
      std::reverse(source.begin() + r * cw, source.begin() + (r + 1) * cw);
  if (flip_y)
    for (int32_t r = 0; r < ch / 2; ++r)
      std::swap_ranges(source.begin() + r * cw, source.begin() + (r + 1) * cw,
                       source.begin() + (ch - 1 - r) * cw);
  int32_t bx, by, bw, bh;
  uint32_t* warped = warp_to_quad(source.data(), cw, ch, q, &bx, &by, &bw, &bh);
  if (placement) pair::init_cell(placement, bx, by);
  if (!warped) return out;
  uint32_t id = make_record(warped, bw, bh, 0);
  return init_cell(out, id);
}

}  // namespace kel::image
