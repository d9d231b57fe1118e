// Start-up: process preparation (signals, arguments), the evaluation thread with its large
// stack, floating-point mode and the top frame that turns escaped exceptions into fatal codes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::boot {
// Replaces the console's launch (probes and tools run their own code there).
using LaunchFn = void (*)();
// The whole run: process preparation, the evaluation thread, runtime initialisation, launch,
// exit. Never returns. A null launch runs the console's.
[[noreturn]] void start(int argc, char** argv, LaunchFn launch);
}  // namespace kel::boot

namespace kel::rt {

// Fault signals (SEGV, BUS, FPE, ILL) to the fatal reporter on the alternate stack, SIGPIPE
// ignored, SIGINT ends quietly with 130 after restoring the terminal; keeps argv.
void init_process(int argc, char** argv);
int arg_count();
char** arg_values();

// Fatal code for a fault signal, by its si_code; a SEGV inside the evaluation thread's guard
// region is a stack overflow (19).
uint32_t signal_fatal_code(int signo, int si_code, uintptr_t fault_address);

// Round to nearest, all exceptions masked, 53-bit x87 precision. Per thread.
void set_fp_mode();

// The evaluation thread's machine stack: [low, high) usable, [guard_low, guard_high) guard.
struct StackBounds {
  uintptr_t low, high, guard_low, guard_high;
};
StackBounds evaluation_stack();
// Machine stack position recorded just before runtime initialisation.
uintptr_t machine_stack_bottom();
void record_machine_stack_bottom();

constexpr size_t EVAL_STACK_SIZE = size_t(256) << 20;  // deep recursion hits the language limit first
constexpr size_t EVAL_GUARD_SIZE = size_t(1) << 20;

// Runs body(arg) on a fresh evaluation thread (large stack, alternate signal stack, FP mode)
// inside the top frame, and returns its result. The calling thread only waits.
int run_on_evaluation_thread(int (*body)(void*), void* arg);
// The top frame: Unwind -> fatal 95, std::bad_alloc -> 94, anything else -> 99.
int run_top_frame(int (*body)(void*), void* arg);

}  // namespace kel::rt
