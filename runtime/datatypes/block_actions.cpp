// block! actions that know their elements are value cells: make, to, path steps, find,
// select, put, append/insert, change, take, swap, trim and copy.
#include "runtime/datatypes/block_actions.h"

#include <cmath>
#include <cstring>
#include <optional>

#include "runtime/cell_api.h"
#include "runtime/compiled_support.h"
#include "runtime/cycle.h"
#include "runtime/datatypes/block_compare.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/block_util.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/transcode.h"
#include "runtime/gc.h"
#include "runtime/hash.h"
#include "runtime/rt.h"
#include "runtime/stack.h"

namespace kel::block {

using namespace util;

namespace {

constexpr size_t SYM_BODY = runtime::runtime_word_index("body", runtime::WordKind::SYMBOL);

bool deep_copied_q(uint32_t t) {
  return any_block_q(t) || t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG ||
         t == T_EMAIL || t == T_REF || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}

// Writes the cell made on top of the argument stack into out, typed, and drops it.
Cell* take_pushed(Cell* out, uint32_t type) {
  Cell made = *stack::last_pushed();
  stack::drop_cells(1);
  made.header = type;
  made.w3 = 0;
  *out = made;
  return out;
}

// object! and map! give their bodies through their reflect slot.
Cell* body_into(Cell* out, Cell* spec, uint32_t type) {
  Cell s = *spec;
  gc::Root keep(&s);
  Cell* r = reflect_slot(&s, int32_t(runtime::runtime_word_ids[SYM_BODY]));
  Cell made = *r;
  made.header = type;
  made.w3 = 0;
  *out = made;
  return out;
}

Cell* vector_into(Cell* out, const Cell* spec, uint32_t type) {
  Cell s = *spec, made{T_NONE, 0, 0, 0};
  gc::Root keep(&s), keep_made(&made);
  vector::elements_into_block(&s, &made);
  made.header = type;
  made.w3 = 0;
  *out = made;
  return out;
}

// Kind of match of find.
enum class Kind { ONE, TYPE, TYPESET, SEQUENCE };

bool typeset_has(const Cell* ts, uint32_t t) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&ts->w1);
  return t / 8 < 12 && (bytes[t / 8] & (0x80u >> (t % 8))) != 0;
}

// Position of a cell in the buffer, from a cell address the hash index gave.
int32_t position_of(const Cell* series, const Cell* found) {
  return int32_t(found - cells(series));
}

// Copies count cells at index from the buffer into a process-heap scratch; nothing may
// allocate between the copy and its use, so the cells need no root.
struct CellScratch {
  Cell* p = nullptr;
  CellScratch(const Cell* series, int32_t index, int32_t count) {
    if (count <= 0) return;
    p = static_cast<Cell*>(rt::alloc(size_t(count) * sizeof(Cell)));
    std::memcpy(p, cells(series) + index, size_t(count) * sizeof(Cell));
  }
  ~CellScratch() {
    if (p) rt::free(p);
  }
  CellScratch(const CellScratch&) = delete;
  CellScratch& operator=(const CellScratch&) = delete;
};

// Fills cells [at + copied, at + total) by doubling the first `copied` cells.
void repeat_cells(Cell* at, int64_t copied, int64_t total) {
  while (copied < total) {
    int64_t k = copied < total - copied ? copied : total - copied;
    std::memcpy(at + copied, at, size_t(k) * sizeof(Cell));
    copied += k;
  }
}

void hash_rebuild(const Cell* s) {
  if (hash_q(s)) hash::table_resize(s->w3, cells_in(s));
}

// Adds cells [first, first + count) to a hash! index, or rebuilds it when asked to.
void hash_add_range(const Cell* s, int32_t first, int32_t count) {
  if (!hash_q(s)) return;
  for (int32_t i = 0; i < count; ++i) {
    int status = 0;
    hash::table_add_value(s->w3, cells(s) + first + i, &status);
    if (status == 2) return;  // the table was rebuilt over every cell
  }
}

}  // namespace

