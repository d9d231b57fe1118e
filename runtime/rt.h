// Process-level services: the tracked heap, the fatal reporter and the one exit path.
// Everything that ends the process goes through here.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::rt {

// Tracked process-heap blocks; failure is fatal 94.
void* alloc(size_t size);
void* alloc_zeroed(size_t size);
void* realloc(void* p, size_t size);
void free(void* p);
void free_all_tracked();
// Bytes and count of the blocks the tracked heap holds now (memory statistics).
size_t tracked_bytes(size_t* count);

// Message of a fatal code ("unknown error code!" for codes without one).
const char* fatal_message(uint32_t code);
// Writes the report for a non-zero code into buf (FATAL_REPORT_MAX bytes); returns its length.
constexpr size_t FATAL_REPORT_MAX = 160;
size_t format_fatal_report(uint32_t code, uintptr_t address, char* buf);

// Functions that put the terminal back into its normal mode (raw input off, screen restored).
// Run by every exit: exit_process, the fatal report, Ctrl-C and the terminal layer's
// SIGTERM, SIGHUP and SIGQUIT; they must be async-signal-safe. At most 8.
bool add_terminal_restore_hook(void (*hook)());
void remove_terminal_restore_hook(void (*hook)());
void run_terminal_restore_hooks();
// Marks that the process is ending from a signal handler (no heap calls from here on).
void enter_signal_context();

// Prints the runtime-error report (code 0: nothing) and ends the process with the code.
// Async-signal-safe.
[[noreturn]] void fatal_error(uint32_t code, uintptr_t address);
// Ends the process with the status (taken modulo 256 by the system), the terminal restored.
[[noreturn]] void exit_process(int status);

}  // namespace kel::rt
