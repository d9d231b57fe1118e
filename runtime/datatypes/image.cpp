// image! (id 53, parent series!): make, to, mold, paths, pick and poke, navigation, change,
// copy and compare over an image record, the planes as binaries, decoding and encoding.
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/immediate.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/interp.h"
#include "runtime/hooks.h"
#include "runtime/gc.h"
#include "runtime/io/image_codec.h"
#include "runtime/io/image_formats.h"
#include "runtime/owner.h"
#include "runtime/runtime_words.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::image {

namespace {

using image_codec::Record;

constexpr int32_t MAX_SIDE = 65535;

Cell* frame_cell(int i) { return stack::state().base + i; }
int32_t head_of(const Cell* c) { return int32_t(c->w1); }

constexpr size_t SYM_SIZE = runtime::runtime_word_index("size", runtime::WordKind::SYMBOL);
constexpr size_t SYM_RGB = runtime::runtime_word_index("rgb", runtime::WordKind::SYMBOL);
constexpr size_t SYM_ALPHA = runtime::runtime_word_index("alpha", runtime::WordKind::SYMBOL);
constexpr size_t SYM_ARGB = runtime::runtime_word_index("argb", runtime::WordKind::SYMBOL);
constexpr size_t REF_PART = runtime::runtime_word_index("part", runtime::WordKind::REFINEMENT);

bool word_is(const Cell* w, size_t runtime_word) {
  return symbol::canonical_id(int32_t(w->w2)) ==
         symbol::canonical_id(symbol::runtime_id(runtime_word));
}

[[noreturn]] void invalid_arg(const Cell* v) { error::raise(err::script::invalid_arg, v); }

[[noreturn]] void bad_part(const Cell* value) {
  Cell w = immediate::runtime_word(REF_PART);
  error::raise(err::script::invalid_refine_arg, &w, value);
}

// A size from a pair: negative components become 0; a side above 65,535 cannot be held,
// nor more pixels than a decoded picture may have (a short literal must not claim gigabytes,
// and pixel counts and indexes stay integers).
void size_of_pair(const Cell* p, int32_t* w, int32_t* h) {
  int32_t x = std::max(pair::x_of(p), 0), y = std::max(pair::y_of(p), 0);
  if (x > MAX_SIDE || y > MAX_SIDE) invalid_arg(p);
  if (int64_t(x) * y > image_format::max_pixels()) invalid_arg(p);
  *w = x;
  *h = y;
}

// Copies a rectangle into a new record, kept in out (a rooted cell) at head 0; a rectangle
// without pixels gives an image! without a record.
void region_into(const Cell* image, Cell* out, int32_t x, int32_t y, int32_t w, int32_t h) {
  uint32_t id = 0;
  if (w >= 1 && h >= 1) id = image_codec::copy_region(image, x, y, w, h);
  if (!id) {
    init_cell(out, 0, std::max(w, 0), std::max(h, 0));
    if (w < 1 || h < 1) out->w3 = 0;
    return;
  }
  init_cell(out, id);
}

bool notify(const Cell* image, const char* action, const Cell* value, int32_t index,
            int32_t part) {
  return owner::notify_change(image, action, value, index, part) != 0;
}

void line(std::string& text, int32_t level) {
  text.push_back('\n');
  text.append(size_t(std::max(level, 0)) * 4, ' ');
}

}  // namespace

// ---- Cell API ----

Cell* init_cell(Cell* cell, uint32_t record, int32_t width, int32_t height) {
  if (Record* r = image_codec::record_of(record)) {
    width = r->width;
    height = r->height;
  }
  *cell = Cell{T_IMAGE, 0, record, uint32_t(height) << 16 | uint32_t(width)};
  return cell;
}

Cell* pixel_to_tuple(Cell* out, uint32_t p) {
  uint8_t b[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(255 - (p >> 24))};
  return tuple::init_cell(out, 4, b);
}

