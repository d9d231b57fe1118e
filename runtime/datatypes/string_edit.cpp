// string! append, insert and change: values measured and formed by kind, every size checked
// before the buffer changes, owner notices around the change; and the range helpers shared by
// the other string actions.
#include <algorithm>
#include <cstring>

#include "runtime/casemap.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace {

inline SeriesBuffer* buf(const Cell* s) { return memory::node_buffer(s->w2); }
constexpr uint64_t MAX_BYTES = 0x7FFFFF00u;

uint32_t fit_unit(int32_t c) {
  uint32_t x = uint32_t(c);
  return x > 0xFFFF ? 4 : x > 255 ? 2 : 1;
}

}  // namespace

uint32_t char_unit(int32_t c) {
  uint32_t x = uint32_t(c);
  return x > 0xFFFF ? 4 : x > 127 ? 2 : 1;
}

int32_t fold(int32_t c) { return case_::map_char(c, case_::DIR_UPPER); }

bool notify(const Cell* s, const char* action, const Cell* value, int32_t index, int32_t part) {
  return (buf(s)->flags & sflag::OWNED) && owner::notify_change(s, action, value, index, part);
}

std::vector<int32_t> read_chars(const Cell* s, int32_t from, int32_t count) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  from = std::clamp(from, 0, n);
  count = std::clamp(count, 0, n - from);
  std::vector<int32_t> out(size_t(count), 0);
  const uint8_t* p = memory::head(b) + size_t(from) * u;
  for (int32_t i = 0; i < count; ++i) out[size_t(i)] = unicode::load_unit(p + size_t(i) * u, u);
  return out;
}

void replace_chars(Cell* s, int32_t index, int32_t removed, const std::vector<int32_t>& cps,
                   int64_t copies, uint32_t min_unit, bool min_unit_fits) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  int64_t n = memory::units(b);
  int64_t at = std::clamp<int64_t>(index, 0, n);
  int64_t cut = std::clamp<int64_t>(removed, 0, n - at);
  if (copies < 0) copies = 0;
  int64_t one = int64_t(cps.size());
  uint32_t nu = std::max(u, min_unit);
  if (!min_unit_fits)
    for (int32_t c : cps) nu = std::max(nu, fit_unit(c));
  // Every size first: a request too large for a buffer changes nothing.
  if (one && copies > int64_t(MAX_BYTES)) error::raise(err::internal::no_memory);
  int64_t added = one * copies;
  int64_t new_n = n - cut + added;
  if (added > int64_t(MAX_BYTES) || uint64_t(new_n) * nu > MAX_BYTES)
    error::raise(err::internal::no_memory);
  if (nu != u) widen_to(s, u, nu);
  b = buf(s);
  uint64_t need = uint64_t(new_n) * nu;
  if (uint64_t(b->head) + need > uint64_t(b->capacity)) {
    uint64_t want = std::max<uint64_t>(need * 2, 16);
    if (want > MAX_BYTES) want = need;
    b = memory::series_grow_copy_node(s->w2, int32_t(want));
    s->w2 = b->node;
  }
  // Nothing allocates from here on.
  uint8_t* h = memory::head(b);
  std::memmove(h + size_t(at + added) * nu, h + size_t(at + cut) * nu, size_t(n - at - cut) * nu);
  uint8_t* w = h + size_t(at) * nu;
  if (nu == 1) {  // the common width: a plain narrowing copy
    for (int64_t i = 0; i < one; ++i) w[i] = uint8_t(cps[size_t(i)]);
  } else {
    for (int64_t i = 0; i < one; ++i) unicode::store_unit(w + size_t(i) * nu, nu, cps[size_t(i)]);
  }
  // Further copies double the written run.
  int64_t done = one;
  while (done < added) {
    int64_t k = std::min(done, added - done);
    std::memcpy(w + size_t(done) * nu, w, size_t(k) * nu);
    done += k;
  }
  b->tail = b->head + uint32_t(need);
}

