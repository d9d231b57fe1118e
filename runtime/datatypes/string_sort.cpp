// string! sort (characters or fixed-size records, by character, by offset or by a function)
// and the set-operation engine of unique/union/intersect/exclude/difference on text.
#include <algorithm>
#include <unordered_set>

#include "runtime/compiled_support.h"
#include "runtime/datatypes/block_compare.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/error.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

using block::util::bad_refine;
using block::util::REF_COMPARE;
using block::util::REF_PART;
using block::util::REF_SKIP;

// Comparator flag word: bit 0 reverse, bit 1 whole records; above, the record size (whole
// records) or the offset of the one character compared.
constexpr uintptr_t REVERSE = 1, WHOLE = 2, SHIFT = 2;

// Records of codepoints (4-byte units in a copy outside the collected heap). Letters fold
// unless exact, in every unit alike, so equal texts order as `<` orders them.
int32_t compare_chars(const void* a, const void* b, uintptr_t exact, uintptr_t flags) {
  const int32_t* x = static_cast<const int32_t*>(a);
  const int32_t* y = static_cast<const int32_t*>(b);
  uint32_t v = uint32_t(flags >> SHIFT);
  uint32_t from = flags & WHOLE ? 0 : v, to = flags & WHOLE ? v : v + 1;
  int32_t r = 0;
  for (uint32_t i = from; i < to && r == 0; ++i) {
    int32_t cx = x[i], cy = y[i];
    if (!exact) {
      cx = fold(cx);
      cy = fold(cy);
    }
    r = cx < cy ? -1 : cx > cy ? 1 : 0;
  }
  return flags & REVERSE ? -r : r;
}

// The function comparator: ctx1 the function's stack cell; the flags as above with the
// record size when whole records go to the function as strings.
int32_t compare_by_function(const void* a, const void* b, uintptr_t fn, uintptr_t flags) {
  const int32_t* x = static_cast<const int32_t*>(a);
  const int32_t* y = static_cast<const int32_t*>(b);
  Cell* top = stack::state().top;
  Cell* cells = stack::reserve_cell();
  stack::reserve_cell();
  cells[0] = cells[1] = Cell{T_NONE, 0, 0, 0};
  if (flags & WHOLE) {
    int32_t size = int32_t(flags >> SHIFT);
    const int32_t* from[2] = {x, y};
    for (int k = 0; k < 2; ++k) {
      init_cell(cells + k, size);
      std::vector<int32_t> cps(from[k], from[k] + size);
      uint32_t u = 1;
      for (int32_t c : cps) u = std::max(u, char_unit(c));
      replace_chars(cells + k, 0, 0, cps, 1, u);
    }
  } else {
    cells[0] = Cell{T_CHAR, 0, uint32_t(x[0]), 0};
    cells[1] = Cell{T_CHAR, 0, uint32_t(y[0]), 0};
  }
  // Called with (y, x), or (x, y) under /reverse.
  bool reverse = flags & REVERSE;
  Cell r = block::call_comparator(reverse ? cells : cells + 1, reverse ? cells + 1 : cells,
                                  reinterpret_cast<const Cell*>(fn));
  stack::state().top = top;
  return block::order_from_result(&r);
}

double number_of(const Cell* c) {
  uint32_t t = cell::type(c);
  return t == T_FLOAT || t == T_PERCENT ? cell::get_double(c) : double(cell::get_int(c));
}

// vector! elements as cells: 1 when x is greater, -1 when smaller, 0 when equal or unordered.
int32_t compare_elements(const void* a, const void* b, uintptr_t, uintptr_t flags) {
  const Cell* x = static_cast<const Cell*>(a);
  const Cell* y = static_cast<const Cell*>(b);
  uint32_t v = uint32_t(flags >> SHIFT);
  uint32_t from = flags & WHOLE ? 0 : v, to = flags & WHOLE ? v : v + 1;
  int32_t r = 0;
  for (uint32_t i = from; i < to && r == 0; ++i) {
    double dx = number_of(x + i), dy = number_of(y + i);
    r = dx > dy ? 1 : dx < dy ? -1 : 0;
  }
  return flags & REVERSE ? -r : r;
}

