// Compression framing over zlib and libzstd: raw DEFLATE, the zlib stream (RFC 1950) and the
// gzip member (RFC 1952) with their header bytes, trailers and checks, and Zstandard frames.
#include "runtime/io/compress.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/io/checksum.h"
#include "runtime/symbol.h"

namespace kel::compress {

namespace {

constexpr const char* METHOD_NAMES[4] = {"zlib", "deflate", "gzip", "zstd"};
int32_t g_method_symbols[4] = {};  // canonical symbol ids

// The most a DEFLATE stream can expand (258 bytes from a one-bit code, about 1032:1).
constexpr int64_t DEFLATE_RATIO = 1032;
// A Zstandard block of up to 128 KB can come from 4 bytes (a repeated byte).
constexpr int64_t ZSTD_RATIO = 32768;
// zlib counts in unsigned ints: feed and drain at most this much a call.
constexpr int64_t STEP = int64_t(1) << 30;
// Output that may grow past this is counted first; the scratch block of a counting pass.
constexpr int64_t DIRECT_OUTPUT = int64_t(8) << 20;
constexpr int64_t COUNT_BLOCK = int64_t(256) << 10;

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
void put_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
uint32_t get_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool gzip_magic_q(const uint8_t* p, int64_t n) {
  return n >= 3 && p[0] == 0x1F && p[1] == 0x8B && p[2] == 0x08;
}

// Room for the raw DEFLATE of length bytes at any level.
int64_t deflate_need(int64_t length) {
  // deflateBound without a stream: zlib's documented worst case for any level.
  return length + (length >> 12) + (length >> 14) + (length >> 25) + 13 + 5;
}

}  // namespace

// ---- Method words ----

void methods_init() {
  for (int32_t i = 0; i < 4; ++i)
    g_method_symbols[i] = symbol::canonical_id(symbol::intern_c_text(METHOD_NAMES[i]));
}

int32_t method_of_symbol(int32_t sym) {
  if (g_method_symbols[0] == 0) methods_init();
  int32_t canon = symbol::canonical_id(sym);
  for (int32_t i = 0; i < 4; ++i)
    if (g_method_symbols[i] == canon) return i;
  return -1;
}

int32_t max_level(int32_t method) { return method == ZSTD ? 19 : 9; }
int32_t default_level(int32_t method) { return method == ZSTD ? 3 : 6; }

// ---- Compressors ----

int32_t deflate_raw(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int32_t level) {
  int64_t capacity = out ? *size : 0;
  if (capacity < 8 || length > UINT_MAX || capacity > UINT_MAX) {
    *size = deflate_need(length);
    return TOO_SMALL;
  }
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    *size = 0;
    return NO_MEMORY;
  }
  s.next_in = const_cast<Bytef*>(in);
  s.avail_in = uInt(length);
  s.next_out = out;
  s.avail_out = uInt(capacity);
  int r = deflate(&s, Z_FINISH);
  int64_t need = int64_t(deflateBound(&s, uLong(length)));
  int64_t produced = int64_t(s.total_out);
  deflateEnd(&s);
  if (r == Z_STREAM_END) {
    *size = produced;
    return OK;
  }
  // Out of room (Z_OK or Z_BUF_ERROR): the bound is always enough.
  *size = std::max(need, capacity + 1);
  return TOO_SMALL;
}

namespace {

// The header, then raw DEFLATE with room kept for the trailer. On success *size is the
// deflated byte count; otherwise it is the whole need.
int32_t deflate_framed(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length,
                       int32_t level, const uint8_t* header, int64_t header_length,
                       int64_t trailer_length) {
  int64_t frame = header_length + trailer_length;
  int64_t capacity = out ? *size : 0;
  if (capacity < frame + 8) {
    *size = deflate_need(length) + frame;
    return TOO_SMALL;
  }
  std::memcpy(out, header, size_t(header_length));
  int64_t n = capacity - frame;
  int32_t status = deflate_raw(out + header_length, &n, in, length, level);
  *size = status == OK ? n : n + frame;
  return status;
}

}  // namespace

int32_t zlib_deflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length,
                     int32_t level) {
  const uint8_t flg = level < 2 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
  const uint8_t header[2] = {0x78, flg};
  int32_t status = deflate_framed(out, size, in, length, level, header, 2, 4);
  if (status != OK) return status;
  put_be32(out + 2 + *size, checksum::adler32_compute(in, length));
  *size += 6;
  return OK;
}

int32_t gzip_wrap(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int32_t level) {
  const uint8_t header[10] = {
      0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, uint8_t(level <= 1 ? 4 : level == 9 ? 2 : 0), 4};
  int32_t status = deflate_framed(out, size, in, length, level, header, 10, 8);
  if (status != OK) return status;
  put_le32(out + 10 + *size, checksum::crc32_compute(in, length));
  put_le32(out + 14 + *size, uint32_t(length));
  *size += 18;
  return OK;
}