uint32_t tuple_to_pixel(const Cell* t) {
  uint8_t b[12];
  tuple::bytes_of(t, b);
  uint32_t a = tuple::length_of(t) >= 4 ? 255u - b[3] : 255u;
  return a << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

int64_t index(const Cell* image, const Cell* value, bool one_based, bool* out_of_range) {
  int64_t w = width_of(image), h = height_of(image), count = w * h;
  int64_t v;
  bool out = false;
  if (cell::type(value) == T_PAIR) {
    int64_t x = pair::x_of(value), y = pair::y_of(value);
    if (one_based) {
      out = x < 1 || x > w || y < 1 || y > h;
      v = x + w * (y - 1);
    } else {
      out = x < 0 || x >= w || y < 0 || y >= h;
      v = x + w * y;
    }
  } else {
    v = cell::type(value) == T_INTEGER ? cell::get_int(value) : 0;
  }
  if (one_based && v == 0) out = true;
  int64_t head = head_of(image);
  int64_t a = one_based ? (v <= 0 ? v + head : v + head - 1) : v + head;
  if (a < 0 || a >= count) out = true;
  *out_of_range = out;
  return std::clamp<int64_t>(a, 0, count);
}

Cell* pick_tuple(const Cell* image, int64_t absolute, Cell* out) {
  if (absolute < 0 || absolute >= pixel_count(image) || !image->w2) {
    cell::set_none(out);
    return out;
  }
  return pixel_to_tuple(out, image_codec::get_pixel(image->w2, int32_t(absolute)));
}

void assign_next_pixels(const Cell* words, const Cell* image, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    Cell w = *block::cell_at_index(words, int32_t(words->w1) + i);
    Cell v;
    pick_tuple(image, int64_t(head_of(image)) + i, &v);
    gc::Root keep(&w);
    word::assign_value(&w, &v);
  }
}

Cell* pixels_to_binary(const Cell* image, int32_t plane) {
  int64_t n = image->w2 ? pixel_count(image) : 0;
  int32_t per = plane == PLANE_ALPHA ? 1 : plane == PLANE_RGB ? 3 : 4;
  if (n * per > 0x7FFFFFF0) error::raise(err::internal::no_memory);
  std::vector<uint8_t> bytes(size_t(n * per));
  if (n) {
    const uint32_t* p = image_codec::lock_pixels(image, false);
    uint8_t* d = bytes.data();
    switch (plane) {
      case PLANE_ALPHA:
        for (int64_t i = 0; i < n; ++i) d[i] = uint8_t(255 - (p[i] >> 24));
        break;
      case PLANE_RGB:
        for (int64_t i = 0; i < n; ++i) {
          d[3 * i] = uint8_t(p[i] >> 16);
          d[3 * i + 1] = uint8_t(p[i] >> 8);
          d[3 * i + 2] = uint8_t(p[i]);
        }
        break;
      default:
        std::memcpy(d, p, size_t(n) * 4);  // little-endian words: B, G, R, A
        break;
    }
  }
  return binary::push_new_from_bytes(bytes.data(), int32_t(bytes.size()));
}

void store_pixels(Cell* image, const Cell* value, int32_t plane) {
  int64_t n = image->w2 ? pixel_count(image) : 0;
  uint32_t t = cell::type(value);
  if (t != T_BINARY && t != T_TUPLE && t != T_INTEGER) invalid_arg(value);
  if (n == 0) return;
  uint32_t* p = image_codec::lock_pixels(image, true);
  if (t == T_BINARY) {
    int64_t len = binary::byte_count(value);
    const uint8_t* b = binary::head_byte_pointer(value);
    if (plane == PLANE_ARGB) {
      std::memcpy(p, b, size_t(std::min(len, n * 4)));
    } else if (plane == PLANE_RGB) {
      int64_t m = std::min(len / 3, n);
      for (int64_t i = 0; i < m; ++i)
        p[i] = (p[i] & 0xFF000000u) | uint32_t(b[3 * i]) << 16 | uint32_t(b[3 * i + 1]) << 8 |
               b[3 * i + 2];
    } else {
      int64_t m = std::min(len, n);
      for (int64_t i = 0; i < m; ++i) p[i] = (p[i] & 0xFFFFFFu) | uint32_t(255 - b[i]) << 24;
    }
  } else {
    uint8_t b[12] = {};
    if (t == T_TUPLE) {
      tuple::bytes_of(value, b);
      if (tuple::length_of(value) < 4) b[3] = 0;
    } else {
      uint32_t v = value->w2;
      for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
    }
    uint32_t rgb = uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
    if (plane == PLANE_ARGB) {
      uint32_t word = uint32_t(255 - b[3]) << 24 | rgb;
      std::fill(p, p + n, word);
    } else if (plane == PLANE_RGB) {
      for (int64_t i = 0; i < n; ++i) p[i] = (p[i] & 0xFF000000u) | rgb;
    } else {
      uint32_t a = uint32_t(255 - b[0]) << 24;
      for (int64_t i = 0; i < n; ++i) p[i] = (p[i] & 0xFFFFFFu) | a;
    }
  }
  notify(image, "poked", value, 0, int32_t(n));
}

