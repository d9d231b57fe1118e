// Interim stand-ins used by the block and series units for services whose owners have not
// landed yet: registry and action table, direct mold/form, text writes, random, owner lookups.
#include "runtime/datatypes/block_interim.h"

#include <sys/random.h>

#include <cstring>

#include "runtime/error.h"
#include "runtime/cell_api.h"
#include "runtime/unicode.h"

// ---- Registry and action table (until the datatype registry lands) ----
namespace kel::datatype {
namespace {
Slot g_table[TABLE_IDS * 256];
const char* g_names[TABLE_IDS];
}  // namespace

void register_type(const Registration& r) {
  g_names[r.id] = r.name;
  for (int32_t k = 0; k < SLOT_COUNT; ++k) {
    Slot v = r.slots[k];
    if (r.parent && v == inherit()) v = g_table[r.parent * 256 + k];
    if (v == inherit()) v = nullptr;
    g_table[r.id * 256 + k] = v;
  }
}

Slot slot(uint32_t type, uint32_t action_id) {
  if (type >= uint32_t(TABLE_IDS) || action_id < 1 || action_id > uint32_t(SLOT_COUNT)) return nullptr;
  return g_table[type * 256 + action_id - 1];
}

const char* type_name(uint32_t type) { return type < uint32_t(TABLE_IDS) ? g_names[type] : nullptr; }

void reset_tables() {
  std::memset(g_table, 0, sizeof g_table);
  std::memset(g_names, 0, sizeof g_names);
}
}  // namespace kel::datatype

// ---- Direct action calls (until the action entry points land) ----
namespace kel::actions {
namespace {
[[noreturn]] void unsupported(const Cell* value) {
  Cell type{T_DATATYPE, cell::type(value), 0, 0};
  error::raise(err::script::expect_arg, &type, &type, value);
}
template <class F>
F resolve(const Cell* value, uint32_t action_id) {
  datatype::Slot s = datatype::slot(cell::type(value), action_id);
  if (!s) unsupported(value);
  return reinterpret_cast<F>(s);
}
}  // namespace

datatype::Slot resolve_for_cell(const Cell* value, uint32_t action_id) {
  return reinterpret_cast<datatype::Slot>(resolve<datatype::Slot>(value, action_id));
}

int32_t direct_form(Cell* value, Cell* buffer, int32_t part, int32_t budget) {
  return resolve<slot_fn::Form>(value, 5)(value, buffer, part, budget);
}
int32_t direct_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int32_t part,
                    int32_t budget, int32_t indent) {
  return resolve<slot_fn::Mold>(value, 6)(value, buffer, only, all, flat, part, budget, indent);
}
Cell* direct_copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types) {
  return resolve<slot_fn::Copy>(value, 30)(value, result, part, deep, types);
}
Cell* direct_find(Cell* series, Cell* value, const Cell* part, bool only, bool case_q, bool same,
                  bool any, const Cell* with, const Cell* skip, bool last, bool reverse,
                  bool tail, bool match) {
  return resolve<slot_fn::Find>(series, 31)(series, value, part, only, case_q, same, any, with,
                                            skip, last, reverse, tail, match);
}
}  // namespace kel::actions

