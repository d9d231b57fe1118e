// string! find, select and path steps: the search engine of every any-string (and of binary!
// and vector! series): single-character and text modes, forward and backward ranges.
#include <algorithm>
#include <array>
#include <cmath>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

// The folded form of each byte value, made once: the case tables never change.
const int32_t* byte_folds() {
  static const std::array<int32_t, 256> table = [] {
    std::array<int32_t, 256> t{};
    for (int32_t c = 0; c < 256; ++c) t[size_t(c)] = fold(c);
    return t;
  }();
  return table.data();
}

enum class Mode { CHAR, BITSET, TEXT, NUMBER };

struct Search {
  Mode mode = Mode::TEXT;
  std::vector<int32_t> pattern;  // folded when folding
  int32_t codepoint = 0;
  double number = 0;
  Cell bits{T_NONE, 0, 0, 0};
  bool fold = false;
};

struct Hit {
  int32_t start = -1;  // first character of the match, from the buffer start
  int32_t length = 0;  // characters matched
};

bool text_value_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_EMAIL || t == T_REF ||
         t == T_BINARY;
}

// The series element at index as a number (vector! elements, which may be floats).
double element_number(const Cell* s, int32_t index) {
  Cell out;
  series::read_element(s, index, &out);
  uint32_t t = cell::type(&out);
  if (t == T_FLOAT || t == T_PERCENT) return cell::get_double(&out);
  return double(cell::get_int(&out));
}

// A match of the pattern whose first character is at start, inside [low, high).
bool text_at(const Search& q, const uint8_t* h, uint32_t u, int32_t start, int32_t low,
             int32_t high) {
  int32_t len = int32_t(q.pattern.size());
  if (start < low || start + len > high) return false;
  for (int32_t k = 0; k < len; ++k) {
    int32_t c = unicode::load_unit(h + size_t(start + k) * u, u);
    if (q.fold) c = fold(c);
    if (c != q.pattern[size_t(k)]) return false;
  }
  return true;
}

