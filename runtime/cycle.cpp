// Cycle guard: the one stack of series being walked by recursive walks (mold, form, copy,
// compare, bind, ownership), its placeholders for values met again, and its depth limit.
#include "runtime/cycle.h"

#include <cstring>

#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/gc.h"

namespace kel::cycle {

namespace detail {
Node g_entries[CAPACITY];
uint32_t g_top = 0;

void overflow() {
  clear();
  error::raise(err::internal::too_deep);
}
}  // namespace detail

using detail::g_entries;
using detail::g_top;

void init() { g_top = 0; }

void leave_series() {
  if (g_top > 0) --g_top;
}

void leave_many(uint32_t n) { g_top = n >= g_top ? 0 : g_top - n; }

void clear() { g_top = 0; }

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
  Cell text_cell{T_STRING, 0, out, 0};
  gc::Root keep(&text_cell);
  string::add_c_text(&text_cell, text);
  budget -= int32_t(len);
  return true;
}

void remap() {
  for (uint32_t i = 0; i < g_top; ++i) g_entries[i] = gc::remap(g_entries[i]);
}

}  // namespace kel::cycle