Cell* push_new(const Cell* image, int32_t width, int32_t height) {
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  uint32_t id = image_codec::scale(image, width, height);
  return init_cell(out, id, std::max(width, 0), std::max(height, 0));
}

bool known_format_q(const Cell* b) {
  return image_format::sniff(binary::head_byte_pointer(b), size_t(binary::byte_count(b))) >= 0;
}

Cell* push_from_binary(const Cell* b) {
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  bool unknown = false;
  uint32_t id = image_codec::decode_memory(binary::head_byte_pointer(b),
                                           size_t(binary::byte_count(b)), &unknown);
  if (unknown) return out;
  return init_cell(out, id);
}

Cell* decode(const Cell* data) {
  uint32_t t = cell::type(data);
  if (t == T_BINARY) return push_from_binary(data);
  if (t != T_FILE) invalid_arg(data);
  Cell* out = stack::push_copy(data);
  uint32_t id = image_codec::load_file(out);
  if (!id) error::raise(err::access::cannot_open, data);
  return init_cell(out, id);
}

Cell* encode(const Cell* image, const Cell*, int32_t code) {
  if (!image->w2 || pixel_count(image) == 0) error::raise(err::access::bad_media);
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  image_codec::encode(image, out, code);
  return out;
}

void gc_mark_bitmap(Cell* c) { image_codec::gc_mark(c->w2); }

void drop_platform_objects(Cell* c) {
  if (Record* r = image_codec::record_of(c->w2)) image_codec::drop_cache(r);
}

// ---- make, to ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t t = cell::type(spec);
  if (t == T_PAIR) {
    int32_t w, h;
    size_of_pair(spec, &w, &h);
    Cell* out = stack::reserve_cell();
    cell::set_none(out);
    Cell white{0, 0, 0, 0};
    uint8_t b[3] = {255, 255, 255};
    tuple::init_cell(&white, 3, b);
    return init_cell(out, image_codec::create_bitmap(w, h, nullptr, 0, nullptr, 0, &white), w, h);
  }
  if (t != T_BLOCK) return to(proto, spec, type);
  int32_t count = block::count_from_head(spec);
  if (count == 0) {
    if (cell::type(proto) == T_IMAGE) {
      Cell* out = stack::reserve_cell();
      return copy(proto, out, nullptr, false, nullptr);
    }
    invalid_arg(spec);
  }
  Cell size = *block::cell_at_index(spec, int32_t(spec->w1));
  if (cell::type(&size) != T_PAIR) invalid_arg(spec);
  int32_t w, h;
  size_of_pair(&size, &w, &h);
  Cell second{T_NONE, 0, 0, 0}, third{T_NONE, 0, 0, 0};
  if (count >= 2) second = *block::cell_at_index(spec, int32_t(spec->w1) + 1);
  if (count >= 3) third = *block::cell_at_index(spec, int32_t(spec->w1) + 2);
  gc::Root keep2(&second), keep3(&third);
  if (count >= 2 && cell::type(&second) != T_BINARY && cell::type(&second) != T_TUPLE)
    invalid_arg(&second);
  if (count >= 3 && cell::type(&third) != T_BINARY) invalid_arg(&third);
  Cell* out = stack::reserve_cell();
  cell::set_none(out);
  uint32_t id;
  if (cell::type(&second) == T_TUPLE) {
    id = image_codec::create_bitmap(w, h, nullptr, 0, nullptr, 0, &second);
  } else {
    // No allocation happens between reading the byte addresses and the copy.
    const uint8_t* rgb = count >= 2 ? binary::head_byte_pointer(&second) : nullptr;
    size_t rgb_n = count >= 2 ? size_t(binary::byte_count(&second)) : 0;
    const uint8_t* alpha = count >= 3 ? binary::head_byte_pointer(&third) : nullptr;
    size_t alpha_n = count >= 3 ? size_t(binary::byte_count(&third)) : 0;
    id = image_codec::create_bitmap(w, h, rgb, rgb_n, alpha, alpha_n, nullptr);
  }
  return init_cell(out, id, w, h);
}

