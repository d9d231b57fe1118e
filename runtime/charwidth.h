// Terminal display width of one codepoint (0, 1 or 2 columns) for the line editor
// and the terminal backend, from the zero-width and wide range tables.
#pragma once
#include <cstdint>

namespace kel::unicode {

// Inclusive (first, last) pairs, sorted and disjoint; sizes in 32-bit words.
extern const int32_t zero_width_ranges[];
extern const int32_t zero_width_ranges_words;
extern const int32_t wide_ranges[];
extern const int32_t wide_ranges_words;

// 1 when cp lies in one of the ranges of the table, else 0.
int32_t in_ranges(int32_t cp, const int32_t* table, int32_t words);
// Columns taken by cp: 0 for NUL and combining marks, 2 for wide, 1 otherwise.
int32_t char_width(int32_t cp);

}  // namespace kel::unicode
