// The command line every fuzz driver reads: how long it runs, and (drivers that run Kel code)
// where the collector stress starts and how many inputs run, to replay a failed run exactly.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kel::fuzz {

// The seconds a driver runs: --seconds N, else 2.
inline double seconds_arg(int argc, char** argv) {
  double seconds = 2;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  return seconds;
}

// A count given as --NAME N, else fallback.
inline uint64_t count_arg(int argc, char** argv, const char* name, uint64_t fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::strtoull(argv[i + 1], nullptr, 10);
  return fallback;
}

}  // namespace kel::fuzz