// ---- make and to ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t st = cell::type(spec);
  if (any_block_q(st)) {
    clone(spec, false, false);
    return take_pushed(proto, type);
  }
  if (st == T_INTEGER || st == T_FLOAT) {
    int32_t n = runtime::get_integer_arg(spec);
    if (n < 1) n = 1;
    if (n > MAX_CELLS) error::raise(err::internal::no_memory);
    push_empty(n);
    return take_pushed(proto, type);
  }
  if (st == T_OBJECT || st == T_MAP) return body_into(proto, spec, type);
  if (st == T_VECTOR) return vector_into(proto, spec, type);
  Cell dt{T_DATATYPE, type, 0, 0};
  error::raise_bad_make_arg(&dt, spec);
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
  uint32_t st = cell::type(spec);
  if (st == T_OBJECT || st == T_MAP) return body_into(proto, spec, type);
  if (st == T_VECTOR) return vector_into(proto, spec, type);
  if (st == T_STRING) {
    Cell s = *spec, made{T_NONE, 0, 0, 0};
    gc::Root keep(&s), keep_made(&made);
    int32_t consumed = 0;
    lexer::transcode_string(&made, &s, -1, false, true, true, false, &consumed, nullptr, nullptr);
    made.header = type;
    made.w3 = 0;
    *proto = made;
    return proto;
  }
  if (st == T_TYPESET) {
    Cell s = *spec, made{T_NONE, 0, 0, 0};
    gc::Root keep(&s), keep_made(&made);
    typeset::list_types(&s, &made);
    made.header = type;
    *proto = made;
    return proto;
  }
  if (any_block_q(st)) {
    clone(spec, false, false);
    return take_pushed(proto, type);
  }
  Cell v = *spec;
  gc::Root keep(&v);
  Cell* b = push_empty(1);
  append_copy(b, &v);
  return take_pushed(proto, type);
}

// ---- find and select ----

