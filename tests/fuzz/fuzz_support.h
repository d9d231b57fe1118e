// What the fuzz drivers that run Kel code share: the input being tried, saved to a file when
// the driver fails, a try frame around one step, and the timed loop with its closing line.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_args.h"

namespace kel::fuzz {

struct Input {
  const char* label = "fuzz";          // named in the failure line
  const char* file = "fuzz-crash.bin";  // where a failing input is saved
  std::vector<uint8_t> bytes;
};

inline Input& input() {
  static Input in;
  return in;
}

inline void save_input() {
  Input& in = input();
  int fd = ::open(in.file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  ssize_t w = ::write(fd, in.bytes.data(), in.bytes.size());
  (void)w;
  ::close(fd);
}

[[noreturn]] inline void fail(const char* what) {
  save_input();
  Input& in = input();
  std::fprintf(stderr, "%s fuzz: %s (%zu bytes, saved to %s)\n", in.label, what,
               in.bytes.size(), in.file);
  std::fflush(stderr);
  std::_Exit(3);
}

// Runs fn under a try frame; false when it raised. The stack tops are put back either way.
template <class F>
bool guarded(F fn) {
  Cell* base = stack::state().base;
  Cell* top = stack::state().top;
  stack::push_try_frame(&interp::words.body);
  uint32_t code = stack::land(unwind_code::ERROR, fn);
  if (code) {
    stack::take_pending_code();
    if (code == unwind_code::ERROR) stack::take_caught_error();
  } else {
    stack::pop_frame();
  }
  stack::state().base = base;
  stack::state().top = top;
  return code == 0;
}

// Runs step until the time is up, the second half under the collector stress (what a step
// leaves behind must survive moved buffers and renamed nodes), with a full collection every
// 256 inputs; returns how many inputs ran.
template <class Step>
uint64_t run_for(double seconds, Step step) {
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0;
  bool stressed = gc::stress_period() != 0;
  for (;;) {
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed >= seconds) break;
    if (!stressed && elapsed >= seconds / 2) {
      gc::set_stress(50);
      stressed = true;
    }
    step();
    if (++runs % 256 == 0) gc::collect();
  }
  return runs;
}

// The closing line ("<label> fuzz: N inputs (M <done>), no fault"), then the process ends.
[[noreturn]] inline void finish(uint64_t runs, uint64_t done, const char* done_name) {
  rt::remove_terminal_restore_hook(&save_input);
  std::printf("%s fuzz: %llu inputs (%llu %s), no fault\n", input().label,
              static_cast<unsigned long long>(runs), static_cast<unsigned long long>(done),
              done_name);
  std::fflush(stdout);
  rt::exit_process(0);
}

}  // namespace kel::fuzz
