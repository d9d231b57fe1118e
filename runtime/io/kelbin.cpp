// KELBIN: the binary form of values. The fixed-width and compact encoders (one walker, two
// emitters) and the bounds-checked decoder of user data, with shared series kept shared.
#include "runtime/io/kelbin.h"

#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error_value.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/error.h"
#include "runtime/evaluator/blk.h"
#include "runtime/gc.h"
#include "runtime/output.h"
#include "runtime/rt.h"
#include "runtime/hash.h"
#include "runtime/heap_image.h"
#include "runtime/io/boot_heap.h"
#include "runtime/io/boot_image.h"
#include "runtime/io/image_codec.h"
#include "runtime/io/lz.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::kelbin {

bool codec_q = false;

namespace {

bool block_like_q(uint32_t t) {
  return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}
bool string_like_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool word_q(uint32_t t) { return t >= T_WORD && t <= T_REFINEMENT; }
bool refused_q(uint32_t t) {
  return t == T_ROUTINE || t == T_TRIPLE || t == T_HANDLE || t == T_PORT || t == T_EVENT;
}
uint32_t log2_unit(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

// No collection runs while a walk reads or builds values: node handles and buffer
// addresses stay put (buffers still move when they grow, so addresses are re-read).
struct CollectorPause {
  bool was = gc::state().automatic;
  CollectorPause() { gc::set_automatic(false); }
  ~CollectorPause() { gc::set_automatic(was); }
};

[[noreturn]] void refuse(uint32_t type) {
  Cell dt{T_DATATYPE, type, 0, 0};
  error::raise(err::access::no_codec, &dt);
}

// ---------------------------------------------------------------- encoder

struct Encoder {
  bool compact = true;
  std::vector<uint8_t> out;
  std::vector<int32_t> symbols;
  std::unordered_map<int32_t, int32_t> symbol_index;
  std::string names;
  std::vector<uint32_t> offsets;
  std::vector<int32_t> path;  // element counters of the enclosing containers
  int32_t counter = 0;
  std::unordered_map<Node, std::vector<int32_t>> seen;
  // Image records have ids of their own, not nodes: kept apart so the two never collide.
  std::unordered_map<uint32_t, std::vector<int32_t>> seen_images;
  int32_t depth = 0;

  void byte(uint32_t b) { out.push_back(uint8_t(b)); }
  void raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  void word(uint32_t v) {
    for (int i = 0; i < 4; ++i) byte(v >> (8 * i));
  }
  void pad4() {
    while (out.size() % 4) byte(0);
  }
  void var(uint32_t v) {
    while (v >= 0x80) {
      byte((v & 0x7F) | 0x80);
      v >>= 7;
    }
    byte(v);
  }
  void zig(int32_t v) { var((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
  // A count or index: a varint (compact) or a word (fixed).
  void num(uint32_t v) { compact ? var(v) : word(v); }
  void snum(int32_t v) { compact ? zig(v) : word(uint32_t(v)); }

  int32_t symbol(int32_t id) {
    auto it = symbol_index.find(id);
    if (it != symbol_index.end()) return it->second;
    int32_t index = int32_t(symbols.size());
    symbols.push_back(id);
    symbol_index.emplace(id, index);
    std::string text = symbol::text(id);
    if (!compact) offsets.push_back(uint32_t(names.size()));
    names += text;
    names.push_back('\0');
    if (!compact)
      while (names.size() % 8) names.push_back('\0');
    return index;
  }

  // The typed header: compact byte (with prefixes), or fixed word (with flag bits).
  void header(uint32_t type, bool variant, bool nl, bool shared, uint32_t fixed_bits = 0) {
    if (compact) {
      if (nl) byte(0xC0);
      if (shared) byte(0xC1);
      uint32_t v = variant ? 0x40 : 0;
      if (type < 0x3F) {
        byte(type | v);
      } else {
        byte(0x3F | v);
        var(type);
      }
    } else {
      word(type | fixed_bits | (nl ? 0x80000000u : 0) | (shared ? 0x80000u : 0));
    }
  }
  void write_path(const std::vector<int32_t>& p) {
    if (!compact) {
      word(255);
      word(uint32_t(p.size()));
      for (int32_t i : p) word(uint32_t(i));
      return;
    }
    var(uint32_t(p.size()));
    for (int32_t i : p) var(uint32_t(i));
  }
  std::vector<int32_t> here() const {
    std::vector<int32_t> p = path;
    p.push_back(counter);
    return p;
  }
  // Looks the node up; unseen nodes are recorded with the current path.
  const std::vector<int32_t>* check_seen(Node n) {
    auto it = seen.find(n);
    if (it != seen.end()) return &it->second;
    seen.emplace(n, here());
    return nullptr;
  }
  const std::vector<int32_t>* check_seen_image(uint32_t record) {
    auto it = seen_images.find(record);
    if (it != seen_images.end()) return &it->second;
    seen_images.emplace(record, here());
    return nullptr;
  }
  void enter() {
    path.push_back(counter);
    counter = 0;
  }
  void leave() {
    counter = path.back();
    path.pop_back();
  }

  void double_payload(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    if (compact) {
      word(uint32_t(bits));
      word(uint32_t(bits >> 32));
    } else {
      word(uint32_t(bits >> 32));
      word(uint32_t(bits));
    }
  }
  size_t payload_start = 0;
  void fixed_float_pad() {
    if (!compact && (out.size() - payload_start) % 8) word(0);
  }

  void value(const Cell* c);
  void scalar(const Cell* c, uint32_t t, bool nl);
  void cells_of(Node node, uint32_t from, uint32_t n);
  void context_record(Node ctx);
  void object_body(const Cell* obj);
  void function_body(const Cell* fn);
  void word_value(const Cell* c, uint32_t t, bool nl);
  void image_value(const Cell* c, bool nl);
};

void Encoder::cells_of(Node node, uint32_t from, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    Cell c = blk::cells(node)[from + i];
    value(&c);
  }
}

void Encoder::context_record(Node ctx) {
  uint32_t kind = context::kind_of(ctx);
  bool stack = context::stack_held_q(ctx);
  bool self = context::has_self_q(ctx);
  int32_t n = context::word_count(ctx);
  Node values = context::values_node(ctx);
  bool list = false;
  if (!stack && values)
    for (int32_t i = 0; i < n && !list; ++i) list = cell::type(blk::cells(values) + i) != T_UNSET;
  if (compact) {
    byte(T_CONTEXT);
    byte(kind | (stack ? 4 : 0) | (self ? 8 : 0) | (list ? 16 : 0));
  } else {
    word(T_CONTEXT | kind << 26 | (self ? 1u << 28 : 0) | (stack ? 1u << 29 : 0) | (list ? 1u << 30 : 0));
  }
  num(uint32_t(n));
  for (int32_t i = 0; i < n; ++i) num(uint32_t(symbol(int32_t(context::word_at(ctx, i)->w2))));
  if (list)
    for (int32_t i = 0; i < n; ++i) {
      Cell v = blk::cells(context::values_node(ctx))[i];
      value(&v);
    }
}

// The object's fields, counted at the current level.
void Encoder::object_body(const Cell* obj) {
  Cell o = *obj;
  bool change = o.w3 != 0;
  if (compact) {
    header(T_OBJECT, change, false, false);
  } else {
    header(T_OBJECT, false, false, false, change ? 0x1000000u : 0);
  }
  snum(int32_t(o.w2));
  if (change) {
    snum(int32_t(blk::cells(o.w3)[0].w2));
    snum(int32_t(blk::cells(o.w3)[1].w2));
  }
  context_record(o.w1);
}

// Spec (element 0) and body (element 1), counted at the current level.
void Encoder::function_body(const Cell* fn) {
  Cell f = *fn;
  Cell spec{T_BLOCK, 0, f.w2, 0};
  Cell body = blk::cells(f.w3)[function::extras::BODY];
  header(T_FUNCTION, false, false, false);
  num(blk::count(f.w2));
  num(block_like_q(cell::type(&body)) ? blk::count(body.w2) : 0);
  context_record(f.w1);
  value(&spec);
  value(&body);
}

void Encoder::word_value(const Cell* c, uint32_t t, bool nl) {
  Node ctx = c->w1;
  bool global = ctx == 0 || ctx == context::global || c->w3 == context::NO_INDEX ||
                context::kind_of(ctx) == context::KIND_GLOBAL;
  uint32_t owner_type = 0;
  if (!global) {
    owner_type = cell::type(context::self_cell(ctx));
    global = owner_type != T_OBJECT && owner_type != T_FUNCTION;
  }
  int32_t sym = symbol(int32_t(c->w2));
  if (global) {
    header(t, false, nl, false, 0x2000000u);
    num(uint32_t(sym));
    return;
  }
  const std::vector<int32_t>* p = check_seen(ctx);
  header(t, true, nl, p != nullptr);
  num(uint32_t(sym));
  snum(int32_t(c->w3));
  if (p) {
    write_path(*p);
    return;
  }
  Cell owner = *context::self_cell(ctx);
  enter();
  if (owner_type == T_OBJECT) object_body(&owner);
  else function_body(&owner);
  leave();
}

// Head, then the sides and the pixels as 0xAARRGGBB words, least significant byte first;
// a second value over the same pixels writes its head and a path instead.
void Encoder::image_value(const Cell* c, bool nl) {
  Cell img = *c;
  const std::vector<int32_t>* p = img.w2 ? check_seen_image(img.w2) : nullptr;
  header(T_IMAGE, img.w1 != 0, nl, p != nullptr);
  if (img.w1 || !compact) num(img.w1);
  if (p) {
    write_path(*p);
    return;
  }
  const image_codec::Record* r = img.w2 ? image_codec::record_of(img.w2) : nullptr;
  uint32_t w = uint32_t(r ? r->width : image::width_of(&img));
  uint32_t h = uint32_t(r ? r->height : image::height_of(&img));
  if (compact) {
    var(w);
    var(h);
  } else {
    word(h << 16 | w);
  }
  size_t n = size_t(w) * h;
  if (!n) return;
  const uint32_t* px = image_codec::lock_pixels(&img, false);
  size_t at = out.size();
  out.resize(at + n * 4);
  uint8_t* d = out.data() + at;
  for (size_t i = 0; i < n; ++i, d += 4) {
    uint32_t v = px[i];
    d[0] = uint8_t(v), d[1] = uint8_t(v >> 8), d[2] = uint8_t(v >> 16), d[3] = uint8_t(v >> 24);
  }
}

void Encoder::scalar(const Cell* c, uint32_t t, bool nl) {
  switch (t) {
    case T_UNSET: case T_NONE:
      header(t, false, nl, false);
      return;
    case T_DATATYPE:
      header(t, false, nl, false);
      num(c->w1);
      return;
    case T_LOGIC:
      if (compact) {
        if (nl) byte(0xC0);
        byte(c->w1 ? 0xC2 : 0xC3);
      } else {
        header(t, false, nl, false);
        word(c->w1 ? 1 : 0);
      }
      return;
    case T_CHAR:
      header(t, false, nl, false);
      num(c->w2);
      return;
    case T_INTEGER: {
      int32_t n = int32_t(c->w2);
      if (compact && n >= 0 && n < 64) {
        if (nl) byte(0xC0);
        byte(0x80 + uint32_t(n));
        return;
      }
      header(t, false, nl, false);
      snum(n);
      return;
    }
    case T_FLOAT: case T_TIME: case T_PERCENT: {
      double x = cell::get_double(c);
      fixed_float_pad();
      bool neg_zero = x == 0 && std::signbit(x);
      if (compact && !neg_zero) {
        if (t != T_PERCENT && x >= -2147483000.0 && x <= 2147483000.0 && x == std::trunc(x)) {
          header(t, true, nl, false);
          zig(int32_t(x));
          return;
        }
        if (t == T_PERCENT && x >= -21474836.0 && x <= 21474836.0) {
          double h = x * 100;
          int32_t n = int32_t(x >= 0 ? h + 0.5 : h - 0.5);
          if (n / 100.0 == x) {
            header(t, true, nl, false);
            zig(n);
            return;
          }
        }
      }
      header(t, false, nl, false);
      double_payload(x);
      return;
    }
    case T_PAIR:
      header(t, false, nl, false);
      snum(int32_t(c->w2));
      snum(int32_t(c->w3));
      return;
    case T_POINT2D: case T_POINT3D:
      header(t, false, nl, false);
      word(c->w1);
      word(c->w2);
      if (t == T_POINT3D) word(c->w3);
      return;
    case T_TYPESET: {
      header(t, false, nl, false);
      if (!compact) {
        word(c->w1), word(c->w2), word(c->w3);
        return;
      }
      const uint8_t* b = reinterpret_cast<const uint8_t*>(&c->w1);
      uint32_t n = 12;
      while (n > 0 && b[n - 1] == 0) --n;
      byte(n);
      raw(b, n);
      return;
    }
    case T_TUPLE: {
      uint32_t n = (c->header & tuple::LENGTH_MASK) >> tuple::LENGTH_SHIFT;
      if (!compact) {
        header(t, false, nl, false, n << 8);
        word(c->w1), word(c->w2), word(c->w3);
        return;
      }
      header(t, n != 3, nl, false);
      if (n != 3) byte(n);
      raw(&c->w1, n);
      return;
    }
    case T_MONEY: {
      bool neg = c->header & money::SIGN_BIT;
      if (compact) header(t, neg, nl, false);
      else header(t, false, nl, false, neg ? 0x400000u : 0);
      raw(&c->w1, 12);
      return;
    }
    case T_DATE: {
      bool time = c->w1 & date::TIME_FLAG;
      if (!compact) {
        header(t, false, nl, false);
        word(c->w1);
        double_payload(cell::get_double(c));
        return;
      }
      header(t, time, nl, false);
      word(c->w1);
      if (time) double_payload(cell::get_double(c));
      return;
    }
    case T_ISSUE:
      header(t, false, nl, false);
      num(uint32_t(symbol(int32_t(c->w2))));
      return;
    default:
      refuse(t);
  }
}

void Encoder::value(const Cell* in) {
  if (++depth > MAX_DEPTH) error::raise(err::internal::too_deep);
  Cell c = *in;
  uint32_t t = cell::type(&c);
  bool nl = c.header & hdr::NEW_LINE;
  if (refused_q(t)) refuse(t);
  if (block_like_q(t) || t == T_MAP) {
    const std::vector<int32_t>* p = check_seen(c.w2);
    uint32_t head = t == T_MAP ? 0 : c.w1;
    header(t, head != 0, nl, p != nullptr);
    if (t != T_MAP && (head || !compact)) num(head);
    if (p) {
      write_path(*p);
    } else if (t == T_MAP) {
      uint32_t n = blk::count(c.w2), live = 0;
      for (uint32_t i = 0; i + 1 < n; i += 2) live += cell::type(blk::cells(c.w2) + i + 1) != T_NONE_ID;
      num(live * 2);
      enter();
      for (uint32_t i = 0; i + 1 < n; i += 2) {
        if (cell::type(blk::cells(c.w2) + i + 1) == T_NONE_ID) continue;
        cells_of(c.w2, i, 2);
      }
      leave();
    } else {
      uint32_t n = blk::count(c.w2);
      num(n);
      enter();
      cells_of(c.w2, 0, n);
      leave();
    }
  } else if (string_like_q(t) || t == T_BINARY || t == T_VECTOR || t == T_BITSET) {
    const std::vector<int32_t>* p = check_seen(c.w2);
    SeriesBuffer* b = memory::node_buffer(c.w2);
    uint32_t unit = memory::unit(b);
    bool complement = t == T_BITSET && (b->flags & sflag::COMPLEMENT);
    uint32_t head = t == T_BITSET ? 0 : c.w1;
    uint32_t bits = t == T_BITSET ? (complement ? 0x800000u : 0) : (t == T_BINARY ? 0 : unit << 8);
    if (compact) header(t, t == T_BITSET ? complement : head != 0, nl, p != nullptr);
    else header(t, false, nl, p != nullptr, bits);
    if (t != T_BITSET && (head || !compact)) num(head);
    if (p) {
      write_path(*p);
    } else {
      uint32_t units = memory::units(b);
      if (string_like_q(t)) {
        num(compact ? units * 4 + log2_unit(unit) : units);
      } else if (t == T_VECTOR) {
        if (compact) {
          byte(c.w3 * 4 + log2_unit(unit));
          var(units);
        } else {
          word(units);
          word(c.w3);
        }
      } else {
        num(units * unit);
      }
      b = memory::node_buffer(c.w2);
      raw(memory::head(b), size_t(units) * unit);
      if (!compact) pad4();
    }
  } else if (t == T_IMAGE) {
    image_value(&c, nl);
  } else if (word_q(t)) {
    word_value(&c, t, nl);
  } else if (t == T_OBJECT || t == T_FUNCTION) {
    const std::vector<int32_t>* p = check_seen(c.w1);
    if (p) {
      header(t, false, nl, true);
      write_path(*p);
    } else {
      if (nl && compact) byte(0xC0);
      size_t at = out.size();
      enter();
      if (t == T_OBJECT) object_body(&c);
      else function_body(&c);
      leave();
      if (nl && !compact) out[at + 3] |= 0x80;
    }
  } else if (t == T_NATIVE || t == T_ACTION) {
    const std::vector<int32_t>* p = check_seen(c.w2);
    header(t, false, nl, p != nullptr);
    num(c.w1);
    if (p) {
      write_path(*p);
    } else {
      // The spec: no element of its own; its cells are the native's.
      uint32_t n = blk::count(c.w2);
      header(T_BLOCK, false, false, false);
      if (!compact) word(0);
      num(n);
      enter();
      cells_of(c.w2, 0, n);
      leave();
    }
  } else if (t == T_OP) {
    uint32_t wrapped = (c.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT;
    if (wrapped != T_NATIVE && wrapped != T_ACTION && wrapped != T_FUNCTION) refuse(T_OP);
    if (compact) header(t, false, nl, false);
    else header(t, false, nl, false, wrapped << 16);
    Cell inner = c;
    inner.header = wrapped;
    value(&inner);
    --counter;  // the op and its record are one element
  } else if (t == T_ERROR) {
    header(t, false, nl, false);
    Node values = context::values_node(c.w1);
    num(uint32_t(cell::get_int(blk::cells(values) + error::field::CODE)));
    seen.emplace(c.w1, here());
    enter();
    for (int32_t f = error::field::ARG1; f <= error::field::STACK; ++f) {
      Cell v = blk::cells(context::values_node(c.w1))[f];
      value(&v);
    }
    leave();
  } else {
    scalar(&c, t, nl);
  }
  ++counter;
  --depth;
}

}  // namespace

std::vector<uint8_t> encode_bytes(const Cell* value, bool compact) {
  CollectorPause pause;
  codec_q = true;
  Encoder e;
  e.compact = compact;
  e.payload_start = 0;
  Cell v = *value;
  e.value(&v);
  std::vector<uint8_t> image;
  auto put = [&](uint32_t w) {
    for (int i = 0; i < 4; ++i) image.push_back(uint8_t(w >> (8 * i)));
  };
  image.insert(image.end(), {'K', 'E', 'L', 'B', 'I', 'N', 2});
  uint32_t n = uint32_t(e.symbols.size());
  if (compact) {
    image.push_back(n ? 5 : 1);
    Encoder h;
    h.var(1);
    h.var(uint32_t(e.out.size()));
    if (n) {
      h.var(n);
      h.var(uint32_t(e.names.size()));
      uint32_t offset = 0;
      for (uint32_t i = 0; i < n; ++i) {
        h.word(offset);
        offset += uint32_t(std::strlen(e.names.c_str() + offset)) + 1;
      }
    }
    image.insert(image.end(), h.out.begin(), h.out.end());
    image.insert(image.end(), e.names.begin(), e.names.end());
  } else {
    image.push_back(n ? 4 : 0);
    put(1);
    put(uint32_t(e.out.size()));
    if (n) {
      put(n);
      put(uint32_t(e.names.size()));
      for (uint32_t o : e.offsets) put(o);
      image.insert(image.end(), e.names.begin(), e.names.end());
    }
  }
  image.insert(image.end(), e.out.begin(), e.out.end());
  return image;
}

std::vector<uint8_t> encode_boot(const std::vector<Definition>& definitions,
                                 const std::vector<Cell>& modules) {
  CollectorPause pause;
  Encoder e;
  for (const Definition& d : definitions) {
    e.byte(0xC4);
    e.byte(T_SET_WORD);
    e.var(uint32_t(e.symbol(d.symbol)));
    e.byte(d.type);
    e.var(d.id);
    if (d.type != T_DATATYPE) {
      // The spec block's cells, not counted as an element.
      uint32_t n = blk::count(d.spec.w2);
      e.byte(T_BLOCK);
      e.var(n);
      e.enter();
      e.cells_of(d.spec.w2, d.spec.w1, n - std::min(n, d.spec.w1));
      e.leave();
    }
  }
  for (const Cell& m : modules) e.value(&m);
  std::vector<uint8_t> image = {'K', 'E', 'L', 'B', 'I', 'N', 1, 5};
  Encoder h;
  h.var(1);
  h.var(uint32_t(e.out.size()));
  h.var(uint32_t(e.symbols.size()));
  h.var(uint32_t(e.names.size()));
  uint32_t offset = 0;
  for (size_t i = 0; i < e.symbols.size(); ++i) {
    h.word(offset);
    offset += uint32_t(std::strlen(e.names.c_str() + offset)) + 1;
  }
  image.insert(image.end(), h.out.begin(), h.out.end());
  image.insert(image.end(), e.names.begin(), e.names.end());
  image.insert(image.end(), e.out.begin(), e.out.end());
  return image;
}

Cell* encode(const Cell* value, bool compact) {
  std::vector<uint8_t> bytes = encode_bytes(value, compact);
  return binary::push_new_from_bytes(bytes.data(), int32_t(bytes.size()));
}

// ---------------------------------------------------------------- decoder

namespace {

// The boot image's modules, in evaluation order (0 without an image).
Node g_modules = 0;

// A fault in the boot image: there is no catalogue yet to raise through.
[[noreturn]] void boot_fault(const char* message) {
  std::string line = std::string("Error: ") + message + "\n";
  platform::write_bytes(line.data(), line.size());
  rt::exit_process(254);
}

// The bytes a decoder reads: the caller's own (a boot image, which never moves) or the
// decoder's copy.
struct ImageBytes {
  const uint8_t* p = nullptr;
  size_t n = 0;
  const uint8_t& operator[](size_t i) const { return p[i]; }
  const uint8_t* data() const { return p; }
  size_t size() const { return n; }
};

struct Decoder {
  bool compact;
  std::vector<uint8_t> copy;  // user data (its binary may move), a compressed body unpacked
  ImageBytes data;
  size_t pos = 0, end = 0;
  uint32_t symbol_count = 0;
  size_t names_at = 0, names_size = 0, offsets_at = 0;
  Node root = 0;
  uint32_t base = 0;
  int32_t depth = 0;
  bool boot = false;

  [[noreturn]] void fail() {
    if (boot) boot_fault(("KELBIN - invalid record at index " + std::to_string(pos + 1)).c_str());
    Cell at;
    cell::set_integer(&at, int32_t(pos + 1));
    error::raise(err::script::kb_invalid_record, &at);
  }
  [[noreturn]] void refuse_type(uint32_t t) {
    if (boot) boot_fault((std::string("KELBIN - no codec for ") + type_name_of(t)).c_str());
    refuse(t);
  }
  size_t left() const { return end - pos; }
  uint32_t byte() {
    if (pos >= end) fail();
    return data[pos++];
  }
  uint32_t word() {
    if (left() < 4) fail();
    uint32_t v = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16 |
                 uint32_t(data[pos + 3]) << 24;
    pos += 4;
    return v;
  }
  uint32_t var() {
    // One and two bytes (most counts and symbol indexes) read at once; the loop below
    // reads them the same way.
    if (pos + 1 < end) {
      uint32_t b0 = data[pos];
      if (b0 < 0x80) {
        ++pos;
        return b0;
      }
      uint32_t b1 = data[pos + 1];
      if (b1 < 0x80) {
        pos += 2;
        return (b0 & 0x7F) | (b1 << 7);
      }
    }
    uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
      uint32_t b = byte();
      if (i == 4 && b >= 0x10) fail();
      v |= (b & 0x7F) << (7 * i);
      if (!(b & 0x80)) return v;
    }
    fail();
  }
  int32_t zig() {
    uint32_t v = var();
    return int32_t((v >> 1) ^ (0u - (v & 1)));
  }
  uint32_t num() { return compact ? var() : word(); }
  int32_t snum() { return compact ? zig() : int32_t(word()); }
  // The depth of a reference path (fixed: inside its reference record).
  uint32_t ref() {
    if (compact) return var();
    if (word() != 255) fail();
    return word();
  }
  // A count of things each taking at least `each` bytes: checked against what is left.
  uint32_t count(uint32_t each) {
    uint32_t n = num();
    if (uint64_t(n) * each > left()) fail();
    return n;
  }
  void bytes(void* out, size_t n) {
    if (n > left()) fail();
    std::memcpy(out, data.data() + pos, n);
    pos += n;
  }
  void skip_pad4() {
    while (pos % 4 && pos < end) ++pos;
  }
  double read_double() {
    uint32_t a = word(), b = word();
    uint64_t bits = compact ? (uint64_t(b) << 32 | a) : (uint64_t(a) << 32 | b);
    return std::bit_cast<double>(bits);
  }
  // Interned ids by symbol-table index: each name is interned once per image, however
  // many words use it (symbols are never dropped, so an id stays valid).
  std::vector<int32_t> symbol_ids;
  uint32_t last_symbol = 0;  // the table index symbol() read last
  std::vector<int32_t> global_slots;  // global word indexes by symbol-table index
  int32_t symbol() {
    uint32_t i = num();
    if (i >= symbol_count) fail();
    last_symbol = i;
    if (symbol_ids.empty()) symbol_ids.assign(symbol_count, 0);  // bounded by the image's size
    if (symbol_ids[i]) return symbol_ids[i];
    size_t at = offsets_at + size_t(i) * 4;
    uint32_t off = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                   uint32_t(data[at + 3]) << 24;
    if (off >= names_size) fail();
    const uint8_t* name = data.data() + names_at + off;
    size_t n = std::strlen(reinterpret_cast<const char*>(name));
    if (n == 0) fail();
    return symbol_ids[i] = symbol::intern_text(name, uint32_t(n));
  }

  Cell* append(Node target, const Cell& c) {
    Cell* slot = runtime::series_append_cell_node(target);
    *slot = c;
    return slot;
  }
  uint32_t count_of(Node n) { return blk::count(n); }

  Cell resolve(uint32_t depth_count);
  Node context_of(const Cell& c);
  void record(Node target);
  void block_cells(Node node, uint32_t n);
  void record_any(Node target);
  Node context_record(uint32_t header_word);
  void value_list(Node ctx);
  void object_record(Node target, bool shared, bool variant, uint32_t hw, Cell* patch);
  void function_record(Node target, bool shared, Cell* patch);
  Cell native_value(uint32_t type, uint32_t id);
  Cell boot_native(uint32_t type, uint32_t id, Node spec);
  void define(Node target, uint32_t t, bool variant, bool nl);
  Node last_spec = 0;
  void series_record(Node target, uint32_t t, bool variant, bool shared, uint32_t hw, bool nl);
  void image_record(Node target, bool variant, bool shared, bool nl);
  void word_record(Node target, uint32_t t, bool variant, bool shared, uint32_t hw, bool nl);
  Cell decode_one();
};

// The cells of a value an index path steps into; false when it has none.
bool children(const Cell& c, Cell* out, uint32_t index) {
  uint32_t t = cell::type(&c);
  Node list = 0;
  uint32_t from = 0;
  if (block_like_q(t) || t == T_MAP) {
    list = c.w2;
  } else if (t == T_NATIVE || t == T_ACTION) {
    list = c.w2;
  } else if (t == T_FUNCTION || (t == T_OP && ((c.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT) == T_FUNCTION)) {
    if (index == 0) *out = Cell{T_BLOCK, 0, c.w2, 0};
    else if (index == 1 && c.w3) *out = blk::cells(c.w3)[function::extras::BODY];
    else return false;
    return cell::type(out) != T_NONE_ID;
  } else if (word_q(t) || t == T_OBJECT || t == T_ERROR) {
    Node ctx = c.w1;
    if (!ctx || ctx == context::global) return false;
    if (context::stack_held_q(ctx)) {
      Cell owner = *context::self_cell(ctx);
      return cell::type(&owner) == T_FUNCTION && children(owner, out, index);
    }
    list = context::values_node(ctx);
    if (t == T_ERROR) from = uint32_t(error::field::ARG1);
  } else {
    return false;
  }
  if (!list || index >= blk::count(list) - std::min(from, blk::count(list)) ||
      uint64_t(from) + index >= blk::count(list))
    return false;
  *out = blk::cells(list)[from + index];
  return true;
}

Cell Decoder::resolve(uint32_t n) {
  if (n < 1 || n > 65536) fail();
  Cell cur{};
  for (uint32_t k = 0; k < n; ++k) {
    uint32_t index = num();
    if (k == 0) {
      if (index >= count_of(root) - base) fail();
      cur = blk::cells(root)[base + index];
    } else if (!children(cur, &cur, index)) {
      fail();
    }
  }
  return cur;
}

// The context a bound word, object, function, op or error carries.
Node Decoder::context_of(const Cell& c) {
  uint32_t t = cell::type(&c);
  if ((word_q(t) || t == T_OBJECT || t == T_FUNCTION || t == T_ERROR) && c.w1 && c.w1 != context::global)
    return c.w1;
  if (t == T_OP && ((c.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT) == T_FUNCTION) return c.w1;
  fail();
}

Node Decoder::context_record(uint32_t hw) {
  uint32_t kind, flags;
  if (compact) {
    flags = byte();
    kind = flags & 3;
  } else {
    kind = (hw >> 26) & 3;
    flags = kind | ((hw >> 29) & 1) << 2 | ((hw >> 28) & 1) << 3 | ((hw >> 30) & 1) << 4;
  }
  bool stack = flags & 4, self = flags & 8, list = flags & 16;
  if (kind == 3) fail();
  uint32_t n = count(1);
  Node ctx = context::create(int32_t(n), stack, self, 0, kind);
  for (uint32_t i = 0; i < n; ++i) {
    int32_t sym = symbol();
    int32_t added = -1;
    if (context::find_or_add_symbol(ctx, sym, true, &added) >= 0) fail();  // a repeated word
  }
  if (!stack && !list) {
    Node values = context::values_node(ctx);
    for (uint32_t i = 0; i < n; ++i) append(values, Cell{T_UNSET, 0, 0, 0});
  }
  return ctx;
}

// The value list, read straight into the context's values: each cell is in place before
// its children, so paths through the owner reach it.
void Decoder::value_list(Node ctx) {
  int32_t n = context::word_count(ctx);
  for (int32_t i = 0; i < n; ++i) {
    record(context::values_node(ctx));
    if (blk::count(context::values_node(ctx)) != uint32_t(i + 1)) fail();  // a bare padding word
  }
}

// Reads a context's value list (when present) into its values, in order.
Cell Decoder::native_value(uint32_t type, uint32_t id) {
  Node g = context::global;
  Node values = context::values_node(g);
  uint32_t n = blk::count(values);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell* v = blk::cells(values) + i;
    if (cell::type(v) == type && v->w1 == id) return *v;
  }
  fail();
}

// Boot image: a native! or action! made from its table entry and the spec just read.
Cell Decoder::boot_native(uint32_t type, uint32_t id, Node spec) {
  bool filled = type == T_NATIVE ? natives::entry_filled_q(int32_t(id)) : actions::entry_filled_q(int32_t(id));
  if (!filled || !spec) fail();
  Node ex = memory::series_new_cells(function::native_extras::SIZE);
  append(ex, Cell{T_UNSET, 0, 0, 0});
  append(ex, Cell{T_NONE, 0, 0, 0});
  Cell spec_cell{T_BLOCK, 0, spec, 0};
  Node ctx = context::from_spec(&spec_cell, true, false, context::KIND_FUNCTION);
  blk::cells(ex)[function::native_extras::CONTEXT] = *context::cell_of(ctx);
  Cell made{type, id, spec, ex};
  native::record_origin(&made);
  return made;
}

// A definition: the word, then its value; the word's global slot takes the value and
// neither record stays in the target.
void Decoder::define(Node target, uint32_t t, bool variant, bool nl) {
  uint32_t slot = count_of(target);
  word_record(target, t, variant, false, 0, nl);
  last_spec = 0;
  record(target);
  Cell w = blk::cells(target)[slot];
  Cell v = blk::cells(target)[slot + 1];
  if (!w.w1) fail();
  *context::value_slot(&w, w.w1) = v;
  SeriesBuffer* b = memory::node_buffer(target);
  b->tail = b->head + slot * 16;
}

void Decoder::object_record(Node target, bool shared, bool variant, uint32_t hw, Cell* patch_cell) {
  (void)patch_cell;
  if (shared) {
    Cell r = resolve(ref());
    Node ctx = context_of(r);
    Cell self = *context::self_cell(ctx);
    if (cell::type(&self) != T_OBJECT) fail();
    append(target, self);
    return;
  }
  int32_t class_id = snum();
  bool change = compact ? variant : (hw & 0x1000000);
  if (change) {
    snum();
    snum();
  }
  uint32_t ch = compact ? byte() : word();
  if ((ch & 0x3F) != T_CONTEXT) fail();
  size_t flags_at = pos;
  Node ctx = context_record(ch);
  if (context::stack_held_q(ctx) || context::kind_of(ctx) == context::KIND_FUNCTION) fail();
  (void)flags_at;
  Cell obj{T_OBJECT, ctx, uint32_t(codec_q ? -1 : class_id), 0};
  *context::self_cell(ctx) = obj;
  uint32_t slot = count_of(target);
  append(target, obj);
  // The value list: read straight into the fields, after the owner is reachable.
  bool list = compact ? (data[flags_at] & 16) : (ch & (1u << 30));
  if (list) value_list(ctx);
  if (change) {
    Cell o = blk::cells(target)[slot];
    gc::Root keep(&o);
    object::build_change_record(&o);
    blk::cells(target)[slot] = o;
    *context::self_cell(ctx) = o;
  }
}

void Decoder::function_record(Node target, bool shared, Cell*) {
  if (shared) {
    Cell r = resolve(ref());
    uint32_t t = cell::type(&r);
    if (t == T_OP && ((r.header & hdr::OP_TYPE_MASK) >> hdr::OP_TYPE_SHIFT) == T_FUNCTION) {
      r.header = T_FUNCTION;
      append(target, r);
      return;
    }
    Node ctx = context_of(r);
    Cell self = *context::self_cell(ctx);
    if (cell::type(&self) != T_FUNCTION) fail();
    append(target, self);
    return;
  }
  num();
  num();
  uint32_t ch = compact ? byte() : word();
  if ((ch & 0x3F) != T_CONTEXT) fail();
  Node ctx = context_record(ch);
  if (!context::stack_held_q(ctx) || context::kind_of(ctx) != context::KIND_FUNCTION) fail();
  Node ex = memory::series_new_cells(function::extras::SIZE);
  for (int32_t i = 0; i < function::extras::SIZE; ++i) append(ex, Cell{T_UNSET, 0, 0, 0});
  Node empty = memory::series_new_cells(1);
  Cell fn{T_FUNCTION, ctx, empty, ex};
  *context::self_cell(ctx) = fn;
  uint32_t slot = count_of(target);
  append(target, fn);
  Node scratch = memory::series_new_cells(2);
  record(scratch);
  Cell spec = blk::cells(scratch)[0];
  if (cell::type(&spec) != T_BLOCK || spec.w1 != 0) fail();
  blk::cells(target)[slot].w2 = spec.w2;
  context::self_cell(ctx)->w2 = spec.w2;
  record(scratch);
  Cell body = blk::cells(scratch)[1];
  if (cell::type(&body) != T_BLOCK) fail();
  blk::cells(ex)[function::extras::BODY] = body;
  Cell check = spec;
  gc::Root keep(&check);
  function::check_spec(&check);
}

void Decoder::series_record(Node target, uint32_t t, bool variant, bool shared, uint32_t hw, bool nl) {
  uint32_t head = 0;
  if (t != T_MAP && t != T_BITSET && (variant || !compact)) head = num();
  uint32_t h = t | (nl ? hdr::NEW_LINE : 0);
  if (shared) {
    Cell r = resolve(ref());
    uint32_t rt = cell::type(&r);
    auto cls = [](uint32_t x) {
      return block_like_q(x) || x == T_NATIVE || x == T_ACTION ? 1000u
             : string_like_q(x)                               ? 1001u
                                                              : x;
    };
    if (cls(rt) != cls(t) || (t == T_HASH) != (rt == T_HASH)) fail();
    if ((t == T_MAP || t == T_HASH) && r.w3 == 0) fail();  // one still being read: no index yet
    if (t == T_MAP) {
      r.header = h;
    } else {
      Cell c{h, head, r.w2, t == T_VECTOR || t == T_HASH ? r.w3 : 0};  // a hash! shares its index too
      uint32_t units = memory::units(memory::node_buffer(r.w2));
      if (head > units) fail();
      r = c;
    }
    append(target, r);
    return;
  }
  if (block_like_q(t) || t == T_MAP) {
    uint32_t n = count(compact ? 1 : 4);
    if (t == T_MAP && (n & 1)) fail();
    if (head > n) fail();
    Node node = memory::series_new_cells(n ? n : 1);
    // The cell is in place before its children (paths into it resolve); a map or hash! is
    // a plain block until its values are read and indexed, so a fault halfway leaves no
    // map or hash! without its table.
    uint32_t slot = count_of(target);
    uint32_t first = t == T_MAP || t == T_HASH ? (h & ~hdr::TYPE_MASK) | T_BLOCK : h;
    append(target, Cell{first, t == T_MAP ? 0 : head, node, 0});
    block_cells(node, n);
    if (t == T_MAP) {
      Cell m{T_NONE, 0, 0, 0};
      gc::Root keep(&m);
      Cell entries{T_BLOCK, 0, node, 0};
      gc::Root keep_b(&entries);
      map::init_cell(&m, &entries, int32_t(n / 2));
      m.header |= h & hdr::NEW_LINE;
      blk::cells(target)[slot] = m;
    } else if (t == T_HASH) {
      Cell whole{T_HASH, 0, node, 0};
      Node table = hash::table_create(n ? int32_t(n) : 1, &whole, hash::KIND_HASH, 0);
      blk::cells(target)[slot] = Cell{h, head, node, table};
    }
    return;
  }
  Cell c{};
  if (string_like_q(t)) {
    uint32_t units, unit;
    if (compact) {
      uint32_t l = num();
      if ((l & 3) == 3) fail();
      unit = 1u << (l & 3);
      units = l >> 2;
    } else {
      unit = (hw >> 8) & 0xFF;
      if (unit != 1 && unit != 2 && unit != 4) fail();
      units = num();
    }
    if (uint64_t(units) * unit > left()) fail();
    string::init_cell_sized(&c, int32_t(units), unit);
    SeriesBuffer* b = memory::node_buffer(c.w2);
    bytes(memory::data(b), size_t(units) * unit);
    if (unit == 4)
      for (uint32_t i = 0; i < units; ++i) {
        uint32_t cp;
        std::memcpy(&cp, memory::data(b) + i * 4, 4);
        if (cp > 0x10FFFF) fail();
      }
    b->tail = b->head + units * unit;
  } else if (t == T_BINARY || t == T_BITSET) {
    uint32_t n = count(1);
    if (t == T_BINARY) {
      binary::init_cell(&c, int32_t(n));
    } else {
      c = Cell{T_BITSET, 0, memory::series_new_bytes(n), 0};
      bool complement = compact ? variant : (hw & 0x800000);
      if (complement) memory::series_set_flags(c.w2, sflag::COMPLEMENT);
    }
    SeriesBuffer* b = memory::node_buffer(c.w2);
    bytes(memory::data(b), n);
    b->tail = b->head + n;
  } else {  // vector
    uint32_t type, unit, n;
    if (compact) {
      uint32_t tb = byte();
      type = tb >> 2;
      unit = 1u << (tb & 3);
      n = var();
    } else {
      unit = (hw >> 8) & 0xFF;
      n = word();
      type = word();
    }
    bool ok = ((type == T_CHAR || type == T_INTEGER) && (unit == 1 || unit == 2 || unit == 4)) ||
              ((type == T_FLOAT || type == T_PERCENT) && (unit == 4 || unit == 8));
    if (!ok || uint64_t(n) * unit > left()) fail();
    vector::init_cell(&c, n, type, unit);
    SeriesBuffer* b = memory::node_buffer(c.w2);
    bytes(memory::data(b), size_t(n) * unit);
    b->tail = b->head + n * unit;
  }
  if (!compact) skip_pad4();
  if (head > memory::units(memory::node_buffer(c.w2))) fail();
  c.header = h | (c.header & ~hdr::TYPE_MASK & ~hdr::NEW_LINE);
  c.w1 = head;
  append(target, c);
}

// The sides (each at most 65,535) and their pixel bytes are checked against what is left
// before the pixels are allocated.
void Decoder::image_record(Node target, bool variant, bool shared, bool nl) {
  uint32_t head = variant || !compact ? num() : 0;
  uint32_t h = T_IMAGE | (nl ? hdr::NEW_LINE : 0);
  if (shared) {
    Cell r = resolve(ref());
    if (cell::type(&r) != T_IMAGE || uint64_t(head) > uint64_t(image::pixel_count(&r))) fail();
    append(target, Cell{h, head, r.w2, r.w3});
    return;
  }
  uint32_t width, height;
  if (compact) {
    width = var();
    height = var();
  } else {
    uint32_t size = word();
    width = size & 0xFFFF;
    height = size >> 16;
  }
  if (width > 0xFFFF || height > 0xFFFF) fail();
  uint64_t n = uint64_t(width) * height;
  if (n * 4 > left() || head > n) fail();
  Cell c;
  image::init_cell(&c, 0, int32_t(width), int32_t(height));
  if (n) {
    c.w2 = image_codec::create_bitmap(int32_t(width), int32_t(height), nullptr, 0, nullptr, 0, nullptr);
    uint32_t* px = image_codec::lock_pixels(&c, true);
    const uint8_t* d = data.data() + pos;
    for (uint64_t i = 0; i < n; ++i, d += 4)
      px[i] = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
    pos += size_t(n) * 4;
  }
  c.header = h;
  c.w1 = head;
  append(target, c);
}

void Decoder::word_record(Node target, uint32_t t, bool variant, bool shared, uint32_t hw, bool nl) {
  int32_t sym = symbol();
  uint32_t h = t | (nl ? hdr::NEW_LINE : 0);
  bool global = compact ? !variant : (hw & 0x2000000);
  if (global) {
    // A name's global slot, once found or added, stays its slot: later words with the
    // same name take it without another look-up (the global context only grows here).
    if (global_slots.empty()) global_slots.assign(symbol_count, -1);
    int32_t& slot = global_slots[last_symbol];
    if (slot < 0) slot = int32_t(context::add_word(sym, true, true).w3);
    append(target, Cell{h, context::global, uint32_t(sym), uint32_t(slot)});
    return;
  }
  if (boot) {
    // Boot image: the context of a root (counted from base), the index or -1 by name.
    uint32_t root_index = num();
    int32_t index = snum();
    if (root_index >= count_of(root) - base) fail();
    Node ctx = context_of(blk::cells(root)[base + root_index]);
    if (index == -1) index = context::find_symbol(ctx, sym, true);
    if (index < 0 || index >= context::word_count(ctx)) fail();
    append(target, Cell{h, ctx, uint32_t(sym), uint32_t(index)});
    return;
  }
  int32_t index = snum();
  uint32_t slot = count_of(target);
  append(target, Cell{h, 0, uint32_t(sym), uint32_t(index)});
  Node ctx;
  if (shared) {
    ctx = context_of(resolve(ref()));
  } else {
    // The owner: decoded, not kept; paths into this word reach its context from now on.
    Node scratch = memory::series_new_cells(1);
    size_t at = pos;
    uint32_t ht = compact ? byte() : word();
    uint32_t ot = ht & 0x3F;
    if (ht >= 0x80 && compact) fail();
    if (!compact) ot = ht & 0xFF;
    (void)at;
    if (ot == T_OBJECT) object_record(scratch, false, ht & 0x40, ht, nullptr);
    else if (ot == T_FUNCTION) function_record(scratch, false, nullptr);
    else fail();
    ctx = blk::cells(scratch)[0].w1;
    blk::cells(target)[slot].w1 = ctx;
  }
  if (index < 0 || index >= context::word_count(ctx) ||
      symbol::canonical_id(int32_t(context::word_at(ctx, index)->w2)) != symbol::canonical_id(sym))
    fail();
  blk::cells(target)[slot].w1 = ctx;
}

void Decoder::block_cells(Node node, uint32_t n) {
  // A global word whose name and slot were met before, and a plain block, paren or path,
  // are written straight into the block, with the checks record, word_record and
  // series_record make for them; anything else, the first word of a name, or a byte
  // missing goes through record. The block's buffer is read again whenever anything moved
  // buffers since.
  SeriesBuffer* b = memory::node_buffer(node);
  uint64_t moves = memory::state().moves;
  for (uint32_t i = 0; i < n; ++i) {
    if (compact && depth < MAX_DEPTH && pos + 2 < end && !global_slots.empty()) {
      size_t p = pos;
      uint32_t t = data[p];
      uint32_t h = 0;
      if (t == 0xC0) {
        h = hdr::NEW_LINE;
        t = data[++p];
      }
      if (t < 0x40 && word_q(t) && p + 1 < end) {
        uint32_t index = data[p + 1], next = p + 2;
        if (index >= 0x80) {
          uint32_t b1 = p + 2 < end ? data[p + 2] : 0x80;
          index = b1 < 0x80 ? (index & 0x7F) | (b1 << 7) : symbol_count;
          next = p + 3;
        }
        if (index < symbol_count && symbol_ids[index] && global_slots[index] >= 0) {
          if (memory::state().moves != moves) {
            b = memory::node_buffer(node);
            moves = memory::state().moves;
          }
          if (b->tail + sizeof(Cell) <= uint32_t(b->capacity)) {
            *memory::tail_cells(b) = Cell{t | h, context::global, uint32_t(symbol_ids[index]),
                                          uint32_t(global_slots[index])};
            b->tail += sizeof(Cell);
            last_symbol = index;
            pos = next;
            continue;
          }
        }
      } else if (t < 0x40 && t != T_HASH && block_like_q(t) && p + 2 < end) {
        // A block, paren or path from its head (no variant bit): its count of one or two
        // bytes, checked against the bytes left as series_record checks it.
        uint32_t count = data[p + 1], next = p + 2;
        if (count >= 0x80) {
          uint32_t b1 = data[p + 2];
          count = b1 < 0x80 ? (count & 0x7F) | (b1 << 7) : ~0u;
          next = p + 3;
        }
        if (memory::state().moves != moves) {
          b = memory::node_buffer(node);
          moves = memory::state().moves;
        }
        if (count != ~0u && next <= end && count <= end - next &&
            b->tail + sizeof(Cell) <= uint32_t(b->capacity)) {
          pos = next;
          Node child = memory::series_new_cells(count ? count : 1);
          if (memory::state().moves != moves) {
            b = memory::node_buffer(node);
            moves = memory::state().moves;
          }
          *memory::tail_cells(b) = Cell{t | h, 0, child, 0};
          b->tail += sizeof(Cell);
          ++depth;
          block_cells(child, count);
          --depth;
          continue;
        }
      }
    }
    record(node);
  }
}

void Decoder::record(Node target) {
  // Most records of a boot image are global words, some after a new-line prefix: they go
  // straight to word_record, with the checks the general path makes for them (the depth,
  // the bytes there, a plain word type without the variant bit). Anything else, or a byte
  // missing, takes the general path, which reports it.
  if (compact && depth < MAX_DEPTH && pos < end) {
    size_t p = pos;
    bool nl = false;
    uint32_t b = data[p];
    if (b == 0xC0 && p + 1 < end) {
      nl = true;
      b = data[++p];
    }
    if (b < 0x40 && word_q(b)) {
      pos = p + 1;
      ++depth;
      word_record(target, b, false, false, 0, nl);
      --depth;
      return;
    }
  }
  record_any(target);
}

void Decoder::record_any(Node target) {
  if (++depth > MAX_DEPTH) fail();
  bool nl = false, shared = false, definition = false;
  uint32_t b, t, hw = 0;
  bool variant = false;
  if (compact) {
    for (;;) {
      b = byte();
      if (b == 0xC0) nl = true;
      else if (b == 0xC1) shared = true;
      else if (b == 0xC4 && (codec_q || !boot)) fail();  // definitions live in the boot image only
      else if (b == 0xC4) definition = true;
      else break;
    }
    if (b >= 0x80) {
      if (shared || definition) fail();
      Cell c;
      if (b <= 0xBF) cell::set_integer(&c, int32_t(b - 0x80));
      else if (b == 0xC2 || b == 0xC3) c = Cell{T_LOGIC, b == 0xC2 ? 1u : 0u, 0, 0};
      else if (b == 0xFF) c = resolve(var());
      else fail();
      if (nl) c.header |= hdr::NEW_LINE;
      append(target, c);
      --depth;
      return;
    }
    variant = b & 0x40;
    t = b & 0x3F;
    if (t == 0x3F) t = var();
    if (t == T_LOGIC) fail();
    if (definition) {
      if (!word_q(t) && t != T_ISSUE) fail();
      define(target, t, variant, nl);
      --depth;
      return;
    }
  } else {
    do {
      hw = word();
    } while (hw == 0 && pos < end);
    if (hw == 0) {
      // Padding up to the end: no record. Only the image's own list may end so; inside a
      // value the callers read the cell the record should have made (a function's body,
      // an error's field), and an unwritten cell there is stale memory.
      if (depth > 1) fail();
      --depth;
      return;
    }
    t = hw & 0xFF;
    nl = hw & 0x80000000u;
    shared = hw & 0x80000u;
    if (t == 255) fail();
  }
  if (t == 0 || t == T_SYMBOL || t == T_SERIES || t >= T_TYPE_COUNT) fail();
  if (refused_q(t)) refuse_type(t);
  uint32_t h = t | (nl ? hdr::NEW_LINE : 0);
  if (shared && !(block_like_q(t) || string_like_q(t) || t == T_MAP || t == T_BINARY || t == T_VECTOR ||
                  t == T_BITSET || t == T_IMAGE || word_q(t) || t == T_OBJECT || t == T_FUNCTION ||
                  t == T_NATIVE || t == T_ACTION))
    fail();
  Cell c{h, 0, 0, 0};
  switch (t) {
    case T_UNSET: case T_NONE:
      break;
    case T_DATATYPE:
      c.w1 = num();
      if (c.w1 < 1 || c.w1 >= T_TYPE_COUNT) fail();
      break;
    case T_LOGIC:
      c.w1 = word() != 0;
      break;
    case T_CHAR:
      c.w2 = num();
      if (c.w2 > 0x10FFFF || (c.w2 >= 0xD800 && c.w2 <= 0xDFFF)) fail();
      break;
    case T_INTEGER:
      c.w2 = uint32_t(snum());
      break;
    case T_FLOAT: case T_TIME: case T_PERCENT: {
      double x;
      if (compact && variant) x = t == T_PERCENT ? zig() / 100.0 : double(zig());
      else x = read_double();
      if (t == T_TIME && !(std::fabs(x) < 2147483648.0 * 3600)) fail();
      cell::put_double(&c, x);
      break;
    }
    case T_PAIR:
      c.w2 = uint32_t(snum());
      c.w3 = uint32_t(snum());
      break;
    case T_POINT2D: case T_POINT3D:
      c.w1 = word();
      c.w2 = word();
      if (t == T_POINT3D) c.w3 = word();
      break;
    case T_TYPESET: {
      if (compact) {
        uint32_t n = byte();
        if (n > 12) fail();
        bytes(&c.w1, n);
      } else {
        c.w1 = word(), c.w2 = word(), c.w3 = word();
      }
      break;
    }
    case T_TUPLE: {
      uint32_t n = compact ? (variant ? byte() : 3) : (hw >> 8) & 0xFF;
      if (n < 3 || n > 12) fail();
      uint8_t bs[12] = {};
      if (compact) bytes(bs, n);
      else bytes(bs, 12);
      tuple::init_cell(&c, int32_t(n), bs);
      c.header |= nl ? hdr::NEW_LINE : 0;
      break;
    }
    case T_MONEY: {
      uint8_t bs[12];
      bytes(bs, 12);
      bool neg = compact ? variant : (hw & 0x400000);
      if (!money::init_cell_from_bcd(&c, neg, bs[0], bs + 1)) fail();
      c.header |= nl ? hdr::NEW_LINE : 0;
      break;
    }
    case T_DATE: {
      c.w1 = word();
      bool time = c.w1 & date::TIME_FLAG;
      uint32_t month = (c.w1 >> 12) & 15, day = (c.w1 >> 7) & 31;
      if (month < 1 || month > 12 || day < 1) fail();
      if (compact && time != variant) fail();
      if (time || !compact) {
        double s = read_double();
        if (!std::isfinite(s) || std::fabs(s) > 1e9) fail();
        cell::put_double(&c, s);
      }
      break;
    }
    case T_ISSUE:
      c = Cell{h, context::global, uint32_t(symbol()), context::NO_INDEX};
      break;
    case T_CONTEXT: {
      uint32_t flags_at = uint32_t(pos);
      Node ctx = context_record(compact ? 0 : hw);
      if (context::stack_held_q(ctx) || context::kind_of(ctx) == context::KIND_FUNCTION) fail();
      Cell obj{T_OBJECT | (nl ? hdr::NEW_LINE : 0), ctx, uint32_t(-1), 0};
      *context::self_cell(ctx) = obj;
      append(target, obj);
      bool list = compact ? (data[flags_at] & 16) : (hw & (1u << 30));
      if (list) value_list(ctx);
      --depth;
      return;
    }
    case T_OBJECT: {
      uint32_t slot = count_of(target);
      object_record(target, shared, variant, hw, nullptr);
      if (nl) blk::cells(target)[slot].header |= hdr::NEW_LINE;
      --depth;
      return;
    }
    case T_FUNCTION: {
      uint32_t slot = count_of(target);
      function_record(target, shared, nullptr);
      if (nl) blk::cells(target)[slot].header |= hdr::NEW_LINE;
      --depth;
      return;
    }
    case T_NATIVE: case T_ACTION: {
      uint32_t id = num();
      if (shared) {
        resolve(ref());
      } else {
        uint32_t sb = compact ? byte() : word();
        if ((sb & 0xFF) != T_BLOCK) fail();
        if (!compact) word();
        uint32_t n = count(compact ? 1 : 4);
        Node scratch = memory::series_new_cells(n ? n : 1);
        for (uint32_t i = 0; i < n; ++i) record(scratch);
        last_spec = scratch;
      }
      c = boot ? boot_native(t, id, last_spec) : native_value(t, id);
      c.header = h;
      break;
    }
    case T_OP: {
      // The wrapped value takes the op's place (paths inside it reach it there), then is
      // retyped.
      uint32_t slot = count_of(target);
      record(target);
      if (count_of(target) != slot + 1) fail();
      Cell* f = blk::cells(target) + slot;
      uint32_t ft = cell::type(f);
      if (ft != T_NATIVE && ft != T_ACTION && ft != T_FUNCTION) fail();
      f->header = h | ft << hdr::OP_TYPE_SHIFT;
      --depth;
      return;
    }
    case T_ERROR: {
      int32_t code = int32_t(num());
      Cell spec;
      cell::set_integer(&spec, code);
      Cell proto{T_DATATYPE, T_ERROR, 0, 0};
      Cell* made = error::make(&proto, &spec, T_ERROR);
      Cell e = *made;
      stack::drop_cells(1);
      e.header |= nl ? hdr::NEW_LINE : 0;
      append(target, e);
      Node scratch = memory::series_new_cells(6);
      for (int32_t f = error::field::ARG1; f <= error::field::STACK; ++f) {
        record(scratch);
        blk::cells(context::values_node(e.w1))[f] = blk::cells(scratch)[blk::count(scratch) - 1];
      }
      --depth;
      return;
    }
    default:
      if (word_q(t)) {
        word_record(target, t, variant, shared, hw, nl);
      } else if (t == T_IMAGE) {
        image_record(target, variant, shared, nl);
      } else if (block_like_q(t) || string_like_q(t) || t == T_MAP || t == T_BINARY || t == T_VECTOR ||
                 t == T_BITSET) {
        series_record(target, t, variant, shared, hw, nl);
      } else {
        fail();
      }
      --depth;
      return;
  }
  append(target, c);
  --depth;
}

}  // namespace

namespace {

void decode_image(const uint8_t* bytes_in, size_t size, Node target, const Cell* arg, bool boot) {
  CollectorPause pause;
  Cell keep_target{T_BLOCK, 0, target, 0};
  gc::Root hold(&keep_target);
  if (size < 8 || std::memcmp(bytes_in, "KELBIN", 6) != 0) {
    if (boot) boot_fault("Not a Kelbin file!");
    error::raise(err::script::invalid_data, arg);
  }
  Decoder d;
  d.boot = boot;
  uint32_t flags = bytes_in[7];
  d.compact = flags & 1;
  // A boot image's bytes are the caller's and stay put: read in place.
  if (boot) d.data = ImageBytes{bytes_in, size};
  else d.copy.assign(bytes_in, bytes_in + size);
  if (flags & 2) {
    std::vector<uint8_t> body;
    const uint8_t* packed = boot ? bytes_in : d.copy.data();
    if (!lz::unpack(packed + 8, size - 8, &body)) {
      if (boot) boot_fault("Kelbin compressed data corrupted!");
      error::raise(err::script::invalid_data, arg);
    }
    if (boot) d.copy.assign(bytes_in, bytes_in + 8);
    else d.copy.resize(8);
    d.copy.insert(d.copy.end(), body.begin(), body.end());
  }
  if (!boot || (flags & 2)) d.data = ImageBytes{d.copy.data(), d.copy.size()};
  d.pos = 8;
  d.end = d.data.size();
  d.root = target;
  d.base = boot ? blk::count(target) : 0;
  size_t payload;
  if (d.compact) {
    size_t limit = d.end;
    d.end = std::min(limit, d.pos + 20);
    d.var();
    payload = d.var();
    if (flags & 4) {
      d.symbol_count = d.var();
      d.names_size = d.var();
    }
    d.end = limit;
  } else {
    if (d.left() < 8) {
      if (boot) boot_fault("Not a Kelbin file!");
      error::raise(err::script::invalid_data, arg);
    }
    d.word();
    payload = d.word();
    if (flags & 4) {
      d.symbol_count = d.word();
      d.names_size = d.word();
    }
  }
  if (flags & 4) {
    if (uint64_t(d.symbol_count) * 4 + d.names_size > d.left()) d.fail();
    d.offsets_at = d.pos;
    d.names_at = d.pos + size_t(d.symbol_count) * 4;
    if (d.names_size && d.data[d.names_at + d.names_size - 1] != 0) d.fail();
    if (d.symbol_count && !d.names_size) d.fail();
    d.pos = d.names_at + d.names_size;
  }
  if (payload > d.left()) d.fail();
  d.end = d.pos + payload;
  while (d.pos < d.end) {
    size_t at = d.pos;
    uint32_t before = blk::count(target);
    d.record(target);
    // Start-up evaluates each module: a record that made anything but a block is a fault of
    // the image, not something to run.
    if (boot && target == g_modules && blk::count(target) > before &&
        cell::type(blk::cells(target) + blk::count(target) - 1) != T_BLOCK) {
      d.pos = at;
      d.fail();
    }
  }
}

bool g_present = false;
HeapImageSink g_heap_sink = nullptr;
boot_image::Bytes g_heap_given{nullptr, 0};
bool g_laid = false;

// Function bodies of the boot modules that `func` may take as they are instead of copying
// them. A module's top level runs once, and so does the body of an object it makes with
// `context`, `object` or `make object!` written there; a body written right after `func`,
// `function` or `has` and their spec, or after `does`, in such a block reaches that maker
// once, and nothing else holds it (the lexer makes no shared series). `bind` written before
// such a block gives the same block on. A block that gives `func`, `function`, `does` or
// `has` a value of its own is left alone, with everything in it; one that sets `context`,
// `object` or `make` has its object bodies left alone.
struct OnceNames {
  int32_t func, function, does, has, context, object, make, object_type, bind;
};

int32_t once_name(const char* text) { return symbol::canonical_id(symbol::intern_c_text(text)); }

int32_t word_name(const Cell* c, uint32_t type) {
  return cell::type(c) == type ? symbol::canonical_id(int32_t(c->w2)) : 0;
}

void flag_once_bodies(Node block, const OnceNames& k, int32_t depth) {
  uint32_t n = blk::count(block);
  const Cell* cells = blk::cells(block);
  bool objects = depth < 64;
  for (uint32_t i = 0; i < n; ++i) {
    int32_t s = word_name(cells + i, T_SET_WORD);
    if (s && (s == k.func || s == k.function || s == k.does || s == k.has)) return;
    if (s && (s == k.context || s == k.object || s == k.make)) objects = false;
  }
  // The block at i, or the one after `bind` at i: its index, or n when there is none.
  auto block_at = [&](uint32_t i) -> uint32_t {
    if (i < n && word_name(cells + i, T_WORD) == k.bind) ++i;
    return i < n && cell::type(cells + i) == T_BLOCK ? i : n;
  };
  auto flag = [&](uint32_t i) {
    if (cells[i].w1 == 0 && cells[i].w3 == 0)
      memory::node_buffer(cells[i].w2)->flags |= sflag::ONCE_BODY;
  };
  for (uint32_t i = 0; i < n; ++i) {
    int32_t s = word_name(cells + i, T_WORD);
    if (!s) continue;
    uint32_t at = n;
    if (s == k.func || s == k.function || s == k.has) {
      if (i + 1 < n && cell::type(cells + i + 1) == T_BLOCK && (at = block_at(i + 2)) < n) flag(at);
    } else if (s == k.does) {
      if ((at = block_at(i + 1)) < n) flag(at);
    } else if ((s == k.context || s == k.object) && objects) {
      if ((at = block_at(i + 1)) < n) flag_once_bodies(cells[at].w2, k, depth + 1);
    } else if (s == k.make && objects && i + 1 < n &&
               word_name(cells + i + 1, T_WORD) == k.object_type) {
      if ((at = block_at(i + 2)) < n) flag_once_bodies(cells[at].w2, k, depth + 1);
    }
    if (at < n) i = at;
  }
}

void flag_boot_bodies() {
  OnceNames k{once_name("func"),    once_name("function"), once_name("does"),
              once_name("has"),     once_name("context"),  once_name("object"),
              once_name("make"),    once_name("object!"),  once_name("bind")};
  // Nothing below allocates.
  for (uint32_t m = 0; m < blk::count(g_modules); ++m)
    flag_once_bodies(blk::cells(g_modules)[m].w2, k, 0);
}

void mark_modules() {
  if (g_modules) gc::mark_block_node(&g_modules);
}

}  // namespace

void decode(const uint8_t* data, size_t size, Node target, const Cell* arg) {
  decode_image(data, size, target, arg, false);
}

void decode_boot_into(const uint8_t* data, size_t size, Node target) {
  bool was = codec_q;
  codec_q = false;
  decode_image(data, size, target, nullptr, true);
  codec_q = was;
}

void register_roots() {
  gc::remove_root(&mark_modules);
  gc::add_root(&mark_modules);
}

void set_heap_image_sink(HeapImageSink sink) { g_heap_sink = sink; }
void set_boot_heap(const uint8_t* data, size_t size) { g_heap_given = {data, size}; }

namespace {
bool lay_in_boot_heap() {
  boot_image::Bytes heap = g_heap_given.data ? g_heap_given : boot_heap::get();
  heap_image::View view;
  Node modules = 0;
  if (g_heap_sink || !heap_image::parse(heap.data, heap.size, &view) ||
      !heap_image::lay_in(view, boot_image::stamp(), &modules))
    return false;
  g_modules = modules;
  g_laid = true;
  register_roots();
  return true;
}
}  // namespace

void decode_boot() {
  boot_image::Bytes image = boot_image::get();
  g_present = image.size != 0;
  g_laid = false;
  if (!g_present) return;
  // The decode's result, made at build time from this very state, when it applies.
  if (lay_in_boot_heap()) return;
  heap_image::Before before;
  if (g_heap_sink) before = heap_image::capture_before();
  g_modules = memory::series_new_cells(8);
  register_roots();
  decode_boot_into(image.data, image.size, g_modules);
  flag_boot_bodies();
  if (g_heap_sink) g_heap_sink(heap_image::capture_after(before, boot_image::stamp(), g_modules));
}

bool boot_image_present_q() { return g_present; }
bool boot_heap_laid_q() { return g_laid; }
Node boot_modules() { return g_modules; }

}  // namespace kel::kelbin
