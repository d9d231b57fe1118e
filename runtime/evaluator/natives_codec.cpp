// dehex, enhex, checksum, compress and decompress over the percent codec, the checksum and
// digest engines and the compression framing; engine failures become script errors.
#include "runtime/evaluator/natives_codec.h"

#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/io_handover.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel::natives {

namespace {

inline Cell* arg(int i) { return stack::state().base + i; }

// The bytes of a binary! (from its head) or the UTF-8 of any-string!. Text is converted into
// the holder; a binary's address is read at the last moment, after every allocation.
struct Input {
  std::string utf8;
  bool binary = false;
  void take(Cell* v) {
    binary = cell::type(v) == T_BINARY;
    if (!binary) kel::binary::value_to_bytes(&utf8, v, -1, false, kel::binary::MODE_WRITE);
  }
  // Valid until the next allocation.
  const uint8_t* data(const Cell* v) const {
    return binary ? kel::binary::head_byte_pointer(v)
                  : reinterpret_cast<const uint8_t*>(utf8.data());
  }
  int64_t size(const Cell* v) const {
    return binary ? kel::binary::byte_count(v) : int64_t(utf8.size());
  }
};

void result_binary(const uint8_t* bytes, int64_t n) {
  Cell* made = binary::push_new_from_bytes(bytes, int32_t(n));
  Cell r = *made;
  stack::drop_cells(1);
  stack::set_only_result(&r);
}

[[noreturn]] void raise_invalid_refine(const Cell* with_what) {
  Cell refinement{T_NONE, 0, 0, 0};
  word::init_cell(symbol::intern_c_text("with"), &refinement);
  cell::set_type(&refinement, T_REFINEMENT);
  error::raise(err::script::invalid_refine_arg, &refinement, with_what);
}

[[noreturn]] void raise_engine_failure(int32_t status, const Cell* method) {
  if (status == compress::TOO_LONG) error::raise(err::script::too_long);
  if (status == compress::NO_MEMORY) error::raise(err::internal::no_memory);
  error::raise(err::script::invalid_data, method);
}

// Decompressed output grows straight in a binary (the cell is rooted by the caller).
uint8_t* grow_binary(void* context, int64_t capacity) {
  Cell* out = static_cast<Cell*>(context);
  if (cell::type(out) != T_BINARY) {
    binary::init_cell(out, int32_t(capacity));
    return binary::head_byte_pointer(out);
  }
  return memory::data(memory::series_grow_copy_node(out->w2, int32_t(capacity)));
}

int32_t compress_method_of(const Cell* word) {
  int32_t m = compress::method_of_symbol(int32_t(word->w2));
  if (m < 0) error::raise(err::script::invalid_arg, word);
  return m;
}

}  // namespace

void dehex(int32_t, const int32_t*) {
  Cell out{T_NONE, 0, 0, 0};
  gc::Root keep(&out);
  string::init_cell(&out, string::count_from_head(arg(0)));
  url::decode_percent(arg(0), &out);
  stack::set_only_result(&out);
}

void enhex(int32_t, const int32_t*) {
  Cell out{T_NONE, 0, 0, 0};
  gc::Root keep(&out);
  string::init_cell(&out, string::count_from_head(arg(0)));
  // string! keeps only the unreserved characters; the other string types the URL set.
  int32_t selector = cell::type(arg(0)) == T_STRING ? url::UNRESERVED : 0;
  url::encode_percent(arg(0), selector, &out);
  stack::set_only_result(&out);
}

