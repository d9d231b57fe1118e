// Tracked heap, fatal reporter and process exit.
// The fatal path uses only async-signal-safe calls (it also runs from signal handlers).
#include "runtime/rt.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/output.h"

namespace kel::rt {

// Minimal tracked heap: a doubly-linked list in front of each block.
namespace {
struct BlockHead {
  BlockHead* prev;
  BlockHead* next;
  size_t size;
  size_t pad;  // keep the user area 16-aligned
};
BlockHead* g_blocks = nullptr;

void link(BlockHead* b) {
  b->prev = nullptr;
  b->next = g_blocks;
  if (g_blocks) g_blocks->prev = b;
  g_blocks = b;
}
void unlink(BlockHead* b) {
  if (b->prev) b->prev->next = b->next; else g_blocks = b->next;
  if (b->next) b->next->prev = b->prev;
}
}  // namespace

// A size so large that adding the head wraps around can never be satisfied.
constexpr size_t MAX_BLOCK = SIZE_MAX - sizeof(BlockHead);

void* alloc(size_t size) {
  if (size > MAX_BLOCK) fatal_error(94, 0);
  auto* b = static_cast<BlockHead*>(std::malloc(sizeof(BlockHead) + size));
  if (!b) fatal_error(94, 0);
  b->size = size;
  link(b);
  return b + 1;
}

// calloc, not malloc and memset: a large block comes as fresh zero pages, never touched
// until used (the evaluation stacks are megabytes, mostly never reached).
void* alloc_zeroed(size_t size) {
  if (size > MAX_BLOCK) fatal_error(94, 0);
  auto* b = static_cast<BlockHead*>(std::calloc(1, sizeof(BlockHead) + size));
  if (!b) fatal_error(94, 0);
  b->size = size;
  link(b);
  return b + 1;
}

void* realloc(void* p, size_t size) {
  if (!p) return alloc(size);
  if (size > MAX_BLOCK) fatal_error(94, 0);
  BlockHead* b = static_cast<BlockHead*>(p) - 1;
  unlink(b);
  auto* nb = static_cast<BlockHead*>(std::realloc(b, sizeof(BlockHead) + size));
  if (!nb) {
    link(b);
    fatal_error(94, 0);
  }
  nb->size = size;
  link(nb);
  return nb + 1;
}

void free(void* p) {
  if (!p) return;
  BlockHead* b = static_cast<BlockHead*>(p) - 1;
  unlink(b);
  std::free(b);
}

size_t tracked_bytes(size_t* count) {
  size_t bytes = 0, n = 0;
  for (BlockHead* b = g_blocks; b; b = b->next) bytes += b->size, ++n;
  if (count) *count = n;
  return bytes;
}

void free_all_tracked() {
  while (g_blocks) {
    BlockHead* b = g_blocks;
    g_blocks = b->next;
    std::free(b);
  }
}

const char* fatal_message(uint32_t code) {
  switch (code) {
    case 1: return "access violation";
    case 2: return "invalid alignment";
    case 3: return "breakpoint";
    case 4: return "single step";
    case 5: return "bounds exceeded";
    case 6: return "float denormal operan";
    case 7: return "float divide by zero";
    case 8: return "float inexact result";
    case 9: return "float invalid operation";
    case 10: return "float overflow";
    case 11: return "float stack check";
    case 12: return "float underflow";
    case 13: return "integer divide by zero";
    case 14: return "integer overflow";
    case 15: return "privileged instruction";
    case 16: return "invalid virtual address";
    case 17: return "illegal instruction";
    case 18: return "non-continuable exception";
    case 19: return "stack error or overflow";
    case 20: return "invalid disposition";
    case 21: return "guard page";
    case 22: return "invalid handle";
    case 23: return "illegal operand";
    case 24: return "illegal addressing mode";
    case 25: return "illegal trap";
    case 26: return "coprocessor error";
    case 27: return "non-existent physical address";
    case 28: return "object specific hardware error";
    case 29: return "hardware memory error consumed AR";
    case 30: return "hardware memory error consumed AO";
    case 31: return "privileged register";
    case 32: return "segmentation fault";
    case 33: return "FPU error";
    case 34: return "Bus error";
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
  }
}

namespace {
size_t put_text(char* out, const char* s) {
  size_t n = std::strlen(s);
  std::memcpy(out, s, n);
  return n;
}

// Restore hooks: a fixed array, so running them needs no allocation (signal handlers do it).
constexpr int MAX_RESTORE_HOOKS = 8;
void (*volatile g_restore[MAX_RESTORE_HOOKS])() = {};
volatile sig_atomic_t g_in_signal = 0;
}  // namespace

bool add_terminal_restore_hook(void (*hook)()) {
  for (auto& h : g_restore)
    if (!h) {
      h = hook;
      return true;
    }
  return false;
}

void remove_terminal_restore_hook(void (*hook)()) {
  for (auto& h : g_restore)
    if (h == hook) h = nullptr;
}

void run_terminal_restore_hooks() {
  for (auto& h : g_restore) {
    auto f = h;
    if (f) f();
  }
}

void enter_signal_context() { g_in_signal = 1; }

size_t format_fatal_report(uint32_t code, uintptr_t address, char* buf) {
  size_t n = 0;
  n += put_text(buf + n, "\n*** Runtime Error ");
  char digits[12];
  int d = 0;
  uint32_t v = code;
  do { digits[d++] = char('0' + v % 10); v /= 10; } while (v);
  while (d) buf[n++] = digits[--d];
  n += put_text(buf + n, ": ");
  n += put_text(buf + n, fatal_message(code));
  n += put_text(buf + n, "\n*** at: ");
  // 16 digits: 8 cannot hold a 64-bit address.
  for (int i = 15; i >= 0; --i) buf[n++] = "0123456789ABCDEF"[(uint64_t(address) >> (i * 4)) & 0xF];
  n += put_text(buf + n, "h\n");
  return n;
}

void fatal_error(uint32_t code, uintptr_t address) {
  if (code != 0) {
    run_terminal_restore_hooks();
    char buf[FATAL_REPORT_MAX];
    platform::write_bytes(buf, format_fatal_report(code, address, buf));
  }
  // free() is not async-signal-safe; the system reclaims the heap anyway.
  if (!g_in_signal) free_all_tracked();
  _exit(int(code));
}

void exit_process(int status) {
  run_terminal_restore_hooks();
  _exit(status);
}

}  // namespace kel::rt