// Whether the GUI library's face? accepts the object; false while it is not defined.
bool face_q(const Cell* object) {
  Cell name = word::intern_global("face?");
  Cell* fn = word::value_slot(&name);
  if (!fn || cell::type(fn) != T_FUNCTION) return false;
  gc::Root keep(&name);
  Cell* mark = stack::state().top;
  Cell* call = stack::reserve_cell();
  cell::set_none(call);
  block::init_cell(call, 2);
  *runtime::block_append_cell(call) = name;
  *runtime::block_append_cell(call) = *object;
  stack::push_native_frame(&interp::words.body);
  interp::eval_block(call, false);
  bool yes = cell::type(stack::state().base) == T_LOGIC && stack::state().base->w1;
  stack::pop_frame();
  stack::state().top = mark;
  return yes;
}

Cell* to(Cell*, Cell* spec, uint32_t) {
  if (cell::type(spec) == T_IMAGE) {
    Cell* out = stack::reserve_cell();
    return copy(spec, out, nullptr, false, nullptr);
  }
  if (cell::type(spec) == T_OBJECT && face_q(spec)) {
    Cell* out = stack::reserve_cell();
    cell::set_none(out);
    tui::face_to_image(spec, out);
    return out;
  }
  immediate::raise_bad_to_arg(T_IMAGE, spec);
}

// ---- form, mold ----

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
  std::string text;
  if (!only) text += "make image! [";
  text += std::to_string(width_of(value)) + "x" + std::to_string(height_of(value));
  if (!value->w2 || pixel_count(value) == 0) {
    text += " #{}";
    if (!only) text += "]";
    string::add_c_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    return limit - int32_t(text.size());
  }
  const uint32_t* p = image_codec::lock_pixels(value, false);
  int64_t first = std::min<int64_t>(head_of(value), pixel_count(value));
  int64_t n = pixel_count(value) - first;
  bool budgeted = part != nullptr;
  int64_t budget = limit - int64_t(text.size());
  static const char digits[] = "0123456789ABCDEF";
  auto hex = [&](uint32_t byte) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 15]);
  };
  bool stopped = false;
  text += " #{";
  bool long_run = !flat && n * 4 > 30;
  if (long_run) line(text, indent + 1);
  bool any_alpha = false;
  for (int64_t i = 0; i < n; ++i) {
    uint32_t px = p[first + i];
    if ((px >> 24) != 255) any_alpha = true;
    hex((px >> 16) & 255);
    hex((px >> 8) & 255);
    hex(px & 255);
    if (!flat && (i + 1) % 10 == 0) line(text, indent + 1);
    budget -= 6;
    if (budgeted && budget <= 0) {
      stopped = true;
      break;
    }
  }
  if (!stopped) {
    if (long_run && n % 10 != 0) line(text, indent);
    text += "}";
    if (any_alpha) {
      text += " #{";
      line(text, indent + 1);
      for (int64_t i = 0; i < n; ++i) {
        hex(255 - (p[first + i] >> 24));
        if (!flat && (i + 1) % 10 == 0) line(text, indent + 1);
        budget -= 1;
        if (budgeted && budget <= 0) {
          stopped = true;
          break;
        }
      }
      if (!stopped) {
        line(text, indent);
        text += "}";
      }
    }
    if (!stopped && !only) text += "]";
  }
  string::add_c_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  return budgeted ? int32_t(std::max<int64_t>(budget, -1)) : limit - int32_t(std::min<size_t>(text.size(), size_t(limit)));
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  return mold(value, buffer, false, false, false, part, limit, 0);
}

