// image! (id 53, parent series!): a position over an image record (pixels outside the
// collector), its action slots, the pixel planes as binaries, and decoding and encoding.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::image {

// The cell: w1 head (pixel index, row-major), w2 the record id (0: no pixels), w3 the size
// (height << 16 | width).
inline int32_t width_of(const Cell* c) { return int32_t(c->w3 & 0xFFFF); }
inline int32_t height_of(const Cell* c) { return int32_t(c->w3 >> 16); }
inline int64_t pixel_count(const Cell* c) { return int64_t(width_of(c)) * height_of(c); }

constexpr int32_t PLANE_ALPHA = 0, PLANE_RGB = 1, PLANE_ARGB = 2;

// Makes the cell an image! at head 0 over the record (its size from the record; 0: no
// pixels, the size given).
Cell* init_cell(Cell* cell, uint32_t record, int32_t width = 0, int32_t height = 0);
// A pixel word as the tuple R.G.B.T (T = 255 - A), and a tuple as a pixel word (a 3-byte
// tuple is opaque).
Cell* pixel_to_tuple(Cell* out, uint32_t pixel);
uint32_t tuple_to_pixel(const Cell* tuple);

// The absolute pixel index of an integer or pair index counted from the head, clamped to
// 0 .. width x height; *out_of_range tells whether it names no pixel.
int64_t index(const Cell* image, const Cell* value, bool one_based, bool* out_of_range);
// The pixel at an absolute index as a tuple into out, or none at width x height or beyond.
Cell* pick_tuple(const Cell* image, int64_t absolute, Cell* out);
// The next n pixels from the head as tuples to the n loop words of the block (none past
// the end).
void assign_next_pixels(const Cell* words, const Cell* image, int32_t n);
// New binary! of a plane over all pixels (pushed).
Cell* pixels_to_binary(const Cell* image, int32_t plane);
// Stores a binary!, tuple! or integer! into a plane of every pixel.
void store_pixels(Cell* image, const Cell* value, int32_t plane);
// A new image! scaled to width x height (pushed).
Cell* push_new(const Cell* image, int32_t width, int32_t height);

// Whether the bytes of the binary begin as one of the five formats do.
bool known_format_q(const Cell* binary);
// A new image! decoded from the binary (pushed), none when the format is unknown;
// undecodable bytes raise access/bad-media.
Cell* push_from_binary(const Cell* binary);
// A binary! or a file! decoded into a new image! (pushed); an unreadable file raises
// access/cannot-open.
Cell* decode(const Cell* data);
// The image encoded (format code 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) as a new binary!
// (pushed) whatever the target; an image without pixels raises access/bad-media.
Cell* encode(const Cell* image, const Cell* target, int32_t code);

// The collector's image step, and dropping the drawing copy.
void gc_mark_bitmap(Cell* image);
void drop_platform_objects(Cell* image);

// Action slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part,
             int32_t limit, int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* container,
                Cell* previous, int32_t step, bool absent_as_none, bool case_, bool last,
                bool change_notice);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* at();
Cell* skip();
Cell* next();
Cell* tail();
Cell* tail_q();
int32_t length_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* poke(Cell* value, int32_t index, Cell* new_value, Cell* index_cell);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

void install_type();

}  // namespace kel::image