// Runs the search over the series; the series' own cell is never changed. Raises the
// refinement errors. Answers no hit for an empty pattern.
Hit run(Cell* series, Cell* value, Cell* part, bool case_, bool same, bool any, Cell* with,
        Cell* skip, bool last, bool reverse, bool match) {
  Hit none;
  uint32_t st = cell::type(series);
  SeriesBuffer* b = memory::node_buffer(series->w2);
  int32_t n = int32_t(memory::units(b));
  int32_t h = std::clamp(int32_t(series->w1), 0, n);
  if (n == 0) return none;
  if (h >= n && !reverse) return none;
  if (any || (with && part_given(with))) error::raise(err::internal::not_done);
  int32_t step = 1;
  if (skip && part_given(skip)) {
    step = cell::type(skip) == T_INTEGER ? cell::get_int(skip) : int32_t(cell::get_double(skip));
    if (step < 1) error::raise(err::script::out_of_range, skip);
  }
  bool backward = last || reverse;
  int32_t available = reverse && !last ? h : n - h;
  int32_t count = available;
  if (part && part_given(part)) {
    if (cell::type(part) == T_INTEGER) {
      count = cell::get_int(part);
    } else if (cell::type(part) == st && part->w2 == series->w2) {
      count = int32_t(part->w1) - h;
    } else {
      block::util::bad_refine(block::util::REF_PART, part);
    }
    if (count < 1) return none;
    count = std::min(count, available);
  }
  int32_t low, high;  // the range searched, [low, high)
  if (reverse && !last) {
    if (h == 0 || match) return none;
    low = h - count;
    high = h;
  } else {
    low = h;
    high = h + count;
  }

  Search q;
  bool sized = st == T_BINARY || st == T_VECTOR;
  q.fold = !sized && !case_ && !same;
  Cell v = *value;
  gc::Root keep_v(&v);
  uint32_t vt = cell::type(&v);
  if (vt == T_CHAR) {
    q.mode = Mode::CHAR;
    q.codepoint = q.fold ? fold(cell::get_int(&v)) : cell::get_int(&v);
  } else if (vt == T_BITSET) {
    q.mode = Mode::BITSET;
    q.bits = v;
  } else if (text_value_q(vt)) {
    if (vt == T_BINARY && st != T_BINARY) error::raise(err::script::invalid_arg, &v);
    q.pattern = read_chars(&v, int32_t(v.w1), INT32_MAX);
  } else if (sized && (vt == T_INTEGER || vt == T_FLOAT)) {
    q.mode = Mode::NUMBER;
    q.number = vt == T_INTEGER ? double(cell::get_int(&v)) : cell::get_double(&v);
  } else {
    Cell* text = actions::form(&v, nullptr);
    q.pattern = read_chars(text, int32_t(text->w1), INT32_MAX);
    stack::drop_cells(1);
  }
  if (q.mode == Mode::TEXT) {
    if (q.pattern.empty()) return none;
    if (q.fold) for (int32_t& c : q.pattern) c = fold(c);
  }
  gc::Root keep_bits(&q.bits);

  // Nothing allocates from here on (vector! elements aside, read through the node).
  b = memory::node_buffer(series->w2);
  const uint8_t* base = memory::head(b);
  uint32_t u = memory::unit(b);
  int32_t len = q.mode == Mode::TEXT ? int32_t(q.pattern.size()) : 1;
  // Forward through 1-byte text: a table of the bytes that can start a match.
  if (u == 1 && step == 1 && !backward && !match &&
      (q.mode == Mode::TEXT || q.mode == Mode::CHAR)) {
    int32_t first = q.mode == Mode::TEXT ? q.pattern[0] : q.codepoint;
    bool starts[256];
    const int32_t* folds = byte_folds();
    for (int32_t c = 0; c < 256; ++c) starts[c] = (q.fold ? folds[c] : c) == first;
    for (int32_t at = low; at + len <= high; ++at) {
      if (!starts[base[at]]) continue;
      if (q.mode == Mode::CHAR || text_at(q, base, u, at, low, high)) return Hit{at, len};
    }
    return none;
  }
  int32_t delta = backward ? -step : step;
  // The walk counts in 64 bits: a record size near the integer limit steps past any series.
  for (int64_t at = backward ? high - 1 : low; at >= low && at < high; at += delta) {
    int32_t pos = int32_t(at);
    int32_t start = backward ? pos - len + 1 : pos;
    if (start < low) break;  // backward: fewer characters left than the pattern
    bool hit;
    switch (q.mode) {
      case Mode::CHAR: {
        int32_t c = unicode::load_unit(base + size_t(pos) * u, u);
        hit = (q.fold ? fold(c) : c) == q.codepoint;
        break;
      }
      case Mode::BITSET:
        hit = bitset::member_q(&q.bits, unicode::load_unit(base + size_t(pos) * u, u));
        break;
      case Mode::NUMBER:
        hit = st == T_VECTOR ? element_number(series, pos) == q.number
                             : double(base[pos]) == q.number;
        if (st == T_VECTOR) {
          b = memory::node_buffer(series->w2);
          base = memory::head(b);
        }
        break;
      default:
        hit = text_at(q, base, u, start, low, high);
        break;
    }
    if (hit) return Hit{start, len};
    if (match) break;
  }
  return none;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
  Hit hit = run(series, value, part, case_, same, any, with, skip, last, reverse, match);
  Cell* out = stack::push_copy(series);
  if (hit.start < 0) {
    *out = Cell{T_NONE, 0, 0, 0};
    return out;
  }
  out->w1 = uint32_t(tail ? hit.start + hit.length : hit.start);
  return out;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
  Hit hit = run(series, value, part, case_, same, any, with, skip, last, reverse, false);
  Cell* out = stack::push_copy(series);
  // The character after the whole match.
  int32_t after = hit.start + hit.length;
  if (hit.start < 0 || after >= count_from_start(out)) {
    *out = Cell{T_NONE, 0, 0, 0};
    return out;
  }
  Cell element;
  series::read_element(out, after, &element);
  *out = element;
  return out;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool case_, bool, bool) {
  uint32_t et = cell::type(element);
  if (et == T_INTEGER) {
    int32_t i = cell::get_int(element);
    if (!value) return series::pick(parent, i, element);
    return series::poke(parent, i, value, element);
  }
  if (et == T_WORD) error::raise(err::script::invalid_path, path, element);
  if (!value) return select(parent, element, nullptr, false, case_, false, false, nullptr, nullptr,
                            false, false);
  Hit hit = run(parent, element, nullptr, case_, false, false, nullptr, nullptr, false, false,
                false);
  if (hit.start < 0) {
    Cell none{T_NONE, 0, 0, 0};
    error::raise(err::script::bad_path_set, path ? path : &none, element);
  }
  // The character after the whole match is replaced.
  Cell* at = stack::push_copy(parent);
  at->w1 = uint32_t(hit.start + hit.length);
  Cell one{T_INTEGER, 0, 1, 0};
  return series::poke(at, 1, value, &one);
}

}  // namespace kel::string
