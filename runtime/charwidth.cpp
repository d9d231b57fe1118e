// Terminal display width of one codepoint: control characters take one column,
// combining marks none, East Asian wide and fullwidth characters two.
#include "runtime/charwidth.h"

namespace kel::unicode {

int32_t in_ranges(int32_t cp, const int32_t* table, int32_t words) {
  int32_t n = words / 2;
  if (n <= 0 || cp < table[0] || cp > table[2 * n - 1]) return 0;
  // The ranges are sorted and disjoint: find the last one starting at or below cp.
  int32_t lo = 0, hi = n - 1;
  while (lo < hi) {
    int32_t mid = (lo + hi + 1) / 2;
    if (table[2 * mid] <= cp) lo = mid; else hi = mid - 1;
  }
  return cp <= table[2 * lo + 1] ? 1 : 0;
}

int32_t char_width(int32_t cp) {
  if (cp == 0) return 0;
  if ((cp >= 1 && cp <= 31) || (cp >= 127 && cp <= 159)) return 1;
  if (in_ranges(cp, zero_width_ranges, zero_width_ranges_words)) return 0;
  if (in_ranges(cp, wide_ranges, wide_ranges_words)) return 2;
  return 1;
}

}  // namespace kel::unicode