void checksum(int32_t, const int32_t* refs) {
  if (cell::type(arg(0)) == T_FILE) {
    Cell* read = io::read_file_or_dir(arg(0), nullptr, nullptr, true, false);
    *arg(0) = *read;
  }
  Cell* method = arg(1);
  int32_t m = checksum::method_of_symbol(int32_t(method->w2));
  if (m < 0) error::raise(err::script::invalid_arg, method);
  Cell* spec = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  Input data;
  data.take(arg(0));
  if (m == checksum::ID_CRC32 || m == checksum::ID_TCP || m == checksum::WORD_ADLER32) {
    if (spec) raise_invalid_refine(method);
    const uint8_t* p = data.data(arg(0));
    int64_t n = data.size(arg(0));
    uint32_t v = m == checksum::ID_CRC32 ? checksum::crc32_compute(p, n)
                 : m == checksum::ID_TCP ? checksum::tcp_checksum(p, n)
                                         : checksum::adler32_compute(p, n);
    Cell r{T_INTEGER, 0, v, 0};
    stack::set_only_result(&r);
    return;
  }
  uint8_t out[checksum::MAX_DIGEST];
  bool ok;
  if (spec) {
    uint32_t st = cell::type(spec);
    // The hash-table form of an integer spec is not built: refuse it rather than answer.
    if (st == T_INTEGER) error::raise(err::internal::not_done);
    if (st != T_STRING && st != T_BINARY) error::raise(err::script::invalid_arg, spec);
    if (m == checksum::WORD_HASH) raise_invalid_refine(spec);
    Input key;
    key.take(spec);
    ok = checksum::hmac(data.data(arg(0)), data.size(arg(0)), key.data(spec), key.size(spec), m,
                        out);
  } else {
    if (m == checksum::WORD_HASH) raise_invalid_refine(method);
    ok = checksum::digest(data.data(arg(0)), data.size(arg(0)), m, out);
  }
  if (!ok) error::raise(err::internal::no_memory);
  result_binary(out, checksum::digest_size(m));
}

void compress(int32_t, const int32_t* refs) {
  int32_t m = compress_method_of(arg(1));
  int32_t level = compress::default_level(m);
  if (refs[0] >= 0) {
    Cell* lvl = arg(refs[0]);
    level = cell::get_int(lvl);
    if (level < 1 || level > compress::max_level(m)) error::raise(err::script::out_of_range, lvl);
  }
  Input data;
  data.take(arg(0));
  int64_t n = data.size(arg(0));
  int64_t capacity = n + n / 2048 + 32;
  Cell out{T_NONE, 0, 0, 0};
  gc::Root keep(&out);
  int32_t status = compress::TOO_SMALL;
  for (int32_t attempt = 0; attempt < 2 && status == compress::TOO_SMALL; ++attempt) {
    if (capacity > compress::MAX_OUTPUT) error::raise(err::script::too_long);
    binary::init_cell(&out, int32_t(capacity));
    // Nothing allocates from here until the output's tail is set.
    int64_t size = capacity;
    status = compress::run_compressor(m, binary::head_byte_pointer(&out), &size, data.data(arg(0)),
                                      n, level);
    if (status == compress::OK) {
      SeriesBuffer* ob = memory::node_buffer(out.w2);
      ob->tail = ob->head + uint32_t(size);
      stack::set_only_result(&out);
      return;
    }
    capacity = size;
  }
  raise_engine_failure(status, arg(1));
}

void decompress(int32_t, const int32_t* refs) {
  int32_t m = compress_method_of(arg(1));
  // /size is the most the output may hold (a size of 0 or less sets no bound).
  int64_t most = refs[0] >= 0 ? cell::get_int(arg(refs[0])) : 0;
  // The output grows in collector memory, which moves the input: decode from a copy.
  const uint8_t* head = binary::head_byte_pointer(arg(0));
  std::string input(reinterpret_cast<const char*>(head), size_t(binary::byte_count(arg(0))));
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep(&made);
  compress::Output out;
  out.grow = &grow_binary;
  out.context = &made;
  if (most > 0) out.limit = std::min(out.limit, most);
  int32_t status = compress::run_decompressor(
      m, &out, reinterpret_cast<const uint8_t*>(input.data()), int64_t(input.size()), 0);
  if (status != compress::OK) raise_engine_failure(status, arg(1));
  SeriesBuffer* b = memory::node_buffer(made.w2);
  b->tail = b->head + uint32_t(out.size);
  stack::set_only_result(&made);
}

}  // namespace kel::natives
