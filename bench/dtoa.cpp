// Float/text conversion speed: 10^7 conversions each way, against raw <charconv>.
// Run by hand: cmake --build build --target bench && build/bench/bench-dtoa
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/dtoa.h"

namespace {
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 10'000'000;
  std::mt19937_64 rng(42);
  std::vector<double> values(1 << 16);
  for (auto& v : values) {
    uint64_t b;
    do {
      b = rng();
      std::memcpy(&v, &b, 8);
    } while (v != v);
  }
  std::vector<std::string> texts;
  for (double v : values) texts.push_back(kel::dtoa::float_to_text(v, 0, true));
  size_t mask = values.size() - 1, sink = 0;

  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) sink += kel::dtoa::float_to_text(values[i & mask], 0, true).size();
  double kel_out = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  char buf[64];
  for (int i = 0; i < n; ++i) sink += size_t(std::to_chars(buf, buf + 64, values[i & mask]).ptr - buf);
  double raw_out = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  double acc = 0;
  for (int i = 0; i < n; ++i) {
    const std::string& t = texts[i & mask];
    acc += kel::dtoa::text_to_float(t.data(), t.data() + t.size(), 0, nullptr);
  }
  double kel_in = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    const std::string& t = texts[i & mask];
    double v;
    std::from_chars(t.data(), t.data() + t.size(), v);
    acc += v;
  }
  double raw_in = seconds_since(t0);

  std::printf("%d conversions each way\n", n);
  std::printf("float-to-text  %7.3f s   (raw to_chars   %7.3f s, x%.2f)\n", kel_out, raw_out, kel_out / raw_out);
  std::printf("text-to-float  %7.3f s   (raw from_chars %7.3f s, x%.2f)\n", kel_in, raw_in, kel_in / raw_in);
  std::printf("(checksum %zu %g)\n", sink, acc);
}
