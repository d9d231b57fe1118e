// The search for a script's Kel header, shared by the console's start-up and `do-file`:
// the C++ search and the routine `find-script-header` over it.
#include "runtime/evaluator/script_header.h"

#include <cstdint>

#include "runtime/cell_api.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kel::script_header {
namespace {

// One search over any text that answers a character by position (bytes or codepoints:
// every character it looks for is ASCII). A candidate that fails does not end it.
template <typename At>
int64_t find_in(int64_t n, At at) {
  auto is = [&](int64_t i, char c) { return i < n && at(i) == int32_t(uint8_t(c)); };
  auto word_at = [&](int64_t i, const char* w) {
    for (; *w; ++w, ++i)
      if (!is(i, *w)) return false;
    return true;
  };
  for (int64_t i = 0; i + 3 <= n; ++i) {
    if (!word_at(i, "Kel")) continue;
    int64_t j = i + 3;
    if (word_at(j, "/System")) j += 7;
    while (is(j, ' ') || is(j, '\t') || is(j, '\r') || is(j, '\n')) ++j;
    if (is(j, '[')) return i;
  }
  return -1;
}

void find_script_header() {
  Cell* text = stack::state().base;
  int32_t head = int32_t(text->w1);
  int32_t n = string::count_from_head(text);
  int64_t at = find_in(n, [&](int64_t i) { return string::codepoint_at(text, head + int32_t(i)); });
  Cell r = *text;
  if (at < 0) r = Cell{T_NONE, 0, 0, 0};
  else r.w1 = uint32_t(head + at);
  stack::set_only_result(&r);
}

}  // namespace

size_t find(const std::string& text) {
  int64_t at = find_in(int64_t(text.size()), [&](int64_t i) { return int32_t(uint8_t(text[size_t(i)])); });
  return at < 0 ? std::string::npos : size_t(at);
}

void register_routines() {
  routine::register_routine({"find-script-header",
                             "\"Returns the text at its script's Kel header, or none\" "
                             "text [string!]",
                             find_script_header, int32_t(T_STRING)});
}

}  // namespace kel::script_header