// ---- paths ----

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool, bool, bool) {
  uint32_t t = cell::type(element);
  if (t == T_INTEGER || t == T_PAIR) {
    if (!value) {
      bool out;
      int64_t a = index(parent, element, true, &out);
      Cell* r = stack::reserve_cell();
      if (out) cell::set_none(r);
      else pick_tuple(parent, a, r);
      return r;
    }
    poke(parent, t == T_INTEGER ? cell::get_int(element) : 0, value, element);
    return stack::push_copy(value);
  }
  if (immediate::word_like_q(t)) {
    if (word_is(element, SYM_SIZE)) {
      if (value) error::raise(err::script::invalid_path, path ? path : parent, element);
      return pair::push_new(width_of(parent), height_of(parent));
    }
    int32_t plane = word_is(element, SYM_RGB)     ? PLANE_RGB
                    : word_is(element, SYM_ALPHA) ? PLANE_ALPHA
                    : word_is(element, SYM_ARGB)  ? PLANE_ARGB
                                                : -1;
    if (plane >= 0) {
      if (!value) return pixels_to_binary(parent, plane);
      store_pixels(parent, value, plane);
      return stack::push_copy(value);
    }
  }
  error::raise(err::script::invalid_path, path ? path : parent, element);
}

// ---- compare ----

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_IMAGE) return -2;
  bool same = a->w2 == b->w2 && a->w1 == b->w1;
  if (op == 9) return same ? 0 : -1;
  switch (op) {
    case 0: case 1: case 2: case 7: case 8: case 12: break;
    default: return -2;
  }
  if (same) return 0;
  int64_t na = a->w2 ? pixel_count(a) : 0, nb = b->w2 ? pixel_count(b) : 0;
  if (na != nb) return na < nb ? -1 : 1;
  if (na == 0) return 0;
  const uint32_t* pa = image_codec::lock_pixels(a, false);
  const uint32_t* pb = image_codec::lock_pixels(b, false);
  int c = std::memcmp(pa, pb, size_t(na) * 4);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---- navigation ----

namespace {
int64_t offset_index(bool one_based) {
  Cell* s = frame_cell(0);
  Cell* offset = frame_cell(1);
  uint32_t t = cell::type(offset);
  if (t != T_INTEGER && t != T_PAIR) invalid_arg(offset);
  bool out;
  return index(s, offset, one_based, &out);
}
}  // namespace

Cell* at() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(offset_index(true));
  return s;
}

Cell* skip() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(offset_index(false));
  return s;
}

Cell* next() {
  Cell* s = frame_cell(0);
  if (head_of(s) + 1 <= pixel_count(s)) s->w1 += 1;
  return s;
}

Cell* tail() {
  Cell* s = frame_cell(0);
  s->w1 = uint32_t(pixel_count(s));
  return s;
}

Cell* tail_q() {
  Cell* s = frame_cell(0);
  bool end = head_of(s) >= pixel_count(s);
  *s = Cell{T_LOGIC, end ? 1u : 0u, 0, 0};
  return s;
}

int32_t length_q(Cell* value) { return int32_t(pixel_count(value)); }

Cell* pick(Cell* value, int32_t i, Cell* index_cell) {
  Cell at_index;
  cell::set_integer(&at_index, i);
  const Cell* which = index_cell && cell::type(index_cell) == T_PAIR ? index_cell : &at_index;
  bool out;
  int64_t a = index(value, which, true, &out);
  if (out) {
    cell::set_none(value);
    return value;
  }
  Cell r;
  pick_tuple(value, a, &r);
  *value = r;
  return value;
}

Cell* poke(Cell* value, int32_t i, Cell* new_value, Cell* index_cell) {
  Cell at_index;
  cell::set_integer(&at_index, i);
  const Cell* which = index_cell && cell::type(index_cell) == T_PAIR ? index_cell : &at_index;
  bool out;
  int64_t a = index(value, which, true, &out);
  if (out || !value->w2) error::raise(err::script::out_of_range, index_cell ? index_cell : &at_index);
  if (cell::type(new_value) != T_TUPLE) invalid_arg(new_value);
  image_codec::set_pixel(value->w2, int32_t(a), tuple_to_pixel(new_value));
  notify(value, "poked", new_value, int32_t(a), 1);
  return new_value;
}