namespace {

// Character vectors given back by finished pieces, kept with their room: an append takes
// one instead of growing a fresh vector from nothing (several heap calls per append).
// Pieces can nest (a change handler appends while its string's append waits), so each
// piece owns its vector until it ends.
constexpr size_t SPARE_PIECES = 8;
constexpr size_t SPARE_ROOM_MAX = 1 << 16;  // characters; larger vectors are freed
thread_local std::vector<std::vector<int32_t>> t_spare_pieces;

// The characters a value adds and the unit it asks for, which holds every one of them (the
// unit of the text they come from, or the widest a character asks for).
struct Piece {
  std::vector<int32_t> cps;
  uint32_t unit = 1;
  Piece() {
    if (!t_spare_pieces.empty()) {
      cps.swap(t_spare_pieces.back());
      t_spare_pieces.pop_back();
    }
  }
  Piece(const Piece&) = delete;
  Piece(Piece&& o) noexcept : unit(o.unit) { cps.swap(o.cps); }
  // The vector this piece held goes back with the other piece when it ends.
  Piece& operator=(Piece&& o) noexcept {
    cps.swap(o.cps);
    unit = o.unit;
    return *this;
  }
  ~Piece() {
    if (cps.capacity() == 0 || cps.capacity() > SPARE_ROOM_MAX) return;
    if (t_spare_pieces.size() >= SPARE_PIECES) return;
    if (t_spare_pieces.capacity() < SPARE_PIECES) t_spare_pieces.reserve(SPARE_PIECES);
    cps.clear();
    t_spare_pieces.push_back(std::move(cps));
  }
};

// Adds the characters of a text from its head, at most budget of them (-1: all).
void add_chars(Piece* piece, const Cell* text, int32_t budget) {
  SeriesBuffer* b = buf(text);
  uint32_t u = memory::unit(b);
  int32_t n = int32_t(memory::units(b));
  int32_t from = std::clamp(int32_t(text->w1), 0, n);
  int32_t count = n - from;
  if (budget >= 0 && count > budget) count = budget;
  if (count <= 0) return;
  const uint8_t* at = memory::head(b) + size_t(from) * u;
  size_t start = piece->cps.size();
  piece->cps.resize(start + size_t(count));
  int32_t* to = piece->cps.data() + start;
  uint32_t wide = piece->unit;
  if (u == 1) {
    uint32_t high = 0;
    for (int32_t i = 0; i < count; ++i) {
      to[i] = at[i];
      high |= at[i];
    }
    wide = std::max(wide, char_unit(int32_t(high & 0x80)));
  } else {
    for (int32_t i = 0; i < count; ++i) {
      int32_t c = unicode::load_unit(at + size_t(i) * u, u);
      wide = std::max(wide, char_unit(c));
      to[i] = c;
    }
  }
  piece->unit = wide;
}

void add_formed(Piece* piece, Cell* value, int32_t budget) {
  Cell* text = actions::form(value, nullptr);
  add_chars(piece, text, budget);
  stack::drop_cells(1);
}

// The same for the values of a block, formed one after another into one scratch text (the
// argument stack cell at index `scratch`), emptied before each: no text made per value.
void add_formed_into(Piece* piece, Cell* value, int32_t budget, uint32_t scratch) {
  if (cell::type(value) == T_STRING) {
    add_chars(piece, value, budget);  // a string forms as its characters from its head
    return;
  }
  if (cell::type(value) == T_INTEGER) {
    // integer::form's text, which is ASCII: the piece's unit stays as it is.
    const char* text = integer::to_decimal_text(integer::get(value));
    int32_t count = int32_t(std::strlen(text));
    if (budget >= 0 && count > budget) count = budget;
    if (count > 0) piece->cps.insert(piece->cps.end(), text, text + count);
    return;
  }
  if (cell::type(value) == T_CHAR && cell::get_int(value) >= 0 && cell::get_int(value) < 0xD800) {
    // char's form adds its one character, below the surrogates.
    if (budget == 0) return;
    int32_t c = cell::get_int(value);
    piece->cps.push_back(c);
    piece->unit = std::max(piece->unit, char_unit(c));
    return;
  }
  Cell* text = stack::at_index(scratch);
  if (cell::type(text) != T_STRING) {
    // The scratch text is made when a value first needs it.
    Cell made;
    init_cell(&made, 16);
    *stack::at_index(scratch) = made;
    text = stack::at_index(scratch);
  }
  SeriesBuffer* b = buf(text);
  b->tail = b->head;
  text->w1 = 0;
  actions::direct_form(value, text, nullptr, INT32_MAX);
  add_chars(piece, stack::at_index(scratch), budget);
}

bool plain_text_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_EMAIL || t == T_REF;
}

