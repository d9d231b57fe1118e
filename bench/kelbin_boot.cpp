// Boot image decode: the embedded image decoded in boot mode n times (default 200) into
// fresh blocks, in a started runtime; prints its size and the time per decode.
// Run by hand: build/bench/bench-kelbin_boot [n]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "runtime/cell_api.h"
#include "runtime/evaluator/blk.h"
#include "runtime/gc.h"
#include "runtime/io/boot_image.h"
#include "runtime/io/kelbin.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/startup.h"

using namespace kel;

namespace {
int g_n = 200;

void run() {
  boot_image::Bytes img = boot_image::get();
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < g_n; ++i) {
    Cell* mark = stack::state().top;
    Cell* b = stack::reserve_cell();
    cell::set_none(b);
    blk::init(b, 4);
    kelbin::decode_boot_into(img.data, img.size, b->w2);
    stack::state().top = mark;
    if (i % 16 == 15) gc::collect();
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("boot image %zu bytes, %.1f us per decode (%d decodes)\n", img.size, s * 1e6 / g_n, g_n);
  std::fflush(stdout);
  rt::exit_process(0);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_n = std::atoi(argv[1]);
  char* args[] = {argv[0], nullptr};
  boot::start(1, args, &run);
}
