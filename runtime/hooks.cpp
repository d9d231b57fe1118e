// Output hook lists (value hooks and buffer hooks) and the console string printer.
// The lists live on the tracked heap for the life of the process.
#include "runtime/hooks.h"

#include <cstring>

#include "runtime/output.h"
#include "runtime/rt.h"

namespace kel::output {

HookList<ValueHook> value_hooks{nullptr, 0, 0};
HookList<BufferHook> buffer_hooks{nullptr, 0, 0};

namespace {
constexpr uint32_t HOOK_STEP = 5;

template <typename Fn>
void list_init(HookList<Fn>& l) {
  l.items = static_cast<Fn*>(rt::alloc(HOOK_STEP * sizeof(Fn)));
  l.count = 0;
  l.capacity = HOOK_STEP;
}

template <typename Fn>
void list_add(HookList<Fn>& l, Fn f) {
  if (!l.items) list_init(l);
  if (l.count == l.capacity) {
    auto* grown = static_cast<Fn*>(rt::alloc((l.capacity + HOOK_STEP) * sizeof(Fn)));
    std::memcpy(grown, l.items, l.count * sizeof(Fn));
    rt::free(l.items);
    l.items = grown;
    l.capacity += HOOK_STEP;
  }
  l.items[l.count++] = f;
}

template <typename Fn>
void list_remove(HookList<Fn>& l, Fn f) {
  for (uint32_t i = 0; i < l.count; ++i) {
    if (l.items[i] == f) {
      std::memmove(l.items + i, l.items + i + 1, (l.count - i - 1) * sizeof(Fn));
      --l.count;
      return;
    }
  }
}
}  // namespace

void init() {
  list_init(value_hooks);
  list_init(buffer_hooks);
  list_add<ValueHook>(value_hooks, print_string);
}

void add_hooks(ValueHook v, BufferHook b) {
  if (v) list_add(value_hooks, v);
  if (b) list_add(buffer_hooks, b);
}

void remove_hooks(ValueHook v, BufferHook b) {
  if (v) list_remove(value_hooks, v);
  if (b) list_remove(buffer_hooks, b);
}

void run_hooks(const TextView& text, int newline) {
  for (uint32_t i = 0; i < value_hooks.count; ++i) value_hooks.items[i](text, newline);
}

void run_buffer_hooks(const char* text, size_t length, int flag) {
  for (uint32_t i = 0; i < buffer_hooks.count; ++i) buffer_hooks.items[i](text, length, flag);
}

void print_string(const TextView& text, int newline) {
  tui::suspend_for_print();
  uint32_t unit = text.unit_size;
  if (unit == 1 || unit == 2 || unit == 4) {
    // An index left beyond the tail by another value prints nothing.
    uint32_t index = text.index < text.tail ? text.index : text.tail;
    const auto* start = static_cast<const uint8_t*>(text.units) + size_t(index) * unit;
    platform::write_text(start, size_t(text.tail - index) * unit, int(unit), newline != 0);
  } else {
    platform::print_c_text("Error: unknown string encoding: ");
    platform::print_integer(int32_t(unit));
  }
  tui::resume_after_print();
}

}  // namespace kel::output
