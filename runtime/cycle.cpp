// Cycle guard: the one stack of series being walked by recursive walks (mold, form, copy,
// compare, bind, ownership), its placeholders for values met again, and its depth limit.
#include "runtime/cycle.h"

#include <cstring>

#include "runtime/error.h"
#include "runtime/gc.h"

namespace kel::cycle {

namespace {

Node g_entries[CAPACITY];
uint32_t g_top = 0;

// Appends ASCII bytes to a text series of unit 1, 2 or 4.
// TODO(string-api): replace with the string unit's append once it exists.
void append_ascii(Node out, const char* text, uint32_t len) {
  SeriesBuffer* b = memory::node_buffer(out);
  const uint32_t unit = memory::unit(b);
  const uint32_t need = len * unit;
  if (uint64_t(b->tail) + need > uint64_t(b->capacity)) {
    uint64_t want = uint64_t(memory::used_bytes(b)) + need;
    uint64_t doubled = uint64_t(b->capacity) * 2;
    if (doubled > want) want = doubled;
    want = (want + 15) & ~uint64_t(15);
    if (want > 0x7FFFFFF0) error::raise(err::internal::no_memory);
    b = memory::series_grow_copy_node(out, int32_t(want));
  }
  uint8_t* t = memory::tail(b);
  for (uint32_t i = 0; i < len; ++i) {
    uint32_t c = uint8_t(text[i]);
    if (unit == 1) t[i] = uint8_t(c);
    else if (unit == 2) {
      uint16_t u = uint16_t(c);
      std::memcpy(t + 2 * i, &u, 2);
    } else {
      std::memcpy(t + 4 * i, &c, 4);
    }
  }
  b->tail += need;
}

}  // namespace

void init() { g_top = 0; }

void enter_series(Node identity) {
  if (g_top + 1 >= CAPACITY) {
    clear();
    error::raise(err::internal::too_deep);
  }
  g_entries[g_top++] = identity;
}

void leave_series() {
  if (g_top > 0) --g_top;
}

void leave_many(uint32_t n) { g_top = n >= g_top ? 0 : g_top - n; }

void clear() { g_top = 0; }

bool visiting_q(Node identity) {
  for (uint32_t i = 0; i < g_top; ++i)
    if (g_entries[i] == identity) return true;
  return false;
}

uint32_t depth() { return g_top; }

Node identity_of(const Cell* value) {
  return cell::type(value) == T_OBJECT ? value->w1 : value->w2;
}

const char* placeholder(uint32_t type, bool mold) {
  if (!mold) return "...";
  switch (type) {
    case T_BLOCK:
    case T_HASH: return "[...]";
    case T_PAREN: return "(...)";
    case T_MAP: return "#[...]";
    case T_OBJECT: return "make object! [...]";
    default: return "...";  // the path family
  }
}

bool emit_placeholder(const Cell* value, Node out, int32_t& budget, bool mold) {
  if (!visiting_q(identity_of(value))) return false;
  const char* text = placeholder(cell::type(value), mold);
  uint32_t len = uint32_t(std::strlen(text));
  append_ascii(out, text, len);
  budget -= int32_t(len);
  return true;
}

void remap() {
  for (uint32_t i = 0; i < g_top; ++i) g_entries[i] = gc::remap(g_entries[i]);
}

Scope::Scope(Node identity) : saved(g_top) { enter_series(identity); }

Scope::~Scope() {
  if (g_top > saved) g_top = saved;
}

}  // namespace kel::cycle
