// Bench: the cost of one non-local exit (break out of a loop frame through a few native
// frames), against a plain frame push and pop.
#include <chrono>
#include <cstdio>

#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kel;

int main() {
  memory::init();
  gc::init();
  stack::init(1, 2, 3);
  Cell w{T_WORD, 0, 10, 0xFFFFFFFF};
  Cell v{T_INTEGER, 1, 0, 0};
  constexpr int N = 200000;
  using clock = std::chrono::steady_clock;

  auto t0 = clock::now();
  for (int i = 0; i < N; ++i) {
    stack::push_native_frame(&w);
    stack::push_copy(&v);
    stack::pop_frame();
    stack::drop_cells(1);
  }
  auto t1 = clock::now();
  stack::push_loop_frame(&w);
  for (int i = 0; i < N; ++i) {
    uint32_t code = stack::land(unwind_code::BREAK, [&] {
      stack::push_native_frame(&w);
      stack::push_native_frame(&w);
      stack::push_native_frame(&w);
      stack::push_copy(&v);
      stack::exit_loop(true, false);
    });
    if (code != unwind_code::BREAK) return 1;
    stack::take_pending_code();
  }
  auto t2 = clock::now();
  double push_ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / N;
  double exit_ns = std::chrono::duration<double, std::nano>(t2 - t1).count() / N;
  std::printf("frame push+pop: %.1f ns\nbreak through 3 frames: %.1f ns\n", push_ns, exit_ns);
  return 0;
}
