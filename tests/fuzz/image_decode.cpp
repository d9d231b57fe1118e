// Fuzz driver for the image decoders (PNG, JPEG, GIF, TIFF, BMP): files our encoders make,
// mutated (bytes changed, bits flipped, cut short, sizes made huge), must decode or fail,
// never crash, never give a picture outside the size limit.
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/io/image_formats.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

using namespace kel::image_format;
using Bytes = std::vector<uint8_t>;

// Small pictures keep each run short; the limit still refuses claims beyond it.
constexpr int64_t FUZZ_LIMIT = int64_t(1) << 20;

[[noreturn]] void fail(const char* what, size_t n) {
  std::fprintf(stderr, "image-decode fuzz: %s (%zu bytes)\n", what, n);
  std::abort();
}

void decode_one(const uint8_t* data, size_t size) {
  Bytes copy(data, data + size);  // exact size, so a read past the end shows under ASan
  Pixels p;
  int32_t status = decode_any(copy.data(), copy.size(), &p);
  if (status == 0) {
    if (!p.data || p.width < 1 || p.height < 1 || int64_t(p.width) * p.height > FUZZ_LIMIT)
      fail("a picture outside the limits", size);
    volatile uint32_t sum = 0;
    for (int64_t i = 0; i < int64_t(p.width) * p.height; ++i) sum = sum + p.data[i];
  } else if (p.data) {
    fail("pixels left after a failure", size);
  }
  std::free(p.data);
}

Bytes encoded(std::mt19937& rng, int32_t code) {
  int32_t w = int32_t(rng() % 9) + 1, h = int32_t(rng() % 9) + 1;
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  bool few = rng() % 2;
  for (uint32_t& p : px) p = few ? (rng() % 4) * 0x40404040u : uint32_t(rng());
  Sink s{nullptr, 0, 0, false};
  Bytes out;
  if (encode_any(code, px.data(), w, h, &s)) out.assign(s.data, s.data + s.size);
  sink_free(&s);
  return out;
}

void mutate(std::mt19937& rng, Bytes& b) {
  if (b.empty()) return;
  int changes = int(rng() % 6) + 1;
  for (int i = 0; i < changes; ++i) {
    size_t at = rng() % b.size();
    switch (rng() % 5) {
      case 0: b[at] = uint8_t(rng()); break;
      case 1: b[at] ^= uint8_t(1u << (rng() % 8)); break;
      case 2: b.resize(at + 1); break;
      case 3: b[at] = 0xFF; break;
      default: {  // a size-like field made huge in the first bytes (headers live there)
        size_t head = std::min<size_t>(b.size(), 64);
        size_t k = rng() % head;
        for (size_t j = k; j < std::min(head, k + 4); ++j) b[j] = 0xFF;
        break;
      }
    }
    if (b.empty()) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_max_pixels(FUZZ_LIMIT);
  init_libraries();
  decode_one(data, size);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  set_max_pixels(FUZZ_LIMIT);
  init_libraries();
  std::mt19937 rng(20261210);
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0;
  const int32_t codes[] = {BMP, PNG, GIF, JPEG, TIFF};
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    Bytes b = encoded(rng, codes[rng() % 5]);
    decode_one(b.data(), b.size());  // the unchanged file decodes
    mutate(rng, b);
    decode_one(b.data(), b.size());
    Bytes noise(rng() % 200);
    for (uint8_t& c : noise) c = uint8_t(rng());
    static const uint8_t magic[][4] = {{0x89, 'P', 'N', 'G'}, {0xFF, 0xD8, 0xFF, 0xE0},
                                       {'B', 'M', 0, 0},      {'G', 'I', 'F', '8'},
                                       {'I', 'I', 42, 0}};
    if (noise.size() >= 6) {
      std::memcpy(noise.data(), magic[rng() % 5], 4);
      if (noise[0] == 'G') noise[4] = '9', noise[5] = 'a';
    }
    decode_one(noise.data(), noise.size());
    ++runs;
  }
  std::printf("image-decode fuzz: %llu rounds, no fault\n", static_cast<unsigned long long>(runs));
  return 0;
}
#endif