// The value's characters. part: -1 for none. values_part: in a block without /only, /part
// counts values; otherwise it is a character budget.
Piece measure(Cell* value, int32_t part, bool only, bool values_part) {
  Piece p;
  uint32_t t = cell::type(value);
  if (t == T_CHAR) {
    int32_t c = cell::get_int(value);
    p.cps.push_back(c);
    p.unit = char_unit(c);
  } else if (t == T_TAG) {
    std::vector<int32_t> inner = read_chars(value, int32_t(value->w1), INT32_MAX);
    p.cps.push_back('<');
    p.cps.insert(p.cps.end(), inner.begin(), inner.end());
    p.cps.push_back('>');
    if (part >= 0 && int64_t(p.cps.size()) > part) p.cps.resize(size_t(part));
    p.unit = unit_of(value);
  } else if (plain_text_q(t)) {
    // read_chars's count, read into the piece's own vector.
    Cell text = *value;
    text.w1 = uint32_t(std::clamp(int32_t(value->w1), 0, int32_t(memory::units(buf(value)))));
    add_chars(&p, &text, part >= 0 ? part : -1);
    p.unit = unit_of(value);
  } else if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
    Cell b = *value;
    gc::Root keep(&b);
    int32_t n = block::count_from_head(&b);
    if (n < 0) n = 0;
    bool by_values = values_part && !only;
    int32_t limit = by_values && part >= 0 ? std::min(part, n) : n;
    if (limit <= 0) return p;
    Cell* scratch = stack::reserve_cell();
    *scratch = Cell{T_NONE, 0, 0, 0};  // the scratch text, made when first needed
    uint32_t at = stack::index_of(scratch);
    for (int32_t i = 0; i < limit; ++i) {
      int32_t budget = -1;
      if (!by_values && part >= 0) {
        budget = part - int32_t(p.cps.size());
        if (budget <= 0) break;
      }
      Cell* v = stack::push_copy(block::cell_at_index(&b, int32_t(b.w1) + i));
      add_formed_into(&p, v, budget, at);
      stack::drop_cells(1);
    }
    stack::drop_cells(1);
  } else {
    add_formed(&p, value, only ? part : -1);
  }
  return p;
}

int32_t reported(int32_t part) { return part < 0 ? 1 : part; }

// ---- Direct appends ----
// Text, a number, or a short block of strings, characters and numbers appended onto a string
// nobody owns: the characters are counted first (with the unit and the size checks the
// measured append takes), the room made once, then written straight into the buffer. Any
// other value is left to the measured append before anything changed.

constexpr int32_t DIRECT_VALUES = 32;
constexpr int32_t DIRECT_TEXT = 32;  // room for an integer's or a float's form

enum : int32_t { RUN_TEXT, RUN_ASCII, RUN_CHAR };
struct Run {
  int32_t kind;
  int32_t at;   // text: characters from its buffer start; ASCII: scratch offset; char: itself
  int32_t len;
};

