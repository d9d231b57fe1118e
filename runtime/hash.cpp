// Hash tables: the table record, bucket flags and index array, probing, sizing,
// rehash and rebuild, per-datatype value hashes, symbol and word lookup, marking.
#include "runtime/hash.h"

#include <cstring>
#include <optional>
#include <vector>

#include "runtime/casemap.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/actions.h"
#include "runtime/hash_mem.h"
#include "runtime/rt.h"
#include "runtime/symbol.h"

namespace kel::hash {

Node symbol_table = 0;

namespace {

using mem::Root;

constexpr uint32_t HDR_UNSET = T_UNSET;

// Scratch record table of the position shifter; a process-lifetime root.
uint32_t shift_scratch = 0;

// Scratch for case-folded symbol spellings (raw copy then folded copy).
uint8_t* spell_buf = nullptr;
uint32_t spell_cap = 0;

uint8_t* spelling_scratch(uint32_t need) {
  if (need > spell_cap) {
    uint32_t cap = spell_cap ? spell_cap : 256;
    while (cap < need) cap *= 2;
    spell_buf = static_cast<uint8_t*>(rt::realloc(spell_buf, cap));
    spell_cap = cap;
  }
  return spell_buf;
}

inline int32_t* R(Node t) { return reinterpret_cast<int32_t*>(mem::data(t)); }
inline uint32_t* flags_of(Node t) { return reinterpret_cast<uint32_t*>(mem::data(uint32_t(R(t)[rec::FLAGS]))); }
inline int32_t* index_of(Node t) { return reinterpret_cast<int32_t*>(mem::data(uint32_t(R(t)[rec::INDEX]))); }
inline Cell* values_of(Node t) { return reinterpret_cast<Cell*>(mem::data(uint32_t(R(t)[rec::VALUES]))); }
inline int32_t value_count(Node t) { return int32_t(mem::used(uint32_t(R(t)[rec::VALUES])) / 16); }

inline uint32_t get_flag(const uint32_t* fl, uint32_t i) { return (fl[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_flag(uint32_t* fl, uint32_t i, uint32_t v) {
  uint32_t sh = (i & 15) * 2;
  fl[i >> 4] = (fl[i >> 4] & ~(3u << sh)) | (v << sh);
}

inline bool is_record_kind(int32_t kind) { return kind >= KIND_RECORDS; }

// Triangular probe: offsets 1, 3, 6, 10 ... from the start; ends back at the start.
struct Probe {
  uint32_t mask, start, i, k = 0;
  Probe(uint32_t h, uint32_t buckets) : mask(buckets - 1), start(h & (buckets - 1)), i(h & (buckets - 1)) {}
  bool next() {  // false once back at the start
    k++;
    i = (i + k) & mask;
    return i != start;
  }
};

// A table's flag, index and value arrays, read once for a probe in which nothing allocates.
struct TableArrays {
  const uint32_t* flags;
  const int32_t* index;
  const Cell* values;
  explicit TableArrays(const int32_t* r)
      : flags(reinterpret_cast<const uint32_t*>(mem::data(uint32_t(r[rec::FLAGS])))),
        index(reinterpret_cast<const int32_t*>(mem::data(uint32_t(r[rec::INDEX])))),
        values(reinterpret_cast<const Cell*>(mem::data(uint32_t(r[rec::VALUES])))) {}
};

uint32_t fold_upper(uint32_t c) { return uint32_t(case_::upper_char(int32_t(c))); }

Node new_filled(uint32_t bytes, uint8_t fill) {
  Node n = mem::new_bytes(bytes);
  std::memset(mem::data(n), fill, bytes);
  mem::set_used(n, bytes);
  return n;
}

// Fresh flag array (all empty) and index array for `buckets`, stored at once.
void fresh_arrays(Node t, uint32_t buckets) {
  Node fl = new_filled(buckets / 4 < 4 ? 4 : buckets / 4, 0xAA);
  R(t)[rec::FLAGS] = int32_t(fl);
  Node ix = new_filled(buckets * 4, 0);
  R(t)[rec::INDEX] = int32_t(ix);
}

int32_t grow_target(Node t) {
  int32_t* r = R(t);
  if (r[rec::KIND] == KIND_MAP) return r[rec::BUCKETS] + 1;
  return r[rec::BUCKETS] > 2 * r[rec::SIZE] ? r[rec::BUCKETS] - 1 : r[rec::BUCKETS] + 1;
}

// Kind 0 positions array: entries, grown to hold p.
int32_t* positions(Node t) { return reinterpret_cast<int32_t*>(mem::data(uint32_t(R(t)[rec::POSITIONS]))); }
uint32_t position_count(Node t) { return mem::used(uint32_t(R(t)[rec::POSITIONS])) / 4; }

void positions_fit(Node t, uint32_t p) {
  uint32_t n = position_count(t);
  if (p < n) return;
  uint32_t want = p ? 2 * p : 1;
  if (want <= p) want = p + 1;
  Node pn = uint32_t(R(t)[rec::POSITIONS]);
  mem::ensure(pn, want * 4);
  int32_t* ps = reinterpret_cast<int32_t*>(mem::data(pn));
  for (uint32_t i = n; i < want; i++) ps[i] = -1;
  mem::set_used(pn, want * 4);
}

uint32_t* lists_of(Node t) { return reinterpret_cast<uint32_t*>(mem::data(uint32_t(R(t)[rec::LISTS]))); }
Node list_node(Node t, int32_t idx) { return lists_of(t)[-idx - 1]; }
int32_t* list_data(Node l) { return reinterpret_cast<int32_t*>(mem::data(l)); }
uint32_t list_len(Node l) { return mem::used(l) / 4; }

// First position of a kind-0 bucket's entry.
int32_t first_position(Node t, int32_t idx) {
  if (idx >= 0) return idx;
  Node l = list_node(t, idx);
  return list_len(l) ? list_data(l)[0] : -1;
}

Node free_slots_of(Node t) { return uint32_t(R(t)[rec::FREE_SLOTS]); }

// A slot of the lists series for a new list: the last one freed, else a new one at the
// end. The free-slot stack then gets room for every slot, so that freeing never allocates.
uint32_t take_list_slot(Node t) {
  Node fs = free_slots_of(t);
  uint32_t n = mem::used(uint32_t(R(t)[rec::LISTS])) / 4;
  for (uint32_t k = mem::used(fs) / 4; k > 0;) {
    uint32_t slot = reinterpret_cast<uint32_t*>(mem::data(fs))[--k];
    mem::set_used(fs, k * 4);
    if (slot < n && lists_of(t)[slot] == 0) return slot;
  }
  Node lists = uint32_t(R(t)[rec::LISTS]);
  mem::ensure(lists, (n + 1) * 4);
  mem::set_used(lists, (n + 1) * 4);
  lists_of(t)[n] = 0;
  mem::ensure(fs, (n + 1) * 4);
  return n;
}

void free_list_slot(Node t, uint32_t slot) {
  lists_of(t)[slot] = 0;
  Node fs = free_slots_of(t);
  uint32_t u = mem::used(fs);
  // Room is kept for every slot; without it the slot is only not reused.
  if (u + 4 > mem::room(fs)) return;
  reinterpret_cast<uint32_t*>(mem::data(fs))[u / 4] = slot;
  mem::set_used(fs, u + 4);
}

// Appends p to the bucket's duplicate list, making the list on first need.
void join_list(Node t, uint32_t b, int32_t p) {
  int32_t idx = index_of(t)[b];
  if (idx >= 0) {
    Node l = mem::new_bytes(16);
    Root keep(&l);
    list_data(l)[0] = idx;
    mem::set_used(l, 4);
    uint32_t slot = take_list_slot(t);
    lists_of(t)[slot] = l;
    index_of(t)[b] = -int32_t(slot + 1);
    idx = index_of(t)[b];
  }
  Node l = list_node(t, idx);
  uint32_t len = list_len(l);
  mem::ensure(l, (len + 1) * 4);
  list_data(l)[len] = p;
  mem::set_used(l, (len + 1) * 4);
}

// Removes p from a kind-0 table (its list or its bucket); counts the size when asked.
void kind0_remove(Node t, int32_t p, bool count_size) {
  if (p < 0 || uint32_t(p) >= position_count(t)) return;
  int32_t b1 = positions(t)[p];
  if (b1 <= 0) return;
  uint32_t b = uint32_t(b1 - 1);
  positions(t)[p] = -1;
  int32_t idx = index_of(t)[b];
  if (idx < 0) {
    Node l = list_node(t, idx);
    int32_t* d = list_data(l);
    uint32_t len = list_len(l), j = 0;
    for (uint32_t i = 0; i < len; i++)
      if (d[i] != p) d[j++] = d[i];
    mem::set_used(l, j * 4);
    if (j > 0) return;
    free_list_slot(t, uint32_t(-idx - 1));
  } else if (idx != p) {
    return;
  }
  set_flag(flags_of(t), b, DELETED);
  if (count_size && R(t)[rec::SIZE] > 0) R(t)[rec::SIZE]--;
}

// Removes the positions lo .. hi - 1 (as kind0_remove does one by one), walking each
// duplicate list once however many of its members go: a range over many equal values
// would otherwise cost the list's length per position.
void kind0_remove_range(Node t, int32_t lo, int32_t hi, bool count_size) {
  if (lo < 0) lo = 0;
  if (hi > int32_t(position_count(t))) hi = int32_t(position_count(t));
  if (lo >= hi) return;
  std::vector<uint32_t> touched;  // buckets holding a list with members in the range
  std::vector<bool> seen(mem::used(uint32_t(R(t)[rec::LISTS])) / 4, false);
  for (int32_t p = lo; p < hi; p++) {
    int32_t b1 = positions(t)[p];
    if (b1 <= 0) continue;
    uint32_t b = uint32_t(b1 - 1);
    int32_t idx = index_of(t)[b];
    if (idx >= 0) {
      positions(t)[p] = -1;
      if (idx != p) continue;
      set_flag(flags_of(t), b, DELETED);
      if (count_size && R(t)[rec::SIZE] > 0) R(t)[rec::SIZE]--;
      continue;
    }
    uint32_t slot = uint32_t(-idx - 1);
    if (slot < seen.size() && !seen[slot]) {
      seen[slot] = true;
      touched.push_back(b);
    }
  }
  for (uint32_t b : touched) {
    Node l = list_node(t, index_of(t)[b]);
    int32_t* d = list_data(l);
    int32_t* ps = positions(t);
    uint32_t len = list_len(l), j = 0;
    for (uint32_t i = 0; i < len; i++) {
      int32_t m = d[i];
      if (m >= lo && m < hi && ps[m] == int32_t(b + 1)) continue;
      d[j++] = m;
    }
    mem::set_used(l, j * 4);
    if (j > 0) continue;
    free_list_slot(t, uint32_t(-index_of(t)[b] - 1));
    set_flag(flags_of(t), b, DELETED);
    if (count_size && R(t)[rec::SIZE] > 0) R(t)[rec::SIZE]--;
  }
  for (int32_t p = lo; p < hi; p++) positions(t)[p] = -1;
}

void reset_kind0(Node t) {
  int32_t* r = R(t);
  r[rec::SIZE] = r[rec::OCCUPIED] = 0;
  Node fl = uint32_t(r[rec::FLAGS]);
  std::memset(mem::data(fl), 0xAA, mem::used(fl));
  int32_t* ps = positions(t);
  for (uint32_t i = 0, n = position_count(t); i < n; i++) ps[i] = -1;
  mem::set_used(uint32_t(R(t)[rec::LISTS]), 0);
  mem::set_used(free_slots_of(t), 0);
}

uint32_t entry_hash(Node t, int32_t idx, int32_t kind) {
  if (is_record_kind(kind)) {
    const Cell* c = reinterpret_cast<const Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + idx);
    return mix_int32(c->w1);
  }
  return value_hash(values_of(t) + idx, 0);
}

// Places every live entry of the old arrays into the new flag array by displacement.
void replace_all(Node t, uint32_t old_buckets, const uint32_t* old_flags, uint32_t new_buckets) {
  int32_t kind = R(t)[rec::KIND];
  std::vector<uint8_t> handled(old_buckets, 0);
  for (uint32_t b = 0; b < old_buckets; b++) {
    if (get_flag(old_flags, b) != LIVE || handled[b]) continue;
    handled[b] = 1;
    int32_t entry = index_of(t)[b];
    for (;;) {
      Probe pr(entry_hash(t, entry, kind), new_buckets);
      uint32_t* fl = flags_of(t);
      while (get_flag(fl, pr.i) != EMPTY) pr.next();
      set_flag(fl, pr.i, LIVE);
      uint32_t j = pr.i;
      int32_t* ix = index_of(t);
      if (j < old_buckets && get_flag(old_flags, j) == LIVE && !handled[j]) {
        handled[j] = 1;
        int32_t displaced = ix[j];
        ix[j] = entry;
        entry = displaced;
        continue;
      }
      ix[j] = entry;
      break;
    }
  }
}

Cell* record_data(Node t, int32_t offset) {
  return reinterpret_cast<Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + offset) + 1;
}

struct NodeMovingOff {
  bool was;
  NodeMovingOff() : was(mem::node_moving()) { mem::set_node_moving(false); }
  ~NodeMovingOff() { mem::set_node_moving(was); }
};

// Held across an operation that allocates: keeps the table alive and its node handles
// (and those in locals) fixed; buffer addresses are still re-read after each allocation.
// The table is rooted as a hash! cell so the collector marks it as a table.
struct Hold {
  Cell cell;
  Root root;
  NodeMovingOff off;
  explicit Hold(Node t) : cell{T_HASH, 0, 0, t}, root(&cell) {}
};

// Series keys hash by identity (head index and node), so the tables compare them by
// identity too: equal contents in another series, or at another head, are another key,
// whatever the probe chains happen to meet.
bool series_identity_q(uint32_t t) {
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_IMAGE:
      return true;
    default:
      return false;
  }
}

// The characters of a string value from its (clamped) head, read in place.
struct Text {
  const uint8_t* p;
  uint32_t unit;
  uint32_t count;
  explicit Text(const Cell* s) {
    SeriesBuffer* b = memory::node_buffer(s->w2);
    unit = memory::unit(b);
    uint32_t n = memory::used_bytes(b) >> (unit >> 1), h = s->w1 < n ? s->w1 : n;
    p = memory::head(b) + size_t(h) * unit;
    count = n - h;
  }
};

// n bytes equal: up to 16 by two overlapping loads of each side (reading nothing outside
// the n bytes), longer ones by memcmp; map keys are mostly short words.
inline bool same_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
  auto load8 = [](const uint8_t* p) { uint64_t v; std::memcpy(&v, p, 8); return v; };
  auto load4 = [](const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; };
  if (n >= 8) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    return ((load8(a) ^ load8(b)) | (load8(a + n - 8) ^ load8(b + n - 8))) == 0;
  }
  if (n >= 4) return ((load4(a) ^ load4(b)) | (load4(a + n - 4) ^ load4(b + n - 4))) == 0;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

template <typename A, typename B>
bool same_chars(const A* x, const B* y, uint32_t n, bool fold) {
  for (uint32_t i = 0; i < n; i++) {
    int32_t c = int32_t(x[i]), d = int32_t(y[i]);
    if (c == d) continue;
    if (!fold || case_::upper_char(c) != case_::upper_char(d)) return false;
  }
  return true;
}

template <typename A>
bool same_chars_of(const A* x, const Text& y, uint32_t n, bool fold) {
  if (y.unit == 1) return same_chars(x, y.p, n, fold);
  if (y.unit == 2) return same_chars(x, reinterpret_cast<const uint16_t*>(y.p), n, fold);
  return same_chars(x, reinterpret_cast<const uint32_t*>(y.p), n, fold);
}

bool word_kind_q(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }

// Two words equal as word!'s compare says under equality: the same symbol, or (letter case
// folded) the same canonical symbol; without folding the same kind of word too.
bool same_word(const Cell* a, const Cell* b, bool fold) {
  int32_t sa = int32_t(a->w2), sb = int32_t(b->w2);
  if (!fold) return cell::type(a) == cell::type(b) && sa == sb;
  return sa == sb || symbol::canonical_id(sa) == symbol::canonical_id(sb);
}

// Two string! values equal as string!'s compare says under equality (letter case folded
// or not); allocates nothing.
bool same_text(const Cell* a, const Cell* b, bool fold) {
  if (a->w2 == b->w2 && a->w1 == b->w1) return true;
  Text x(a), y(b);
  if (x.count != y.count) return false;
  if (x.unit == y.unit && same_bytes(x.p, y.p, size_t(x.count) * x.unit)) return true;
  if (x.unit == y.unit && !fold) return false;
  if (x.unit == 1) return same_chars_of(x.p, y, x.count, fold);
  if (x.unit == 2) return same_chars_of(reinterpret_cast<const uint16_t*>(x.p), y, x.count, fold);
  return same_chars_of(reinterpret_cast<const uint32_t*>(x.p), y, x.count, fold);
}

// Key equality under a comparison op. Both cells are copied first: a compare slot may
// allocate (word! orderings and symbol! build strings), so the caller's buffer addresses
// are not used after the call and must be re-read. Callers hold the table (node moving
// off) and keep both cells reachable (the values series, a rooted key), so the copies'
// node handles stay valid.
bool keys_equal(const Cell* a_in, const Cell* b_in, int op) {
  Cell a = *a_in, b = *b_in;
  if (series_identity_q(cell::type(&a))) {
    bool same = cell::type(&a) == cell::type(&b) && a.w1 == b.w1 && a.w2 == b.w2;
    return op == 1 ? !same : same;
  }
  // string! keys under equality: what string!'s compare slot would answer, without the
  // dispatch (nothing allocates)
  if (cell::type(&a) == T_STRING && cell::type(&b) == T_STRING && (op == 0 || op == 2))
    return same_text(&a, &b, op == 0);
  // words (word!, set-word!, lit-word!, get-word!) under equality: word!'s compare slot
  if (word_kind_q(cell::type(&a)) && word_kind_q(cell::type(&b)) && (op == 0 || op == 2))
    return same_word(&a, &b, op == 0);
  return actions::compare(&a, &b, op);
}

bool ascii_eq_ci(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    uint8_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x |= 0x20;
    if (y >= 'A' && y <= 'Z') y |= 0x20;
    if (x != y) return false;
  }
  return true;
}