int32_t zstd_compress(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length,
                      int32_t level) {
  int64_t capacity = out ? *size : 0;
  int64_t need = int64_t(ZSTD_compressBound(size_t(length)));
  if (capacity <= 0) {
    *size = need;
    return TOO_SMALL;
  }
  size_t r = ZSTD_compress(out, size_t(capacity), in, size_t(length), level);
  if (!ZSTD_isError(r)) {
    *size = int64_t(r);
    return OK;
  }
  if (ZSTD_getErrorCode(r) == ZSTD_error_dstSize_tooSmall) {
    *size = std::max(need, capacity + 1);
    return TOO_SMALL;
  }
  *size = 0;
  return ZSTD_getErrorCode(r) == ZSTD_error_memory_allocation ? NO_MEMORY : BAD_DATA;
}

int32_t run_compressor(int32_t method, uint8_t* out, int64_t* size, const uint8_t* in,
                       int64_t length, int32_t level) {
  switch (method) {
    case ZLIB: return zlib_deflate(out, size, in, length, level);
    case DEFLATE: return deflate_raw(out, size, in, length, level);
    case GZIP: return gzip_wrap(out, size, in, length, level);
    default: return zstd_compress(out, size, in, length, level);
  }
}

// ---- Output ----

Output::~Output() {
  if (!grow) std::free(data);
}

int32_t Output::reserve(int64_t more) {
  if (counting) {
    if (produced() > limit) return TOO_LONG;
    if (!data) {
      data = static_cast<uint8_t*>(std::malloc(size_t(COUNT_BLOCK)));
      if (!data) return NO_MEMORY;
      capacity = COUNT_BLOCK;
    }
    if (size == capacity) {
      dropped += size;
      size = 0;
    }
    return OK;
  }
  if (more <= capacity - size) return OK;
  // One byte past the limit is granted: an engine asks for room before it finds the end of
  // its data, and output past the limit is refused once it ends (run_decompressor).
  int64_t room = limit + 1;
  if (size >= room) return TOO_LONG;
  more = std::min(more, room - size);
  if (more <= capacity - size) return OK;
  int64_t want = std::min(std::max(capacity * 2, size + more), room);
  void* grown = grow ? grow(context, want) : std::realloc(data, size_t(std::max<int64_t>(want, 1)));
  if (!grown) return NO_MEMORY;
  data = static_cast<uint8_t*>(grown);
  capacity = want;
  return OK;
}

// ---- Decompressors ----

int32_t inflate_raw(Output* out, const uint8_t* in, int64_t length, int64_t* used) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return NO_MEMORY;
  // Released also when a caller's growth raises.
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&s};
  int64_t fed = 0;
  int32_t status = BAD_DATA;
  for (;;) {
    if (s.avail_in == 0 && fed < length) {
      int64_t step = std::min(STEP, length - fed);
      s.next_in = const_cast<Bytef*>(in + fed);
      s.avail_in = uInt(step);
      fed += step;
    }
    if (out->capacity == out->size) {
      status = out->reserve(std::max<int64_t>(out->size, 4096));
      if (status != OK) break;
    }
    int64_t room = std::min(STEP, out->capacity - out->size);
    s.next_out = out->data + out->size;
    s.avail_out = uInt(room);
    int r = inflate(&s, Z_NO_FLUSH);
    out->size += room - int64_t(s.avail_out);
    if (r == Z_STREAM_END) {
      status = OK;
      break;
    }
    if (r == Z_MEM_ERROR) {
      status = NO_MEMORY;
      break;
    }
    if (r != Z_OK && r != Z_BUF_ERROR) {
      status = BAD_DATA;
      break;
    }
    // No progress possible: the input ended before the stream did (truncated).
    if (s.avail_in == 0 && fed == length && s.avail_out != 0) {
      status = BAD_DATA;
      break;
    }
  }
  if (used) *used = fed - int64_t(s.avail_in);
  return status;
}

int32_t zlib_inflate(Output* out, const uint8_t* in, int64_t length) {
  if (length < 6) return BAD_DATA;
  uint32_t cmf = in[0], flg = in[1];
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
    return BAD_DATA;
  int64_t start = out->size;
  int64_t used = 0;
  int32_t status = inflate_raw(out, in + 2, length - 6, &used);
  if (status != OK) return status;
  // The trailer follows the deflate data at once and ends the input.
  if (used != length - 6) return BAD_DATA;
  if (out->counting) return OK;
  uint32_t adler = checksum::adler32_compute(out->data + start, out->size - start);
  return adler == get_be32(in + length - 4) ? OK : BAD_DATA;
}

