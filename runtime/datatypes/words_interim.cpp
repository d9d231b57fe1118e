// Interim weak stand-ins for the datatype registry, the string API, the lexer and object
// change records, used by words and contexts until those units land and replace them.
#include "runtime/datatypes/words_interim.h"

#include <cstring>

#include "runtime/casemap.h"
#include "runtime/context.h"
#include "runtime/error.h"
#include "runtime/hash_mem.h"
#include "runtime/unicode.h"

namespace kel {

// ---- registry ----
namespace datatype {
namespace {
struct Row {
  const char* name = nullptr;
  Cell word{};
  SlotFn slots[SLOT_COUNT] = {};
};
Row rows[57];
uint32_t highest = 0;
void inherit_marker() {}
}  // namespace

[[gnu::weak]] SlotFn inherit_slot() { return &inherit_marker; }

[[gnu::weak]] void register_type(const Registration& r) {
  if (r.id >= 57) return;
  if (r.id > highest) highest = r.id;
  Row& row = rows[r.id];
  row.name = r.name;
  for (uint32_t k = 0; k < SLOT_COUNT; ++k) {
    SlotFn f = r.slots[k];
    if (f == inherit_slot()) f = r.parent ? rows[r.parent].slots[k] : nullptr;
    row.slots[k] = f;
  }
}

[[gnu::weak]] SlotFn action_slot(uint32_t type, uint32_t k) {
  if (type >= 57 || k < 1 || k > SLOT_COUNT) return nullptr;
  return rows[type].slots[k - 1];
}

[[gnu::weak]] const char* type_name(uint32_t type) { return type < 57 ? rows[type].name : nullptr; }
[[gnu::weak]] uint32_t highest_id() { return highest; }

[[gnu::weak]] Cell type_word(uint32_t type) {
  Cell w = type < 57 ? rows[type].word : Cell{};
  if (w.header) w.w1 = context::global;  // the node may have moved since
  return w;
}
[[gnu::weak]] void set_type_word(uint32_t type, const Cell& word) {
  if (type < 57) rows[type].word = word;
}
}  // namespace datatype

// ---- strings ----
namespace string {
namespace {
uint32_t units_of(Node n) { return hash::mem::used(n) / hash::mem::unit(n); }
int32_t unit_at(const uint8_t* d, uint32_t u, uint32_t i) {
  return u == 1 ? d[i] : u == 2 ? reinterpret_cast<const uint16_t*>(d)[i]
                                : int32_t(reinterpret_cast<const uint32_t*>(d)[i]);
}
}  // namespace

[[gnu::weak]] Cell* init_cell(Cell* cell, int32_t n) {
  Node s = memory::series_new_units(uint32_t(n > 0 ? n : 1), 1);
  *cell = Cell{T_STRING, 0, s, 0};
  return cell;
}

[[gnu::weak]] int32_t count_from_head(Cell* s) {
  uint32_t total = units_of(s->w2);
  if (s->w1 > total) s->w1 = total;
  return int32_t(total - s->w1);
}

// Appends only (offset and mode are not used by the callers here).
[[gnu::weak]] SeriesBuffer* concat_part(Cell* target, const Cell* source, int32_t limit, int32_t,
                                        bool, int) {
  Node sn = source->w2;
  uint32_t total = units_of(sn), head = source->w1 > total ? total : source->w1;
  uint32_t n = total - head;
  if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
  uint32_t su = hash::mem::unit(sn);
  SeriesBuffer* tb = memory::node_buffer(target->w2);
  uint32_t tu = memory::unit(tb);
  uint32_t u = su > tu ? su : tu;
  uint32_t used = hash::mem::used(target->w2) / tu;
  if (u > tu) tb = unicode::widen_to(tb, u, (used + n) * u);
  hash::mem::ensure(target->w2, (used + n) * u);
  const uint8_t* sd = hash::mem::data(sn);
  uint8_t* td = hash::mem::data(target->w2);
  for (uint32_t i = 0; i < n; ++i) unicode::store_unit(td + (used + i) * u, u, unit_at(sd, su, head + i));
  hash::mem::set_used(target->w2, (used + n) * u);
  return memory::node_buffer(target->w2);
}

[[gnu::weak]] SeriesBuffer* add_codepoint(Cell* s, int32_t c) {
  Node n = s->w2;
  uint32_t u = hash::mem::unit(n), used = hash::mem::used(n) / u;
  uint32_t want = unicode::unit_for(c);
  if (want > u) {
    unicode::widen_to(memory::node_buffer(n), want, (used + 1) * want);
    u = want;
  }
  hash::mem::ensure(s->w2, (used + 1) * u);
  unicode::store_unit(hash::mem::data(s->w2) + used * u, u, c);
  hash::mem::set_used(s->w2, (used + 1) * u);
  return memory::node_buffer(s->w2);
}

[[gnu::weak]] int32_t compare_strings(const Cell* a, const Cell* b, int32_t op, bool) {
  bool fold = !(op == 2 || op == 8 || op == 9);
  Node an = a->w2, bn = b->w2;
  uint32_t at = units_of(an), bt = units_of(bn);
  uint32_t ah = a->w1 > at ? at : a->w1, bh = b->w1 > bt ? bt : b->w1;
  uint32_t au = hash::mem::unit(an), bu = hash::mem::unit(bn);
  const uint8_t* ad = hash::mem::data(an);
  const uint8_t* bd = hash::mem::data(bn);
  uint32_t la = at - ah, lb = bt - bh;
  for (uint32_t i = 0; i < la && i < lb; ++i) {
    int32_t x = unit_at(ad, au, ah + i), y = unit_at(bd, bu, bh + i);
    if (fold) x = case_::map_char(x, case_::DIR_UPPER), y = case_::map_char(y, case_::DIR_UPPER);
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}
}  // namespace string

// ---- lexer ----
namespace lexer {
[[gnu::weak]] uint32_t scan_first_type(const uint8_t*, int32_t) { error::raise(err::internal::not_done); }
[[gnu::weak]] void load_first_value(const Cell*, Cell*) { error::raise(err::internal::not_done); }
}  // namespace lexer

// ---- objects ----
namespace object {
[[gnu::weak]] void fire_change(const Cell*, const Cell*, const Cell*, Cell*) {
  error::raise(err::internal::not_done);
}
}  // namespace object

}  // namespace kel