// Lower-cases (A-Z only) into the scratch buffer after a raw copy; returns the folded copy.
uint8_t* fold_spelling(const uint8_t* bytes, uint32_t len) {
  uint8_t* s = spelling_scratch(2 * len + 2);
  std::memmove(s, bytes, len);
  uint8_t* f = s + len + 1;
  for (uint32_t i = 0; i < len; i++) {
    uint8_t c = s[i];
    f[i] = (c >= 'A' && c <= 'Z') ? uint8_t(c + 0x20) : c;
  }
  return f;
}

void append_cell(Node values, const Cell& c) {
  uint32_t u = mem::used(values);
  mem::ensure(values, u + 16);
  std::memcpy(mem::data(values) + u, &c, 16);
  mem::set_used(values, u + 16);
}

}  // namespace

void forget_scratch() {
  shift_scratch = 0;  // a node of a heap that is gone
  if (spell_buf) rt::free(spell_buf);
  spell_buf = nullptr;
  spell_cap = 0;
}

uint32_t bucket_flag(Node t, uint32_t i) { return get_flag(flags_of(t), i); }

// ---- hashes ----

uint32_t round_up_pow2(uint32_t n) {
  n--;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  return n + 1;
}

bool address_hashed_q(uint32_t t) {
  switch (t) {
    case T_BLOCK: case T_PAREN: case T_NATIVE: case T_ACTION: case T_OP: case T_FUNCTION:
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_OBJECT: case T_ERROR:
    case T_HASH: case T_MAP: case T_PORT: case T_IMAGE: case T_EVENT:
      return true;
    default:
      return false;
  }
}