namespace {

// One gzip member from in[0]; *used receives its length with the trailer.
int32_t gunzip_member(Output* out, const uint8_t* in, int64_t length, int64_t* used) {
  if (length < 18 || !gzip_magic_q(in, length)) return BAD_DATA;
  uint8_t flg = in[3];
  if (flg >= 32) return BAD_DATA;
  int64_t p = 10;
  if (flg & 0x04) {  // FEXTRA
    int64_t xlen = int64_t(in[10]) | int64_t(in[11]) << 8;
    if (length - 12 < xlen) return BAD_DATA;
    p += 2 + xlen;
  }
  for (uint8_t bit : {uint8_t(0x08), uint8_t(0x10)}) {  // FNAME, FCOMMENT
    if (!(flg & bit)) continue;
    const void* zero = p < length ? std::memchr(in + p, 0, size_t(length - p)) : nullptr;
    if (!zero) return BAD_DATA;
    p = static_cast<const uint8_t*>(zero) - in + 1;
  }
  if (flg & 0x02) {  // FHCRC: the low 16 bits of the CRC-32 of the header before it
    if (length - p < 3) return BAD_DATA;
    uint32_t want = uint32_t(in[p]) | uint32_t(in[p + 1]) << 8;
    if ((checksum::crc32_compute(in, p) & 0xFFFF) != want) return BAD_DATA;
    p += 2;
  }
  if (p >= length) return BAD_DATA;
  int64_t start = out->produced();
  int64_t deflated = 0;
  int32_t status = inflate_raw(out, in + p, length - p, &deflated);
  if (status != OK) return status;
  p += deflated;
  if (length - p < 8) return BAD_DATA;
  int64_t produced = out->produced() - start;
  if (uint32_t(produced) != get_le32(in + p + 4)) return BAD_DATA;
  if (!out->counting && checksum::crc32_compute(out->data + start, produced) != get_le32(in + p))
    return BAD_DATA;
  *used = p + 8;
  return OK;
}

}  // namespace

int32_t gunzip(Output* out, const uint8_t* in, int64_t length) {
  int64_t p = 0;
  do {
    int64_t used = 0;
    int32_t status = gunzip_member(out, in + p, length - p, &used);
    if (status != OK) return status;
    p += used;
  } while (gzip_magic_q(in + p, length - p));
  return OK;
}

int32_t zstd_decompress(Output* out, const uint8_t* in, int64_t length) {
  std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> owner(ZSTD_createDCtx(), &ZSTD_freeDCtx);
  ZSTD_DCtx* d = owner.get();
  if (!d) return NO_MEMORY;
  ZSTD_inBuffer src{in, size_t(length), 0};
  int32_t status = OK;
  for (;;) {
    if (out->capacity == out->size) {
      status = out->reserve(std::max<int64_t>(out->size, 4096));
      if (status != OK) break;
    }
    ZSTD_outBuffer dst{out->data, size_t(out->capacity), size_t(out->size)};
    size_t r = ZSTD_decompressStream(d, &dst, &src);
    out->size = int64_t(dst.pos);
    if (ZSTD_isError(r)) {
      status = ZSTD_getErrorCode(r) == ZSTD_error_memory_allocation ? NO_MEMORY : BAD_DATA;
      break;
    }
    if (r == 0 && src.pos == src.size) break;  // every frame complete
    // Room was left and the input is used up, yet the frame wants more: truncated.
    if (src.pos == src.size && dst.pos < dst.size) {
      status = BAD_DATA;
      break;
    }
  }
  return status;
}

namespace {

int32_t run_engine(int32_t method, Output* out, const uint8_t* in, int64_t length) {
  switch (method) {
    case ZLIB: return zlib_inflate(out, in, length);
    case DEFLATE: return inflate_raw(out, in, length, nullptr);
    case GZIP: return gunzip(out, in, length);
    default: return zstd_decompress(out, in, length);
  }
}

}  // namespace

int32_t run_decompressor(int32_t method, Output* out, const uint8_t* in, int64_t length,
                         int64_t hint) {
  int64_t bound = length * (method == ZSTD ? ZSTD_RATIO : DEFLATE_RATIO) + 1024;
  if (bound > DIRECT_OUTPUT) {
    // Whatever the data claim, the output is counted before it is kept: a bomb fails at the
    // limit having used one scratch block, and real data get one block of the right size.
    Output probe;
    probe.counting = true;
    probe.limit = out->limit;
    int32_t status = run_engine(method, &probe, in, length);
    if (status != OK) return status;
    if (probe.produced() > out->limit) return TOO_LONG;
    status = out->reserve(std::max<int64_t>(probe.produced(), 1));
    if (status != OK) return status;
    status = run_engine(method, out, in, length);
    return status == OK && out->size > out->limit ? TOO_LONG : status;
  }
  // Small inputs: sizes from the caller or the data are hints, bounded by what the input can
  // give; the block grows by doubling from there.
  if (hint <= 0 && method == GZIP && length >= 18) hint = get_le32(in + length - 4);
  if (hint <= 0 && method == ZSTD) {
    unsigned long long z = ZSTD_getFrameContentSize(in, size_t(length));
    if (z != ZSTD_CONTENTSIZE_UNKNOWN && z != ZSTD_CONTENTSIZE_ERROR)
      hint = int64_t(std::min<unsigned long long>(z, uint64_t(MAX_OUTPUT)));
  }
  int64_t first = hint > 0 ? std::min(hint, bound) : std::min(length * 4 + 1024, bound);
  int32_t status = out->reserve(std::min(std::max<int64_t>(first, 1), out->limit));
  if (status != OK) return status;
  status = run_engine(method, out, in, length);
  return status == OK && out->size > out->limit ? TOO_LONG : status;
}

}  // namespace kel::compress
