// enbase and debase: the base chosen by /base (64 by default), the input's bytes or
// characters handed to binary!'s encoders and decoders, the output sized and wrapped.
#include "runtime/evaluator/natives_encoding.h"

#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }

// The /base argument, or 64; another base than 2, 16, 58, 64 raises script/invalid-arg.
int32_t base_of(const int32_t* refs) {
  if (refs[0] < 0) return 64;
  Cell* b = arg(refs[0]);
  int32_t base = cell::get_int(b);
  if (base != 2 && base != 16 && base != 58 && base != 64) error::raise(err::script::invalid_arg, b);
  return base;
}

}  // namespace

void debase(int32_t, const int32_t* refs) {
  int32_t base = base_of(refs);
  Cell* text = arg(0);
  std::string bytes;
  SeriesBuffer* b = memory::node_buffer(text->w2);
  uint32_t u = memory::unit(b);
  int32_t count = string::count_from_head(text);
  const uint8_t* p = memory::head(b) + size_t(text->w1) * u;
  if (!binary::from_base_text(base, p, count, u, &bytes)) {
    Cell none{T_NONE, 0, 0, 0};
    stack::set_only_result(&none);
    return;
  }
  Cell* made = binary::push_new_from_bytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                           int32_t(bytes.size()));
  Cell r = *made;
  stack::drop_cells(1);
  stack::set_only_result(&r);
}

void enbase(int32_t, const int32_t* refs) {
  int32_t base = base_of(refs);
  Cell* value = arg(0);
  std::string utf8;
  bool text = cell::type(value) != T_BINARY;
  if (text) binary::value_to_bytes(&utf8, value, -1, false, binary::MODE_WRITE);
  int64_t n = text ? int64_t(utf8.size()) : binary::byte_count(value);
  int64_t capacity;
  if (!binary::encoded_capacity(base, n, &capacity)) error::raise(err::script::too_long);
  Cell out{T_NONE, 0, 0, 0};
  gc::Root keep(&out);
  string::init_cell(&out, int32_t(capacity));
  // Nothing allocates from here on: the input's address stays valid.
  const uint8_t* in = text ? reinterpret_cast<const uint8_t*>(utf8.data())
                           : binary::head_byte_pointer(arg(0));
  SeriesBuffer* ob = memory::node_buffer(out.w2);
  int64_t written = binary::to_base_text(base, in, n, memory::head(ob));
  ob->tail = ob->head + uint32_t(written);
  stack::set_only_result(&out);
}

}  // namespace kel::natives
