// Case mapping of codepoints: the two direct BMP tables, the above-BMP pair lists,
// one-codepoint mapping and the in-place case change of a char! or a string.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kel::case_ {

struct CasePair {
  int32_t key;
  int32_t value;
};

// Pair lists sorted by key (generated data).
extern const CasePair upper_bmp[];      // lower -> upper, keys up to 0xFFFF
extern const int32_t upper_bmp_count;
extern const CasePair lower_bmp[];      // upper -> lower, keys up to 0xFFFF
extern const int32_t lower_bmp_count;
extern const CasePair upper_astral[];   // lower -> upper, keys above 0xFFFF
extern const int32_t upper_astral_count;
extern const CasePair lower_astral[];   // upper -> lower, keys above 0xFFFF
extern const int32_t lower_astral_count;

constexpr int DIR_LOWER = 0;
constexpr int DIR_UPPER = 1;

// The two direct BMP tables, read-only data made from the BMP pairs when the program is
// built (0 = maps to itself).
struct DirectTable {
  int32_t to[65536];
};
extern const DirectTable upper_direct;
extern const DirectTable lower_direct;

// Codepoint mapped up (direction 1) or down (0); unmapped and invalid ones come back unchanged.
int32_t map_char(int32_t cp, int direction);
// map_char up, ASCII by arithmetic (the tables map ASCII only between a-z and A-Z): string
// comparison and hashing fold every character.
inline int32_t upper_char(int32_t cp) {
  if (uint32_t(cp) < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  return map_char(cp, DIR_UPPER);
}
// Changes a char! or the part of a string in place (uppercase: direction 1, lowercase: 0).
// part is the /part argument cell or nullptr when the refinement is absent.
void change_case(Cell* value, Cell* part, int direction);

}  // namespace kel::case_
