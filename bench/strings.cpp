// String API benchmark: appending millions of 1-byte characters, one widening of the whole
// buffer by a 2-byte character, and a search for a missing character; time and peak RSS.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "runtime/casemap.h"
#include "runtime/datatypes/string.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

using namespace kel;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

long peak_rss_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t n = argc > 1 ? std::atoi(argv[1]) : 5000000;
  memory::init();
  gc::init();
  extern_::init();
  gc::set_stress(0);
  Cell s;
  string::init_cell(&s, 0);
  gc::Root keep(&s);

  auto t = Clock::now();
  for (int32_t i = 0; i < n; ++i) string::add_codepoint(&s, 'a');
  double append = seconds_since(t);

  t = Clock::now();
  string::add_codepoint(&s, 0xE9);
  double widen = seconds_since(t);

  t = Clock::now();
  int32_t at = string::index_of_codepoint(&s, 'z');
  double find = seconds_since(t);

  std::printf("append %d: %.3f s\nwiden once: %.3f s (unit %u)\nfind missing: %.3f s (%d)\n"
              "peak RSS: %ld KB\n",
              n, append, widen, string::unit_of(&s), find, at, peak_rss_kb());
  return 0;
}
