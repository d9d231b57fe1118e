// The KELBIN codec record: `system/codecs/kelbin` with its fields, and the `encode*` and
// `decode` routines that hand values to the KELBIN encoders and decoder.
#include "runtime/io/kelbin_codec.h"

#include <cstring>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/blk.h"
#include "runtime/evaluator/interp.h"
#include "runtime/evaluator/launch.h"
#include "runtime/gc.h"
#include "runtime/io/kelbin.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kel::kelbin_codec {

namespace {

const char* const RECORD_TEXT =
    "make object! [title: \"Kelbin codec\" name: 'Kelbin mime-type: [] suffixes: [%.kelbin] "
    "compact?: true encode: func [data [any-type!] where [any-type!]] [encode* :data compact?] "
    "encode*: none decode: none]";

const char* const ENCODE_SPEC =
    "\"Encodes a value as KELBIN\" data [any-type!] compact? [logic!] return: [binary!]";
const char* const DECODE_SPEC = "\"Decodes a KELBIN binary\" payload [any-type!]";

void encode_routine() {
  Cell* args = stack::state().base;
  Cell* r = kelbin::encode(args, args[1].w1 != 0);
  Cell out = *r;
  stack::set_only_result(&out);
}

void decode_routine() {
  Cell* payload = stack::state().base;
  uint32_t t = cell::type(payload);
  if (t == T_FILE || t == T_URL) {
    // A file or URL is read as binary first (the read action with /binary).
    Cell* got = actions::resolve<datatype::action::READ>(payload)(payload, nullptr, nullptr, true,
                                                                    false, false, nullptr);
    Cell bytes = *got;
    *payload = bytes;
  }
  if (cell::type(payload) != T_BINARY) error::raise(err::script::invalid_data, payload);
  SeriesBuffer* b = memory::node_buffer(payload->w2);
  uint32_t used = memory::used_bytes(b);
  uint32_t head = payload->w1 > used ? used : payload->w1;
  if (used - head <= 10) error::raise(err::script::invalid_data, payload);
  std::vector<uint8_t> bytes(memory::head(b) + head, memory::tail(b));
  Cell* block = stack::reserve_cell();
  cell::set_none(block);
  blk::init(block, 1);
  kelbin::codec_q = true;
  kelbin::decode(bytes.data(), bytes.size(), block->w2, payload);
  Cell out = blk::count(block->w2) == 1 ? blk::cells(block->w2)[0] : *block;
  stack::set_only_result(&out);
}

Cell* build_routine(int32_t index, const char* spec_text, int32_t result_type) {
  Cell* spec = stack::reserve_cell();
  cell::set_none(spec);
  launcher::load_text(reinterpret_cast<const uint8_t*>(spec_text), int32_t(std::strlen(spec_text)), spec);
  return routine::build(spec, cell::none_value(), index, result_type, false);
}

}  // namespace

void install() {
  static int32_t encode_index = -1, decode_index = -1;
  if (encode_index < 0) {
    encode_index = routine::register_routine({nullptr, ENCODE_SPEC, &encode_routine, int32_t(T_BINARY)});
    decode_index = routine::register_routine({nullptr, DECODE_SPEC, &decode_routine, int32_t(T_BLOCK)});
  }
  Cell* mark = stack::state().top;
  Cell* text = stack::reserve_cell();
  cell::set_none(text);
  launcher::load_text(reinterpret_cast<const uint8_t*>(RECORD_TEXT), int32_t(std::strlen(RECORD_TEXT)), text);
  stack::push_native_frame(&interp::words.body);
  interp::eval_block(text, false);
  Cell made = *stack::state().base;
  stack::pop_frame();
  stack::state().top = mark;
  Cell* record = stack::push_copy(&made);
  Cell* enc = build_routine(encode_index, ENCODE_SPEC, int32_t(T_BINARY));
  Cell w = word::intern_global("encode*");
  context::set_or_add(record->w1, &w, enc);
  Cell* dec = build_routine(decode_index, DECODE_SPEC, int32_t(T_BLOCK));
  w = word::intern_global("decode");
  context::set_or_add(record->w1, &w, dec);
  system::put_codec("kelbin", record);
  stack::state().top = mark;
}

}  // namespace kel::kelbin_codec
