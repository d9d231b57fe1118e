// The command line every fuzz driver reads: how long it runs.
#pragma once
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

}  // namespace kel::fuzz