Found find_position(Cell* series, const Cell* value_in, const FindSpec& o) {
  const Found none{-1, -1};
  Cell v = *value_in;
  gc::Root keep(&v);
  int32_t n = cells_in(series);
  if (n == 0) return none;
  int32_t h = clamp_head(series);
  if (!o.reverse && h >= n) return none;

  int32_t step = 1;
  if (o.skip) {
    if (cell::type(o.skip) != T_INTEGER) bad_refine(REF_SKIP, o.skip);
    step = cell::get_int(o.skip);
    if (step < 1) error::raise(err::script::out_of_range, o.skip);
  }
  bool limited = false;
  int64_t limit = 0;
  if (o.part) {
    if (cell::type(o.part) == T_INTEGER) {
      int32_t k = cell::get_int(o.part);
      if (k < 1) return none;
      limit = int64_t(h) + k - 1;
    } else if (same_buffer_q(series, o.part)) {
      limit = int32_t(o.part->w1);
    } else {
      bad_refine(REF_PART, o.part);
    }
    if (limit >= n) limit = n - 1;
    limited = true;
  }

  uint32_t vt = cell::type(&v);
  Kind kind = Kind::ONE;
  int32_t c = 0;
  if (!o.only && vt == T_DATATYPE) kind = Kind::TYPE;
  else if (!o.only && vt == T_TYPESET) kind = Kind::TYPESET;
  else if (!o.only && any_block_q(vt)) {
    kind = Kind::SEQUENCE;
    c = count_from(&v);
  }
  int32_t op = o.same ? 9 : o.case_ ? 2 : 12;

  // A hash! answers single values from its index.
  bool linear = o.match || kind == Kind::TYPE || kind == Kind::TYPESET ||
                (vt == T_OBJECT && !o.same) || (any_block_q(vt) && !(o.same && o.only));
  if (hash_q(series) && !linear) {
    Cell* f = hash::table_search(series->w3, &v, h, step, op, o.last, o.reverse);
    if (!f) return none;
    int32_t at = position_of(series, f);
    if (limited && at > limit) return none;
    int32_t r = o.tail ? at + 1 : at;
    return {at, r > n ? n : r};
  }

  bool back = o.last || o.reverse;
  int64_t start;
  if (o.last) start = limited ? limit : int64_t(n) - (c > 0 ? c : 1);
  else if (o.reverse) start = limited ? limit : int64_t(h) - (c > 0 ? c : 1);
  else start = h;
  if (start < 0) return none;
  int64_t end = limited ? limit + 1 : n;  // forwards, exclusive
  int64_t seq_end = back ? n : end;

  auto found = [&](int64_t pos) -> Found {
    int64_t r = pos;
    if (o.tail) {
      if (kind == Kind::SEQUENCE) r = pos + c;
      else r = back ? pos + 1 : pos + step;
    }
    return {int32_t(pos), int32_t(r > n ? n : r)};
  };

  // The cells' address is read again only after something may have moved them (a compare
  // slot may allocate).
  uint64_t moves = memory::state().moves;
  const Cell* at = cells(series);

  // One integer or string under equal or strict-equal: integer and string cells are
  // answered here as their compare slots answer (under these ops neither is equal to a
  // value of another type); other cells ask their slot.
  if (kind == Kind::ONE && (op == 2 || op == 12) && (vt == T_INTEGER || vt == T_STRING) &&
      datatype::slot<datatype::action::COMPARE>(T_INTEGER) == &integer::compare &&
      datatype::slot<datatype::action::COMPARE>(T_STRING) == &string::compare) {
    bool folding = op == 12;
    string::TextKey key{};
    if (vt == T_STRING) key = string::text_key(&v);
    int64_t delta = back ? -step : step;
    int64_t count = back ? start / step + 1 : start < end ? (end - start + step - 1) / step : 0;
    if (o.match && count > 1) count = 1;
    for (int64_t pos = start; count > 0; --count, pos += delta) {
      const Cell* x = at + pos;
      uint32_t xt = cell::type(x);
      bool hit;
      if (xt == T_INTEGER) {
        hit = vt == T_INTEGER && x->w2 == v.w2;
      } else if (xt == T_STRING) {
        hit = vt == T_STRING && string::equal_to_key(x, key, folding);
      } else {
        hit = compare_slot(x, &v, op) == 0;
        if (memory::state().moves != moves) [[unlikely]] {
          moves = memory::state().moves;
          at = cells(series);
          if (vt == T_STRING) key = string::text_key(&v);
        }
      }
      if (hit) return found(pos);
    }
    return none;
  }

  for (int64_t pos = start; back ? pos >= 0 : pos < end; pos += back ? -step : step) {
    if (memory::state().moves != moves) [[unlikely]] {
      moves = memory::state().moves;
      at = cells(series);
    }
    bool hit;
    switch (kind) {
      case Kind::TYPE: hit = cell::type(at + pos) == v.w1; break;
      case Kind::TYPESET: hit = typeset_has(&v, cell::type(at + pos)); break;
      case Kind::ONE: hit = compare_slot(at + pos, &v, op) == 0; break;
      case Kind::SEQUENCE: {
        hit = pos + c <= seq_end;
        int32_t vh = int32_t(v.w1);
        for (int32_t i = 0; hit && i < c; ++i)
          hit = compare_slot(cells(series) + pos + i, cells(&v) + vh + i, op) == 0;
        break;
      }
    }
    if (hit) return found(pos);
    if (o.match) break;
  }
  return none;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool,
           Cell*, Cell* skip, bool last, bool reverse, bool tail, bool match) {
  FindSpec o;
  o.part = part;
  o.skip = skip;
  o.only = only;
  o.case_ = case_;
  o.same = same;
  o.last = last;
  o.reverse = reverse;
  o.tail = tail;
  o.match = match;
  Found f = find_position(series, value, o);
  if (f.at < 0) cell::set_none(series);
  else series->w1 = uint32_t(f.result);
  return series;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool,
             Cell*, Cell* skip, bool last, bool reverse) {
  FindSpec o;
  o.part = part;
  o.skip = skip;
  o.only = only;
  o.case_ = case_;
  o.same = same;
  o.last = last;
  o.reverse = reverse;
  Found f = find_position(series, value, o);
  if (f.at < 0) {
    cell::set_none(series);
    return series;
  }
  uint32_t vt = cell::type(value);
  int32_t offset = (any_block_q(vt) && vt != T_HASH && !only) ? count_from(value) : 1;
  int64_t pos = int64_t(f.at) + offset;
  if (pos >= cells_in(series)) cell::set_none(series);
  else *series = cells(series)[pos];
  return series;
}