// ---- change, copy ----

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  if (part >= 0 || dup >= 2) error::raise(err::internal::not_done);
  uint32_t t = cell::type(value);
  if (t == T_TUPLE) {
    notify(series, "change", value, head_of(series), 1);
    poke(series, 1, value, nullptr);
    series->w1 += 1;
    notify(series, "changed", value, head_of(series) - 1, 1);
    return series;
  }
  if (t != T_IMAGE) {
    Cell dt = immediate::datatype_cell(t);
    error::raise(err::script::invalid_type, &dt);
  }
  int64_t count = pixel_count(series);
  if (head_of(series) >= count || !series->w2) return series;
  // A source without pixels changes nothing (its size would move the head backwards).
  if (!value->w2 || pixel_count(value) == 0) return series;
  Cell source = *value;
  gc::Root keep(&source);
  if (source.w2 == series->w2) {
    // Rows of a source on the same record would be read after being overwritten.
    Cell* copied = stack::reserve_cell();
    cell::set_none(copied);
    init_cell(copied, image_codec::copy_bitmap(&source));
    copied->w1 = source.w1;
    source = *copied;
  }
  // A handler may have replaced the pixels: a head past them changes nothing.
  if (notify(series, "change", value, head_of(series), 0) &&
      (head_of(series) >= pixel_count(series) || !series->w2))
    return series;
  int32_t w = width_of(series), h = height_of(series);
  int32_t x = head_of(series) % w, y = head_of(series) / w;
  int32_t sw = width_of(&source), sh = height_of(&source);
  int32_t cols = std::min(w - x, sw), rows = std::min(h - y, sh);
  uint32_t* dst = image_codec::lock_pixels(series, true);
  const uint32_t* src = image_codec::lock_pixels(&source, false);
  for (int32_t r = 0; r < rows; ++r)
    std::memcpy(dst + size_t(y + r) * size_t(w) + size_t(x), src + size_t(r) * size_t(sw),
                size_t(cols) * 4);
  series->w1 = uint32_t((y + rows - 1) * w + std::min(x + sw, w));
  notify(series, "changed", value, head_of(series), cols * rows);
  return series;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  Cell v = *value;
  gc::Root keep(&v);
  cell::set_none(result);
  int32_t w = width_of(&v), h = height_of(&v);
  if (!v.w2 || w == 0 || h == 0) {
    init_cell(result, 0, w, h);
    return result;
  }
  int32_t head = int32_t(std::min<int64_t>(head_of(&v), pixel_count(&v)));
  int32_t x = head % w, y = head / w;
  if (!part) {
    if (head == 0) init_cell(result, image_codec::copy_bitmap(&v));
    else region_into(&v, result, x, y, w - x, h - y);
    return result;
  }
  uint32_t pt = cell::type(part);
  if (pt == T_PAIR) {
    int32_t px = pair::x_of(part), py = pair::y_of(part);
    if (px >= 1 && py >= 1 && head < w * h) {
      region_into(&v, result, x, y, std::min(px, w - x), std::min(py, h - y));
    } else if (px < 0 && py < 0 && head > 0) {
      int32_t ww = px == INT32_MIN ? INT32_MAX : -px, hh = py == INT32_MIN ? INT32_MAX : -py;
      if (x == 0) x = w;
      if (x >= ww) x -= ww;
      else {
        ww = x;
        x = 0;
      }
      if (y < h) y += 1;
      if (y >= hh) y -= hh;
      else {
        hh = y;
        y = 0;
      }
      region_into(&v, result, x, y, ww, hh);
    } else {
      init_cell(result, 0, 0, 0);
    }
    return result;
  }
  if (pt == T_IMAGE) {
    if (part->w2 != v.w2) bad_part(part);
    int32_t other = int32_t(std::min<int64_t>(head_of(part), pixel_count(&v)));
    int32_t lo = std::min(head, other), hi = std::max(head, other);
    int32_t lx = lo % w, ly = lo / w, hx = hi % w, hy = hi / w;
    region_into(&v, result, lx, ly, hx - lx, hy - ly);
    return result;
  }
  if (pt == T_INTEGER) error::raise(err::internal::not_done);
  bad_part(part);
}

void install_type() {
  datatype::register_type(
      {.id = T_IMAGE, .parent = T_SERIES, .name = "image!",
       .slots = {.make = make, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
                 .compare = compare, .at = at, .back = datatype::inherit, .change = change,
                 .copy = copy, .head = datatype::inherit, .head_q = datatype::inherit,
                 .index_q = datatype::inherit, .length_q = length_q, .next = next,
                 .pick = pick, .poke = poke, .skip = skip, .tail = tail, .tail_q = tail_q,
                 .modify = datatype::inherit}});
  image_codec::register_codec_records();
}

}  // namespace kel::image
