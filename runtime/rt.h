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

// Prints the runtime-error report (code 0: nothing) and ends the process with the code.
[[noreturn]] void fatal_error(uint32_t code, uintptr_t address);
// Ends the process with the status (taken modulo 256 by the system).
[[noreturn]] void exit_process(int status);

}  // namespace kel::rt
