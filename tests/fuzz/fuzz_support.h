// What the fuzz drivers that run Kel code share: the input being tried, saved to a file (with
// the replay options) when the driver fails, a try frame around one step, and the timed loop
// with its closing line.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/rt.h"
#include "runtime/stack.h"
#include "runtime/unwind.h"
#include "tests/fuzz/fuzz_args.h"

namespace kel::fuzz {

constexpr uint64_t NEVER = UINT64_MAX;

struct Input {
  const char* label = "fuzz";          // named in the failure line
  const char* file = "fuzz-crash.bin";  // where a failing input is saved
  std::vector<uint8_t> bytes;
  // Where the timed loop is: what a fault is found under depends on when the collector stress
  // started (the inputs themselves come from a fixed seed), so both are told on a failure.
  bool looping = false;
  uint64_t index = 0;                // the input being tried, counted from 0
  uint64_t stress_from = NEVER;      // the input the stress started at
  uint64_t stress_at = NEVER;        // --stress-from N: start it there, not at half time
  uint64_t limit = NEVER;            // --inputs N: that many inputs, whatever the time
};

inline Input& input() {
  static Input in;
  return in;
}

// --stress-from and --inputs, which replay a failed run exactly.
inline void read_replay_args(int argc, char** argv) {
  input().stress_at = count_arg(argc, argv, "--stress-from", NEVER);
  input().limit = count_arg(argc, argv, "--inputs", NEVER);
}

// Saves the input and says how to run into it again (also from the fatal report's hook).
inline void save_input() {
  Input& in = input();
  if (in.looping) {
    char line[200];
    int n = in.stress_from == NEVER
                ? std::snprintf(line, sizeof line, "%s fuzz: input %llu, no collector stress (replay: --inputs %llu)\n",
                                in.label, static_cast<unsigned long long>(in.index),
                                static_cast<unsigned long long>(in.index + 1))
                : std::snprintf(line, sizeof line,
                                "%s fuzz: input %llu, collector stress from input %llu (replay: --stress-from %llu --inputs %llu)\n",
                                in.label, static_cast<unsigned long long>(in.index),
                                static_cast<unsigned long long>(in.stress_from),
                                static_cast<unsigned long long>(in.stress_from),
                                static_cast<unsigned long long>(in.index + 1));
    if (n > 0) {
      ssize_t w = ::write(2, line, std::min<size_t>(size_t(n), sizeof line - 1));
      (void)w;
    }
  }
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

// Fills the free memory the next buffers are carved from (up to 64 KB of it) with words that
// read, as cells, as a block of a node that does not exist: a buffer's cell that the code
// never wrote then stops the run with fatal 98 at once, where what earlier buffers left there
// would fail only now and then.
inline void poison_free_memory() {
  memory::SeriesArena* a = memory::state().arena_current;
  if (!a) return;
  size_t n = std::min<size_t>(size_t(a->end - a->bump), size_t(64) << 10) / 4;
  uint32_t* w = reinterpret_cast<uint32_t*>(a->bump);
  for (size_t i = 0; i < n; ++i) w[i] = 0x7FFFFF00u | T_BLOCK;
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
// 256 inputs; returns how many inputs ran. --inputs N runs N inputs instead, and
// --stress-from N starts the stress at input N instead of at half time.
template <class Step>
uint64_t run_for(double seconds, Step step) {
  Input& in = input();
  auto start = std::chrono::steady_clock::now();
  uint64_t runs = 0;
  if (gc::stress_period() != 0) in.stress_from = 0;
  in.looping = true;
  for (;;) {
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (in.limit != NEVER ? runs >= in.limit : elapsed >= seconds) break;
    if (in.stress_from == NEVER && (in.stress_at != NEVER ? runs >= in.stress_at : elapsed >= seconds / 2)) {
      gc::set_stress(50);
      in.stress_from = runs;
    }
    in.index = runs;
    step();
    if (++runs % 256 == 0) gc::collect();
  }
  in.looping = false;
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
