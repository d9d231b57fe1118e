// The one non-local exit of the runtime: errors, break, continue, return, exit,
// throw and the internal codes all travel as an Unwind carrying a 32-bit code.
#pragma once
#include <cstdint>

namespace kel {

struct Unwind {
  uint32_t code;
};

// Low-level throw codes.
namespace unwind_code {
constexpr uint32_t ERROR = 0x7FFFFFFF;     // an error value is propagating
constexpr uint32_t BREAK = 0x7FFFFFFE;
constexpr uint32_t CONTINUE = 0x7FFFFFFD;
constexpr uint32_t RETURN = 0x7FFFFFFC;
constexpr uint32_t EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW = 0x7FFFFFFA;
constexpr uint32_t MEM_LOW = 0x7FFFFFF6;   // memory manager codes: 0x7FFFFFF6..0x7FFFFFF8
constexpr uint32_t VM_FREE_FAILED = 0x7FFFFFF6;
constexpr uint32_t VM_ALLOC_FAILED = 0x7FFFFFF7;
constexpr uint32_t MEM_HIGH = 0x7FFFFFF8;
}  // namespace unwind_code

#if defined(__SANITIZE_ADDRESS__)
namespace stack {
void unpoison_skipped_frames();  // runtime/stack.cpp
}
[[noreturn]] inline void throw_code(uint32_t code) {
  stack::unpoison_skipped_frames();
  throw Unwind{code};
}
// In a handler: the exit goes on. The clean-ups of the frames already unwound left zones in
// the free stack below, where the sanitizer's own rethrow path writes; not [[noreturn]] here,
// or the sanitizer's call would come in the caller, before this clearing.
inline void rethrow() {
  stack::unpoison_skipped_frames();
  throw;
}
#else
[[noreturn]] inline void throw_code(uint32_t code) { throw Unwind{code}; }
[[noreturn]] inline void rethrow() { throw; }
#endif

}  // namespace kel
