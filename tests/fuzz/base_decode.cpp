// Fuzz driver for the base 2, 16, 58 and 64 decoders (debase, to binary! of an issue): random
// and mutated texts in every unit size must decode or fail, never read past the text or make
// more bytes than the text can hold; encoded random bytes must decode back exactly.
// Runs for --seconds N (default 2), or as a libFuzzer target when built with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

const int32_t BASES[] = {2, 16, 58, 64};

[[noreturn]] void fail(const char* what, int32_t base, size_t n) {
  std::fprintf(stderr, "base-decode fuzz: %s (base %d, %zu characters)\n", what, base, n);
  std::abort();
}

// The most bytes a valid text of n characters can give in the base.
size_t bound(int32_t base, size_t n) {
  switch (base) {
    case 2: return n / 8;
    case 16: return n / 2;
    case 58: return n;
    default: return n / 4 * 3 + 3;
  }
}

// Every decoder on the input read as units of 1, 2 and 4 bytes (copied to exact-size
// buffers, so a read past the end shows under the sanitizers).
void decode_all(const uint8_t* data, size_t size) {
  for (uint32_t unit : {1u, 2u, 4u}) {
    size_t n = size / unit;
    std::vector<uint8_t> text(data, data + n * unit);
    for (int32_t base : BASES) {
      if (base == 58 && n > 4096) continue;  // quadratic by nature; long texts add nothing
      std::string out;
      if (kel::binary::from_base_text(base, text.data(), int64_t(n), unit, &out) &&
          out.size() > bound(base, n))
        fail("more bytes than the text holds", base, n);
    }
  }
}

void round_trip(const std::string& data) {
  for (int32_t base : BASES) {
    if (base == 58 && data.size() > 512) continue;
    int64_t room = 0;
    if (!kel::binary::encoded_capacity(base, int64_t(data.size()), &room)) fail("capacity", base, data.size());
    std::vector<uint8_t> text(size_t(room) + 1, 0xEE);
    int64_t n = kel::binary::to_base_text(base, reinterpret_cast<const uint8_t*>(data.data()),
                                          int64_t(data.size()), text.data());
    if (n > room || text[size_t(room)] != 0xEE) fail("encoder past its room", base, data.size());
    std::string back;
    if (!kel::binary::from_base_text(base, text.data(), n, 1, &back) || back != data)
      fail("round trip", base, data.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  decode_all(data, size);
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(20261210);
  const char alphabet[] = "0123456789ABCDEFabcdef+/=;\n '\t-OIl\x80\xC3\xA9";
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    size_t size = rng() % 8 == 0 ? rng() % 20000 : rng() % 64;
    std::string data(size, '\0');
    bool text_like = rng() % 2;
    for (char& c : data) c = text_like ? alphabet[rng() % (sizeof alphabet - 1)] : char(rng());
    decode_all(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    round_trip(data);
    ++runs;
  }
  std::printf("base-decode fuzz: %llu inputs, no fault\n", static_cast<unsigned long long>(runs));
  return 0;
}
#endif