namespace {
// The characters [head, total) of one width mixed in, folded unless case-sensitive.
template <typename U>
uint32_t mix_chars(uint32_t h, const U* d, uint32_t head, uint32_t total, bool fold) {
  for (uint32_t i = head; i < total; i++) {
    uint32_t ch = d[i];
    if (fold) ch = fold_upper(ch);
    h = murmur3_mix_block(h, ch);
  }
  return h;
}
}  // namespace

namespace {
// The characters p[0, count) of one unit mixed in and finished, as string_hash does it.
uint32_t chars_hash(const uint8_t* p, uint32_t unit, uint32_t count, bool fold) {
  uint32_t h = seed;
  if (unit == 1) h = mix_chars(h, p, 0, count, fold);
  else if (unit == 2) h = mix_chars(h, reinterpret_cast<const uint16_t*>(p), 0, count, fold);
  else h = mix_chars(h, reinterpret_cast<const uint32_t*>(p), 0, count, fold);
  h ^= 4 * count;
  return mix_int32(h);
}
}  // namespace

uint32_t string_hash(const Cell* c, int case_sensitive) {
  Node n = c->w2;
  if (!n) return mix_int32(seed);
  SeriesBuffer* b = memory::node_buffer(n);
  uint32_t u = memory::unit(b), total = memory::used_bytes(b) >> (u >> 1), head = c->w1;
  if (head >= total) return mix_int32(seed);
  return chars_hash(memory::head(b) + size_t(head) * u, u, total - head, case_sensitive != 1);
}

uint32_t symbol_hash(const Cell* c) {
  Node n = c->w3;
  uint32_t len = mem::used(n);
  const uint8_t* f = fold_spelling(mem::data(n), len);
  return murmur3_x86_32(f, len);
}

uint32_t value_hash(const Cell* c, int case_sensitive) {
  switch (cell::type(c)) {
    case T_UNSET: return uint32_t(-2);
    case T_NONE: return uint32_t(-1);
    case T_DATATYPE: case T_LOGIC: case T_OBJECT: case T_ERROR: case T_PORT:
      return mix_int32(c->w1);
    case T_CHAR: case T_INTEGER: case T_MAP: case T_HANDLE: case T_EVENT:
      return mix_int32(c->w2);
    case T_NATIVE: case T_ACTION:
      return mix_int32(c->w3);
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
      return mix_int32(uint32_t(symbol::canonical_id(int32_t(c->w2))));
    case T_SYMBOL:
      return symbol_hash(c);
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
      return string_hash(c, case_sensitive);
    case T_FLOAT: case T_PERCENT: case T_TIME: case T_PAIR:
      return murmur3_x86_32(&c->w2, 8);
    case T_POINT2D:
      return murmur3_x86_32(&c->w1, 8);
    case T_POINT3D: case T_OP: case T_FUNCTION: case T_TRIPLE: case T_TYPESET: case T_DATE:
      return murmur3_x86_32(&c->w1, 12);
    case T_TUPLE: {
      uint32_t len = (c->header >> 19) & 0xF;
      if (len > 12) len = 12;
      return murmur3_x86_32(&c->w1, len);
    }
    case T_BINARY: {
      Node n = c->w2;
      if (!n) return murmur3_x86_32(nullptr, 0);
      uint32_t used = mem::used(n), head = c->w1 > used ? used : c->w1;
      return murmur3_x86_32(mem::data(n) + head, used - head);
    }
    case T_MONEY: {
      Cell m = *c;
      m.header = T_MONEY | (c->header & 0x4000);
      return murmur3_x86_32(&m, 16);
    }
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_IMAGE:
      return murmur3_x86_32(&c->w1, 8);
    default:
      return 0;
  }
}

// ---- creation and growth ----

Node table_create(int32_t size, const Cell* source, int32_t kind, int32_t d) {
  map_writes++;
  if (kind == KIND_SYMBOLS && d == 2 && source) return table_copy_from(source->w1);
  if (size < 4) size = 4;
  if (kind == KIND_SYMBOLS && size >= 4000) size *= 2;
  uint32_t buckets = round_up_pow2(uint32_t(double(size) / 0.77));
  Cell src{};
  if (source) src = *source;
  Cell src_block{T_BLOCK, 0, src.w2, 0};
  Root keep_src(&src_block);
  NodeMovingOff off;

  Node t = new_filled(rec::WORDS * 4, 0);
  Hold keep(t);
  R(t)[rec::BUCKETS] = int32_t(buckets);
  R(t)[rec::UPPER] = int32_t(double(buckets) * 0.77);
  R(t)[rec::KIND] = kind;
  fresh_arrays(t, buckets);
  if (kind == KIND_HASH) {
    Node ps = new_filled(uint32_t(size) * 4, 0xFF);
    R(t)[rec::POSITIONS] = int32_t(ps);
    Node ls = mem::new_bytes(16);
    R(t)[rec::LISTS] = int32_t(ls);
    Node fs = mem::new_bytes(16);
    R(t)[rec::FREE_SLOTS] = int32_t(fs);
  }
  if (is_record_kind(kind)) {
    R(t)[rec::RECORD_WIDTH] = (d + 1) * 16;
    Node v = mem::new_cells(uint32_t(size) * uint32_t(d + 1));
    R(t)[rec::VALUES] = int32_t(v);
    R(t)[rec::STAMP] = int32_t(mem::relocations() + 1);
    return t;
  }
  if (source && src.w2) {
    R(t)[rec::VALUES] = int32_t(src.w2);
    if (kind == KIND_HASH || kind == KIND_MAP)
      table_reinsert_all(t, int32_t(src.w1), kind == KIND_MAP ? 2 : 1);
  } else {
    Node v = mem::new_cells(uint32_t(size));
    R(t)[rec::VALUES] = int32_t(v);
  }
  return t;
}

void table_rehash_to(Node t, int32_t target) {
  Hold keep(t);
  map_writes++;
  uint32_t buckets = round_up_pow2(uint32_t(target < 0 ? 0 : target));
  if (buckets < 4) buckets = 4;
  int32_t upper = int32_t(double(buckets) * 0.77 + 0.5);
  if (R(t)[rec::SIZE] >= upper) return;
  uint32_t old_buckets = uint32_t(R(t)[rec::BUCKETS]);
  if (buckets > old_buckets) {
    Node ix = uint32_t(R(t)[rec::INDEX]);
    mem::ensure(ix, buckets * 4);
    std::memset(mem::data(ix) + old_buckets * 4, 0, (buckets - old_buckets) * 4);
    mem::set_used(ix, buckets * 4);
  }
  Node oldfl = uint32_t(R(t)[rec::FLAGS]);
  uint32_t flbytes = mem::used(oldfl);
  Node fl = new_filled(buckets / 4 < 4 ? 4 : buckets / 4, 0xAA);
  // Old flags go to the process heap: nothing allocates from here on.
  uint32_t* old_flags = static_cast<uint32_t*>(rt::alloc(flbytes));
  std::memcpy(old_flags, mem::data(uint32_t(R(t)[rec::FLAGS])), flbytes);
  R(t)[rec::FLAGS] = int32_t(fl);
  replace_all(t, old_buckets, old_flags, buckets);
  rt::free(old_flags);
  if (buckets < old_buckets) mem::set_used(uint32_t(R(t)[rec::INDEX]), buckets * 4);
  int32_t* r = R(t);
  r[rec::BUCKETS] = int32_t(buckets);
  r[rec::UPPER] = upper;
  if (r[rec::KIND] != KIND_MAP) r[rec::OCCUPIED] = r[rec::SIZE];
}

