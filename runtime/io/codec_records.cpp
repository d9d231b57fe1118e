// The image codec records put in system/codecs, a map keyed by words (png, jpeg, bmp, gif,
// tiff): title, name, mime-type, suffixes and the encode and decode routines.
#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/launch.h"
#include "runtime/io/image_codec.h"
#include "runtime/io/image_formats.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kel::image_codec {

namespace {

struct CodecRecord {
  const char* key;
  const char* name;
  const char* mime;
  const char* suffixes;
  int32_t code;
};

constexpr CodecRecord kRecords[] = {
    {"png", "PNG", "image/png", "%.png", image_format::PNG},
    {"jpeg", "JPEG", "image/jpeg", "%.jpg %.jpeg %.jpe %.jfif", image_format::JPEG},
    {"bmp", "BMP", "image/bmp", "%.bmp", image_format::BMP},
    {"gif", "GIF", "image/gif", "%.gif", image_format::GIF},
    {"tiff", "TIFF", "image/tiff", "%.tif %.tiff", image_format::TIFF},
};
constexpr int32_t kCount = int32_t(sizeof kRecords / sizeof kRecords[0]);

int32_t g_encode_routine[kCount];
int32_t g_decode_routine = -1;

template <int32_t Code>
void encode_routine() {
  Cell* base = stack::state().base;
  Cell* made = image::encode(base, base + 1, Code);
  Cell r = *made;
  stack::set_only_result(&r);
}

void decode_routine() {
  Cell* made = image::decode(stack::state().base);
  Cell r = *made;
  stack::set_only_result(&r);
}

constexpr const char* kEncodeSpec = "img [image!] where [any-type!]";
constexpr const char* kDecodeSpec = "data [any-type!]";

routine::Fn encoder_of(int32_t code) {
  switch (code) {
    case image_format::BMP: return &encode_routine<image_format::BMP>;
    case image_format::PNG: return &encode_routine<image_format::PNG>;
    case image_format::GIF: return &encode_routine<image_format::GIF>;
    case image_format::JPEG: return &encode_routine<image_format::JPEG>;
    default: return &encode_routine<image_format::TIFF>;
  }
}

// The first value of Kel text, into out.
void first_value_of(const char* text, Cell* out) {
  Cell* block = stack::reserve_cell();
  cell::set_none(block);
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), block);
  *out = *block::cell_at_index(block, int32_t(block->w1));
}

void loaded_block(const char* text, Cell* out) {
  cell::set_none(out);
  launcher::load_text(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), out);
}

// A word cell of the text (interned globally).
Cell word_cell(const char* text) {
  Cell w = word::intern_global(text);
  w.header = T_WORD;
  return w;
}

// Sets a field of the object in the rooted cell o to the value in v.
void set_field(Cell* o, const char* name, const Cell* v) {
  Cell* w = stack::reserve_cell();
  cell::set_none(w);
  *w = word_cell(name);
  context::set_or_add(o->w1, w, v);
  stack::drop_cells(1);
}

void build_records() {
  Cell* top = stack::state().top;
  for (int32_t i = 0; i < kCount; ++i) {
    const CodecRecord& c = kRecords[i];
    Cell* o = stack::reserve_cell();
    cell::set_none(o);
    object::init_empty(o, 8);
    o->w2 = object::next_class_id();
    object::refresh_self(o);
    Cell* v = stack::reserve_cell();
    cell::set_none(v);
    string::init_cell(v, 0);
    set_field(o, "title", v);
    first_value_of(c.name, v);
    set_field(o, "name", v);
    loaded_block(c.mime, v);
    set_field(o, "mime-type", v);
    loaded_block(c.suffixes, v);
    set_field(o, "suffixes", v);
    *v = *routine::push_built(g_encode_routine[i]);
    set_field(o, "encode", v);
    *v = *routine::push_built(g_decode_routine);
    set_field(o, "decode", v);
    system::put_codec(c.key, o);
    stack::state().top = top;
  }
  stack::state().top = top;
}

void when_bound() { system::on_build(build_records); }

}  // namespace

void register_codec_records() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  for (int32_t i = 0; i < kCount; ++i)
    g_encode_routine[i] =
        routine::register_routine(
            {nullptr, kEncodeSpec, encoder_of(kRecords[i].code), int32_t(T_BINARY)});
  g_decode_routine = routine::register_routine({nullptr, kDecodeSpec, &decode_routine, int32_t(T_IMAGE)});
  routine::on_bound(when_bound);
}

}  // namespace kel::image_codec