// ---- Text writes (until the string unit lands) ----
namespace kel::string {
namespace {
SeriesBuffer* buf(const Cell* s) { return memory::node_buffer(s->w2); }

// Room for `bytes` more bytes at the tail, in the buffer's present unit.
SeriesBuffer* room(Cell* s, uint32_t bytes) {
  SeriesBuffer* b = buf(s);
  if (uint64_t(b->tail) + bytes <= uint64_t(b->capacity)) return b;
  uint64_t want = uint64_t(memory::used_bytes(b)) + bytes;
  if (uint64_t(b->capacity) * 2 > want) want = uint64_t(b->capacity) * 2;
  want = (want + 15) & ~uint64_t(15);
  if (want > 0x7FFFFFF0) error::raise(err::internal::no_memory);
  return memory::series_grow_copy_node(s->w2, int32_t(want));
}

SeriesBuffer* widen_for(Cell* s, int32_t c) {
  SeriesBuffer* b = buf(s);
  uint32_t need = unicode::unit_for(c);
  if (need <= memory::unit(b)) return b;
  return unicode::widen_to(b, need, memory::units(b) * need);
}
}  // namespace

bool any_string_q(uint32_t t) {
  return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
uint32_t unit_of(const Cell* s) { return memory::unit(buf(s)); }
int32_t read_codepoint(const uint8_t* p, uint32_t unit) { return unicode::load_unit(p, unit); }

SeriesBuffer* add_codepoint(Cell* s, int32_t c) {
  widen_for(s, c);
  SeriesBuffer* b = room(s, unit_of(s));
  uint32_t u = memory::unit(b);
  unicode::store_unit(memory::tail(b), u, c);
  b->tail += u;
  return b;
}

void add_c_text(Cell* s, const char* text) {
  size_t n = std::strlen(text);
  SeriesBuffer* b = room(s, uint32_t(n) * unit_of(s));
  uint32_t u = memory::unit(b);
  for (size_t i = 0; i < n; ++i) unicode::store_unit(memory::tail(b) + i * u, u, uint8_t(text[i]));
  b->tail += uint32_t(n) * u;
}

uint8_t* store_codepoint(Cell* s, uint8_t* address, int32_t c) {
  SeriesBuffer* b = buf(s);
  uint32_t u = memory::unit(b);
  uint32_t index = uint32_t(address - memory::head(b)) / u;
  if (unicode::unit_for(c) > u) {
    b = widen_for(s, c);
    u = memory::unit(b);
    address = memory::head(b) + index * u;
  }
  unicode::store_unit(address, u, c);
  return address;
}

void move_codepoints(Cell* source, Cell* target, int32_t index, int32_t length_bytes) {
  // Character by character: read from the source head, insert into the target, then
  // delete the moved characters from the source.
  uint32_t su = unit_of(source);
  int32_t n = length_bytes / int32_t(su);
  for (int32_t i = 0; i < n; ++i) {
    SeriesBuffer* sb = buf(source);
    int32_t c = unicode::load_unit(memory::head(sb) + (source->w1 + i) * su, su);
    widen_for(target, c);
    SeriesBuffer* tb = room(target, unit_of(target));
    uint32_t tu = memory::unit(tb);
    uint8_t* at = memory::head(tb) + uint32_t(index + i) * tu;
    std::memmove(at + tu, at, size_t(memory::tail(tb) - at));
    unicode::store_unit(at, tu, c);
    tb->tail += tu;
  }
  SeriesBuffer* sb = buf(source);
  uint8_t* from = memory::head(sb) + source->w1 * su;
  std::memmove(from, from + n * su, size_t(memory::tail(sb) - from - n * su));
  sb->tail -= uint32_t(n) * su;
}

Cell* init_cell(Cell* cell, int32_t n) {
  cell::set_unset(cell);
  Node node = memory::series_new_bytes(uint32_t(n < 1 ? 1 : n));
  *cell = Cell{T_STRING, 0, node, 0};
  return cell;
}
}  // namespace kel::string

// ---- Random numbers (until the random unit lands) ----
namespace kel::random {
namespace {
uint32_t g_mt[624];
uint32_t g_index = 625;  // 625: never seeded

void reseed(uint32_t s) {
  g_mt[0] = s;
  for (uint32_t i = 1; i < 624; ++i) g_mt[i] = 1812433253u * (g_mt[i - 1] ^ (g_mt[i - 1] >> 30)) + i;
  g_index = 624;
}

uint32_t next32() {
  if (g_index >= 624) {
    if (g_index == 625) reseed(5489u);
    for (uint32_t i = 0; i < 624; ++i) {
      uint32_t y = (g_mt[i] & 0x80000000u) | (g_mt[(i + 1) % 624] & 0x7FFFFFFFu);
      g_mt[i] = g_mt[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
    g_index = 0;
  }
  uint32_t y = g_mt[g_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

uint32_t draw31(bool secure) {
  if (secure) {
    uint32_t v = 0;
    ssize_t got = 0;
    while (got != ssize_t(sizeof v)) got = getrandom(&v, sizeof v, 0);
    return v >> 1;
  }
  return next32() >> 1;
}
}  // namespace

void seed(uint32_t value) { reseed(value); }

int32_t pick_1_to_n(bool secure, int32_t n) {
  if (n == 0) return 0;
  if (n == INT32_MIN) return -1 - int32_t(draw31(secure));
  uint32_t m = uint32_t(n < 0 ? -n : n);
  uint32_t limit = (0x80000000u / m) * m;
  uint32_t d;
  do d = draw31(secure);
  while (d >= limit);
  int32_t r = int32_t(d % m) + 1;
  return n < 0 ? -r : r;
}
}  // namespace kel::random

// ---- Owner table lookups (until ownership tracking lands: nothing is owned) ----
namespace kel::owner {
Cell* find(const Cell*) { return nullptr; }
void disown(Cell*) {}
void attach_flagged(Cell*, Cell*, Cell*) {}
}  // namespace kel::owner

// ---- vector! and binary! element hooks (until those datatypes land) ----
namespace kel::vector {
Cell* push_element(const uint8_t*, uint32_t, uint32_t) { error::raise(err::internal::not_done); }
void store_element(uint8_t*, const Cell*, uint32_t) { error::raise(err::internal::not_done); }
}  // namespace kel::vector
namespace kel::binary {
void poke_byte(uint8_t*, const Cell*) { error::raise(err::internal::not_done); }
}  // namespace kel::binary