// The form of an integer or a float, which is ASCII, into out: its length, or -1.
int32_t number_text(const Cell* v, char* out) {
  if (cell::type(v) == T_INTEGER) {
    const char* t = integer::to_decimal_text(integer::get(v));
    int32_t n = 0;
    while (t[n]) out[n] = t[n], ++n;
    return n;
  }
  std::string t = float_::number_to_text(cell::get_double(v), float_::kind::FLOAT);
  if (t.size() > size_t(DIRECT_TEXT)) return -1;
  std::memcpy(out, t.data(), t.size());
  return int32_t(t.size());
}

// A text's characters from its head (clamped) as a run (written field by field: a run
// made whole and copied is read back before its stores land).
void text_run(const Cell* text, SeriesBuffer* b, Run* r) {
  int32_t n = int32_t(memory::units(b));
  int32_t from = std::clamp(int32_t(text->w1), 0, n);
  r->kind = RUN_TEXT;
  r->at = from;
  r->len = n - from;
}

// The unit add_chars gives a string's characters: a byte text asks for 2 from 128 on, a
// wider one for the widest any of its characters asks for.
uint32_t content_unit(SeriesBuffer* b, const Run& r) {
  uint32_t u = memory::unit(b);
  const uint8_t* p = memory::head(b) + size_t(r.at) * u;
  if (u == 1) {
    // Eight bytes at a time: only the high bits count.
    uint64_t high = 0;
    int32_t i = 0;
    for (; i + 8 <= r.len; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      high |= w;
    }
    for (; i < r.len; ++i) high |= p[i];
    return char_unit((high & 0x8080808080808080ull) ? 0x80 : 0);
  }
  uint32_t wide = 1;
  for (int32_t i = 0; i < r.len; ++i)
    wide = std::max(wide, char_unit(unicode::load_unit(p + size_t(i) * u, u)));
  return wide;
}

void write_ascii(uint8_t* w, uint32_t nu, const char* text, int32_t n) {
  if (nu == 1) {
    std::memcpy(w, text, size_t(n));
    return;
  }
  for (int32_t i = 0; i < n; ++i) unicode::store_unit(w + size_t(i) * nu, nu, uint8_t(text[i]));
}

