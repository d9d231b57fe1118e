// Fuzz driver for the heap image checks (runtime/heap_image.h): the embedded boot heap with
// flipped bytes, hostile counts, offsets and lengths written over its fields, cut ends, and
// sealed again or not, must parse or be refused, never read outside its bytes; what parses
// must keep every arena run inside the used bytes it names. The unchanged image must parse.
// Runs for --seconds N (default 2).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/heap_image.h"
#include "runtime/io/boot_heap.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

[[noreturn]] void fail(const char* what, size_t n) {
  std::fprintf(stderr, "heap image fuzz: %s (%zu bytes)\n", what, n);
  std::abort();
}

uint32_t read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Parses a copy of exactly the input's size, so a read past its end shows under the
// sanitizers; a parsed image's arena runs are walked again here.
bool try_parse(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> copy(in);
  kel::heap_image::View v;
  if (!kel::heap_image::parse(copy.data(), copy.size(), &v)) return false;
  if (v.data != copy.data() || v.size != copy.size() || v.runs_at > v.pools_at || v.pools_at > v.size)
    fail("view outside the image", in.size());
  size_t at = v.runs_at;
  for (uint32_t i = 0; i < v.arena_runs; ++i) {
    if (at + 8 > v.pools_at) fail("arena runs past their section", in.size());
    uint32_t off = read32(copy.data() + at), n = read32(copy.data() + at + 4);
    if (uint64_t(off) + n > v.arena_used) fail("arena run past the used bytes", in.size());
    at += 8 + (size_t(n) + 7) / 8 * 8;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  kel::boot_image::Bytes heap = kel::boot_heap::get();
  std::vector<uint8_t> good(heap.data, heap.data + heap.size);
  if (!good.empty() && !try_parse(good)) fail("the embedded image does not parse", good.size());
  if (good.size() < 128) good.assign(128, 0);  // no heap image: noise around a bare header
  std::mt19937 rng(20261211);
  const uint32_t hostile[] = {0, 1, 7, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF8, 0xFFFFFFFF};
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0, parsed = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    std::vector<uint8_t> v = good;
    for (int k = 0, changes = 1 + int(rng() % 4); k < changes; ++k) {
      switch (rng() % 5) {
        case 0: v[rng() % v.size()] ^= uint8_t(1 << (rng() % 8)); break;
        case 1: {
          // A header field or a field near the start of the body: counts, offsets, lengths.
          size_t at = (rng() % 2 ? rng() % 26 : 26 + rng() % 64) * 4;
          if (at + 4 <= v.size()) {
            uint32_t x = rng() % 2 ? hostile[rng() % 8] : uint32_t(rng());
            std::memcpy(v.data() + at, &x, 4);
          }
          break;
        }
        case 2: v.resize(rng() % (v.size() + 1)); break;
        case 3: v.resize(v.size() / 8 * 8 + (rng() % 2 ? 0 : 8 + rng() % 64), uint8_t(rng())); break;
        default: {
          size_t at = rng() % v.size();
          for (size_t i = at, n = std::min(v.size(), at + 1 + rng() % 64); i < n; ++i) v[i] = uint8_t(rng());
        }
      }
      if (v.empty()) v.push_back(0);
    }
    if (rng() % 4) kel::heap_image::seal(&v);
    parsed += try_parse(v);
    ++runs;
  }
  std::printf("heap image fuzz: %llu inputs, %llu parsed, no fault\n", static_cast<unsigned long long>(runs),
              static_cast<unsigned long long>(parsed));
  return 0;
}