void table_resize(Node t, int32_t n) {
  Hold keep(t);
  map_writes++;
  uint32_t c0 = mem::relocations();
  uint32_t pw = round_up_pow2(uint32_t(double(n < 0 ? 0 : n) * 1.5));
  uint32_t buckets = pw < 4 ? 4 : pw;
  int32_t* r = R(t);
  r[rec::SIZE] = r[rec::OCCUPIED] = r[rec::STAMP] = 0;
  r[rec::BUCKETS] = int32_t(buckets);
  r[rec::UPPER] = int32_t(double(pw) * 0.77);
  mem::set_used(uint32_t(r[rec::LISTS]), 0);
  mem::set_used(uint32_t(r[rec::FREE_SLOTS]), 0);
  fresh_arrays(t, buckets);
  int32_t* ps = positions(t);
  for (uint32_t i = 0, m = position_count(t); i < m; i++) ps[i] = -1;
  table_reinsert_all(t, 0, 1);
  if (R(t)[rec::STAMP] != 0) R(t)[rec::STAMP] = int32_t(c0 + 1);
}

void table_rebuild(Node t, int32_t n) {
  Hold keep(t);
  if (is_record_kind(R(t)[rec::KIND]))
    grow_key_table(t, n);
  else
    table_resize(t, n);
}

void refresh_if_stale(Node t) {
  int32_t stamp = R(t)[rec::STAMP];
  if (stamp == 0 || uint32_t(stamp) == mem::relocations() + 1 || mem::collecting()) return;
  int32_t kind = R(t)[rec::KIND];
  if (is_record_kind(kind)) {
    rehash_key_table(t);
  } else if (kind == KIND_HASH) {
    table_rebuild(t, value_count(t));
  }
}

void table_reinsert_all(Node t, int32_t first, int32_t step) {
  Hold keep(t);
  map_writes++;
  if (first < 0) first = 0;
  if (step < 1) step = 1;
  if (R(t)[rec::KIND] != KIND_MAP) {
    for (int32_t p = first; p < value_count(t); p += step) {
      int status = 0;
      table_add_value(t, values_of(t) + p, &status);
      if (status == 2) return;
    }
    return;
  }
  // map!: a repeated key takes the later value and the later pair is cut out. Keys come
  // prepared (map::init_cell), so nothing here allocates.
  int32_t p = first;
  while (p + 1 < value_count(t)) {
    Cell* key = values_of(t) + p;
    Cell* found = table_search(t, key, 0, 1, 2, false, false);
    if (found) {
      Cell* v = values_of(t) + p;
      found[1] = v[1];
      Node vn = uint32_t(R(t)[rec::VALUES]);
      uint32_t used = mem::used(vn);
      uint8_t* base = mem::data(vn);
      std::memmove(base + p * 16, base + (p + 2) * 16, used - (p + 2) * 16);
      mem::set_used(vn, used - 32);
      continue;
    }
    int status = 0;
    table_add_value(t, values_of(t) + p, &status);
    p += 2;
  }
}

// ---- insertion ----

Cell* table_add_value(Node t, Cell* value, int* status) {
  Hold keep(t);
  map_writes++;
  int32_t p = int32_t(value - values_of(t));
  if (status) *status = 0;
  int32_t kind = R(t)[rec::KIND];
  if (R(t)[rec::OCCUPIED] >= R(t)[rec::UPPER]) {
    int32_t target = grow_target(t);
    if (kind == KIND_HASH) {
      table_rebuild(t, target);
      if (status) *status = 2;
      return values_of(t) + p;
    }
    table_rehash_to(t, target);
  }
  value = values_of(t) + p;
  if (kind == KIND_HASH && R(t)[rec::STAMP] == 0 && address_hashed_q(cell::type(value)))
    R(t)[rec::STAMP] = int32_t(mem::relocations() + 1);
  uint32_t h = value_hash(value, 0);
  uint32_t type = cell::type(value);
  Probe pr(h, uint32_t(R(t)[rec::BUCKETS]));
  int64_t deleted = -1, chosen = -1;
  bool fresh = false;
  // Buffer addresses are re-read on every step: a comparison may allocate.
  for (;;) {
    uint32_t f = get_flag(flags_of(t), pr.i);
    if (f == EMPTY) {
      if (deleted >= 0) chosen = deleted;
      else { chosen = pr.i; fresh = true; }
      break;
    }
    if (f == DELETED) {
      deleted = pr.i;
    } else {
      int32_t idx = index_of(t)[pr.i];
      if (kind == KIND_HASH) {
        int32_t fp = first_position(t, idx);
        if (fp >= 0 && cell::type(values_of(t) + fp) == type &&
            keys_equal(values_of(t) + fp, values_of(t) + p, 0)) {
          uint32_t b = pr.i;
          join_list(t, b, p);
          positions_fit(t, uint32_t(p));
          positions(t)[p] = int32_t(b + 1);
          return values_of(t) + p;
        }
      } else if (keys_equal(values_of(t) + idx, values_of(t) + p, 2)) {
        return values_of(t) + p;
      }
    }
    if (!pr.next()) {
      chosen = deleted;
      break;
    }
  }
  if (chosen < 0) {
    // Full of live entries: cannot happen while the bound holds; grow and retry.
    table_rehash_to(t, R(t)[rec::BUCKETS] + 1);
    return table_add_value(t, values_of(t) + p, status);
  }
  index_of(t)[chosen] = p;
  set_flag(flags_of(t), uint32_t(chosen), LIVE);
  R(t)[rec::SIZE]++;
  if (fresh) R(t)[rec::OCCUPIED]++;
  if (kind == KIND_HASH) {
    positions_fit(t, uint32_t(p));
    positions(t)[p] = int32_t(chosen + 1);
  }
  return values_of(t) + p;
}

Cell* table_add(Node t, Cell* value) { return table_add_value(t, value, nullptr); }

// ---- search ----

namespace {

// A map!'s probe from a key's hash: the first live entry `match` takes, or none. On a miss
// `slot` (when given) is the bucket table_add_value would give the key: the last deleted one
// before the empty one that ends the chain, else that empty one (-1: none, the table grows).
// The arrays of the map table probed last, kept while no table changed its buckets
// (map_writes), nothing moved and no node was renamed: a path's read and set of one key,
// and the look-ups after them in the same map, read the record once.
struct MapView {
  Node t = 0;
  uint64_t writes = ~uint64_t(0), moves = ~uint64_t(0), renames = ~uint64_t(0);
  uint32_t buckets = 0;
  const uint32_t* flags = nullptr;
  const int32_t* index = nullptr;
  const Cell* values = nullptr;
};
MapView g_map_view;
inline const MapView& map_view(Node t) {
  MapView& v = g_map_view;
  const memory::MemoryState& ms = memory::state();
  if (t != v.t || v.writes != map_writes || v.moves != ms.moves || v.renames != ms.renames) {
    const int32_t* r = R(t);
    const TableArrays a(r);
    v = MapView{t, map_writes, ms.moves, ms.renames, uint32_t(r[rec::BUCKETS]), a.flags, a.index,
                a.values};
  }
  return v;
}

template <class Match> Cell* map_probe(Node t, uint32_t hash, Match&& match, int64_t* slot = nullptr) {
  const MapView& a = map_view(t);
  Probe pr(hash, a.buckets);
  int64_t deleted = -1;
  do {
    uint32_t f = get_flag(a.flags, pr.i);
    if (f == EMPTY) {
      if (slot) *slot = deleted >= 0 ? deleted : int64_t(pr.i);
      return nullptr;
    }
    if (f == DELETED) {
      deleted = pr.i;
      continue;
    }
    const Cell* v = a.values + a.index[pr.i];
    if (match(v)) return const_cast<Cell*>(v);
  } while (pr.next());
  if (slot) *slot = deleted;
  return nullptr;
}

// A string key's characters read once for a probe (nothing allocates during one).
struct KeyText {
  Text text;
  bool fold;
  KeyText(const Cell* key, bool f) : text(key), fold(f) {}
  bool matches(const Cell* v) const {
    if (cell::type(v) != T_STRING) return false;
    Text y(v);
    if (y.count != text.count) return false;
    if (y.unit == text.unit && same_bytes(y.p, text.p, size_t(y.count) * y.unit)) return true;
    if (y.unit == text.unit && !fold) return false;
    if (text.unit == 1) return same_chars_of(text.p, y, text.count, fold);
    if (text.unit == 2) return same_chars_of(reinterpret_cast<const uint16_t*>(text.p), y, text.count, fold);
    return same_chars_of(reinterpret_cast<const uint32_t*>(text.p), y, text.count, fold);
  }
};

// A map!'s probe for a string! key under equality (fold: letter case ignored).
Cell* map_text_search(Node t, const Cell* key, bool fold, int64_t* slot = nullptr) {
  const KeyText k(key, fold);
  uint32_t hash = chars_hash(k.text.p, k.text.unit, k.text.count, true);  // string_hash(key, 0)
  return map_probe(t, hash, [&](const Cell* v) { return k.matches(v); }, slot);
}

// The same for a word key: a map stores every kind of word as a set-word!, and the key is
// looked for as one (the hash is the canonical symbol's).
Cell* map_word_search(Node t, const Cell* key, bool fold, int64_t* slot = nullptr) {
  Cell k = *key;
  cell::set_type(&k, T_SET_WORD);
  uint32_t hash = mix_int32(uint32_t(symbol::canonical_id(int32_t(k.w2))));
  return map_probe(t, hash, [&](const Cell* v) {
    return cell::type(v) == T_SET_WORD && same_word(v, &k, fold);
  }, slot);
}

}  // namespace

uint64_t map_writes = 0;

bool map_key_in_place_q(const Cell* key) {
  uint32_t t = cell::type(key);
  return t == T_STRING || word_kind_q(t);
}

