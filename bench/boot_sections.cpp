// Start-up by section: the time each boot module takes (with the runtime's own steps around
// it), the whole start before the modules and the total, for one start of the program.
// Run by hand, a few times: build/bench/bench-boot_sections
#include <chrono>
#include <cstdio>

#include "boot_manifest.h"
#include "runtime/evaluator/launch.h"
#include "runtime/rt.h"
#include "runtime/startup.h"

using namespace kel;

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point g_begin, g_first, g_start[boot_manifest::module_count];
double g_us[boot_manifest::module_count];

double us(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

void observe(uint32_t module, bool after) {
  if (module >= boot_manifest::module_count) return;
  Clock::time_point now = Clock::now();
  if (!after) {
    if (module == 0) g_first = now;
    g_start[module] = now;
  } else {
    g_us[module] = us(g_start[module], now);
  }
}

void report() {
  Clock::time_point end = Clock::now();
  std::printf("%-24s %10s\n", "section", "us");
  std::printf("%-24s %10.0f\n", "runtime before modules", us(g_begin, g_first));
  double sum = 0;
  for (uint32_t i = 0; i < boot_manifest::module_count; ++i) {
    std::printf("%-24s %10.0f\n", boot_manifest::module_files[i], g_us[i]);
    sum += g_us[i];
  }
  std::printf("%-24s %10.0f\n", "all modules", sum);
  std::printf("%-24s %10.0f\n", "until launch", us(g_begin, end));
  std::fflush(stdout);
  rt::exit_process(0);
}
}  // namespace

int main(int argc, char** argv) {
  g_begin = Clock::now();
  launcher::module_observer = observe;
  boot::start(argc, argv, report);
}