// ---- path steps ----

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool case_, bool, bool) {
  if (cell::type(element) == T_INTEGER) {
    int32_t i = cell::get_int(element);
    if (!value) return series::pick(parent, i, element);
    return series::poke(parent, i, value, element);
  }
  if (!value) {
    if (cell::type(element) == T_WORD && cell::type(parent) != T_HASH) {
      *parent = *value_after_word(parent, element, case_);
      return parent;
    }
    return select(parent, element, nullptr, true, case_, false, false, nullptr, nullptr, false,
                  false);
  }
  FindSpec o;
  o.case_ = case_;
  Found f = find_position(parent, element, o);
  if (f.at < 0) {
    Cell none{T_NONE, 0, 0, 0};
    error::raise(err::script::bad_path_set, path ? path : &none, element);
  }
  Cell at = *parent;
  at.w1 = uint32_t(f.at);
  Cell two{T_INTEGER, 0, 2, 0};
  return series::poke(&at, 2, value, &two);
}

// ---- put ----

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
  Cell s = *series, k = *key, v = *value;
  gc::Root keep_s(&s), keep_k(&k), keep_v(&v);
  FindSpec o;
  o.case_ = case_;
  int32_t at = find_position(&s, &k, o).at;
  if (at < 0) {
    // The key goes to the tail; the value follows it below as for a key found last.
    int32_t h = clamp_head(&s);
    if (notify(&s, "put", &v, cells_in(&s) - h, 1)) at = find_position(&s, &k, o).at;
    if (at < 0) {
      at = cells_in(&s);
      append_copy(&s, &k);
      hash_add_range(&s, at, 1);
    }
  }
  // A handler may move or remove the key: its position is looked up again.
  if (notify(&s, "put", &v, at + 1, 1)) {
    at = find_position(&s, &k, o).at;
    if (at < 0) {
      at = cells_in(&s);
      append_copy(&s, &k);
      hash_add_range(&s, at, 1);
    }
  }
  if (at + 1 >= cells_in(&s)) {
    append_copy(&s, &v);
    hash_add_range(&s, at + 1, 1);
  } else {
    Cell* c = cells(&s) + at + 1;
    if (compare_slot(c, &v, 12) != 0) {
      if (hash_q(&s)) hash::table_delete_value(s.w3, c);
      *(cells(&s) + at + 1) = v;
      hash_add_range(&s, at + 1, 1);
    }
  }
  notify(&s, "put-ed", &v, at + 1, 1);
  *series = v;
  return series;
}

// ---- append and insert ----

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q) {
  if (dup < 1) return series;
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  bool range = !only && any_block_q(cell::type(&v));
  int32_t n = 1, from = 0, p = 0, h = 0, count = 0, ins = 0;
  int64_t total = 0;
  // Counts and positions of the source and the target, read again after the first notice.
  auto measure = [&] {
    if (range) {
      from = clamp_head(&v);
      n = count_from(&v);
    }
    p = (part < 0 || part > n) ? n : part;
    total = int64_t(p) * dup;
    if (total > INT32_MAX) error::raise(err::internal::no_memory);
    h = clamp_head(&s);
    count = cells_in(&s);
    ins = (append_q || h >= count) ? count : h;
    if (int64_t(count) + total > MAX_CELLS) error::raise(err::internal::no_memory);
  };
  measure();
  if (total == 0) {
    series->w1 = append_q ? 0 : uint32_t(ins);
    return series;
  }

  bool handled = append_q ? notify(&s, "append", &v, count, int32_t(total))
                          : notify(&s, "insert", &v, h, int32_t(total));
  if (handled) measure();
  int32_t noticed = append_q ? count : h;

  int64_t needed = (int64_t(count) + total) * int64_t(sizeof(Cell));
  SeriesBuffer* b = buf(&s);
  if (int64_t(b->head) + needed > int64_t(b->capacity)) {
    int64_t size = dup < 5 ? needed * 2 : needed;
    if (size > 0x7FFFFFF0) size = needed;
    memory::series_grow_copy_node(s.w2, int32_t(size));
  }
  // Everything that allocates is done: the source range is read now, before cells move.
  bool same = range && v.w2 == s.w2;
  CellScratch snapshot(same ? &v : &s, same ? from : 0, same ? p : 0);
  int32_t moving = count - ins;
  Cell* base = cells(&s);
  if (total > 0) {
    if (moving > 0)
      std::memmove(base + ins + total, base + ins, size_t(moving) * sizeof(Cell));
    const Cell* src = !range ? &v : same ? snapshot.p : cells(&v) + from;
    std::memcpy(base + ins, src, size_t(p) * sizeof(Cell));
    repeat_cells(base + ins, p, total);
    buf(&s)->tail += uint32_t(total) * sizeof(Cell);
  }

  if (hash_q(&s)) {
    if (moving > 0) hash_rebuild(&s);
    else hash_add_range(&s, ins, int32_t(total));
  }
  if (append_q) notify(&s, "appended", &v, noticed, int32_t(total));
  else notify(&s, "inserted", &v, noticed, int32_t(total));

  s.w1 = append_q ? 0 : uint32_t(ins + total);
  *series = s;
  return series;
}