Cell* map_search(Node t, const Cell* key, bool fold, int64_t* slot) {
  if (cell::type(key) == T_STRING) return map_text_search(t, key, fold, slot);
  return map_word_search(t, key, fold, slot);
}

bool map_search_equal_q(const Cell* stored, const Cell* key, bool fold) {
  if (cell::type(key) == T_STRING) return cell::type(stored) == T_STRING && same_text(stored, key, fold);
  if (cell::type(stored) != T_SET_WORD || !word_kind_q(cell::type(key))) return false;
  Cell k = *key;
  cell::set_type(&k, T_SET_WORD);
  return same_word(stored, &k, fold);
}

bool map_add_at(Node t, int32_t p, int64_t slot) {
  int32_t* r = R(t);
  if (slot < 0 || r[rec::OCCUPIED] >= r[rec::UPPER]) return false;
  uint32_t* fl = reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::FLAGS])));
  bool fresh = get_flag(fl, uint32_t(slot)) == EMPTY;
  reinterpret_cast<int32_t*>(mem::data(uint32_t(r[rec::INDEX])))[slot] = p;
  set_flag(fl, uint32_t(slot), LIVE);
  r[rec::SIZE]++;
  if (fresh) r[rec::OCCUPIED]++;
  map_writes++;
  return true;
}

Cell* table_search(Node t, Cell* key, int32_t start, int32_t skip, int op, bool last, bool reverse) {
  // string! and word keys of a map! under equality: nothing allocates (a map is never
  // stale), so the arrays and the key are read in place
  if ((op == 0 || op == 2) && R(t)[rec::KIND] == KIND_MAP) {
    if (map_key_in_place_q(key)) return map_search(t, key, op == 0, nullptr);
  }
  // A local copy: the key may sit in a buffer that a stale-table rebuild moves.
  Cell local = *key;
  key = &local;
  Root keep_key(&local);
  Hold keep(t);
  refresh_if_stale(t);
  int32_t kind = R(t)[rec::KIND];
  if (kind == KIND_MAP && cell::type(key) >= T_WORD && cell::type(key) <= T_GET_WORD)
    cell::set_type(key, T_SET_WORD);
  if (skip == 0) skip = 1;
  int32_t askip = skip < 0 ? -skip : skip;
  uint32_t type = cell::type(key);
  Probe pr(value_hash(key, 0), uint32_t(R(t)[rec::BUCKETS]));
  // Buffer addresses are re-read on every step: a comparison may allocate.
  do {
    uint32_t f = get_flag(flags_of(t), pr.i);
    if (f == EMPTY) return nullptr;
    if (f == DELETED) continue;
    int32_t idx = index_of(t)[pr.i];
    if (kind != KIND_HASH) {
      if (cell::type(values_of(t) + idx) != type) continue;
      if (keys_equal(values_of(t) + idx, key, op)) return values_of(t) + idx;
      continue;
    }
    int32_t fp = first_position(t, idx);
    if (fp < 0 || !keys_equal(values_of(t) + fp, key, 0)) continue;
    Node l = idx < 0 ? list_node(t, idx) : 0;
    uint32_t n = l ? list_len(l) : 1;
    int32_t pick = -1;
    for (uint32_t j = 0; j < n && (!l || j < list_len(l)); j++) {
      int32_t pos = l ? list_data(l)[j] : idx;
      if (!keys_equal(values_of(t) + pos, key, op)) continue;
      int32_t dist = (last || reverse) ? start - pos - 1 : pos - start;
      int32_t r = dist % askip;
      if (r < 0) r += askip;
      if (r != 0) continue;
      if (reverse) {
        if (pos < start && pos > pick) pick = pos;
      } else if (last) {
        if (pos >= start && pos > pick) pick = pos;
      } else if (pos >= start && (pick < 0 || pos < pick)) {
        pick = pos;
      }
    }
    if (pick >= 0) return values_of(t) + pick;
  } while (pr.next());
  return nullptr;
}

Cell* table_search_next(Node t, Cell* key, int32_t* cursor, int32_t* end_mark, int32_t* step) {
  Cell local = *key;
  key = &local;
  Root keep_key(&local);
  Hold keep(t);
  refresh_if_stale(t);
  int32_t kind = R(t)[rec::KIND];
  uint32_t buckets = uint32_t(R(t)[rec::BUCKETS]);
  uint32_t mask = buckets - 1, i, k;
  if (*cursor < 0) {
    i = value_hash(key, 0) & mask;
    *end_mark = int32_t(i + 1);
    k = 0;
  } else {
    k = uint32_t(*step) + 1;
    i = (uint32_t(*cursor) + k) & mask;
    if (int32_t(i + 1) == *end_mark) return nullptr;
  }
  uint32_t type = cell::type(key);
  for (;;) {
    uint32_t f = get_flag(flags_of(t), i);
    if (f == EMPTY) return nullptr;
    if (f == LIVE) {
      int32_t idx = index_of(t)[i];
      int32_t pos = kind == KIND_HASH ? first_position(t, idx) : idx;
      if (pos >= 0 && cell::type(values_of(t) + pos) == type &&
          keys_equal(values_of(t) + pos, key, 0)) {
        *cursor = int32_t(i);
        *step = int32_t(k);
        return values_of(t) + pos;
      }
    }
    k++;
    i = (i + k) & mask;
    if (int32_t(i + 1) == *end_mark) return nullptr;
  }
}

// ---- deletion ----

void table_delete_value(Node t, Cell* value) {
  int32_t kind = R(t)[rec::KIND];
  map_writes++;
  int32_t p = int32_t(value - values_of(t));
  if (kind == KIND_HASH) {
    kind0_remove(t, p, true);
    return;
  }
  if (kind == KIND_MAP) {
    if (p + 1 < value_count(t)) values_of(t)[p + 1].header = 0;
    if (R(t)[rec::SIZE] > 0) R(t)[rec::SIZE]--;
    return;
  }
  Probe pr(value_hash(value, 0), uint32_t(R(t)[rec::BUCKETS]));
  do {
    uint32_t f = get_flag(flags_of(t), pr.i);
    if (f == EMPTY) return;
    if (f == LIVE && index_of(t)[pr.i] == p) {
      set_flag(flags_of(t), pr.i, DELETED);
      R(t)[rec::SIZE]--;
      return;
    }
  } while (pr.next());
}

void table_delete_range(Node t, int32_t first, int32_t count) {
  int32_t total = value_count(t);
  if (first < 0) first = 0;
  if (count > total - first) count = total - first;
  if (count <= 0) return;
  if (R(t)[rec::KIND] != KIND_HASH) {
    for (int32_t p = first + count - 1; p >= first; p--) table_delete_value(t, values_of(t) + p);
    return;
  }
  if (first == 0 && count == total) {
    reset_kind0(t);
    return;
  }
  int32_t* r = R(t);
  r[rec::SIZE] = r[rec::SIZE] > count ? r[rec::SIZE] - count : 0;
  kind0_remove_range(t, first, first + count, false);
}

// ---- keeping kind-0 positions in step with the series ----

namespace {

Node shifter_scratch() {
  // A lost registration means the collector was reset: the old table is gone.
  if (!mem::add_global_root(&shift_scratch)) shift_scratch = 0;
  if (!shift_scratch) {
    Node s = table_create(1024, nullptr, KIND_RECORDS, 0);
    shift_scratch = s;
  }
  return shift_scratch;
}

// Rewrites every stored position l with lo <= l < hi (or members at or after `from`
// for lists) through f; each list is visited once.
template <class F>
void remap_positions(Node t, int32_t lo, int32_t hi, int32_t list_from, F f) {
  Hold keep(t);
  int32_t end = std::min<int64_t>(hi, position_count(t));
  for (int32_t p = lo; p < end; p++) {
    // Entries of one position each change in place without allocating: their arrays are
    // taken once for the whole run up to the next list (a hash! losing its head shifts
    // every entry, so this loop is what a removal costs).
    int32_t* ps = positions(t);
    int32_t* ix = index_of(t);
    for (; p < end; p++) {
      int32_t b1 = ps[p];
      if (b1 <= 0) continue;
      int32_t idx = ix[b1 - 1];
      if (idx < 0) break;
      ix[b1 - 1] = f(idx);
    }
    if (p >= end) break;
    int32_t idx = ix[ps[p] - 1];
    Node l = list_node(t, idx);
    Node sc = shifter_scratch();
    if (table_lookup_key(sc, l)) continue;
    table_add_key(sc, l);
    int32_t* d = list_data(l);
    for (uint32_t j = 0, n = list_len(l); j < n; j++)
      if (d[j] >= list_from && (list_from >= 0 || (d[j] >= lo && d[j] < hi))) d[j] = f(d[j]);
  }
  table_empty(shifter_scratch());
}

}  // namespace

