// Fuzz driver for the decompressors (zlib, raw deflate, gzip, zstd): random bytes, and valid
// streams with mutated bytes, cut ends and hostile size fields (ISIZE, frame content size),
// must decode or fail with a status, never write past the limit or ask for more than it;
// unmutated streams must decode back exactly.
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "runtime/io/compress.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

using kel::compress::Output;
constexpr int64_t LIMIT = 1 << 20;  // keeps each run small; the limit path is exercised too
const int32_t METHODS[] = {kel::compress::ZLIB, kel::compress::DEFLATE, kel::compress::GZIP,
                           kel::compress::ZSTD};

[[noreturn]] void fail(const char* what, int32_t method, size_t n) {
  std::fprintf(stderr, "decompress fuzz: %s (method %d, %zu bytes)\n", what, method, n);
  std::abort();
}

// Decodes with every method (the input copied to an exact-size buffer, so a read past its
// end shows under the sanitizers); returns the status of `method` and its output.
int32_t decode_all(const uint8_t* data, size_t size, int32_t method, std::string* out) {
  int32_t wanted = -1;
  for (int32_t m : METHODS) {
    std::string copy(reinterpret_cast<const char*>(data), size);
    Output o;
    o.limit = LIMIT;
    int64_t hint = int64_t(size) * 7;  // a /size the data does not promise
    int32_t status = kel::compress::run_decompressor(
        m, &o, reinterpret_cast<const uint8_t*>(copy.data()), int64_t(size), hint);
    if (status < kel::compress::OK || status > kel::compress::NO_MEMORY ||
        status == kel::compress::TOO_SMALL)
      fail("unknown status", m, size);
    if (o.size > o.capacity || o.capacity > LIMIT) fail("output past the limit", m, size);
    if (m == method) {
      wanted = status;
      if (out) out->assign(reinterpret_cast<const char*>(o.data), size_t(o.size));
    }
  }
  return wanted;
}

std::string compressed(int32_t method, const std::string& in, int32_t level) {
  int64_t n = int64_t(in.size());
  int64_t size = n + n / 2048 + 32;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string out(size_t(size), '\0');
    int32_t status =
        kel::compress::run_compressor(method, reinterpret_cast<uint8_t*>(out.data()), &size,
                                      reinterpret_cast<const uint8_t*>(in.data()), n, level);
    if (status == kel::compress::OK) return out.substr(0, size_t(size));
    if (status != kel::compress::TOO_SMALL) fail("compressor failed", method, in.size());
  }
  fail("no output after the retry", method, in.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  decode_all(data, size, -1, nullptr);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(20261210);
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
         seconds) {
    size_t n = rng() % 8 == 0 ? rng() % 50000 : rng() % 300;
    std::string plain(n, '\0');
    bool text_like = rng() % 2;
    for (char& c : plain) c = text_like ? "ab \n"[rng() % 4] : char(rng());
    int32_t method = METHODS[rng() % 4];
    std::string stream = compressed(method, plain, int32_t(1 + rng() % 9));
    std::string back;
    if (decode_all(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), method, &back) !=
            kel::compress::OK ||
        back != plain)
      fail("round trip", method, n);
    // Damage: flipped bytes, a cut end, a lying size field, or bytes of pure noise.
    switch (rng() % 4) {
      case 0:
        for (int k = 0, flips = 1 + int(rng() % 4); k < flips && !stream.empty(); ++k)
          stream[rng() % stream.size()] ^= char(1 << (rng() % 8));
        break;
      case 1: stream.resize(rng() % (stream.size() + 1)); break;
      case 2:
        if (stream.size() >= 4) {
          uint32_t lie = rng() % 2 ? 0xFFFFFFFFu : uint32_t(rng());
          std::memcpy(&stream[method == kel::compress::ZSTD ? std::min<size_t>(6, stream.size() - 4)
                                                            : stream.size() - 4],
                      &lie, 4);
        }
        break;
      default:
        for (char& c : stream) c = char(rng());
    }
    decode_all(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), method, nullptr);
    ++runs;
  }
  std::printf("decompress fuzz: %llu inputs, no fault\n", static_cast<unsigned long long>(runs));
  return 0;
}
#endif
