// Lexer speed: MB/s for load and for scan-only over a generated Kel source (see
// gen_lexer_input.py). Run by hand: build/bench/bench-lexer [file] [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/context.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

using namespace kel;

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "/tmp/kel-lexer-bench.kel";
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "no input %s: run bench/gen_lexer_input.py first\n", path);
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  memory::init();
  gc::init();
  context::make_global();
  symbol::create_hash();
  lexer::init();
  gc::set_automatic(std::getenv("KEL_BENCH_NO_GC") == nullptr);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
  double mb = double(text.size()) / 1e6;
  for (int mode = 0; mode < 2; ++mode) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
      Cell result{T_NONE, 0, 0, 0};
      gc::Root keep(&result);
      auto t0 = std::chrono::steady_clock::now();
      int32_t type = lexer_scan(&result, bytes, int32_t(text.size()), false, true, mode == 0,
                                false, nullptr, nullptr, nullptr, nullptr);
      double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (type < 0) return 1;
      if (dt < best) best = dt;
    }
    std::printf("%s: %.1f MB in %.3f s, %.1f MB/s\n", mode == 0 ? "load" : "scan-only", mb,
                best, mb / best);
  }
  return 0;
}