void table_shift_indexes(Node t, int32_t offset, int32_t first, int32_t count, bool flag) {
  if (count <= 0 || offset == 0) return;
  Hold keep(t);
  if (flag && offset < 0) kind0_remove_range(t, first + offset, first, true);
  remap_positions(t, first, first + count, first, [offset](int32_t l) { return l + offset; });
  // The positions array moves with the stored positions whether or not the flag is set:
  // left behind, it would name the wrong buckets for the shifted cells, and a later
  // removal of one of them would leave its entry indexed (insert shifts without it).
  int32_t dest = first + offset;
  if (dest < 0) return;
  positions_fit(t, uint32_t(dest + count - 1));
  positions_fit(t, uint32_t(first + count - 1));
  int32_t* ps = positions(t);
  std::memmove(ps + dest, ps + first, size_t(count) * 4);
  // Entries left behind by the move no longer name a cell.
  int32_t left_from = offset < 0 ? std::max(dest + count, first) : first;
  int32_t left_to = offset < 0 ? first + count : std::min(dest, first + count);
  for (int32_t p = left_from; p < left_to; p++) ps[p] = -1;
}

void table_move_indexes(Node t, int32_t destination, int32_t first, int32_t count) {
  if (count <= 0 || (destination >= first && destination <= first + count)) return;
  Hold keep(t);
  int32_t lo, hi;
  if (destination < first) {
    lo = destination;
    hi = first + count;
  } else {
    lo = first;
    hi = destination;
  }
  // New place of a cell that sat at l, in the original numbering.
  auto moved = [=](int32_t l) {
    if (l < lo || l >= hi) return l;
    if (l >= first && l < first + count) return destination < first ? l - (first - destination)
                                                                     : l + (destination - first - count);
    return destination < first ? l + count : l - count;
  };
  remap_positions(t, lo, hi, -1, moved);
  positions_fit(t, uint32_t(hi - 1));
  int32_t span = hi - lo;
  int32_t* tmp = static_cast<int32_t*>(rt::alloc(size_t(span) * 4));
  int32_t* ps = positions(t);
  for (int32_t l = lo; l < hi; l++) tmp[moved(l) - lo] = ps[l];
  std::memcpy(ps + lo, tmp, size_t(span) * 4);
  rt::free(tmp);
}

// ---- copies and emptying ----

Node table_duplicate(Node t, Node values) {
  Hold keep_t(t);
  map_writes++;
  Root keep_v(&values);
  Node c = mem::clone(t);
  Hold keep_c(c);
  Node fl = mem::clone(uint32_t(R(t)[rec::FLAGS]));
  R(c)[rec::FLAGS] = int32_t(fl);
  Node ix = mem::clone(uint32_t(R(t)[rec::INDEX]));
  R(c)[rec::INDEX] = int32_t(ix);
  R(c)[rec::VALUES] = int32_t(values);
  if (R(t)[rec::KIND] == KIND_HASH) {
    Node ps = mem::clone(uint32_t(R(t)[rec::POSITIONS]));
    R(c)[rec::POSITIONS] = int32_t(ps);
    Node ls = mem::clone(uint32_t(R(t)[rec::LISTS]));
    R(c)[rec::LISTS] = int32_t(ls);
    for (uint32_t i = 0, n = mem::used(ls) / 4; i < n; i++) {
      Node l = lists_of(c)[i];
      if (!l) continue;
      Node copy = mem::clone(l);
      lists_of(c)[i] = copy;
    }
    Node fs = mem::clone(free_slots_of(t));
    R(c)[rec::FREE_SLOTS] = int32_t(fs);
    mem::ensure(fs, mem::used(ls) + 4);
  }
  return c;
}

Node table_copy_from(Node source) {
  Hold keep_s(source);
  Node c = mem::clone(source);
  Hold keep_c(c);
  Node fl = mem::clone(uint32_t(R(source)[rec::FLAGS]));
  R(c)[rec::FLAGS] = int32_t(fl);
  Node ix = mem::clone(uint32_t(R(source)[rec::INDEX]));
  R(c)[rec::INDEX] = int32_t(ix);
  Node v = mem::clone(uint32_t(R(source)[rec::VALUES]));
  R(c)[rec::VALUES] = int32_t(v);
  return c;
}

void table_empty(Node t) {
  int32_t* r = R(t);
  map_writes++;
  r[rec::SIZE] = r[rec::OCCUPIED] = 0;
  mem::set_used(uint32_t(r[rec::VALUES]), 0);
  Node fl = uint32_t(r[rec::FLAGS]);
  std::memset(mem::data(fl), 0xAA, mem::used(fl));
}

void table_no_op(Node) {}

// ---- record tables ----

void rehash_key_table(Node t) {
  int32_t* r = R(t);
  uint32_t buckets = uint32_t(r[rec::BUCKETS]);
  Node fl = uint32_t(r[rec::FLAGS]);
  std::memset(mem::data(fl), 0xAA, mem::used(fl));
  int32_t width = r[rec::RECORD_WIDTH];
  Node vn = uint32_t(r[rec::VALUES]);
  uint32_t used = mem::used(vn);
  int32_t live = 0;
  for (uint32_t off = 0; off + uint32_t(width) <= used; off += uint32_t(width)) {
    const Cell* h = reinterpret_cast<const Cell*>(mem::data(vn) + off);
    if (h->header == 0) continue;
    Probe pr(mix_int32(h->w1), buckets);
    while (get_flag(flags_of(t), pr.i) != EMPTY) pr.next();
    set_flag(flags_of(t), pr.i, LIVE);
    index_of(t)[pr.i] = int32_t(off);
    live++;
  }
  r = R(t);
  r[rec::SIZE] = r[rec::OCCUPIED] = live;
  r[rec::STAMP] = int32_t(mem::relocations() + 1);
}

void grow_key_table(Node t, int32_t target) {
  Hold keep(t);
  uint32_t pw = round_up_pow2(uint32_t(target < 0 ? 0 : target));
  uint32_t buckets = pw < 4 ? 4 : pw;
  int32_t upper = int32_t(double(pw) * 0.77 + 0.5);
  int32_t width = R(t)[rec::RECORD_WIDTH];
  int32_t old_size = R(t)[rec::SIZE];
  // Live records go to the process heap while the new arrays are made.
  Node ov = uint32_t(R(t)[rec::VALUES]);
  uint32_t used = mem::used(ov);
  std::vector<uint8_t> old(mem::data(ov), mem::data(ov) + used);
  fresh_arrays(t, buckets);
  uint32_t cells = uint32_t(width / 16) * uint32_t(old_size > 0 ? old_size : 1);
  Node nv = mem::new_cells(cells);
  int32_t* r = R(t);
  r[rec::VALUES] = int32_t(nv);
  r[rec::BUCKETS] = int32_t(buckets);
  r[rec::UPPER] = upper;
  r[rec::SIZE] = r[rec::OCCUPIED] = 0;
  r[rec::STAMP] = int32_t(mem::relocations() + 1);
  for (uint32_t off = 0; off + uint32_t(width) <= used; off += uint32_t(width)) {
    const Cell* h = reinterpret_cast<const Cell*>(old.data() + off);
    if (h->header == 0) continue;
    Cell* d = table_add_key(t, h->w1);
    std::memcpy(d, h + 1, size_t(width) - 16);
  }
}

Cell* table_add_key(Node t, uint32_t key) {
  Hold keep(t);
  refresh_if_stale(t);
  if (R(t)[rec::OCCUPIED] >= R(t)[rec::UPPER]) {
    int32_t target = grow_target(t);
    NodeMovingOff off;
    grow_key_table(t, target);
  }
  int32_t width = R(t)[rec::RECORD_WIDTH];
  Probe pr(mix_int32(key), uint32_t(R(t)[rec::BUCKETS]));
  int64_t deleted = -1, chosen = -1;
  bool fresh = false, found = false;
  for (;;) {
    uint32_t f = get_flag(flags_of(t), pr.i);
    if (f == EMPTY) {
      if (deleted >= 0) chosen = deleted;
      else { chosen = pr.i; fresh = true; }
      break;
    }
    if (f == DELETED) {
      deleted = pr.i;
    } else {
      const Cell* h = reinterpret_cast<const Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + index_of(t)[pr.i]);
      if (h->w1 == key) { chosen = pr.i; found = true; break; }
    }
    if (!pr.next()) { chosen = deleted; break; }
  }
  if (chosen < 0) {
    grow_key_table(t, R(t)[rec::BUCKETS] + 1);
    return table_add_key(t, key);
  }
  int32_t off;
  if (found || !fresh) {
    off = index_of(t)[chosen];
  } else {
    Node vn = uint32_t(R(t)[rec::VALUES]);
    uint32_t used = mem::used(vn);
    mem::ensure(vn, used + uint32_t(width));
    std::memset(mem::data(vn) + used, 0, size_t(width));
    mem::set_used(vn, used + uint32_t(width));
    off = int32_t(used);
  }
  if (!found) {
    index_of(t)[chosen] = off;
    set_flag(flags_of(t), uint32_t(chosen), LIVE);
    R(t)[rec::SIZE]++;
    if (fresh) R(t)[rec::OCCUPIED]++;
  }
  Cell* h = reinterpret_cast<Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + off);
  h->w1 = key;
  for (int32_t i = 0; i < width / 16; i++) h[i].header = HDR_UNSET;
  return h + 1;
}

namespace {
int64_t find_key_bucket(Node t, uint32_t key) {
  Probe pr(mix_int32(key), uint32_t(R(t)[rec::BUCKETS]));
  do {
    uint32_t f = get_flag(flags_of(t), pr.i);
    if (f == EMPTY) return -1;
    if (f == LIVE) {
      const Cell* h = reinterpret_cast<const Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + index_of(t)[pr.i]);
      if (h->w1 == key) return pr.i;
    }
  } while (pr.next());
  return -1;
}
}  // namespace

