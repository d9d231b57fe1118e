// block! comparison (the compare slot and the element walk shared by every block-like
// type), sort with its comparators, and the engine of the set-operation natives.
#include "runtime/datatypes/block_compare.h"

#include <cmath>
#include <optional>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/context.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interp.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/rt.h"
#include "runtime/runtime_words.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kel::block {

using namespace util;

namespace {

bool word_family_q(uint32_t t) { return t >= T_WORD && t <= T_ISSUE; }
bool number_q(uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }
bool equality_op_q(int32_t op) {
  return op == 0 || op == 1 || op == 2 || op == 10 || op == 11 || op == 12;
}

int32_t record_comparator(const void* a, const void* b, uintptr_t op, uintptr_t flags) {
  return compare_records(static_cast<const Cell*>(a), static_cast<const Cell*>(b), int32_t(op),
                         uint32_t(flags));
}

// The function comparator: ctx1 is the stack cell holding the function.
int32_t function_comparator(const void* a, const void* b, uintptr_t fn, uintptr_t flags);

}  // namespace

// ---- comparison ----

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t ta = cell::type(a), tb = cell::type(b);
  if (ta != tb) {
    bool paths = (ta == T_PATH && tb == T_LIT_PATH) || (ta == T_LIT_PATH && tb == T_PATH);
    if (!(paths && (op == 10 || op == 11))) return -2;
  }
  return compare_cells(a, b, op);
}