int32_t compare_elements_by_function(const void* a, const void* b, uintptr_t fn, uintptr_t flags) {
  bool reverse = flags & REVERSE;
  const Cell* x = static_cast<const Cell*>(a);
  const Cell* y = static_cast<const Cell*>(b);
  Cell r = block::call_comparator(reverse ? x : y, reverse ? y : x,
                                  reinterpret_cast<const Cell*>(fn));
  return block::order_from_result(&r);
}

// vector! records: the elements read out as cells, sorted, and stored back by element.
void sort_elements(Cell* series, int32_t h, int32_t count, uint32_t records, int32_t size,
                   Cell* comparator, bool by_function, uintptr_t flags, bool stable) {
  std::vector<Cell> recs(static_cast<size_t>(count), Cell{T_NONE, 0, 0, 0});
  for (int32_t i = 0; i < count; ++i) series::read_element(series, h + i, &recs[size_t(i)]);
  uint32_t w = uint32_t(size) * uint32_t(sizeof(Cell));
  sort::Comparator cmp = by_function ? compare_elements_by_function : compare_elements;
  uintptr_t ctx = reinterpret_cast<uintptr_t>(comparator);
  // Numbers hold no nodes: the copy needs no root while a function comparator runs.
  if (stable) sort::merge_sort(recs.data(), records, w, ctx, flags, cmp);
  else sort::quick_sort(recs.data(), records, w, ctx, flags, cmp);
  int32_t n = count_from_start(series);
  for (int32_t i = 0; i < count && h + i < n; ++i)
    series::write_element(series, h + i, &recs[size_t(i)]);
}

}  // namespace

namespace {

// Sorts the records. Once the "sort" notice is sent (noticed), a handler that ran may have
// changed the series, so everything is measured again.
Cell* sort_records(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
                   bool reverse, bool stable, bool noticed) {
  uint32_t given = series->w1;
  uint32_t st = cell::type(series);
  int32_t count = count_from_head(series);
  int32_t h = int32_t(series->w1);
  if (part) {
    int32_t p;
    if (cell::type(part) == T_INTEGER || cell::type(part) == T_FLOAT) p = runtime::get_integer_arg(part);
    else if (cell::type(part) == st && part->w2 == series->w2) p = int32_t(part->w1) - h;
    else bad_refine(REF_PART, part);
    if (p < 0) {
      // That many characters before the head.
      int32_t back = std::max(h + p, 0);
      count = h - back;
      h = back;
      series->w1 = uint32_t(h);
    } else if (p < count) {
      count = p;
    }
  }
  if (count == 0) return series;
  int32_t size = 1;
  if (skip) {
    size = runtime::get_integer_arg(skip);
    if (size < 1 || size > count || count % size != 0) bad_refine(REF_SKIP, skip);
  } else if (all) {
    error::raise(err::script::bad_refines);
  }
  uint32_t records = uint32_t(count / size);
  uintptr_t flags = reverse ? REVERSE : 0;
  bool by_function = false;
  if (comparator) {
    uint32_t ct = cell::type(comparator);
    if (ct == T_FUNCTION) {
      by_function = true;
      if (all && skip) flags |= WHOLE | (uintptr_t(size) << SHIFT);
    } else if (ct == T_INTEGER) {
      if (!skip || all) error::raise(err::script::bad_refines);
      int32_t n = cell::get_int(comparator);
      if (n < 1 || n > size) error::raise(err::script::out_of_range, comparator);
      flags |= uintptr_t(n - 1) << SHIFT;
    } else {
      bad_refine(REF_COMPARE, comparator);
    }
  } else if (all && skip) {
    flags |= WHOLE | (uintptr_t(size) << SHIFT);
  }
  bool exact = case_ || st == T_VECTOR || st == T_BINARY;

  if (!noticed && notify(series, "sort", nullptr, h, 0)) {
    series->w1 = given;
    return sort_records(series, case_, skip, comparator, part, all, reverse, stable, true);
  }
  if (st == T_VECTOR) {
    // Function comparators get whole records only as strings; vectors pass the first element.
    if (by_function) flags &= ~(WHOLE | (~uintptr_t(0) << SHIFT));
    sort_elements(series, h, count, records, size, comparator, by_function, flags, stable);
    notify(series, "sorted", nullptr, h, 0);
    return series;
  }
  // The records are sorted in a copy outside the collected heap (a function comparator runs
  // Kel code, which may move the buffer), then written back through the node.
  std::vector<int32_t> recs = read_chars(series, h, count);
  uint32_t w = uint32_t(size) * 4u;
  sort::Comparator cmp = by_function ? compare_by_function : compare_chars;
  uintptr_t ctx = by_function ? reinterpret_cast<uintptr_t>(comparator) : uintptr_t(exact);
  if (stable) sort::merge_sort(recs.data(), records, w, ctx, flags, cmp);
  else sort::quick_sort(recs.data(), records, w, ctx, flags, cmp);
  // Same characters, same unit: stored in place, never past the current tail.
  SeriesBuffer* b = memory::node_buffer(series->w2);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  uint8_t* base = memory::head(b);
  for (int32_t i = 0; i < count && h + i < n; ++i)
    unicode::store_unit(base + size_t(h + i) * u, u, recs[size_t(i)]);
  notify(series, "sorted", nullptr, h, 0);
  return series;
}

}  // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
  return sort_records(series, case_, skip, comparator, part, all, reverse, stable, false);
}