bool direct_append(Cell* series, const Cell* value) {
  Run runs[DIRECT_VALUES];
  char ascii[DIRECT_VALUES * DIRECT_TEXT];
  int32_t count = 0, used = 0;
  int64_t total = 0;
  uint32_t unit = 1;
  uint32_t t = cell::type(value);
  bool values_q = t == T_BLOCK || t == T_PAREN || t == T_HASH;
  if (plain_text_q(t)) {
    SeriesBuffer* b = buf(value);
    text_run(value, b, &runs[count++]);
    unit = memory::unit(b);
  } else if (t == T_INTEGER || t == T_FLOAT) {
    int32_t n = number_text(value, ascii);
    if (n < 0) return false;
    runs[count++] = Run{RUN_ASCII, 0, n};
  } else if (values_q) {
    SeriesBuffer* bb = buf(value);
    int32_t n = int32_t(memory::units(bb)) - int32_t(value->w1);
    if (n > DIRECT_VALUES) return false;
    const Cell* cells = memory::head_cells(bb) + value->w1;
    for (int32_t i = 0; i < n; ++i) {
      const Cell* v = cells + i;
      uint32_t vt = cell::type(v);
      if (vt == T_STRING) {
        SeriesBuffer* sb = buf(v);
        Run& r = runs[count++];
        text_run(v, sb, &r);
        unit = std::max(unit, content_unit(sb, r));
      } else if (vt == T_CHAR && cell::get_int(v) >= 0 && cell::get_int(v) < 0xD800) {
        int32_t c = cell::get_int(v);
        unit = std::max(unit, char_unit(c));
        runs[count++] = Run{RUN_CHAR, c, 1};
      } else if (vt == T_INTEGER || vt == T_FLOAT) {
        int32_t k = number_text(v, ascii + used);
        if (k < 0) return false;
        runs[count++] = Run{RUN_ASCII, used, k};
        used += k;
      } else {
        return false;
      }
    }
  } else {
    return false;
  }
  for (int32_t i = 0; i < count; ++i) total += runs[i].len;
  if (total == 0) return true;  // as the measured append: the series as it was given
  // count_from_start and unit_of, read once from the buffer (nothing allocated since).
  SeriesBuffer* b = buf(series);
  uint32_t u = memory::unit(b);
  int32_t old = int32_t(memory::units(b));
  if (total > int64_t(MAX_BYTES) || uint64_t(old + total) * std::max(u, unit) > MAX_BYTES)
    error::raise(err::internal::no_memory);
  Cell s = *series, v = *value;
  uint32_t nu = std::max(u, unit);
  uint64_t need = uint64_t(old + total) * nu;
  if (nu != u || uint64_t(b->head) + need > uint64_t(b->capacity)) {
    // Widening and growth allocate: both cells are kept current across them.
    gc::Root keep_s(&s), keep_v(&v);
    if (nu != u) widen_to(&s, u, nu);
    b = buf(&s);
    if (uint64_t(b->head) + need > uint64_t(b->capacity)) {
      uint64_t want = std::max<uint64_t>(need * 2, 16);
      if (want > MAX_BYTES) want = need;
      b = memory::series_grow_copy_node(s.w2, int32_t(want));
      s.w2 = b->node;
    }
  }
  // Nothing allocates from here on.
  uint8_t* w = memory::head(b) + size_t(old) * nu;
  const Cell* cells = values_q ? memory::head_cells(buf(&v)) + v.w1 : &v;
  for (int32_t i = 0; i < count; ++i) {
    const Run& r = runs[i];
    if (r.kind == RUN_ASCII) {
      write_ascii(w, nu, ascii + r.at, r.len);
    } else if (r.kind == RUN_CHAR) {
      unicode::store_unit(w, nu, r.at);
    } else {
      // A text read again through its cell: growth may have moved it (or it is this string).
      SeriesBuffer* sb = buf(cells + (values_q ? i : 0));
      uint32_t su = memory::unit(sb);
      const uint8_t* p = memory::head(sb) + size_t(r.at) * su;
      if (su == nu) {
        std::memmove(w, p, size_t(r.len) * nu);
      } else {
        for (int32_t k = 0; k < r.len; ++k)
          unicode::store_unit(w + size_t(k) * nu, nu, unicode::load_unit(p + size_t(k) * su, su));
      }
    }
    w += size_t(r.len) * nu;
  }
  b->tail = b->head + uint32_t(need);
  *series = s;
  series->w1 = 0;
  return true;
}

}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_q) {
  if (!append_q) return insert(series, value, part, only, dup, false);
  if (dup < 1) return series;
  // One character onto a string nobody owns: the common case, without the measuring.
  if (cell::type(value) == T_CHAR && dup == 1 &&
      !(memory::node_buffer(series->w2)->flags & sflag::OWNED)) {
    uint64_t n = count_from_start(series);
    if ((n + 1) * 4 > MAX_BYTES) error::raise(err::internal::no_memory);
    add_codepoint(series, cell::get_int(value));
    series->w1 = 0;
    return series;
  }
  if (dup == 1 && part < 0 && !(buf(series)->flags & sflag::OWNED) &&
      direct_append(series, value))
    return series;
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  Piece p = measure(&v, part, only, true);
  if (p.cps.empty()) return series;
  int32_t old = count_from_start(&s);
  int32_t rep = reported(part);
  // The size check comes first: a refused append sends no notice.
  auto check = [&] {
    int64_t total = int64_t(p.cps.size()) * dup;
    if (total > int64_t(MAX_BYTES) ||
        uint64_t(old + total) * std::max(unit_of(&s), p.unit) > MAX_BYTES)
      error::raise(err::internal::no_memory);
  };
  check();
  if (notify(&s, "append", &v, old, rep)) {
    // The string (or the appended value) as the handler left it.
    p = measure(&v, part, only, true);
    old = count_from_start(&s);
    check();
  }
  replace_chars(&s, old, 0, p.cps, dup, p.unit, true);
  notify(&s, "appended", &v, old, rep);
  s.w1 = 0;
  *series = s;
  return series;
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool) {
  if (dup < 1) return series;
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  count_from_head(&s);  // clamps the head
  int32_t h = int32_t(s.w1);
  int32_t n = count_from_start(&s);
  bool at_tail = h >= n;
  // At the tail an insert is an append (block values count /part in values there).
  Piece p = measure(&v, part, only, at_tail);
  int32_t rep = reported(part);
  if (p.cps.empty()) {
    *series = s;
    return series;
  }
  int64_t total = 0;
  auto check = [&] {
    total = int64_t(p.cps.size()) * dup;
    if (total > int64_t(MAX_BYTES) || uint64_t(n + total) * std::max(unit_of(&s), p.unit) > MAX_BYTES)
      error::raise(err::internal::no_memory);
  };
  check();
  int32_t noticed = h;
  if (notify(&s, "insert", &v, h, rep)) {
    // The string as the handler left it: a head past its tail inserts at the tail.
    count_from_head(&s);
    h = int32_t(s.w1);
    n = count_from_start(&s);
    p = measure(&v, part, only, h >= n);
    check();
  }
  replace_chars(&s, h, 0, p.cps, dup, p.unit, true);
  notify(&s, "inserted", &v, noticed, rep);
  s.w1 = uint32_t(std::min<int64_t>(h + total, count_from_start(&s)));
  *series = s;
  return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  if (dup < 1) dup = 1;
  Cell s = *series, v = *value;
  gc::Root keep_s(&s), keep_v(&v);
  int32_t remaining = 0, h = 0, rep = 0, n = 0, cut = part;
  int64_t total = 0, replaced = 0;
  Piece p;
  // What goes and what comes, measured again after the first notice.
  auto measure_change = [&] {
    remaining = count_from_head(&s);
    h = int32_t(s.w1);
    cut = part > remaining ? remaining : part;
    // Values from the old content: a value on this buffer is read before anything moves.
    p = measure(&v, -1, only, false);
    total = int64_t(p.cps.size()) * dup;
    int32_t values = 1;
    uint32_t vt = cell::type(&v);
    if (vt == T_BLOCK || vt == T_PAREN || vt == T_HASH || vt == T_PATH)
      values = std::max(block::count_from_head(&v), 0);
    rep = cut >= 0 ? cut : int32_t(std::min<int64_t>(int64_t(values) * dup, remaining));
    replaced = cut >= 0 ? cut : std::min<int64_t>(total, remaining);
    n = count_from_start(&s);
    if (total > int64_t(MAX_BYTES) ||
        uint64_t(n - replaced + total) * std::max(unit_of(&s), p.unit) > MAX_BYTES)
      error::raise(err::internal::no_memory);
  };
  measure_change();
  int32_t noticed = h, noticed_rep = rep;
  if (notify(&s, "change", &v, h, rep)) measure_change();
  if (remaining == 0) {
    replace_chars(&s, h, 0, p.cps, dup, p.unit, true);
    notify(&s, "changed", nullptr, noticed, int32_t(total));
    s.w1 = uint32_t(count_from_start(&s));
    *series = s;
    return series;
  }
  replace_chars(&s, h, int32_t(replaced), p.cps, dup, p.unit, true);
  notify(&s, "changed", nullptr, noticed, noticed_rep);
  s.w1 = uint32_t(std::min<int64_t>(h + total, count_from_start(&s)));
  *series = s;
  return series;
}

}  // namespace kel::string
