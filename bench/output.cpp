// Console output speed: 10^6 lines through the output hooks to redirected standard output.
// Run by hand: build/bench/bench-output > /dev/null   (timings go to standard error)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/hooks.h"
#include "runtime/output.h"

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
  kel::output::init();
  kel::platform::init_console_output();
  static const char line[] = "The quick brown fox jumps over the lazy dog 0123456789";
  static const char16_t wide[] = u"Gr\u00fc\u00dfe aus K\u00f6ln \u20ac 0123456789 0123456789";
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) kel::output::run_hooks({line, 1, 0, uint32_t(sizeof line - 1)}, 1);
  double latin1 = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i)
    kel::output::run_hooks({wide, 2, 0, uint32_t(sizeof wide / 2 - 1)}, 1);
  double ucs2 = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::fprintf(stderr, "%d Latin-1 lines %.3f s, %d UCS-2 lines %.3f s\n", n, latin1, n, ucs2);
}