Cell* table_lookup_key(Node t, uint32_t key) {
  refresh_if_stale(t);
  int64_t b = find_key_bucket(t, key);
  return b < 0 ? nullptr : record_data(t, index_of(t)[b]);
}

Cell* table_delete_key(Node t, uint32_t key) {
  refresh_if_stale(t);
  int64_t b = find_key_bucket(t, key);
  if (b < 0) return nullptr;
  set_flag(flags_of(t), uint32_t(b), DELETED);
  R(t)[rec::SIZE]--;
  Cell* d = record_data(t, index_of(t)[b]);
  d[-1].header = 0;
  return d;
}

// ---- symbols and word lists ----

int32_t find_symbol_name(Node t, const uint8_t* bytes, uint32_t length, bool any_case) {
  // Held from the first allocation on: a name found needs none.
  std::optional<Hold> keep;
  // Raw copy first, before anything allocates: the caller's bytes may sit in a buffer
  // that moves.
  const uint8_t* folded = fold_spelling(bytes, length);
  if (R(t)[rec::OCCUPIED] >= R(t)[rec::UPPER]) {
    // The rehash folds the names again in the same scratch: the spelling waits aside.
    keep.emplace(t);
    std::vector<uint8_t> copy(spell_buf, spell_buf + length);
    int32_t* r = R(t);
    int32_t target = (r[rec::BUCKETS] > 2 * r[rec::SIZE] ? r[rec::BUCKETS] - 1 : r[rec::BUCKETS] + 1) * 16;
    NodeMovingOff off;
    table_rehash_to(t, target);
    folded = fold_spelling(copy.data(), length);
  }
  const uint8_t* raw = spell_buf;
  uint32_t h = murmur3_x86_32(folded, length);
  int64_t empty = -1;
  int32_t alias = -1;
  {
    // One walk of the chain finds the spelling asked for and, failing that, the first
    // other-case spelling (the alias of a new one). Nothing in it allocates: the table's
    // addresses are read once.
    const int32_t* r = R(t);
    const TableArrays a(r);
    const uint32_t* fl = a.flags;
    const int32_t* ix = a.index;
    const Cell* values = a.values;
    Probe pr(h, uint32_t(r[rec::BUCKETS]));
    do {
      uint32_t f = get_flag(fl, pr.i);
      if (f == EMPTY) {
        empty = pr.i;
        break;
      }
      if (f == DELETED) continue;
      int32_t pos = ix[pr.i];
      const Cell* s = values + pos;
      Node sn = s->w3;
      if (mem::used(sn) != length) continue;
      const uint8_t* sb = mem::data(sn);
      if (any_case ? ascii_eq_ci(sb, raw, length) : std::memcmp(sb, raw, length) == 0) return pos + 1;
      // An alias always names an entry without one.
      if (alias < 0 && ascii_eq_ci(sb, raw, length)) alias = int32_t(s->w1) > 0 ? int32_t(s->w1) : pos + 1;
    } while (pr.next());
  }
  if (empty < 0) {
    // No empty bucket met (cannot happen under the bound): grow and retry.
    if (!keep) keep.emplace(t);
    std::vector<uint8_t> copy(raw, raw + length);
    table_rehash_to(t, R(t)[rec::BUCKETS] * 2);
    return find_symbol_name(t, copy.data(), length, any_case);
  }
  if (!keep) keep.emplace(t);
  Node sn = mem::new_bytes(length + 1);
  Root keep_s(&sn);
  std::memcpy(mem::data(sn), spell_buf, length);
  mem::data(sn)[length] = 0;
  mem::set_used(sn, length);
  Cell sym{T_SYMBOL, uint32_t(alias), 0, sn};
  // With room in the list the entry is written in place; the record is read once.
  int32_t* r = R(t);
  SeriesBuffer* vb = memory::node_buffer(uint32_t(r[rec::VALUES]));
  int32_t pos;
  if (vb->tail + 16 <= uint32_t(vb->capacity)) {
    pos = int32_t(memory::used_bytes(vb) / 16);
    *memory::tail_cells(vb) = sym;
    vb->tail += 16;
  } else {
    append_cell(uint32_t(r[rec::VALUES]), sym);
    r = R(t);
    pos = value_count(t) - 1;
  }
  reinterpret_cast<int32_t*>(mem::data(uint32_t(r[rec::INDEX])))[empty] = pos;
  set_flag(reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::FLAGS]))), uint32_t(empty), LIVE);
  r[rec::SIZE]++;
  r[rec::OCCUPIED]++;
  return pos + 1;
}

namespace {
// The word entry for a symbol, or null; on a miss, `slot` is the bucket an insertion along
// the same chain takes (the first deleted one, else the empty one that ended the walk) and
// `fresh` says it was empty. Nothing here allocates, so the buffer addresses are read once.
const Cell* find_word_entry(Node t, int32_t symbol_id, bool canonical, int32_t canon, uint32_t h,
                            int64_t& slot, bool& fresh) {
  const int32_t* r = R(t);
  const TableArrays a(r);
  const uint32_t* fl = a.flags;
  const int32_t* ix = a.index;
  const Cell* values = a.values;
  Probe pr(h, uint32_t(r[rec::BUCKETS]));
  do {
    uint32_t f = get_flag(fl, pr.i);
    if (f == EMPTY) {
      if (slot < 0) {
        slot = pr.i;
        fresh = true;
      }
      break;
    }
    if (f == DELETED) {
      if (slot < 0) slot = pr.i;
      continue;
    }
    const Cell* w = values + ix[pr.i];
    // The same id is the same canonical id: only other spellings need the look-up.
    bool eq = int32_t(w->w2) == symbol_id || (canonical && symbol::canonical_id(int32_t(w->w2)) == canon);
    if (eq) return w;
  } while (pr.next());
  return nullptr;
}
}  // namespace

int32_t context_symbol_index(Node t, int32_t symbol_id, bool canonical, Node context, int32_t* index) {
  int32_t canon = symbol::canonical_id(symbol_id);
  uint32_t h = mix_int32(uint32_t(canon));
  int64_t slot = -1;
  bool fresh = false;
  // A plain look-up takes no guards: nothing allocates until a word is added.
  if (const Cell* w = find_word_entry(t, symbol_id, canonical, canon, h, slot, fresh)) {
    if (index) *index = int32_t(w->w3);
    return int32_t(w->w3);
  }
  if (!context) return -1;
  {
    // Room for the word and no rehash due: it goes into the bucket the walk ended at,
    // with nothing allocated and so no guards.
    int32_t* r = R(t);
    SeriesBuffer* vb = memory::node_buffer(uint32_t(r[rec::VALUES]));
    if (slot >= 0 && r[rec::OCCUPIED] < r[rec::UPPER] && vb->tail + 16 <= uint32_t(vb->capacity)) {
      int32_t n = int32_t(memory::used_bytes(vb) / 16);
      *memory::tail_cells(vb) = Cell{T_WORD, context, uint32_t(symbol_id), uint32_t(n)};
      vb->tail += 16;
      reinterpret_cast<int32_t*>(mem::data(uint32_t(r[rec::INDEX])))[slot] = n;
      set_flag(reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::FLAGS]))), uint32_t(slot), LIVE);
      r[rec::SIZE]++;
      if (fresh) r[rec::OCCUPIED]++;
      if (index) *index = n;
      return -1;
    }
  }
  if (!context) return -1;
  Hold keep(t);
  Root keep_c(&context);
  if (R(t)[rec::OCCUPIED] >= R(t)[rec::UPPER]) {
    // A rehash keeps the same entries: the word is still missing after it.
    int32_t* r = R(t);
    int32_t target = (r[rec::BUCKETS] > 2 * r[rec::SIZE] ? r[rec::BUCKETS] - 1 : r[rec::BUCKETS] + 1) * 16;
    NodeMovingOff off;
    table_rehash_to(t, target);
  }
  int32_t n = value_count(t);
  Cell w{T_WORD, context, uint32_t(symbol_id), uint32_t(n)};
  append_cell(uint32_t(R(t)[rec::VALUES]), w);
  // Nothing allocates from here on: the addresses are read once.
  int32_t* r = R(t);
  uint32_t* fl = reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::FLAGS])));
  Probe pr(h, uint32_t(r[rec::BUCKETS]));
  int64_t chosen = -1;
  bool was_empty = false;
  do {
    uint32_t f = get_flag(fl, pr.i);
    if (f == EMPTY) { if (chosen < 0) { chosen = pr.i; was_empty = true; } break; }
    if (f == DELETED && chosen < 0) chosen = pr.i;
  } while (pr.next());
  reinterpret_cast<int32_t*>(mem::data(uint32_t(r[rec::INDEX])))[chosen] = n;
  set_flag(fl, uint32_t(chosen), LIVE);
  r[rec::SIZE]++;
  if (was_empty) r[rec::OCCUPIED]++;
  if (index) *index = n;
  return -1;
}

WordFinder word_finder(Node t) {
  const int32_t* r = R(t);
  const TableArrays a(r);
  Node vn = uint32_t(r[rec::VALUES]);
  return WordFinder{a.flags, a.index, a.values, uint32_t(r[rec::BUCKETS]), mem::used(vn) / 16};
}

