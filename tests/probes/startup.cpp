// Probe: runs the real start-up sequence with a scenario in place of the console's launch, so
// the fatal paths (signals, escaped exceptions, exits) can be checked from outside.
#include <fenv.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "runtime/evaluator/launch.h"
#include "runtime/hooks.h"
#include "runtime/stack.h"
#include "runtime/output.h"
#include "runtime/rt.h"
#include "runtime/startup.h"
#include "runtime/unwind.h"

namespace {
std::string g_scenario;

void say(const char* s) { kel::platform::print_c_text(s); }

int idiv(int x, int y) {
  int q, r;
  asm volatile("cltd\n\tidivl %[d]" : "=a"(q), "=&d"(r) : "a"(x), [d] "r"(y));
  return q;
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"
int recurse(int n) {
  volatile char pad[256];
  pad[0] = char(n);
  return recurse(n + 1) + pad[0];
}

void restore_marker() {
  const char m[] = "restored\n";
  ssize_t r = write(2, m, sizeof m - 1);
  (void)r;
}

void launch() {
  const std::string& s = g_scenario;
  if (s == "idiv0") {
    volatile int zero = 0;
    idiv(7, zero);
  } else if (s == "null-store") {
    int* volatile p = nullptr;
    asm volatile("movl $1, (%0)" : : "r"(p) : "memory");  // a real store, whatever the optimiser knows
  } else if (s == "recursion") {
    recurse(0);
  } else if (s == "ud2") {
    asm volatile("ud2");
  } else if (s == "bus") {
    // A mapped page past the end of its file: touching it is SIGBUS (BUS_ADRERR).
    char path[] = "/tmp/kel-bus-XXXXXX";
    int fd = mkstemp(path);
    unlink(path);
    if (fd < 0 || ftruncate(fd, 0) != 0) return;
    void* m = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED) return;
    *static_cast<volatile char*>(m) = 1;
  } else if (s == "throw") {
    kel::throw_code(0x7FFFFFFA);
  } else if (s == "bad-alloc") {
    throw std::bad_alloc();
  } else if (s == "other") {
    throw 42;
  } else if (s == "fatal6") {
    kel::rt::fatal_error(6, 0x1234);
  } else if (s == "fatal97") {
    kel::rt::fatal_error(97, 0x1234);
  } else if (s == "fatal0") {
    kel::rt::fatal_error(0, 0x1234);
  } else if (s == "restore-on-fatal") {
    kel::rt::add_terminal_restore_hook(restore_marker);
    kel::rt::fatal_error(98, 0);
  } else if (s == "quit3") {
    kel::rt::exit_process(3);
  } else if (s == "uncaught-error") {
    kel::rt::exit_process(-2);
  } else if (s == "fpmode") {
    volatile double zero = 0.0;
    double inf = 1.0 / zero;
    uint32_t csr;
    uint16_t cw;
    asm volatile("stmxcsr %0" : "=m"(csr));
    asm volatile("fnstcw %0" : "=m"(cw));
    say(fegetround() == FE_TONEAREST ? "nearest " : "not-nearest ");
    say(std::isinf(inf) && inf > 0 ? "inf " : "not-inf ");
    kel::platform::print_hex(csr & 0xFFC0);  // control bits only; the low 6 are sticky flags
    say(" ");
    kel::platform::print_hex(cw);
  } else if (s == "sigint") {
    kel::rt::add_terminal_restore_hook(restore_marker);
    kill(getpid(), SIGINT);
    for (;;) pause();
  } else if (s == "print-escape") {
    static const char text[] = "\x1b[31mX\x1b[0m";
    kel::output::run_hooks({text, 1, 0, uint32_t(sizeof text - 1)}, 1);
  } else if (s == "console-flag") {
    say(kel::platform::console_flag() ? "console 1\n" : "console 0\n");
  } else if (s == "flood") {
    static char line[100];
    std::memset(line, 'x', sizeof line);
    for (int i = 0; i < 100000; ++i) kel::output::run_hooks({line, 1, 0, sizeof line}, 1);
  } else if (s == "console-library" || s == "console-library-error") {
    // The console library's entry, once it has a value, is what launch calls.
    std::string text = s == "console-library"
                           ? "cli-console-ctx: make object! [launch: does [print \"launched\"]]"
                           : "cli-console-ctx: make object! [launch: does [1 / 0]]";
    kel::Cell* block = kel::stack::reserve_cell();
    *block = kel::Cell{kel::T_NONE, 0, 0, 0};
    kel::Cell* result = kel::stack::reserve_cell();
    *result = kel::Cell{kel::T_NONE, 0, 0, 0};
    kel::launcher::load_text(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), block);
    bool is_error = false;
    kel::launcher::run_protected(block, result, &is_error);
    kel::console::launch();
  } else if (s == "args") {
    for (int i = 0; i < kel::rt::arg_count(); ++i) {
      say(kel::rt::arg_values()[i]);
      say("\n");
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_scenario = argv[1];
  kel::boot::start(argc, argv, launch);
}