namespace {

// A set of (folded) codepoints: a bitmap over the BMP, a hash set above it.
struct CharSet {
  std::vector<uint8_t> bits = std::vector<uint8_t>(0x10000 / 8, 0);
  std::unordered_set<int32_t> wide;
  bool has(int32_t c) const {
    if (c >= 0 && c < 0x10000) return bits[size_t(c) >> 3] & (1u << (c & 7));
    return wide.count(c) != 0;
  }
  void add(int32_t c) {
    if (c >= 0 && c < 0x10000) bits[size_t(c) >> 3] |= uint8_t(1u << (c & 7));
    else wide.insert(c);
  }
};

}  // namespace

Cell* set_operation(bool case_, Cell* skip, int32_t op) {
  Cell* base = stack::state().base;
  int32_t size = 1;
  if (skip) {
    size = runtime::get_integer_arg(skip);
    if (size < 1) bad_refine(REF_SKIP, skip);
  }
  using namespace block::set_op;
  std::vector<int32_t> first = read_chars(base, int32_t(base->w1), INT32_MAX);
  std::vector<int32_t> second;
  if (op != UNIQUE) second = read_chars(base + 1, int32_t(base[1].w1), INT32_MAX);
  auto key = [case_](int32_t c) { return case_ ? c : fold(c); };
  // Record starts of each set, as the stepped search over it would see them.
  auto starts = [&](const std::vector<int32_t>& s) {
    CharSet set;
    for (size_t i = 0; i < s.size(); i += size_t(size)) set.add(key(s[i]));
    return set;
  };
  CharSet in_first, in_second;
  bool needs_other = op == INTERSECT || op == EXCLUDE || op == DIFFERENCE;
  if (needs_other) in_second = starts(second);
  if (op == DIFFERENCE) in_first = starts(first);
  std::vector<int32_t> out;
  out.reserve(first.size() + (op == UNION ? second.size() : 0));
  CharSet kept;
  auto pass = [&](const std::vector<int32_t>& s, const CharSet* other) {
    for (size_t i = 0; i < s.size(); i += size_t(size)) {
      int32_t k = key(s[i]);
      if (other) {
        bool in = other->has(k);
        if (op == INTERSECT ? !in : in) continue;
      }
      if (kept.has(k)) continue;
      kept.add(k);
      // The record's other characters, never past the tail.
      size_t end = std::min(s.size(), i + size_t(size));
      out.insert(out.end(), s.begin() + ptrdiff_t(i), s.begin() + ptrdiff_t(end));
    }
  };
  pass(first, needs_other ? &in_second : nullptr);
  if (op == UNION) pass(second, nullptr);
  if (op == DIFFERENCE) pass(second, &in_first);
  uint32_t u = 1;
  for (int32_t c : out) u = std::max(u, char_unit(c));
  uint32_t type = cell::type(base);
  Cell* r = stack::reserve_cell();
  *r = Cell{T_NONE, 0, 0, 0};
  init_cell(r, int32_t(std::max<size_t>(out.size(), 1)));
  replace_chars(r, 0, 0, out, 1, u);
  base = stack::state().base;
  *base = *r;
  cell::set_type(base, type);
  base->w1 = 0;
  stack::drop_cells(1);
  return base;
}

}  // namespace kel::string
