// Image geometry: vector routines, the point-in-quadrilateral test, the warp of a pixel
// buffer into a quadrilateral with bilinear sampling, rectangle copies, resizing, YCbCr to
// RGB, and image/draw-into-quad.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::image_codec {

struct Vec {
  double x;
  double y;
};
struct Corner {
  float x;
  float y;
};
// Four corners p0 .. p3 around the shape.
struct Quad {
  Corner p[4];
};

double vector_length(Vec v);
void normalize(Vec* v);
void vector_between(Vec* out, double x1, double y1, double x2, double y2);
double cross(Vec a, Vec b);
bool right_of_q(Vec p, Vec a, Vec b);
// True when P is on the inner side of (or on) all four edges.
bool inside_quad_q(const Quad& quad, Vec p);
void mirror_corners_x(Quad* quad, double c);
void mirror_corners_y(Quad* quad, double c);

// Copies the w x h rectangle at (x, y), cut to the buffer's edges, into out (packed rows);
// false when x or y is negative or (x, y) lies outside the buffer.
bool copy_pixel_rect(const uint32_t* buffer, int32_t width, int32_t height, int32_t x, int32_t y,
                     int32_t w, int32_t h, uint32_t* out);
// A new std::malloc buffer of the quadrilateral's bounding box (zero outside the shape),
// placed at (*out_x, *out_y) with *out_w x *out_h pixels; null for an empty source or box.
uint32_t* warp_to_quad(const uint32_t* buffer, int32_t width, int32_t height, const Quad& quad,
                       int32_t* out_x, int32_t* out_y, int32_t* out_w, int32_t* out_h);
// The source warped into the rectangle 0, 0 .. w, h: a new buffer, or null unless the box is
// exactly w x h.
uint32_t* resize_buffer(const uint32_t* buffer, int32_t width, int32_t height, int32_t w,
                        int32_t h);
// Pairs of pixels Y0 Cb Y1 Cr to words 0xFF << 24 | B << 16 | G << 8 | R.
void ycbcr_to_rgb(int32_t pairs_per_row, int32_t rows, const uint8_t* bytes, uint32_t* out);

}  // namespace kel::image_codec

namespace kel::image {

// Draws the image (cropped to crop, a block of two pairs, or none) into the quadrilateral of
// the corners (two pairs or points: a rectangle; four: a quadrilateral); corners given in
// flipped order mirror the picture. The result is a new image! (pushed) covering the
// bounding box, its top-left corner written to placement as a pair; none when nothing is
// drawn.
Cell* draw_into_quad(const Cell* image, const Cell* crop, const Cell* corners, Cell* placement);

}  // namespace kel::image
