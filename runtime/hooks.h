// Output hooks: the printer lists that print and prin hand their formed text to, and the
// console string printer registered first.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::output {

// A string to print: its units (1, 2 or 4 bytes each), the index of the first unit to print
// and the tail (one past the last unit). Stands in for a string value until string cells exist.
struct TextView {
  const void* units;
  uint32_t unit_size;
  uint32_t index;
  uint32_t tail;
};

using ValueHook = void (*)(const TextView& text, int newline);
using BufferHook = void (*)(const char* text, size_t length, int flag);

// A list of hooks, run in registration order. Starts with room for 5; grows by 5.
template <typename Fn>
struct HookList {
  Fn* items;
  uint32_t count;
  uint32_t capacity;
};
extern HookList<ValueHook> value_hooks;
extern HookList<BufferHook> buffer_hooks;

// Makes both lists and registers print_string as the first value hook.
void init();
// Appends each non-null hook to its list.
void add_hooks(ValueHook value_hook, BufferHook buffer_hook);
// Removes the first entry equal to each non-null hook; a hook not in its list is ignored.
void remove_hooks(ValueHook value_hook, BufferHook buffer_hook);
void run_hooks(const TextView& text, int newline);
void run_buffer_hooks(const char* text, size_t length, int flag);

// The console printer: the text from its index to its tail, then a line end when asked.
void print_string(const TextView& text, int newline);

}  // namespace kel::output

namespace kel::tui {
// Take the terminal GUI's display off the terminal around a print, and back; nothing
// unless the GUI has set the console up (gui/terminal/event_loop.cpp).
void suspend_for_print();
void resume_after_print();
// One non-blocking pass of the terminal GUI's event loop (before and after `wait` sleeps).
void event_pass();
// The backend's rendering of a face into out (`to image!` of a face); the terminal
// renders none and leaves out as it is (gui/terminal/face_image.cpp).
void face_to_image(const Cell* face, Cell* out);
// Around one write to the console: suspend, then resume when the scope ends.
struct PrintScope {
  PrintScope() { suspend_for_print(); }
  ~PrintScope() { resume_after_print(); }
  PrintScope(const PrintScope&) = delete;
  PrintScope& operator=(const PrintScope&) = delete;
};
}  // namespace kel::tui
