// The image codec records in system/codecs (png, jpeg, bmp, gif, tiff): title, name,
// mime-type, suffixes and the encode and decode routines over the image! unit.
#include <cstring>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
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

void build_records() {
  Cell* top = stack::state().top;
  for (int32_t i = 0; i < kCount; ++i) {
    const CodecRecord& c = kRecords[i];
    std::string path = std::string("codecs/") + c.key;
    Cell* v = stack::reserve_cell();
    cell::set_none(v);
    string::init_cell(v, 0);
    system::set_field(path.c_str(), "title", v);
    first_value_of(c.name, v);
    system::set_field(path.c_str(), "name", v);
    loaded_block(c.mime, v);
    system::set_field(path.c_str(), "mime-type", v);
    loaded_block(c.suffixes, v);
    system::set_field(path.c_str(), "suffixes", v);
    *v = *routine::push_built(g_encode_routine[i]);
    system::set_field(path.c_str(), "encode", v);
    *v = *routine::push_built(g_decode_routine);
    system::set_field(path.c_str(), "decode", v);
    stack::state().top = top;
  }
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