// ---- change ----

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  if (dup < 1) return series;
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  bool range = !only && any_block_q(cell::type(&v));
  int32_t h = 0, count = 0, nv = 1, from = 0, replaced = 0;
  int64_t w = 0, new_count = 0;
  // Counts and positions, read again after the first notice.
  auto measure = [&] {
    h = clamp_head(&s);
    count = cells_in(&s);
    int32_t r = count - h;
    if (range) {
      from = clamp_head(&v);
      nv = count_from(&v);
    }
    w = int64_t(nv) * dup;
    if (w > INT32_MAX) error::raise(err::internal::no_memory);
    replaced = part >= 0 ? (part < r ? part : r) : int32_t(w < r ? w : r);
    new_count = int64_t(count) - replaced + w;
    if (new_count > MAX_CELLS) error::raise(err::internal::no_memory);
  };
  measure();

  int32_t noticed = h;
  if (notify(&s, "change", &v, h, replaced)) measure();
  int64_t needed = new_count * int64_t(sizeof(Cell));
  SeriesBuffer* b = buf(&s);
  if (int64_t(b->head) + needed > int64_t(b->capacity))
    memory::series_grow_copy_node(s.w2, int32_t(needed));
  // No allocation from here on: a range in the same buffer is read before cells move.
  bool same = range && v.w2 == s.w2;
  CellScratch snapshot(same ? &v : &s, same ? from : 0, same ? nv : 0);
  Cell* base = cells(&s);
  int32_t after = count - h - replaced;
  if (after > 0)
    std::memmove(base + h + w, base + h + replaced, size_t(after) * sizeof(Cell));
  const Cell* src = !range ? &v : same ? snapshot.p : cells(&v) + from;
  if (nv > 0) {  // an empty range has no source address to copy from
    std::memcpy(base + h, src, size_t(nv) * sizeof(Cell));
    repeat_cells(base + h, nv, w);
  }
  SeriesBuffer* sb = buf(&s);
  sb->tail = sb->head + uint32_t(new_count) * sizeof(Cell);

  hash_rebuild(&s);
  notify(&s, "changed", &v, noticed, int32_t(w));
  int64_t after_written = int64_t(h) + w;
  s.w1 = uint32_t(after_written > new_count ? new_count : after_written);
  *series = s;
  return series;
}

// ---- take, swap, trim ----

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  series::take_units(series, part, last);
  if (cell::type(series) == T_NONE) return series;
  if (!part) {
    Cell element = cells(series)[0];
    *series = element;
    if (deep && deep_copied_q(cell::type(series)))
      deep_copy_slot(series);
    return series;
  }
  if (deep) {
    Cell r = *series;
    gc::Root keep(&r);
    for (int32_t i = 0; i < cells_in(&r); ++i) {
      Cell c = cells(&r)[i];
      if (!deep_copied_q(cell::type(&c))) continue;
      gc::Root keep_c(&c);
      deep_copy_slot(&c);
      cells(&r)[i] = c;
    }
    *series = r;
  }
  return series;
}