int32_t WordFinder::find(int32_t symbol_id) const {
  int32_t canon = symbol::canonical_id(symbol_id);
  Probe pr(mix_int32(uint32_t(canon)), buckets);
  do {
    uint32_t f = get_flag(flags, pr.i);
    if (f == EMPTY) break;
    if (f == DELETED) continue;
    const Cell* w = words + index[pr.i];
    if (int32_t(w->w2) == symbol_id || symbol::canonical_id(int32_t(w->w2)) == canon) return int32_t(w->w3);
  } while (pr.next());
  return -1;
}

namespace {
// The set-words of a block, or the words of a spec (word, get-word, lit-word, refinement).
template <bool SPEC>
bool adds_q(const Cell* c) {
  uint32_t t = cell::type(c);
  if (SPEC) return t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT;
  return t == T_SET_WORD;
}

template <bool SPEC>
int32_t add_words_in_place(Node t, Node context, const Cell* cells, uint32_t count) {
  uint32_t sets = 0;
  for (uint32_t i = 0; i < count; ++i) sets += adds_q<SPEC>(cells + i);
  int32_t* r = R(t);
  SeriesBuffer* vb = memory::node_buffer(uint32_t(r[rec::VALUES]));
  if (int64_t(r[rec::OCCUPIED]) + sets > r[rec::UPPER] ||
      vb->tail + uint64_t(sets) * 16 > uint32_t(vb->capacity))
    return -1;
  uint32_t* fl = reinterpret_cast<uint32_t*>(mem::data(uint32_t(r[rec::FLAGS])));
  int32_t* ix = reinterpret_cast<int32_t*>(mem::data(uint32_t(r[rec::INDEX])));
  uint32_t buckets = uint32_t(r[rec::BUCKETS]);
  int32_t added = 0;
  for (uint32_t i = 0; i < count && sets; ++i) {
    const Cell* c = cells + i;
    if (!adds_q<SPEC>(c)) continue;
    --sets;
    // context_symbol_index's canonical look-up, then its in-place add at the probe's end.
    int32_t symbol_id = int32_t(c->w2);
    int32_t canon = symbol::canonical_id(symbol_id);
    const Cell* words = memory::head_cells(vb);
    Probe pr(mix_int32(uint32_t(canon)), buckets);
    int64_t slot = -1;
    bool fresh = false, found = false;
    do {
      uint32_t f = get_flag(fl, pr.i);
      if (f == EMPTY) {
        if (slot < 0) {
          slot = pr.i;
          fresh = true;
        }
        break;
      }
      if (f == DELETED) {
        if (slot < 0) slot = pr.i;
        continue;
      }
      const Cell* w = words + ix[pr.i];
      if (int32_t(w->w2) == symbol_id || symbol::canonical_id(int32_t(w->w2)) == canon) {
        found = true;
        break;
      }
    } while (pr.next());
    if (found) continue;
    if (slot < 0) rt::fatal_error(101, 0);  // a full table: the room test above rules it out
    int32_t n = int32_t(memory::used_bytes(vb) / 16);
    *memory::tail_cells(vb) = Cell{T_WORD, context, uint32_t(symbol_id), uint32_t(n)};
    vb->tail += 16;
    ix[slot] = n;
    set_flag(fl, uint32_t(slot), LIVE);
    r[rec::SIZE]++;
    if (fresh) r[rec::OCCUPIED]++;
    ++added;
  }
  return added;
}
}  // namespace

int32_t context_add_set_words_in_place(Node t, Node context, const Cell* cells, uint32_t count) {
  return add_words_in_place<false>(t, context, cells, count);
}

int32_t context_add_spec_words_in_place(Node t, Node context, const Cell* cells, uint32_t count) {
  return add_words_in_place<true>(t, context, cells, count);
}

Node context_symbols_node(const Cell* context) { return uint32_t(R(context->w1)[rec::VALUES]); }
Cell* context_symbols(const Cell* context) {
  return reinterpret_cast<Cell*>(mem::data(context_symbols_node(context)));
}
Cell* context_word_at(const Cell* context, int32_t i) { return context_symbols(context) + i; }

// ---- collector ----

void mark_table(uint32_t* table_word) {
  // The record may already carry a plain mark (a guard around one of its own copies or
  // growths), so its parts are walked on every call; each part marks only once.
  if (!*table_word) return;
  mem::mark_series(table_word);
  Node t = *table_word;
  // Anything but a table record is only kept alive.
  if (mem::used(t) != rec::WORDS * 4) return;
  int32_t* r = R(t);
  int32_t kind = r[rec::KIND];
  // A table caught half-made has zero fields; those are skipped.
  mem::mark_series(reinterpret_cast<uint32_t*>(&r[rec::FLAGS]));
  mem::mark_series(reinterpret_cast<uint32_t*>(&r[rec::INDEX]));
  if (kind == KIND_HASH) {
    mem::mark_series(reinterpret_cast<uint32_t*>(&r[rec::POSITIONS]));
    // The lists series may have been marked already (a guard around its growth) without
    // its nodes: walk it whenever the table itself is newly marked.
    mem::mark_series(reinterpret_cast<uint32_t*>(&r[rec::FREE_SLOTS]));
    mem::mark_series(reinterpret_cast<uint32_t*>(&r[rec::LISTS]));
    if (r[rec::LISTS]) {
      uint32_t* ls = lists_of(t);
      for (uint32_t i = 0, n = mem::used(uint32_t(r[rec::LISTS])) / 4; i < n; i++)
        if (ls[i]) mem::mark_series(&ls[i]);
    }
  }
  uint32_t* vw = reinterpret_cast<uint32_t*>(&R(t)[rec::VALUES]);
  if (!*vw) return;
  if (kind == KIND_OWNER) {
    // Owned series and owners live only by other references: only the record
    // storage is marked here, and moved keys are rewritten for the sweep.
    if (mem::mark_series(vw) && R(t)[rec::FLAGS] && R(t)[rec::INDEX]) {
      for (uint32_t b = 0, nb = uint32_t(R(t)[rec::BUCKETS]); b < nb; b++) {
        if (get_flag(flags_of(t), b) != LIVE) continue;
        Cell* h = reinterpret_cast<Cell*>(mem::data(*vw) + index_of(t)[b]);
        mem::remap(&h->w1);
      }
    }
    return;
  }
  if (is_record_kind(kind) && R(t)[rec::FLAGS] && R(t)[rec::INDEX]) {
    mem::remap(vw);
    for (uint32_t b = 0, nb = uint32_t(R(t)[rec::BUCKETS]); b < nb; b++) {
      if (get_flag(flags_of(t), b) != LIVE) continue;
      Cell* h = reinterpret_cast<Cell*>(mem::data(*vw) + index_of(t)[b]);
      // Keys that name no live node (plain numbers) are left alone.
      mem::remap(&h->w1);
      if (mem::live_node_q(h->w1) && mem::mark_series(&h->w1) && mem::unit(h->w1) == 16) {
        Cell* c = reinterpret_cast<Cell*>(mem::data(h->w1));
        mem::mark_cells(c, c + mem::used(h->w1) / 16);
      }
    }
  }
  if (mem::mark_series(vw)) {
    Cell* c = reinterpret_cast<Cell*>(mem::data(*vw));
    mem::mark_cells(c, c + mem::used(*vw) / 16);
  }
}

bool mark_owner_records(Node t) {
  if (!t || R(t)[rec::KIND] != KIND_OWNER) return false;
  int32_t width = R(t)[rec::RECORD_WIDTH];
  bool any = false;
  for (bool again = true; again;) {
    again = false;
    for (uint32_t b = 0, nb = uint32_t(R(t)[rec::BUCKETS]); b < nb; b++) {
      if (get_flag(flags_of(t), b) != LIVE) continue;
      Node vn = uint32_t(R(t)[rec::VALUES]);
      Cell* h = reinterpret_cast<Cell*>(mem::data(vn) + index_of(t)[b]);
      mem::remap(&h->w1);
      // A record is done once its first data cell carries the mark flag of the pass.
      if (!mem::marked(h->w1) || (h->header & 0x80000000u)) continue;
      h->header |= 0x80000000u;
      mem::mark_cells(h + 1, h + width / 16);
      again = any = true;
    }
  }
  // Clear the pass flags again.
  for (uint32_t b = 0, nb = uint32_t(R(t)[rec::BUCKETS]); b < nb; b++) {
    if (get_flag(flags_of(t), b) != LIVE) continue;
    Cell* h = reinterpret_cast<Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + index_of(t)[b]);
    h->header &= ~0x80000000u;
  }
  return any;
}

void sweep_records(Node* table) {
  if (!table || !*table) return;
  mem::remap(table);
  Node t = *table;
  int32_t kind = R(t)[rec::KIND];
  if (!is_record_kind(kind)) return;
  if (kind == KIND_OWNER) mark_owner_records(t);
  for (uint32_t b = 0, nb = uint32_t(R(t)[rec::BUCKETS]); b < nb; b++) {
    if (get_flag(flags_of(t), b) != LIVE) continue;
    Cell* h = reinterpret_cast<Cell*>(mem::data(uint32_t(R(t)[rec::VALUES])) + index_of(t)[b]);
    bool dead = !mem::marked(h->w1);
    if (!dead && kind == KIND_OWNER && h[2].w1 && !mem::marked(h[2].w1)) dead = true;
    if (!dead) continue;
    set_flag(flags_of(t), b, DELETED);
    R(t)[rec::SIZE]--;
    h->header = 0;
    h->w1 = 0;
  }
}

}  // namespace kel::hash