int32_t compare_cells(const Cell* a_in, const Cell* b_in, int32_t op) {
  Cell a = *a_in, b = *b_in;
  bool same = a.w2 == b.w2 && a.w1 == b.w1;
  if (op == 9) return same ? 0 : -1;
  if (same) return 0;
  if (cycle::visiting_q(a.w2)) return cycle::visiting_q(b.w2) ? 0 : -1;
  int32_t la = count_from(&a), lb = count_from(&b);
  if (equality_op_q(op) && la != lb) return 1;

  // A compare slot may allocate (word! orders by spellings made on first use): both
  // values are rooted so their nodes follow a collection.
  gc::Root keep_a(&a), keep_b(&b);
  cycle::Scope walk_a(a.w2);
  cycle::Scope walk_b(b.w2);
  int32_t ha = clamp_head(&a), hb = clamp_head(&b);
  int32_t n = la < lb ? la : lb;
  for (int32_t i = 0; i < n; ++i) {
    // Re-read each pair: the buffers are found through their nodes every time.
    const Cell* ca = cells(&a) + ha + i;
    const Cell* cb = cells(&b) + hb + i;
    uint32_t ta = cell::type(ca), tb = cell::type(cb);
    bool comparable = ta == tb || (word_family_q(ta) && word_family_q(tb)) ||
                      (number_q(ta) && number_q(tb));
    if (!comparable) return ta < tb ? -1 : 1;
    int32_t r = compare_slot(ca, cb, op);
    if (r != 0) return r;
  }
  return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---- sort ----

int32_t compare_records(const Cell* a, const Cell* b, int32_t op, uint32_t flags) {
  if (flags & sort_flag::REVERSE) {
    const Cell* t = a;
    a = b;
    b = t;
  }
  uint32_t first = 0, fields = 1;
  if (flags & sort_flag::ALL) fields = flags >> sort_flag::SHIFT;
  else first = flags >> sort_flag::SHIFT;
  for (uint32_t i = first; i < first + fields; ++i) {
    int32_t r = compare_slot(a + i, b + i, op);
    if (r == -2) r = int32_t(cell::type(a + i)) - int32_t(cell::type(b + i));
    if (r != 0) return r;
  }
  return 0;
}

int32_t order_from_result(const Cell* r) {
  switch (cell::type(r)) {
    case T_LOGIC: return r->w1 ? 1 : -1;
    case T_INTEGER: {
      int32_t n = cell::get_int(r);
      return n == INT32_MIN ? INT32_MAX : -n;
    }
    case T_FLOAT: {
      double d = cell::get_double(r);
      return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case T_NONE: return -1;
    default: return 1;
  }
}

namespace {
// The global word `<compare-callback>`: its index found once and checked on each use against
// the runtime word's symbol id (interning it per comparison cost more than the compare).
constexpr size_t CALLBACK_AT =
    runtime::runtime_word_index("<compare-callback>", runtime::WordKind::GLOBAL_WORD);
// Checked again after anything moved (a new start-up moves everything too).
int32_t g_callback_index = -1;
uint64_t g_callback_checked = ~uint64_t(0);
[[gnu::noinline]] void check_callback_index(uint32_t id) {
  int32_t& index = g_callback_index;
  if (index < 0 || index >= context::word_count(context::global) ||
      context::word_at(context::global, index)->w2 != id)
    index = int32_t(word::intern_global("<compare-callback>").w3);
  g_callback_checked = memory::state().moves;
}
inline Cell compare_callback_word() {
  uint32_t id = runtime::runtime_word_ids[CALLBACK_AT];
  if (g_callback_checked != memory::state().moves) [[unlikely]] check_callback_index(id);
  return Cell{T_WORD, context::global, id, uint32_t(g_callback_index)};
}
// The comparator called on two values, in one piece with the sort's comparison.
[[gnu::always_inline]] inline Cell comparator_call(const Cell* first, const Cell* second,
                                                   const Cell* function) {
  stack::State& s = stack::state();
  Cell* top = s.top;
  Cell* fn;
  if (top + 3 < s.args_limit) [[likely]] {
    // The three cells at once (nothing allocates between the reads and the writes).
    Cell f = *function, a = *first, b = *second;
    top[0] = f;
    top[1] = a;
    top[2] = b;
    s.top = top + 3;
    fn = top;
  } else {
    fn = stack::push_copy(function);  // raises the overflow
    stack::push_copy(first);
    stack::push_copy(second);
  }
  Cell* args = fn + 1;
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  Cell name = compare_callback_word();
  // Exactly the function's own arguments (none past the two), then its local part.
  Cell answer = interp::call_in_frame(fn, args, 2, nargs, rest, &name);
  s.top = top;
  return answer;
}

[[gnu::always_inline]] inline int32_t order_of(const Cell* r) {
  switch (cell::type(r)) {
    case T_LOGIC: return r->w1 ? 1 : -1;
    case T_INTEGER: return cell::get_int(r);
    case T_FLOAT: {
      double d = cell::get_double(r);
      return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case T_NONE: return -1;
    default: return 1;
  }
}
}  // namespace

Cell call_comparator(const Cell* first, const Cell* second, const Cell* function) {
  return comparator_call(first, second, function);
}

int32_t order_from_function_result(const Cell* r) { return order_of(r); }

namespace {
// Whole records each go to the comparator as a block (compare_by_function's /all case).
[[gnu::noinline]] int32_t compare_whole_records(const Cell* a, const Cell* b, const Cell* fn,
                                                 uint32_t flags) {
  return compare_by_function(a, b, fn, flags);
}

// One comparator sort: the stack cell holding the function and the comparator's frame, kept
// over the comparisons (interp::call_in_kept_frame). staging: the three cells comparator_call
// pushes (the function and the two values), reserved while the frame is open.
struct FunctionSort {
  const Cell* function;
  Cell* staging = nullptr;
  interp::KeptFrame kept;
  explicit FunctionSort(const Cell* fn) : function(fn) {}
  // Pops the frame after the last comparison (not when an error unwinds: its catcher does).
  void close() {
    if (!staging) return;
    interp::close_kept_frame(kept);
    stack::state().top = staging;
    staging = nullptr;
  }
};

// comparator_call's steps with the frame kept open between the calls: the same cells are
// staged (the values written again at each call) and the same frame is seen by the body.
[[gnu::always_inline]] inline Cell kept_comparator_call(const Cell* first, const Cell* second,
                                                        FunctionSort& fs) {
  stack::State& s = stack::state();
  Cell* fn = fs.staging;
  if (!fn) {
    Cell* top = s.top;
    if (top + 3 < s.args_limit) [[likely]] {
      Cell f = *fs.function, a = *first, b = *second;
      top[0] = f;
      top[1] = a;
      top[2] = b;
      s.top = top + 3;
      fn = top;
    } else {
      fn = stack::push_copy(fs.function);  // raises the overflow
      stack::push_copy(first);
      stack::push_copy(second);
    }
  } else {
    Cell a = *first, b = *second;
    fn[1] = a;
    fn[2] = b;
  }
  int32_t nargs, rest;
  function::frame_shape(fn, &nargs, &rest);
  // The frame's name is read only when the frame is pushed.
  Cell name;
  if (!fs.kept.f) name = compare_callback_word();
  Cell answer;
  fs.staging = fn;
  if (interp::call_in_kept_frame(fs.kept, fn, fn + 1, nargs, rest, &name, &answer)) return answer;
  // Closed (tracing, or a body the short path does not run): the plain call, as ever.
  name = compare_callback_word();
  fs.staging = nullptr;
  s.top = fn + 3;
  answer = interp::call_in_frame(fn, fn + 1, 2, nargs, rest, &name);
  s.top = fn;
  return answer;
}

int32_t function_comparator(const void* a, const void* b, uintptr_t sort_state, uintptr_t flags) {
  const Cell* x = static_cast<const Cell*>(a);
  const Cell* y = static_cast<const Cell*>(b);
  FunctionSort& fs = *reinterpret_cast<FunctionSort*>(sort_state);
  if (flags & sort_flag::ALL) [[unlikely]] {
    fs.close();
    return compare_whole_records(x, y, fs.function, uint32_t(flags));
  }
  // compare_by_function's first case, without its frame for the other.
  bool reverse = flags & sort_flag::REVERSE;
  Cell r = kept_comparator_call(reverse ? x : y, reverse ? y : x, fs);
  if (cell::type(&r) == T_LOGIC) return r.w1 ? 1 : -1;
  return order_of(&r);
}
}  // namespace

int32_t compare_by_function(const Cell* a, const Cell* b, const Cell* function, uint32_t flags) {
  bool reverse = flags & sort_flag::REVERSE;
  const Cell* first = reverse ? a : b;
  const Cell* second = reverse ? b : a;
  if (!(flags & sort_flag::ALL)) {
    Cell r = comparator_call(first, second, function);
    return order_of(&r);
  }
  // Whole records: each goes to the function as a block of its fields.
  int32_t size = int32_t(flags >> sort_flag::SHIFT);
  Cell* top = stack::state().top;
  Cell* fn = stack::push_copy(function);
  Cell* records[2];
  const Cell* from[2] = {first, second};
  for (int k = 0; k < 2; ++k) {
    Cell* fields = stack::reserve_cell();
    *fields = Cell{T_NONE, 0, 0, 0};
    for (int32_t i = 0; i < size; ++i) stack::push_copy(from[k] + i);
    records[k] = fields;
  }
  Cell* rec0 = push_empty(size);
  for (int32_t i = 0; i < size; ++i) append_copy(rec0, records[0] + 1 + i);
  *records[0] = *rec0;
  stack::state().top = rec0;
  Cell* rec1 = push_empty(size);
  for (int32_t i = 0; i < size; ++i) append_copy(rec1, records[1] + 1 + i);
  *records[1] = *rec1;
  Cell r = call_comparator(records[0], records[1], fn);
  stack::state().top = top;
  return order_from_function_result(&r);
}

namespace {

// Sorts the records. Once the "sort" notice is sent (noticed), a handler that ran may have
// changed the series, so everything is measured again.
Cell* sort_records(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
                   bool reverse, bool stable, bool noticed) {
  uint32_t given = series->w1;
  int32_t h = clamp_head(series);
  int32_t n = cells_in(series) - h;
  // A negative /part sorts the cells before the head, so it works at the tail too.
  bool backwards = part && cell::type(part) == T_INTEGER && cell::get_int(part) < 0;
  if (n <= 0 && !backwards) return series;
  if (part) {
    int64_t k;
    if (cell::type(part) == T_INTEGER) k = cell::get_int(part);
    else if (same_buffer_q(series, part)) k = int64_t(int32_t(part->w1)) - h;
    else bad_refine(REF_PART, part);
    if (k < 0) {
      // The cells before the head: the head moves back over them.
      if (h + k < 0) {
        series->w1 = 0;
        return series;
      }
      h = int32_t(h + k);
      n = int32_t(-k);
    } else if (k < n) {
      n = int32_t(k);
    }
    if (n == 0) return series;
  }
  int32_t size = 1;
  if (skip) {
    if (cell::type(skip) != T_INTEGER) bad_refine(REF_SKIP, skip);
    size = cell::get_int(skip);
    if (size < 1 || size > n || n % size != 0) bad_refine(REF_SKIP, skip);
  }
  if (all && !skip) error::raise(err::script::bad_refines);
  int32_t op = case_ ? 8 : 7;
  uint32_t flags = 0;
  bool function_cmp = false;
  if (comparator) {
    uint32_t ct = cell::type(comparator);
    if (ct == T_FUNCTION) {
      function_cmp = true;
      if (all) flags |= sort_flag::ALL | (uint32_t(size) << sort_flag::SHIFT);
    } else if (ct == T_INTEGER) {
      if (!skip || all) error::raise(err::script::bad_refines);
      int32_t offset = cell::get_int(comparator);
      if (offset < 1 || offset > size) error::raise(err::script::out_of_range, comparator);
      flags |= uint32_t(offset - 1) << sort_flag::SHIFT;
    } else {
      bad_refine(REF_COMPARE, comparator);
    }
  }
  if (all && !function_cmp) flags |= sort_flag::ALL | (uint32_t(size) << sort_flag::SHIFT);
  if (reverse) flags |= sort_flag::REVERSE;

  series->w1 = uint32_t(h);
  if (!noticed && notify(series, "sort", nullptr, h, 0)) {
    series->w1 = given;
    return sort_records(series, case_, skip, comparator, part, all, reverse, stable, true);
  }
  uint32_t records = uint32_t(n / size);
  if (records > 1) {
    // The records are sorted in a rooted copy and copied back: a compare slot that
    // allocates (word! orders by spellings made on first use) cannot move them under the
    // engine.
    // The engine's cache hint: a record whose first cell is a series is read through its
    // node and buffer by most comparisons (a path pick, a compare slot).
    if (function_cmp) {
      FunctionSort fs{comparator};
      sort::sort_cells_rooted(series->w2, uint32_t(h), records, uint32_t(size) * sizeof(Cell),
                              stable, uintptr_t(&fs), flags, function_comparator, nullptr,
                              SERIES_TYPE_MASK);
      fs.close();
    } else
      sort::sort_cells_rooted(series->w2, uint32_t(h), records, uint32_t(size) * sizeof(Cell),
                              stable, uintptr_t(op), flags, record_comparator, nullptr,
                              SERIES_TYPE_MASK);
    if (hash_q(series)) hash::table_resize(series->w3, cells_in(series));
  }
  notify(series, "sorted", nullptr, h, n);
  return series;
}

}  // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
  return sort_records(series, case_, skip, comparator, part, all, reverse, stable, false);
}

// ---- set operations ----

namespace {

// A set of distinct keys: a hash! on the argument stack whose cells are the keys, with its
// own index. Distinct keys keep the index free of duplicate lists, so adding and searching
// stay constant time; keys of block-like values are found by walking (find/only).
struct KeySet {
  uint32_t at;  // argument-stack index of the hash! cell
  int32_t search_op, find_op;
  std::vector<int32_t> block_keys;  // positions of block-like keys

  KeySet(int32_t room, bool case_) : search_op(case_ ? 2 : 0), find_op(case_ ? 2 : 12) {
    Cell* c = push_empty(room);
    at = stack::index_of(c);
    Node t = hash::table_create(room, c, hash::KIND_HASH, 0);
    c = stack::at_index(at);
    c->header = T_HASH;
    c->w3 = t;
  }
  Cell* cell() const { return stack::at_index(at); }
  bool contains(Cell* key) const {
    if (any_block_q(cell::type(key))) {
      for (int32_t p : block_keys)
        if (compare_slot(cells(cell()) + p, key, find_op) == 0) return true;
      return false;
    }
    return hash::table_search(cell()->w3, key, 0, 1, search_op, false, false) != nullptr;
  }
  // Adds the key unless it is there already; true when added.
  bool add(Cell* key) {
    if (contains(key)) return false;
    int32_t p = cells_in(cell());
    append_copy(cell(), key);
    if (any_block_q(cell::type(key))) block_keys.push_back(p);
    else hash::table_add(cell()->w3, cells(cell()) + p);
    return true;
  }
};

}  // namespace

Cell* set_operation(bool case_, const Cell* skip, int32_t op) {
  Cell* base = stack::state().base;
  uint32_t base_at = stack::index_of(base);
  Cell* top = stack::state().top;
  bool two = op != set_op::UNIQUE;
  int32_t size = 1;
  if (skip) {
    if (cell::type(skip) != T_INTEGER || cell::get_int(skip) < 1) bad_refine(REF_SKIP, skip);
    size = cell::get_int(skip);
  }
  Cell a = base[0];
  Cell b = two ? base[1] : Cell{T_NONE, 0, 0, 0};
  gc::Root keep_a(&a), keep_b(&b);
  clamp_head(&a);
  if (two) clamp_head(&b);
  int64_t room = count_from(&a) + (op == set_op::UNION ? count_from(&b) : 0);
  if (room < 1) room = 1;
  if (room > MAX_CELLS) error::raise(err::internal::no_memory);

  Cell* r = push_empty(int32_t(room));
  uint32_t r_at = stack::index_of(r);
  auto result = [&] { return stack::at_index(r_at); };
  KeySet kept(int32_t((room + size - 1) / size), case_);
  Cell step{T_INTEGER, 0, uint32_t(size), 0};

  // Whether the key is in the other series: through its own index when it is a hash!,
  // else through a set of its keys made once.
  auto member = [&](Cell* other, KeySet* keys, Cell* key) {
    if (any_block_q(cell::type(key)) || !keys) {
      if (!any_block_q(cell::type(key)))
        return hash::table_search(other->w3, key, int32_t(other->w1), size, kept.search_op,
                                  false, false) != nullptr;
      FindSpec o;
      o.only = true;
      o.case_ = case_;
      o.skip = &step;
      Cell at = *other;
      gc::Root keep(&at);
      return find_position(&at, key, o).at >= 0;
    }
    return keys->contains(key);
  };

  auto pass = [&](Cell* walk, Cell* other, bool keep_found) {
    std::optional<KeySet> other_keys;
    if (other && !hash_q(other)) {
      other_keys.emplace(int32_t((count_from(other) + size) / size), case_);
      for (int32_t i = int32_t(other->w1); i < cells_in(other); i += size) {
        Cell key = cells(other)[i];
        gc::Root keep_key(&key);
        other_keys->add(&key);
      }
    }
    for (int32_t i = int32_t(walk->w1); i < cells_in(walk); i += size) {
      Cell key = cells(walk)[i];
      gc::Root keep_key(&key);
      if (other && member(other, other_keys ? &*other_keys : nullptr, &key) != keep_found)
        continue;
      if (!kept.add(&key)) continue;
      // A short last record is copied only up to the tail.
      int32_t end = i + size < cells_in(walk) ? i + size : cells_in(walk);
      for (int32_t j = i; j < end; ++j) {
        Cell c = cells(walk)[j];
        append_copy(result(), &c);
      }
    }
  };

  switch (op) {
    case set_op::UNIQUE: pass(&a, nullptr, false); break;
    case set_op::UNION:
      pass(&a, nullptr, false);
      pass(&b, nullptr, false);
      break;
    case set_op::INTERSECT: pass(&a, &b, true); break;
    case set_op::EXCLUDE: pass(&a, &b, false); break;
    case set_op::DIFFERENCE:
      pass(&a, &b, false);
      pass(&b, &a, false);
      break;
    default: rt::fatal_error(101, 0);
  }

  bool hash_result = cell::type(&a) == T_HASH || (two && cell::type(&b) == T_HASH);
  if (hash_result) {
    Node t = hash::table_create(cells_in(result()), result(), hash::KIND_HASH, 0);
    result()->w3 = t;
  }
  Cell made = *result();
  made.header = hash_result ? T_HASH : cell::type(&a);
  if (!hash_result) made.w3 = 0;
  made.w1 = 0;
  stack::state().top = top;
  Cell* out = stack::at_index(base_at);
  *out = made;
  return out;
}

}  // namespace kel::block
