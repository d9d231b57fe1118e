// What the fuzz drivers that run Kel code share: the input being tried, saved to a file when
// the driver fails, and a try frame around one step.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/evaluator/interp.h"
#include "runtime/stack.h"
#include "runtime/unwind.h"

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

}  // namespace kel::fuzz
