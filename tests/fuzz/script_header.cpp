// Fuzz driver for the script header search: random texts built from the header's own pieces
// (near misses such as "Kelvin", "kel", "Kel/Sys", stray blanks) must give the first
// position std::regex finds for "Kel", optional "/System", blanks and "[", never read past
// the text. Runs for --seconds N (default 2), or as a libFuzzer target with -fsanitize=fuzzer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>

#include "runtime/evaluator/script_header.h"
#include "tests/fuzz/fuzz_args.h"

namespace {

const std::regex& header_pattern() {
  static const std::regex re("Kel(/System)?[ \\t\\r\\n]*\\[");
  return re;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so a read past the end shows under the sanitizers.
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t got = kel::script_header::find(text);
  std::smatch m;
  size_t want = std::regex_search(text, m, header_pattern()) ? size_t(m.position(0))
                                                              : std::string::npos;
  if (got != want) {
    std::fprintf(stderr, "script-header fuzz: got %zu, want %zu (%zu bytes)\n", got, want, size);
    std::abort();
  }
  return 0;
}

#ifndef KEL_LIBFUZZER
int main(int argc, char** argv) {
  double seconds = kel::fuzz::seconds_arg(argc, argv);
  std::mt19937 rng(20261210);
  const char* pieces[] = {"Kel", "kel", "KEL", "Ke", "Kelvin", "/System", "/Sys", "/system",
                          " ", "\t", "\r", "\n", "[", "]", "x", "\xC3\xA9", "Kel/System"};
  auto start = std::chrono::steady_clock::now();
  std::string input;
  long runs = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    size_t n = rng() % 40;
    input.clear();
    for (size_t i = 0; i < n; ++i) {
      if (rng() % 10) input += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      else input.push_back(char(rng() % 256));
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    ++runs;
  }
  std::printf("script-header fuzz: %ld runs\n", runs);
  return 0;
}
#endif
