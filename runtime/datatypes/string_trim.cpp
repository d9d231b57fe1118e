// string! trim (ends, lines, a character set) and swap of two head characters.
#include <algorithm>

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

bool unicode_space_q(int32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// Whitespace: the control characters and space, and the Unicode spaces (0 is not one).
bool white_q(int32_t c) { return (c >= 1 && c <= 32) || unicode_space_q(c); }
// Blanks inside a line: space, tab and the Unicode spaces (not line ends or other controls).
bool blank_q(int32_t c) { return c == ' ' || c == '\t' || unicode_space_q(c); }

std::vector<int32_t> trim_with(const std::vector<int32_t>& in, const Cell* with) {
  std::vector<int32_t> set = {'\t', '\n', '\r', ' '};
  if (with) {
    uint32_t t = cell::type(with);
    if (t == T_CHAR || t == T_INTEGER) set = {cell::get_int(with)};
    else if (any_string_q(t) || t == T_BINARY) set = read_chars(with, int32_t(with->w1), INT32_MAX);
    else error::raise(err::script::invalid_arg, with);
  }
  std::vector<int32_t> out;
  out.reserve(in.size());
  for (int32_t c : in)
    if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
  return out;
}

std::vector<int32_t> trim_lines(const std::vector<int32_t>& in) {
  std::vector<int32_t> out;
  out.reserve(in.size());
  int state = 0;  // 0 at the start, 1 after a kept character, 2 after a written space
  for (int32_t c : in) {
    if (white_q(c)) {
      if (state == 1) {
        out.push_back(' ');
        state = 2;
      }
    } else {
      out.push_back(c);
      state = 1;
    }
  }
  if (state == 2) out.pop_back();
  return out;
}

std::vector<int32_t> trim_ends(const std::vector<int32_t>& in, bool head, bool tail) {
  size_t from = 0, to = in.size();
  if (!(tail && !head))
    while (from < to && white_q(in[from])) ++from;
  bool dropped_line_end = false;
  if (!(head && !tail)) {
    while (to > from && white_q(in[to - 1])) {
      if (in[to - 1] == '\n') dropped_line_end = true;
      --to;
    }
  }
  if (head || tail) return std::vector<int32_t>(in.begin() + ptrdiff_t(from), in.begin() + ptrdiff_t(to));
  std::vector<int32_t> out;
  out.reserve(to - from);
  bool after_line_end = false;
  size_t kept = 0;  // out's size after the last character that is not a blank
  for (size_t i = from; i < to; ++i) {
    int32_t c = in[i];
    if (c == '\n') {
      out.resize(kept);  // blanks before the line end go
      out.push_back(c);
      kept = out.size();
      after_line_end = true;
    } else if (blank_q(c)) {
      if (!after_line_end) out.push_back(c);
    } else {
      out.push_back(c);
      kept = out.size();
      after_line_end = false;
    }
  }
  if (dropped_line_end) out.push_back('\n');
  return out;
}

}  // namespace

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
  if (auto_) error::raise(err::internal::not_done);
  int32_t n = 0, h = 0;
  std::vector<int32_t> out;
  auto trimmed = [&] {
    n = count_from_head(series);
    h = int32_t(series->w1);
    std::vector<int32_t> in = read_chars(series, h, n);
    if (all || with) out = trim_with(in, with);
    else if (lines) out = trim_lines(in);
    else out = trim_ends(in, head, tail);
  };
  trimmed();
  int32_t noticed_h = h, noticed_n = n;
  if (notify(series, "trim", nullptr, h, n)) trimmed();
  // Fewer characters of the same unit: written over in place.
  replace_chars(series, h, n, out, 1, 1);
  notify(series, "trimmed", nullptr, noticed_h, noticed_n);
  return series;
}

Cell* swap(Cell* series1, Cell* series2) {
  uint32_t t2 = cell::type(series2);
  if (!any_string_q(t2) && t2 != T_BINARY) error::raise(err::script::invalid_arg, series2);
  if (count_from_head(series1) == 0 || count_from_head(series2) == 0) return series1;
  int32_t h1 = int32_t(series1->w1), h2 = int32_t(series2->w1);
  bool handled = notify(series1, "swap", series2, h1, 1);
  handled = notify(series2, "swap", series1, h2, 1) || handled;
  if (handled) {
    // A handler may have shortened either series: a position gone swaps nothing.
    if (count_from_head(series1) == 0 || count_from_head(series2) == 0) return series1;
    h1 = int32_t(series1->w1);
    h2 = int32_t(series2->w1);
  }
  int32_t c1 = codepoint_at(series1, h1), c2 = codepoint_at(series2, h2);
  // Each store may widen its buffer, so each address is taken just before its store.
  SeriesBuffer* b1 = memory::node_buffer(series1->w2);
  store_codepoint(series1, memory::head(b1) + size_t(h1) * memory::unit(b1), c2);
  SeriesBuffer* b2 = memory::node_buffer(series2->w2);
  store_codepoint(series2, memory::head(b2) + size_t(h2) * memory::unit(b2), c1);
  notify(series1, "swaped", series2, h1, 1);
  notify(series2, "swaped", series1, h2, 1);
  return series1;
}

}  // namespace kel::string