Cell* swap(Cell* series1, Cell* series2) {
  if (!any_block_q(cell::type(series2))) error::raise(err::script::invalid_arg, series2);
  int32_t h1 = clamp_head(series1), h2 = clamp_head(series2);
  if (h1 >= cells_in(series1) || h2 >= cells_in(series2)) return series1;
  bool handled = notify(series1, "swap", series2, h1, 1);
  handled = notify(series2, "swap", series1, h2, 1) || handled;
  if (handled) {
    // A handler may have shortened either series: a position gone swaps nothing.
    h1 = clamp_head(series1);
    h2 = clamp_head(series2);
    if (h1 >= cells_in(series1) || h2 >= cells_in(series2)) return series1;
  }
  if (series1->w2 == series2->w2 && h1 == h2) {
    notify(series1, "swaped", series2, h1, 1);
    notify(series2, "swaped", series1, h2, 1);
    return series1;
  }
  if (hash_q(series1)) hash::table_delete_value(series1->w3, cells(series1) + h1);
  if (hash_q(series2)) hash::table_delete_value(series2->w3, cells(series2) + h2);
  Cell t = cells(series1)[h1];
  cells(series1)[h1] = cells(series2)[h2];
  cells(series2)[h2] = t;
  hash_add_range(series1, h1, 1);
  hash_add_range(series2, h2, 1);
  notify(series1, "swaped", series2, h1, 1);
  notify(series2, "swaped", series1, h2, 1);
  return series1;
}

Cell* trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
  int32_t h = clamp_head(series);
  int32_t count = cells_in(series);
  int32_t noticed = count - h;
  if (notify(series, "trim", nullptr, h, noticed)) {
    h = clamp_head(series);
    count = cells_in(series);
  }
  Cell* base = cells(series);
  int32_t out = h;
  for (int32_t i = h; i < count; ++i)
    if (cell::type(base + i) != T_NONE) base[out++] = base[i];
  SeriesBuffer* b = buf(series);
  b->tail = b->head + uint32_t(out) * sizeof(Cell);
  if (out != count) hash_rebuild(series);
  notify(series, "trimmed", nullptr, h, noticed);
  return series;
}

// ---- copy ----

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  Cell src = *value;
  gc::Root keep_src(&src);
  Cell kind{T_NONE, 0, 0, 0};
  if (types) kind = *types;
  gc::Root keep_kind(&kind);
  bool walk = deep || types;
  // The cycle check comes first: a block that contains itself cannot be copied deep.
  if (deep && cycle::visiting_q(src.w2)) {
    cycle::clear();
    error::raise(err::internal::no_cycle);
  }
  Cell made{T_NONE, 0, 0, 0};
  gc::Root keep_made(&made);
  series::copy(&src, &made, part, false, nullptr);
  if (cell::type(&made) == T_HASH) made.header = T_BLOCK | (made.header & hdr::NEW_LINE);
  if (walk) {
    std::optional<cycle::Scope> guard;
    if (deep) guard.emplace(src.w2);
    int32_t n = cells_in(&made);
    if (types) {
      copy_typed_values(&made, 0, n, 1, deep, &kind);
    } else {
      for (int32_t i = 0; i < n; ++i) {
        Cell c = cells(&made)[i];
        if (!deep_copied_q(cell::type(&c))) continue;
        gc::Root keep_c(&c);
        deep_copy_slot(&c);
        cells(&made)[i] = c;
      }
    }
  }
  *result = made;
  return result;
}

// ---- registration ----

void install_actions(datatype::Row& row) {
  row.make = make;
  row.to = to;
  row.eval_path = eval_path;
  row.compare = compare;
  row.append = append;
  row.change = change;
  row.copy = copy;
  row.find = find;
  row.insert = append;
  row.put = put;
  row.select = select;
  row.sort = sort;
  row.swap = swap;
  row.take = take;
  row.trim = trim;
}

}  // namespace kel::block
