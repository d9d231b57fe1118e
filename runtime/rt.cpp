// Tracked heap, fatal reporter and process exit.
// The fatal path uses only async-signal-safe calls (it also runs from signal handlers).
#include "runtime/rt.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

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

void* alloc(size_t size) {
  auto* b = static_cast<BlockHead*>(std::malloc(sizeof(BlockHead) + size));
  if (!b) fatal_error(94, 0);
  b->size = size;
  link(b);
  return b + 1;
}

void* alloc_zeroed(size_t size) {
  void* p = alloc(size);
  std::memset(p, 0, size);
  return p;
}

void* realloc(void* p, size_t size) {
  if (!p) return alloc(size);
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

void free_all_tracked() {
  while (g_blocks) {
    BlockHead* b = g_blocks;
    g_blocks = b->next;
    std::free(b);
  }
}

namespace {
const char* fatal_message(uint32_t code) {
  switch (code) {
    case 13: return "integer divide by zero";
    case 94: return "not enough memory";
    case 95: return "no CATCH for THROW";
    default: return "unknown error code!";
  }
}
size_t put_text(char* out, const char* s) {
  size_t n = std::strlen(s);
  std::memcpy(out, s, n);
  return n;
}
}  // namespace

void fatal_error(uint32_t code, uintptr_t address) {
  if (code == 0) _exit(0);
  char buf[256];
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
  for (int i = 15; i >= 0; --i) buf[n++] = "0123456789ABCDEF"[(address >> (i * 4)) & 0xF];
  n += put_text(buf + n, "h\n");
  ssize_t r = write(1, buf, n);
  (void)r;
  _exit(int(code));
}

void exit_process(int status) {
  _exit(status);
}

}  // namespace kel::rt
