// Case mapping: direct tables for the BMP, a search of the pair lists above it,
// and uppercase/lowercase of a char! or a string in place.
#include "runtime/casemap.h"

#include <algorithm>

#include "runtime/cell_api.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/unicode.h"

namespace kel::case_ {

namespace {
int32_t map_astral(int32_t cp, const CasePair* pairs, int32_t n) {
  if (n == 0 || cp < pairs[0].key || cp > pairs[n - 1].key) return cp;
  const CasePair* end = pairs + n;
  const CasePair* p = std::lower_bound(pairs, end, cp,
                                       [](const CasePair& a, int32_t k) { return a.key < k; });
  return (p != end && p->key == cp) ? p->value : cp;
}

bool any_string_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
}  // namespace

int32_t map_char(int32_t cp, int direction) {
  if (cp >= 0 && cp <= 0xFFFF) {
    int32_t v = (direction ? upper_direct : lower_direct).to[cp];
    return v ? v : cp;
  }
  return direction ? map_astral(cp, upper_astral, upper_astral_count)
                   : map_astral(cp, lower_astral, lower_astral_count);
}

void change_case(Cell* value, Cell* part, int direction) {
  uint32_t t = cell::type(value);
  if (t == T_CHAR) {
    // char! keeps its codepoint where integer! keeps its value.
    value->w2 = uint32_t(map_char(int32_t(value->w2), direction));
    return;
  }
  if (!any_string_q(t)) return;

  SeriesBuffer* b = memory::node_buffer(value->w2);
  int32_t n = int32_t(memory::units(b));
  int32_t head = std::clamp(int32_t(value->w1), 0, n);
  value->w1 = uint32_t(head);
  int32_t count = n - head;
  if (part) {
    uint32_t pt = cell::type(part);
    if (pt == T_INTEGER) {
      count = cell::get_int(part);
    } else if (pt == t && part->w2 == value->w2) {
      count = int32_t(part->w1) - head;
    } else {
      // The refinement word is named once runtime words exist; the value says enough.
      error::raise(err::script::invalid_refine_arg, nullptr, part);
    }
    count = std::clamp(count, 0, n - head);  // a longer part stops at the tail
  }

  uint32_t u = memory::unit(b);
  for (int32_t i = head; i < head + count; ++i) {
    int32_t cp = unicode::load_unit(memory::head(b) + size_t(i) * u, u);
    int32_t mapped = map_char(cp, direction);
    if (mapped == cp) continue;
    uint32_t need = unicode::unit_for(mapped);
    if (need > u) {
      b = unicode::widen_to(b, need, 0);  // keeps the node; positions follow the new unit
      u = memory::unit(b);
    }
    unicode::store_unit(memory::head(b) + size_t(i) * u, u, mapped);
  }
  owner::notify_change(value, direction ? "uppercase" : "lowercase", nullptr, head, count);
}

}  // namespace kel::case_
